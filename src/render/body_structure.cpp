// BODYSTRUCTURE. The exact mode parses the message file with the MIME parser and writes its
// own form of the structure. The extended mode writes BODYSTRUCTURE and BODY in the form of the
// IMAP grammar: one parameter list per field, the disposition and language as extension data,
// and an attached message with its envelope, structure and line count. Everything there is read
// from the client form of the message, so every size and line count is that of the bytes BODY[]
// and BODY[n] send.
#include <string>

#include "mime/body_structure.h"
#include "mime/mime_part.h"
#include "mime/part_locator.h"
#include "render/envelope.h"
#include "render/items.h"

namespace {

// Multiparts nested deeper than this are written as leaves, so a hostile message cannot
// exhaust the stack.
constexpr int kMaxDepth = 32;

// A quoted string; a value with bytes a quoted string cannot carry is sent as a literal.
// Line ends of folded fields are dropped.
void AppendString(const std::string& value, std::string* out) {
    std::string clean;
    bool literal = false;
    for (char c : value) {
        if (c == '\r' || c == '\n')
            continue;
        if (c == 0 || (static_cast<unsigned char>(c) & 0x80) != 0)
            literal = true;
        clean += c == '\t' ? ' ' : c;
    }
    if (literal) {
        *out += "{" + std::to_string(clean.size()) + "}\r\n" + clean;
        return;
    }
    *out += '"';
    for (char c : clean) {
        if (c == '"' || c == '\\')
            *out += '\\';
        *out += c;
    }
    *out += '"';
}

void AppendStringOrNil(bool present, const std::string& value, std::string* out) {
    if (present)
        AppendString(value, out);
    else
        *out += "NIL";
}

void AppendParams(const std::vector<HeaderParam>& params, std::string* out) {
    if (params.empty()) {
        *out += "NIL";
        return;
    }
    *out += '(';
    for (size_t i = 0; i < params.size(); ++i) {
        if (i > 0)
            *out += ' ';
        AppendString(params[i].name, out);
        *out += ' ';
        AppendString(params[i].value, out);
    }
    *out += ')';
}

// A field's value with blanks trimmed, and whether the field is there.
bool Field(const char* s, ByteRange header, const char* name, std::string* value) {
    if (!FieldValue(s, header, name, value))
        return false;
    *value = ParseParameterized(*value).value;
    return true;
}

// Disposition and language: the extension data that every part ends with.
void AppendDispositionAndLanguage(const char* s, ByteRange header, std::string* out) {
    std::string value;
    *out += ' ';
    if (FieldValue(s, header, "Content-Disposition", &value) &&
        !ParseParameterized(value).value.empty()) {
        const ParameterizedValue disposition = ParseParameterized(value);
        *out += '(';
        AppendString(disposition.value, out);
        *out += ' ';
        AppendParams(disposition.params, out);
        *out += ')';
    } else {
        *out += "NIL";
    }
    *out += ' ';
    const bool language = Field(s, header, "Content-Language", &value);
    AppendStringOrNil(language && !value.empty(), value, out);
}

uint32_t CountLines(const char* s, ByteRange r) {
    uint32_t lines = 0;
    for (size_t i = r.start; i < r.start + r.length; ++i)
        lines += s[i] == '\n';
    if (r.length > 0 && s[r.start + r.length - 1] != '\n')
        ++lines;
    return lines;
}

// The ENVELOPE of an attached message's header.
void AppendEnvelope(const char* s, ByteRange header, std::string* out) {
    Envelope env;
    const size_t end = header.start + header.length;
    size_t i = header.start;
    while (i < end) {
        // One field: its line and continuation lines, line ends dropped.
        Text field;
        do {
            size_t next = i;
            while (next < end && s[next] != '\n')
                ++next;
            size_t stop = next;
            if (stop > i && s[stop - 1] == '\r')
                --stop;
            field.Append(s + i, static_cast<int>(stop - i));
            i = next < end ? next + 1 : end;
        } while (i < end && (s[i] == ' ' || s[i] == '\t'));
        if (!field.IsEmpty())
            ApplyEnvelopeField(field, &env, Mode::kExtended, TextForm::kAsIs);
    }
    Text value;
    RenderEnvelope(env, &value, ParseAddressClientForm);
    // RenderEnvelope puts a blank before the list.
    out->append(value.c_str() + 1, static_cast<size_t>(value.Length() - 1));
}

void AppendPart(const char* s, ByteRange header, ByteRange contents, const char* defaultType,
                bool extensible, int depth, std::string* out);

void AppendMultipart(const char* s, ByteRange header, ByteRange contents,
                     const ParameterizedValue& type, const std::string& subtype,
                     const std::string& boundary, bool extensible, int depth, std::string* out) {
    *out += '(';
    const bool digest = subtype == "digest";
    const std::vector<ByteRange> parts = SplitMultipart(s, contents, boundary);
    for (const ByteRange& part : parts) {
        const Entity e = SplitEntity(s, part.start, part.start + part.length);
        AppendPart(s, e.header, e.body, digest ? "message/rfc822" : "text/plain", extensible,
                   depth + 1, out);
    }
    if (parts.empty()) {
        // The grammar wants one part at least.
        *out += "(\"text\" \"plain\" (\"charset\" \"us-ascii\") NIL NIL \"7bit\" 0 0)";
    }
    *out += ' ';
    AppendString(subtype, out);
    if (extensible) {
        *out += ' ';
        AppendParams(type.params, out);
        AppendDispositionAndLanguage(s, header, out);
    }
    *out += ')';
}

void AppendPart(const char* s, ByteRange header, ByteRange contents, const char* defaultType,
                bool extensible, int depth, std::string* out) {
    std::string raw;
    ParameterizedValue type;
    if (FieldValue(s, header, "Content-Type", &raw))
        type = ParseParameterized(raw);
    if (type.value.find('/') == std::string::npos) {
        type.value = defaultType;
        if (type.value == "text/plain" && type.params.empty())
            type.params.push_back({"charset", "us-ascii"});
    }
    const size_t slash = type.value.find('/');
    std::string media = type.value.substr(0, slash);
    std::string subtype = type.value.substr(slash + 1);
    std::string lowerMedia;
    for (char c : media)
        lowerMedia += static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
    std::string lowerSubtype;
    for (char c : subtype)
        lowerSubtype += static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);

    std::string boundary;
    for (const HeaderParam& param : type.params) {
        if (param.name == "boundary")
            boundary = param.value;
    }
    if (lowerMedia == "multipart" && !boundary.empty() && depth < kMaxDepth) {
        AppendMultipart(s, header, contents, type, lowerSubtype, boundary, extensible, depth, out);
        return;
    }

    *out += '(';
    AppendString(media, out);
    *out += ' ';
    AppendString(subtype, out);
    *out += ' ';
    AppendParams(type.params, out);
    std::string value;
    *out += ' ';
    AppendStringOrNil(Field(s, header, "Content-ID", &value), value, out);
    *out += ' ';
    const bool described = FieldValue(s, header, "Content-Description", &value);
    while (!value.empty() && (value[0] == ' ' || value[0] == '\t'))
        value.erase(0, 1);
    AppendStringOrNil(described, value, out);
    *out += ' ';
    if (!Field(s, header, "Content-Transfer-Encoding", &value) || value.empty())
        value = "7bit";
    AppendString(value, out);
    *out += ' ' + std::to_string(contents.length);
    if (lowerMedia == "message" && lowerSubtype == "rfc822" && depth < kMaxDepth) {
        const Entity message = SplitEntity(s, contents.start, contents.start + contents.length);
        *out += ' ';
        AppendEnvelope(s, message.header, out);
        *out += ' ';
        AppendPart(s, message.header, message.body, "text/plain", extensible, depth + 1, out);
        *out += ' ' + std::to_string(CountLines(s, contents));
    } else if (lowerMedia == "text") {
        *out += ' ' + std::to_string(CountLines(s, contents));
    }
    if (extensible) {
        *out += " NIL";  // no MD5
        AppendDispositionAndLanguage(s, header, out);
    }
    *out += ')';
}

}  // namespace

void WriteBodyStructure(const FetchItem& item, const FetchedMessage& m, Mode mode, Output& out) {
    out.Write(item.name.c_str(), item.name.Length());
    if (mode == Mode::kExact) {
        // Rendered by the MIME parser from the message file (the loader's work).
        out.Write(m.mimeStructure.c_str(), m.mimeStructure.Length());
        return;
    }
    const std::string& whole = m.whole;
    const Entity message = SplitEntity(whole.data(), 0, whole.size());
    std::string value(" ");
    AppendPart(whole.data(), message.header, message.body, "text/plain",
               item.name.CompareNoCase("BODYSTRUCTURE") == 0, 0, &value);
    out.Write(value.data(), static_cast<int>(value.size()));
}
