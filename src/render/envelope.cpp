// ENVELOPE: the header of the message file read field by field (continuation lines joined),
// the fields of the ten envelope kinds kept, then written as IMAP strings and address lists.
// The file is read on its own, not through the entry's client form, so the message is never
// marked as read; Subject and display names get their encoded words here.
#include "render/envelope.h"

#include "base/file.h"
#include "mime/body_structure.h"
#include "mime/extended_form.h"
#include "mime/jis_text.h"
#include "platform/codepage.h"
#include "platform/files.h"
#include "render/items.h"
#include "store/message_entry.h"

namespace {

// The header field names of the envelope, in the order in which a name is tested against
// them. A name matches a key when its first bytes equal the key without regard to case, so
// "Tomorrow:" counts as "To".
struct FieldKey {
    const char* key;
    int length;
    EnvelopeField Envelope::*field;
};
constexpr FieldKey kKeys[] = {
    {"date", 4, &Envelope::date},
    {"subject", 7, &Envelope::subject},
    {"from", 4, &Envelope::from},
    {"sender", 6, &Envelope::sender},
    {"reply-to", 8, &Envelope::replyTo},
    {"to", 2, &Envelope::to},
    {"cc", 2, &Envelope::cc},
    {"bcc", 3, &Envelope::bcc},
    {"in-reply-to", 11, &Envelope::inReplyTo},
    {"message-id", 10, &Envelope::messageId},
};

void Store(EnvelopeField* field, const Text& value) {
    field->present = true;
    field->value = value;
}

bool HasValue(const EnvelopeField& field) {
    return field.present && !field.value.IsEmpty();
}

bool IsAddressSeparator(char c) {
    return c == ' ' || c == '\t' || c == ',';
}

// Moves *pos past the comma that ended an address at i and the separators after it, to the
// start of the next address.
void SkipToNextAddress(const Text& value, int i, int* pos) {
    const int n = value.Length();
    if (i < n)
        ++i;
    while (i < n && IsAddressSeparator(value[i]))
        ++i;
    *pos = i;
}

void WriteString(const EnvelopeField& field, Text* out) {
    QuoteOrNil(field.present ? &field.value : nullptr, out);
}

void WriteAddressList(const EnvelopeField& field, AddressParser parse, Text* out) {
    if (!field.present) {
        out->Append("NIL");
        return;
    }
    out->Append('(');
    int pos = 0;
    while (pos < field.value.Length()) {
        EnvelopeAddress address;
        parse(field.value, &pos, &address);
        WriteAddress(address, out);
    }
    out->Append(')');
}

}  // namespace

void ApplyEnvelopeField(const Text& field, Envelope* env, Mode mode, TextForm text) {
    // Most fields are of no envelope kind: they are passed over before any copy is made. The
    // name's first bytes compare as the raw field's do, since no key holds a colon or a blank.
    bool wanted = false;
    for (const FieldKey& key : kKeys)
        wanted = wanted || field.CompareNoCase(key.key, key.length) == 0;
    if (!wanted)
        return;
    Text value(field);
    value.Replace('\t', ' ');
    // The name ends at the first colon; the value starts after the run of colons there.
    const Text name = value.SplitToken(':');
    value.Trim();
    for (const FieldKey& key : kKeys) {
        if (name.CompareNoCase(key.key, key.length) != 0)
            continue;
        EnvelopeField& target = env->*key.field;
        if (key.field == &Envelope::subject && mode == Mode::kExact) {
            JisText encoded(value);
            encoded.EncodeHeaderWords();
            Store(&target, encoded);
        } else if (key.field == &Envelope::subject) {
            Text encoded("");
            AppendHeaderTextExtended(value.c_str(), static_cast<size_t>(value.Length()), false,
                                     text, &encoded);
            Store(&target, encoded);
        } else {
            Store(&target, value);
        }
        // From stands in for Sender and Reply-To until they are given.
        if (key.field == &Envelope::from) {
            if (!HasValue(env->sender))
                Store(&env->sender, value);
            if (!HasValue(env->replyTo))
                Store(&env->replyTo, value);
        }
        return;
    }
}

void ReadEnvelope(File* file, Envelope* env, Mode mode, TextForm text) {
    Text line;
    // An empty line ends the header and reads like the end of the file.
    while (file->ReadLine(&line, File::kLine) > 0) {
        Text field(line);
        for (;;) {
            const int next = file->PeekByte();
            if (next != ' ' && next != '\t')
                break;
            file->ReadLine(&line, File::kLine);
            field.Append(line);
        }
        ApplyEnvelopeField(field, env, mode, text);
    }
}

void ParseAddress(const Text& value, int* pos, EnvelopeAddress* out) {
    enum Mode { kPlain, kAngle, kComment };
    Mode mode = kPlain;
    Text name("");
    Text address("");
    const int n = value.Length();
    int i = *pos;
    while (i < n) {
        const char c = value[i];
        if (c == '"') {
            // A quoted run belongs to the address text in every mode, without its quotes.
            for (++i; i < n && value[i] != '"'; ++i)
                address.Append(value[i]);
            if (i < n)
                ++i;
            continue;
        }
        if (mode == kPlain) {
            if (c == ',')
                break;
            if (c == '(') {
                mode = kComment;
            } else if (c == '<') {
                // What came before the angle brackets is the display name.
                name = address;
                address.Clear();
                mode = kAngle;
            } else {
                address.Append(c);
            }
        } else if (mode == kAngle) {
            if (c == '>')
                mode = kPlain;
            else
                address.Append(c);
        } else if (c == ')') {
            mode = kPlain;
        } else {
            name.Append(c);
        }
        ++i;
    }
    SkipToNextAddress(value, i, pos);

    name.Trim();
    address.Trim();
    JisText encoded(name);
    encoded.EncodeHeaderWords();
    out->name = encoded;
    out->address = address;
}

void WriteAddress(const EnvelopeAddress& address, Text* out) {
    Text host(address.address);
    const Text mailbox = host.SplitToken('@');
    out->Append('(');
    QuoteOrNil(&address.name, out);
    out->Append(" NIL ");
    QuoteOrNil(&mailbox, out);
    out->Append(' ');
    QuoteOrNil(&host, out);
    out->Append(')');
}

void RenderEnvelope(const Envelope& env, Text* out, AddressParser parse) {
    out->Append(" (");
    WriteString(env.date, out);
    out->Append(' ');
    WriteString(env.subject, out);
    for (const EnvelopeField* list :
         {&env.from, &env.sender, &env.replyTo, &env.to, &env.cc, &env.bcc}) {
        out->Append(' ');
        WriteAddressList(*list, parse, out);
    }
    out->Append(' ');
    WriteString(env.inReplyTo, out);
    out->Append(' ');
    WriteString(env.messageId, out);
    out->Append(')');
}

void WriteEnvelope(const FetchItem& item, const FetchedMessage& m, Output& out) {
    out.Write(item.name.c_str(), item.name.Length());
    if (m.envelope != nullptr)
        out.Write(m.envelope->c_str(), m.envelope->Length());
}

// Addresses of the extended mode, read the way mail readers write them: a display name in
// quotes may hold '"' as a quoted pair, and a Japanese display name is one encoded word, not a
// word per run of characters.
namespace {

bool FitsAscii(const Text& text) {
    for (int i = 0; i < text.Length(); ++i) {
        if ((static_cast<unsigned char>(text[i]) & 0x80) != 0)
            return false;
    }
    return true;
}

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

namespace {

void ParseAddressIn(const Text& value, int* pos, EnvelopeAddress* out, TextForm text) {
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
    SkipToNextAddress(value, i, pos);

    Text name = sawAngle ? collected : comment;
    Text address = sawAngle ? angle : collected;
    if (sawAngle && name.IsEmpty())
        name = comment;
    name.Trim();
    address.Trim();
    if (!FitsAscii(name)) {
        Text word("");
        AppendEncodedWords(name.c_str(), static_cast<size_t>(name.Length()), text, &word);
        name = word;
    }
    out->name = name;
    out->address = address;
}

}  // namespace

void ParseAddressExtended(const Text& value, int* pos, EnvelopeAddress* out) {
    ParseAddressIn(value, pos, out, TextForm::kMime);
}

void ParseAddressUtf8(const Text& value, int* pos, EnvelopeAddress* out) {
    ParseAddressIn(value, pos, out, TextForm::kUtf8);
}

void ParseAddressClientForm(const Text& value, int* pos, EnvelopeAddress* out) {
    ParseAddressIn(value, pos, out, TextForm::kAsIs);
}
