// ENVELOPE in the extended mode: the same fields as the standard writer, with addresses read
// the way mail readers write them: a display name in quotes may hold '"' as a quoted pair, and
// a Japanese display name is one encoded word, not a word per run of characters.
#include "base/file.h"
#include "mime/client_form.h"
#include "platform/codepage.h"
#include "platform/files.h"
#include "render/extended_items.h"

namespace {

bool IsCharacter(const Text& text, int i) {
    return i + 1 < text.Length() && platform::IsLeadByte(static_cast<unsigned char>(text[i])) &&
           platform::IsTrailByte(static_cast<unsigned char>(text[i + 1]));
}

// Appends the contents of the quoted string that opens at *i to out (quoted pairs undone)
// and moves *i past its closing quote (or to the end).
void ReadQuoted(const Text& value, int* i, Text* out) {
    int j = *i + 1;
    while (j < value.Length()) {
        if (IsCharacter(value, j)) {
            out->Append(value.c_str() + j, 2);
            j += 2;
        } else if (value[j] == '\\' && j + 1 < value.Length()) {
            out->Append(value[j + 1]);
            j += 2;
        } else if (value[j] == '"') {
            ++j;
            break;
        } else {
            out->Append(value[j]);
            ++j;
        }
    }
    *i = j;
}

}  // namespace

void ParseAddressExtended(const Text& value, int* pos, EnvelopeAddress* out) {
    Text collected("");  // the display name once "<" comes, else the address
    Text angle("");
    Text comment("");
    bool sawAngle = false;
    bool inAngle = false;
    int depth = 0;
    int i = *pos;
    const int n = value.Length();
    while (i < n) {
        if (IsCharacter(value, i)) {
            Text& target = depth > 0 ? comment : (inAngle ? angle : collected);
            target.Append(value.c_str() + i, 2);
            i += 2;
            continue;
        }
        const char c = value[i];
        if (depth > 0) {
            if (c == '\\' && i + 1 < n) {
                comment.Append(value[i + 1]);
                i += 2;
                continue;
            }
            if (c == '(')
                ++depth;
            else if (c == ')')
                --depth;
            if (depth > 0)
                comment.Append(c);
            ++i;
            continue;
        }
        if (c == '"') {
            ReadQuoted(value, &i, inAngle ? &angle : &collected);
            continue;
        }
        if (inAngle) {
            if (c == '>')
                inAngle = false;
            else
                angle.Append(c);
        } else if (c == ',') {
            break;
        } else if (c == '(') {
            depth = 1;
        } else if (c == '<') {
            sawAngle = true;
            inAngle = true;
        } else {
            collected.Append(c);
        }
        ++i;
    }
    if (i < n)
        ++i;  // the comma that ended the address
    while (i < n && (value[i] == ' ' || value[i] == '\t' || value[i] == ','))
        ++i;
    *pos = i;

    Text name = sawAngle ? collected : comment;
    Text address = sawAngle ? angle : collected;
    if (sawAngle && name.IsEmpty())
        name = comment;
    name.Trim();
    address.Trim();
    if (HasDoubleByte(name)) {
        Text word("");
        AppendWholeWord(name, &word);
        name = word;
    }
    out->name = name;
    out->address = address;
}

void WriteEnvelopeExtended(ItemContext& c, const Text& name) {
    WriteSeparator(c);
    c.out.Write(name.c_str(), name.Length());
    Envelope env;
    const Text path = MessageFilePath(c.host, c.entry, c.mailRoot, c.folderPath);
    if (!path.IsEmpty()) {
        File file;
        if (file.Open(path.c_str(), platform::kAccessRead, platform::kOpenAlways))
            ReadEnvelope(&file, &env);
    }
    Text value;
    RenderEnvelope(env, &value, ParseAddressExtended);
    c.out.Write(value.c_str(), value.Length());
}
