// Body part sections: BODY[1], BODY[1.2.MIME], BODY[3.HEADER.FIELDS (From)], BODY[3.TEXT]
// and their PEEK and partial forms. The part is found in the client form of the whole message,
// so its bytes are exactly those the client gets within BODY[]; a section that names no part
// of the message is NIL.
#include <string>
#include <vector>

#include "mime/part_locator.h"
#include "render/items.h"

namespace {

// A section text split into its part numbers and what follows them ("MIME", "HEADER",
// "HEADER.FIELDS (...)", "TEXT" or nothing).
void SplitSection(const Text& section, std::vector<int>* numbers, Text* rest) {
    int i = 0;
    const int n = section.Length();
    while (i < n && section[i] >= '0' && section[i] <= '9') {
        int value = 0;
        while (i < n && section[i] >= '0' && section[i] <= '9') {
            // Part numbers past a million name no part; they are kept from overflowing.
            if (value < 1000000)
                value = value * 10 + (section[i] - '0');
            ++i;
        }
        numbers->push_back(value);
        if (i < n && section[i] == '.')
            ++i;
        else
            break;
    }
    *rest = section.Mid(i);
}

// The field names of "HEADER.FIELDS (a b)" or "HEADER.FIELDS.NOT (a b)".
std::vector<std::string> FieldNames(const Text& fields) {
    std::vector<std::string> names;
    const int open = fields.Find('(');
    if (open < 0)
        return names;
    Text list = fields.Mid(open + 1);
    const int close = list.Find(')');
    if (close >= 0)
        list = list.Left(close);
    while (!list.IsEmpty()) {
        Text name = list.SplitToken(' ');
        name.Unquote('"');
        if (!name.IsEmpty())
            names.emplace_back(name.c_str(), static_cast<size_t>(name.Length()));
    }
    return names;
}

// The value of the section within the message, or false when it names nothing.
bool SectionValue(const std::string& whole, const Text& section, std::string* value) {
    std::vector<int> numbers;
    Text rest;
    SplitSection(section, &numbers, &rest);
    LocatedPart part;
    if (!LocatePart(whole.data(), whole.size(), numbers, &part))
        return false;
    auto take = [&](ByteRange r) { value->assign(whole, r.start, r.length); };
    if (rest.IsEmpty()) {
        take(part.contents);
        return true;
    }
    if (rest.CompareNoCase("MIME") == 0) {
        take(part.mimeHeader);
        return true;
    }
    // The remaining sections look into an attached message.
    if (!part.isMessage)
        return false;
    if (rest.CompareNoCase("TEXT") == 0) {
        take(part.messageText);
        return true;
    }
    if (rest.CompareNoCase("HEADER") == 0) {
        take(part.messageHeader);
        return true;
    }
    if (rest.CompareNoCase("HEADER.FIELDS", 13) == 0) {
        Text keyword(rest);
        keyword = keyword.SplitToken(' ');
        const bool exclude = keyword.CompareNoCase("HEADER.FIELDS.NOT", 17) == 0;
        *value = SelectHeaderFields(whole.data() + part.messageHeader.start,
                                    part.messageHeader.length, FieldNames(rest), exclude);
        return true;
    }
    return false;
}

}  // namespace

void WritePartSection(const FetchItem& item, const FetchedMessage& m, Output& out) {
    // The answer carries the name without PEEK and the range's origin only, like the
    // standard sections.
    WriteSectionName(item, out);
    std::string value;
    if (!SectionValue(m.whole, item.section, &value)) {
        out.Write(" NIL");
        return;
    }
    // A range past the end is empty; a count reaching past it stops at the end.
    const size_t start = item.origin < value.size() ? item.origin : value.size();
    size_t length = value.size() - start;
    if (item.count < length)
        length = item.count;
    out.Write(" {");
    out.WriteUnsigned(static_cast<uint32_t>(length));
    out.Write("}\r\n");
    out.Write(value.data() + start, static_cast<int>(length));
}
