// The FETCH items that send message text: the RFC822 family and BODY sections with PEEK and
// partial ranges. The text comes from the entry's client form and goes out as IMAP literals;
// which items mark the message as read is decided here, through the entry's load operations.
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

// A header section: HEADER, HEADER.FIELDS (names) or HEADER.FIELDS.NOT (names). The value is
// the chosen fields, each with its continuation lines, in header order, then CR LF.
Text HeaderSection(ItemContext& c, const Text& section, bool peek) {
    Text list(section);
    const Text keyword = list.SplitToken(' ');
    if (list.Length() >= 2 && list[0] == '(' && list[list.Length() - 1] == ')')
        list = list.Mid(1, list.Length() - 2);

    TextList names;
    bool exclude = false;
    const int dot = keyword.Find('.');
    if (dot >= 0) {
        exclude = keyword.Mid(dot + 1).Find('.') >= 0;
        while (!list.IsEmpty()) {
            const Text name = list.SplitToken(' ');
            // A blank before the first name leaves an empty one, which would match any field.
            if (!name.IsEmpty())
                names.Append(name);
        }
    }

    LoadHeader(c.host, c.entry, c.mailRoot, c.folderPath, peek, Policy(c));
    const Text& header = c.entry.headerText;
    Text value;
    int start = 0;
    while (start < header.Length()) {
        int end = EndOfLine(header, start);
        // Lines that begin with a blank or tab continue the field above them.
        while (end < header.Length() && (header[end] == ' ' || header[end] == '\t'))
            end = EndOfLine(header, end);
        const Text field = header.Mid(start, end - start);
        start = end;
        if (names.Count() > 0 && FieldMatches(field, names) == exclude)
            continue;
        JisText taken(field);
        taken.EncodeHeaderWords();
        value.Append(taken);
    }
    value.Append("\r\n");
    if (!peek && c.marksSeen)
        MarkSeen(c.host, c.entry, c.mailRoot, c.folderPath);
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

void WriteRfc822Family(ItemContext& c, const Text& name) {
    if (name.CompareNoCase("RFC822.SIZE") == 0) {
        WriteRfc822Size(c, name);
        return;
    }
    WriteSeparator(c);
    c.out.Write(name.c_str(), name.Length());
    MessageEntry& entry = c.entry;
    if (name.CompareNoCase("RFC822") == 0) {
        LoadMessage(c.host, entry, c.mailRoot, c.folderPath, true, Policy(c));
        WriteWholeMessage(c.out, entry, 0, WholeLength(entry));
    } else if (name.CompareNoCase("RFC822.HEADER") == 0) {
        LoadHeader(c.host, entry, c.mailRoot, c.folderPath, true, Policy(c));
        c.out.Write(" {");
        c.out.WriteUnsigned(static_cast<uint32_t>(entry.headerText.Length()) + 2u);
        c.out.Write("}\r\n");
        c.out.Write(entry.headerText.c_str(), entry.headerText.Length());
        c.out.Write("\r\n", 2);
    } else if (name.CompareNoCase("RFC822.TEXT") == 0) {
        LoadBody(c.host, entry, c.mailRoot, c.folderPath, false, Policy(c));
        WriteLiteral(c.out, entry.bodyText);
    }
}

namespace {

// Whether name is BODY[...] or BODY.PEEK[...] whose section starts with a part number.
bool IsPartSection(const Text& name) {
    int open = name.Find('[');
    if (open < 0)
        return false;
    const Text head = name.Left(open);
    if (head.CompareNoCase("BODY") != 0 && head.CompareNoCase("BODY.PEEK") != 0)
        return false;
    return open + 1 < name.Length() && name[open + 1] >= '1' && name[open + 1] <= '9';
}

}  // namespace

void WriteBodySection(ItemContext& c, const Text& name) {
    // The exact mode echoes a part number's section without a value (below).
    if (c.mode == Mode::kExtended && IsPartSection(name)) {
        WritePartSection(c, name);
        return;
    }
    WriteSeparator(c);

    // BODY.PEEK[section]<origin.count>: the name is rebuilt without PEEK and with only the
    // origin of the range; the section text is echoed as the client wrote it.
    Text rest(name);
    Text head = rest.SplitToken('[');
    const Text itemName = head.SplitToken('.');
    const bool peek = head.CompareNoCase("PEEK") == 0;
    const Text section = rest.SplitToken(']');
    c.out.Write(itemName.c_str(), itemName.Length());
    c.out.Write("[");
    c.out.Write(section.c_str(), section.Length());
    c.out.Write("]");

    rest.SplitToken('<');  // whatever stands between "]" and "<" is dropped
    const bool hasPartial = !rest.IsEmpty();
    Text partial = rest.SplitToken('>');
    const Text originText = partial.SplitToken('.');
    if (hasPartial) {
        c.out.Write("<");
        c.out.Write(originText.c_str(), originText.Length());
        c.out.Write(">");
    }

    MessageEntry& entry = c.entry;
    if (section.IsEmpty()) {
        LoadMessage(c.host, entry, c.mailRoot, c.folderPath, peek, Policy(c));
        if (hasPartial) {
            WritePartial(c.out, entry, originText.ToNumber(), partial.ToNumber());
        } else {
            WriteWholeMessage(c.out, entry, 0, WholeLength(entry));
        }
    } else if (section.CompareNoCase("HEADE", 5) == 0) {
        WriteLiteral(c.out, HeaderSection(c, section, peek));
    } else if (section.CompareNoCase("TEXT") == 0) {
        LoadBody(c.host, entry, c.mailRoot, c.folderPath, peek, Policy(c));
        WriteLiteral(c.out, entry.bodyText);
    }
    // MIME and part numbers are echoed without a value.
}
