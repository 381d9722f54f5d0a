// The FETCH items that send message text: the RFC822 family and BODY sections with PEEK and
// partial ranges. The text comes from the entry's client form and goes out as IMAP literals;
// which items mark the message as read is the request's to say (FetchRequest::SeenMarks).
#include <cstdint>

#include "base/text.h"
#include "base/text_list.h"
#include "mime/jis_text.h"
#include "render/items.h"
#include "store/message_entry.h"

namespace {

// " {n}\r\n" and the bytes. An empty value sends nothing at all.
void WriteLiteral(Output& out, const char* bytes, int length) {
    if (length <= 0)
        return;
    out.Write(" {");
    out.WriteUnsigned(static_cast<uint32_t>(length));
    out.Write("}\r\n");
    out.Write(bytes, length);
}

void WriteLiteral(Output& out, const Text& value) {
    WriteLiteral(out, value.c_str(), value.Length());
}

// Writes the bytes [origin, origin + length) of the whole message in client form (header,
// CR LF, body) as one literal, piece by piece, so the message is never copied into one text.
void WriteWholeMessage(Output& out, const MessageEntry& entry, uint64_t origin, uint64_t length) {
    if (length == 0)
        return;
    out.Write(" {");
    out.WriteUnsigned(static_cast<uint32_t>(length));
    out.Write("}\r\n");
    const char* pieces[3] = {entry.headerText.c_str(), "\r\n", entry.bodyText.c_str()};
    const uint64_t sizes[3] = {static_cast<uint64_t>(entry.headerText.Length()), 2,
                               static_cast<uint64_t>(entry.bodyText.Length())};
    for (int i = 0; i < 3 && length > 0; ++i) {
        if (origin >= sizes[i]) {
            origin -= sizes[i];
            continue;
        }
        const uint64_t take = sizes[i] - origin < length ? sizes[i] - origin : length;
        out.Write(pieces[i] + origin, static_cast<int>(take));
        length -= take;
        origin = 0;
    }
}

// The byte count of the whole message in client form.
uint64_t WholeLength(const MessageEntry& entry) {
    return static_cast<uint64_t>(entry.headerText.Length()) + 2u +
           static_cast<uint64_t>(entry.bodyText.Length());
}

// The index just past the line that starts at start: after its LF, or the end of the text.
int EndOfLine(const Text& text, int start) {
    int i = start;
    while (i < text.Length() && text[i] != '\n')
        ++i;
    return i < text.Length() ? i + 1 : i;
}

bool FieldMatches(const Text& field, const TextList& names) {
    for (int i = 0; i < names.Count(); ++i) {
        const Text* name = names.At(i);
        // A name matches every field whose name begins with it.
        if (field.CompareNoCase(name->c_str(), name->Length()) == 0)
            return true;
    }
    return false;
}

// A header section's value: the chosen fields, each with its continuation lines, in header
// order, then CR LF. The exact mode passes each field through the header encoding once more;
// the extended mode's header is final (its UTF-8 form must not be read as Shift_JIS).
Text HeaderSection(const FetchItem& item, const Text& header, Mode mode) {
    const TextList& names = item.fieldNames;
    Text value;
    int start = 0;
    while (start < header.Length()) {
        int end = EndOfLine(header, start);
        // Lines that begin with a blank or tab continue the field above them.
        while (end < header.Length() && (header[end] == ' ' || header[end] == '\t'))
            end = EndOfLine(header, end);
        const Text field = header.Mid(start, end - start);
        start = end;
        if (names.Count() > 0 && FieldMatches(field, names) == item.exclude)
            continue;
        if (mode == Mode::kExact) {
            JisText taken(field);
            taken.EncodeHeaderWords();
            value.Append(taken);
        } else {
            value.Append(field);
        }
    }
    value.Append("\r\n");
    return value;
}

// Writes count bytes of the whole message from byte origin (fewer when it ends sooner),
// computed wide so that no origin or count can reach outside the text.
void WritePartial(Output& out, const MessageEntry& entry, uint32_t origin, uint32_t count) {
    const uint64_t total = WholeLength(entry);
    if (origin >= total)
        return;
    uint64_t length = total - origin;
    if (count < length)
        length = count;
    WriteWholeMessage(out, entry, origin, length);
}

}  // namespace

void WriteRfc822Family(const FetchItem& item, const FetchedMessage& m, Output& out) {
    out.Write(item.name.c_str(), item.name.Length());
    const MessageEntry& entry = m.entry;
    if (item.kind == ItemKind::kRfc822) {
        WriteWholeMessage(out, entry, 0, WholeLength(entry));
    } else if (item.kind == ItemKind::kRfc822Header) {
        out.Write(" {");
        out.WriteUnsigned(static_cast<uint32_t>(entry.headerText.Length()) + 2u);
        out.Write("}\r\n");
        out.Write(entry.headerText.c_str(), entry.headerText.Length());
        out.Write("\r\n", 2);
    } else if (item.kind == ItemKind::kRfc822Text) {
        WriteLiteral(out, entry.bodyText);
    }
}

void WriteSectionName(const FetchItem& item, Output& out) {
    out.Write(item.itemName.c_str(), item.itemName.Length());
    out.Write("[");
    out.Write(item.section.c_str(), item.section.Length());
    out.Write("]");
    if (item.hasPartial) {
        out.Write("<");
        out.Write(item.originText.c_str(), item.originText.Length());
        out.Write(">");
    }
}

void WriteBodySection(const FetchItem& item, const FetchedMessage& m, Output& out) {
    WriteSectionName(item, out);
    const MessageEntry& entry = m.entry;
    switch (item.sectionKind) {
        case SectionKind::kWhole:
            if (item.hasPartial) {
                WritePartial(out, entry, item.origin, item.count);
            } else {
                WriteWholeMessage(out, entry, 0, WholeLength(entry));
            }
            break;
        case SectionKind::kHeader:
            WriteLiteral(out, HeaderSection(item, entry.headerText, m.mode));
            break;
        case SectionKind::kText:
            WriteLiteral(out, entry.bodyText);
            break;
        case SectionKind::kEcho:
            break;  // MIME and part numbers are echoed without a value
    }
}
