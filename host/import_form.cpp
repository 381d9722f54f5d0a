#include "host/import_form.h"

#include <cstddef>
#include <vector>

#include "host/store_format.h"
#include "mime/unicode_text.h"
#include "platform/codepage.h"

namespace {

// Multipart parts nested deeper than this keep their bodies as they are.
constexpr int kMaxDepth = 32;
constexpr char kJapaneseCharset[] = "ISO-2022-JP";

char Lower(char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

std::string Lowered(std::string s) {
    for (char& c : s)
        c = Lower(c);
    return s;
}

bool IsBlank(char c) {
    return c == ' ' || c == '\t';
}

std::string Trimmed(const std::string& s) {
    size_t begin = 0;
    size_t end = s.size();
    while (begin < end && IsBlank(s[begin]))
        ++begin;
    while (end > begin && IsBlank(s[end - 1]))
        --end;
    return s.substr(begin, end - begin);
}

bool OneOf(const std::string& lowered, const char* const* names) {
    for (; *names != nullptr; ++names) {
        if (lowered == *names)
            return true;
    }
    return false;
}

const char* const kAsciiNames[] = {"", "us-ascii", "ascii", nullptr};
const char* const kConvertedCharsets[] = {"us-ascii",    "ascii",       "utf-8",     "utf8",
                                          "iso-2022-jp", "csiso2022jp", "shift_jis", "shift-jis",
                                          "sjis",        "x-sjis",      "cp932",     "windows-31j",
                                          "ms_kanji",    "csshiftjis",  nullptr};
const char* const kConvertedEncodings[] = {"",       "7bit", "8bit", "quoted-printable",
                                           "base64", nullptr};
const char* const kAddressFields[] = {"from",
                                      "to",
                                      "cc",
                                      "bcc",
                                      "reply-to",
                                      "sender",
                                      "resent-from",
                                      "resent-to",
                                      "resent-cc",
                                      "resent-bcc",
                                      "resent-reply-to",
                                      "resent-sender",
                                      "return-path",
                                      "disposition-notification-to",
                                      "mail-followup-to",
                                      "mail-reply-to",
                                      nullptr};

// The lines of a text, each with its own line end (LF or CR LF; the last one may have none).
std::vector<std::string> SplitLines(const std::string& text) {
    std::vector<std::string> lines;
    size_t start = 0;
    while (start < text.size()) {
        size_t next = text.find('\n', start);
        next = next == std::string::npos ? text.size() : next + 1;
        lines.push_back(text.substr(start, next - start));
        start = next;
    }
    return lines;
}

std::string LineEndOf(const std::string& line) {
    if (line.size() >= 2 && line.compare(line.size() - 2, 2, "\r\n") == 0)
        return "\r\n";
    if (!line.empty() && line.back() == '\n')
        return "\n";
    return std::string();
}

std::string WithoutLineEnd(const std::string& line) {
    return line.substr(0, line.size() - LineEndOf(line).size());
}

// A message or body part: its header fields (each with its continuation lines and line ends),
// the empty line after them (empty when the text has none) and the body.
struct Entity {
    std::vector<std::string> fields;
    std::string separator;
    std::string body;
};

Entity SplitEntity(const std::string& text) {
    Entity entity;
    size_t pos = 0;
    while (pos < text.size()) {
        size_t next = text.find('\n', pos);
        next = next == std::string::npos ? text.size() : next + 1;
        const std::string line = text.substr(pos, next - pos);
        pos = next;
        if (line == "\r\n" || line == "\n") {
            entity.separator = line;
            break;
        }
        if (IsBlank(line[0]) && !entity.fields.empty())
            entity.fields.back() += line;
        else
            entity.fields.push_back(line);
    }
    entity.body = text.substr(pos);
    return entity;
}

std::string Joined(const Entity& entity) {
    std::string out;
    for (const std::string& field : entity.fields)
        out += field;
    return out + entity.separator + entity.body;
}

std::string FieldName(const std::string& field) {
    const size_t colon = field.find(':');
    return colon == std::string::npos ? std::string() : Lowered(Trimmed(field.substr(0, colon)));
}

// The value after the colon with the field's line ends removed (continuation lines keep their
// leading blanks).
std::string UnfoldedValue(const std::string& field) {
    const size_t colon = field.find(':');
    std::string value;
    for (size_t i = colon + 1; i < field.size(); ++i) {
        if (field[i] != '\r' && field[i] != '\n')
            value += field[i];
    }
    return value;
}

// The field's name as written, the colon, the new value and the field's own line end.
std::string Rebuilt(const std::string& field, const std::string& value) {
    const size_t lastLine = field.rfind('\n', field.size() >= 2 ? field.size() - 2 : 0);
    const std::string last = field.substr(lastLine == std::string::npos ? 0 : lastLine + 1);
    return field.substr(0, field.find(':') + 1) + value + LineEndOf(last);
}

// The six characters that JIS-based converters write differently from code page 932, in the
// code page's form, so text from such a converter is held too.
char16_t CodePageForm(char16_t c) {
    switch (c) {
        case 0x301C:  // WAVE DASH
            return 0xFF5E;
        case 0x2016:  // DOUBLE VERTICAL LINE
            return 0x2225;
        case 0x2212:  // MINUS SIGN
            return 0xFF0D;
        case 0x00A2:  // CENT SIGN
            return 0xFFE0;
        case 0x00A3:  // POUND SIGN
            return 0xFFE1;
        case 0x00AC:  // NOT SIGN
            return 0xFFE2;
        default:
            return c;
    }
}

// The text in Shift_JIS. False when Shift_JIS cannot hold it: a character without a code, or
// a half-width katakana, which the server would hand out as a raw 8-bit byte.
bool ToShiftJis(const std::u16string& text, std::string* out) {
    std::u16string wide(text);
    for (char16_t& c : wide) {
        c = CodePageForm(c);
        if (c >= 0xFF61 && c <= 0xFF9F)
            return false;
    }
    out->clear();
    if (wide.empty())
        return true;
    const int n = static_cast<int>(wide.size());
    const int size = platform::WideCharToMultiByte(wide.data(), n, nullptr, 0);
    std::string bytes(static_cast<size_t>(size), '\0');
    if (size <= 0 || platform::WideCharToMultiByte(wide.data(), n, &bytes[0], size) != size)
        return false;
    // A character without a code comes out as "?": converting back shows it.
    const int back = platform::MultiByteToWideChar(bytes.data(), size, nullptr, 0);
    std::u16string again(static_cast<size_t>(back), u'\0');
    if (back <= 0 || platform::MultiByteToWideChar(bytes.data(), size, &again[0], back) != back ||
        again != wide) {
        return false;
    }
    *out = bytes;
    return true;
}

bool IsAscii(const std::u16string& text) {
    for (char16_t c : text) {
        if (c >= 0x80)
            return false;
    }
    return true;
}

// The length of the encoded word "=?charset?B|Q?text?=" at value[i], 0 when there is none;
// *charset receives its charset.
size_t EncodedWordAt(const std::string& value, size_t i, std::string* charset) {
    auto wordByte = [](char c) { return c > 0x20 && c < 0x7F && c != '?'; };
    if (value.compare(i, 2, "=?") != 0)
        return 0;
    size_t p = i + 2;
    while (p < value.size() && wordByte(value[p]))
        ++p;
    if (p == i + 2 || p + 2 >= value.size() || value[p] != '?' || value[p + 2] != '?')
        return 0;
    const char encoding = Lower(value[p + 1]);
    if (encoding != 'b' && encoding != 'q')
        return 0;
    size_t end = p + 3;
    while (end < value.size() && wordByte(value[end]))
        ++end;
    if (end + 1 >= value.size() || value[end] != '?' || value[end + 1] != '=')
        return 0;
    *charset = value.substr(i + 2, p - i - 2);
    return end + 2 - i;
}

// How a field's value is read: as plain text, or with quoted strings (addresses, MIME
// parameters), where a decoded word must not bring in an unescaped '"' or special character.
enum class Syntax { kText, kAddress, kMime };

Syntax SyntaxOf(const std::string& name) {
    if (name == "content-type" || name == "content-disposition")
        return Syntax::kMime;
    return OneOf(name, kAddressFields) ? Syntax::kAddress : Syntax::kText;
}

// A piece of a header value: text between encoded words, a decoded encoded word, or an
// encoded word kept as written (its charset unknown here, or its text beyond Shift_JIS).
struct Piece {
    enum Kind { kPlain, kWord, kKept } kind;
    std::u16string text;
};

std::u16string Widened(const std::string& ascii) {
    return std::u16string(ascii.begin(), ascii.end());
}

std::vector<Piece> PiecesOf(const std::string& value) {
    std::vector<Piece> pieces;
    std::string plain;
    auto flushPlain = [&]() {
        if (plain.empty())
            return;
        Piece piece{Piece::kPlain, std::u16string()};
        DecodeMailText(plain.data(), plain.size(), &piece.text);
        pieces.push_back(piece);
        plain.clear();
    };
    size_t i = 0;
    while (i < value.size()) {
        std::string charset;
        const size_t length = EncodedWordAt(value, i, &charset);
        if (length == 0) {
            plain += value[i++];
            continue;
        }
        flushPlain();
        const std::string word = value.substr(i, length);
        i += length;
        std::u16string probe;
        std::string unused;
        if (!DecodeCharset(charset.c_str(), "", 0, &probe)) {
            pieces.push_back({Piece::kKept, Widened(word)});
            continue;
        }
        const std::u16string text = DecodeHeaderValue(word.data(), word.size());
        if (ToShiftJis(text, &unused))
            pieces.push_back({Piece::kWord, text});
        else
            pieces.push_back({Piece::kKept, Widened(word)});
    }
    flushPlain();

    // Blanks between two decoded words are not part of the text; adjacent words join.
    std::vector<Piece> joined;
    for (size_t k = 0; k < pieces.size(); ++k) {
        const Piece& piece = pieces[k];
        bool blanks = piece.kind == Piece::kPlain;
        for (char16_t c : piece.text)
            blanks = blanks && (c == u' ' || c == u'\t');
        if (blanks && !joined.empty() && joined.back().kind == Piece::kWord &&
            k + 1 < pieces.size() && pieces[k + 1].kind == Piece::kWord) {
            continue;
        }
        if (piece.kind == Piece::kWord && !joined.empty() && joined.back().kind == Piece::kWord)
            joined.back().text += piece.text;
        else
            joined.push_back(piece);
    }
    return joined;
}

bool HasSpecials(const std::u16string& text) {
    for (char16_t c : text) {
        if (c < 0x80 &&
            std::string("()<>@,;:\\\".[]").find(static_cast<char>(c)) != std::string::npos) {
            return true;
        }
    }
    return false;
}

std::u16string Escaped(const std::u16string& text) {
    std::u16string out;
    for (char16_t c : text) {
        if (c == u'"' || c == u'\\')
            out += u'\\';
        out += c;
    }
    return out;
}

// The value with each run of raw UTF-8 words (blank-separated; in a structured field the
// specials end a word too) as UTF-8 encoded words of at most 45 bytes of text each.
std::string WithUtf8Words(const std::string& value, Syntax syntax) {
    auto separates = [&](char c) {
        return c == ' ' || c == '\t' ||
               (syntax != Syntax::kText &&
                std::string("()<>@,;:\\\"[]").find(c) != std::string::npos);
    };
    auto high = [](const std::string& word) {
        for (char c : word) {
            if (static_cast<unsigned char>(c) >= 0x80)
                return true;
        }
        return false;
    };
    std::string out;
    size_t i = 0;
    while (i < value.size()) {
        if (separates(value[i])) {
            out += value[i++];
            continue;
        }
        size_t end = i;
        while (end < value.size() && !separates(value[end]))
            ++end;
        if (!high(value.substr(i, end - i))) {
            out += value.substr(i, end - i);
            i = end;
            continue;
        }
        // Further non-ASCII words after blanks join the run.
        for (;;) {
            size_t next = end;
            while (next < value.size() && (value[next] == ' ' || value[next] == '\t'))
                ++next;
            size_t nextEnd = next;
            while (nextEnd < value.size() && !separates(value[nextEnd]))
                ++nextEnd;
            if (next == end || nextEnd == next || !high(value.substr(next, nextEnd - next)))
                break;
            end = nextEnd;
        }
        const std::string run = value.substr(i, end - i);
        size_t at = 0;
        while (at < run.size()) {
            size_t take = run.size() - at < 45 ? run.size() - at : 45;
            // Never inside a character: a continuation byte starts no piece.
            while (at + take < run.size() &&
                   (static_cast<unsigned char>(run[at + take]) & 0xC0) == 0x80)
                --take;
            if (at > 0)
                out += ' ';
            out += "=?UTF-8?B?" + Base64Encode(run.substr(at, take)) + "?=";
            at += take;
        }
        i = end;
    }
    return out;
}

// The field with its encoded words decoded and any other non-ASCII text in Shift_JIS, on one
// line; the field as it was when it holds neither. Raw UTF-8 text that Shift_JIS cannot all
// hold (an emoji) becomes UTF-8 encoded words, which read back as sent; other text that cannot
// be held stays as it was.
std::string DecodedField(const std::string& field) {
    const std::string name = FieldName(field);
    if (name.empty())
        return field;
    const std::string value = UnfoldedValue(field);
    bool needed = value.find("=?") != std::string::npos;
    for (char c : value)
        needed = needed || static_cast<unsigned char>(c) >= 0x80 || c == 0x1B;
    if (!needed)
        return field;

    const Syntax syntax = SyntaxOf(name);
    std::u16string text;
    bool quoted = false;
    bool escaped = false;
    for (const Piece& piece : PiecesOf(value)) {
        if (piece.kind != Piece::kWord) {
            text += piece.text;
            if (syntax == Syntax::kText)
                continue;
            for (char16_t c : piece.text) {
                if (escaped)
                    escaped = false;
                else if (quoted && c == u'\\')
                    escaped = true;
                else if (c == u'"')
                    quoted = !quoted;
            }
        } else if (syntax == Syntax::kText) {
            text += piece.text;
        } else if (quoted) {
            text += Escaped(piece.text);
        } else if (syntax == Syntax::kMime || HasSpecials(piece.text)) {
            text += u'"' + Escaped(piece.text) + u'"';
        } else {
            text += piece.text;
        }
    }
    std::string bytes;
    if (!ToShiftJis(text, &bytes)) {
        std::u16string utf8;
        bool raw = false;
        for (char c : value)
            raw = raw || static_cast<unsigned char>(c) >= 0x80;
        if (raw && DecodeUtf8(value.data(), value.size(), &utf8))
            return Rebuilt(field, WithUtf8Words(value, syntax));
        return field;
    }
    if (bytes == value)
        return field;
    return Rebuilt(field, bytes);
}

// The parameters of a Content-Type value that matter here.
struct ContentType {
    bool present = false;
    std::string type;  // lower case, such as "text" or "multipart"
    std::string charset;
    bool hasCharset = false;
    std::string boundary;
    bool named = false;  // a file name is given: the part is a file, whatever its type
};

// The value split at the semicolons outside quoted strings.
std::vector<std::string> ParamSegments(const std::string& value) {
    std::vector<std::string> segments(1);
    bool quoted = false;
    for (size_t i = 0; i < value.size(); ++i) {
        const char c = value[i];
        if (quoted && c == '\\' && i + 1 < value.size()) {
            segments.back() += value.substr(i++, 2);
            continue;
        }
        if (c == '"')
            quoted = !quoted;
        if (c == ';' && !quoted)
            segments.emplace_back();
        else
            segments.back() += c;
    }
    return segments;
}

std::string Unquoted(const std::string& s) {
    const std::string t = Trimmed(s);
    if (t.size() < 2 || t.front() != '"' || t.back() != '"')
        return t;
    std::string out;
    for (size_t i = 1; i + 1 < t.size(); ++i) {
        if (t[i] == '\\' && i + 2 < t.size())
            ++i;
        out += t[i];
    }
    return out;
}

ContentType ParseContentType(const std::string& field) {
    ContentType ct;
    ct.present = true;
    const std::vector<std::string> segments = ParamSegments(UnfoldedValue(field));
    const std::string full = Lowered(Trimmed(segments[0]));
    ct.type = Trimmed(full.substr(0, full.find('/')));
    for (size_t i = 1; i < segments.size(); ++i) {
        const size_t eq = segments[i].find('=');
        if (eq == std::string::npos)
            continue;
        const std::string name = Lowered(Trimmed(segments[i].substr(0, eq)));
        const std::string value = Unquoted(segments[i].substr(eq + 1));
        if (name == "charset") {
            ct.charset = Lowered(value);
            ct.hasCharset = true;
        } else if (name == "boundary") {
            ct.boundary = value;
        } else if (name == "name") {
            ct.named = true;
        }
    }
    return ct;
}

// The Content-Type field with its charset parameter set to charset (added when missing).
std::string WithCharset(const std::string& field, const std::string& charset) {
    std::vector<std::string> segments = ParamSegments(UnfoldedValue(field));
    bool found = false;
    for (size_t i = 1; i < segments.size(); ++i) {
        const size_t eq = segments[i].find('=');
        if (eq != std::string::npos && Lowered(Trimmed(segments[i].substr(0, eq))) == "charset") {
            segments[i] = " charset=" + charset;
            found = true;
        }
    }
    if (!found)
        segments.push_back(" charset=" + charset);
    std::string value;
    for (size_t i = 0; i < segments.size(); ++i)
        value += (i > 0 ? ";" : "") + segments[i];
    return Rebuilt(field, value);
}

// Base64 in lines of 76 characters, each ended by CR LF.
std::string Base64Lines(const std::string& bytes) {
    const std::string text = Base64Encode(bytes);
    std::string out;
    for (size_t i = 0; i < text.size(); i += 76)
        out += text.substr(i, 76) + "\r\n";
    return out;
}

int FindField(const Entity& entity, const char* name) {
    for (size_t i = 0; i < entity.fields.size(); ++i) {
        if (FieldName(entity.fields[i]) == name)
            return static_cast<int>(i);
    }
    return -1;
}

// Sets a field of the entity to "Name: value" when its value differs (ASCII case ignored),
// adding it after the other fields when missing.
void SetField(Entity* entity, const char* name, const char* shownName, const std::string& value) {
    const int at = FindField(*entity, name);
    const std::string lineEnd = entity->separator.empty() ? "\r\n" : entity->separator;
    if (at < 0) {
        entity->fields.push_back(std::string(shownName) + ": " + value + lineEnd);
    } else if (Lowered(Trimmed(UnfoldedValue(entity->fields[at]))) != Lowered(value)) {
        entity->fields[at] = Rebuilt(entity->fields[at], " " + value);
    }
}

// Whether the 8-bit bytes of a text were read as Shift_JIS: under an ISO-2022-JP label (whose
// decoding takes 8-bit bytes for Shift_JIS, as the host's own messages hold them) or with no
// charset but ASCII, and no UTF-8. Such bytes are the host's form already, even where
// ToShiftJis declines them (half-width katakana), and are kept into *sjis as they are.
bool KeptAsShiftJis(const ContentType& ct, const std::string& raw, bool transferEncoded,
                    std::string* sjis) {
    static const char* const kJisNames[] = {"iso-2022-jp", "csiso2022jp", nullptr};
    bool eightBit = false;
    for (char c : raw)
        eightBit = eightBit || static_cast<unsigned char>(c) >= 0x80;
    if (transferEncoded || !eightBit)
        return false;
    std::u16string utf8;
    if (!OneOf(ct.charset, kJisNames) &&
        (!OneOf(ct.charset, kAsciiNames) || DecodeUtf8(raw.data(), raw.size(), &utf8)))
        return false;
    *sjis = raw;
    return true;
}

// A text entity's body in the host's form, its fields brought in line.
void ConvertText(Entity* entity, const ContentType& ct) {
    const int encodingAt = FindField(*entity, "content-transfer-encoding");
    const std::string encoding = encodingAt < 0
                                     ? std::string()
                                     : Lowered(Trimmed(UnfoldedValue(entity->fields[encodingAt])));
    if (!OneOf(encoding, kConvertedEncodings) ||
        (ct.hasCharset && !OneOf(ct.charset, kConvertedCharsets))) {
        return;
    }
    std::string raw;
    if (encoding == "base64")
        DecodeBase64(entity->body.data(), entity->body.size(), &raw);
    else if (encoding == "quoted-printable")
        DecodeQuotedPrintable(entity->body.data(), entity->body.size(), false, &raw);
    else
        raw = entity->body;
    std::u16string text;
    if (OneOf(ct.charset, kAsciiNames))
        DecodeMailText(raw.data(), raw.size(), &text);
    else
        DecodeCharset(ct.charset.c_str(), raw.data(), raw.size(), &text);

    const bool transferEncoded = encoding == "base64" || encoding == "quoted-printable";
    std::string sjis;
    if (IsAscii(text)) {
        if (!transferEncoded)
            return;
        entity->body = WithCrLf(raw);
        SetField(entity, "content-transfer-encoding", "Content-Transfer-Encoding", "7bit");
    } else if (ToShiftJis(text, &sjis) || KeptAsShiftJis(ct, raw, transferEncoded, &sjis)) {
        if (WithCrLf(sjis) != WithCrLf(entity->body))
            entity->body = WithCrLf(sjis);
        if (!ct.present) {
            SetField(entity, "content-type", "Content-Type",
                     std::string("text/plain; charset=") + kJapaneseCharset);
        } else if (ct.charset != Lowered(kJapaneseCharset)) {
            const int at = FindField(*entity, "content-type");
            entity->fields[at] = WithCharset(entity->fields[at], kJapaneseCharset);
        }
        SetField(entity, "content-transfer-encoding", "Content-Transfer-Encoding", "7bit");
    } else if (!transferEncoded) {
        // Text that Shift_JIS cannot hold stays in its charset; as 8-bit bytes the server
        // would read it as Shift_JIS, so it travels in base64.
        bool eightBit = false;
        for (char c : raw)
            eightBit = eightBit || static_cast<unsigned char>(c) >= 0x80;
        if (!eightBit)
            return;
        entity->body = Base64Lines(raw);
        SetField(entity, "content-transfer-encoding", "Content-Transfer-Encoding", "base64");
        // Text that named no charset was read as UTF-8 (a client that enabled UTF-8 sends
        // it so): once in base64 it must say so, or readers take it for ASCII.
        std::u16string asUtf8;
        if (!ct.hasCharset && DecodeUtf8(raw.data(), raw.size(), &asUtf8)) {
            if (!ct.present) {
                SetField(entity, "content-type", "Content-Type", "text/plain; charset=UTF-8");
            } else {
                const int at = FindField(*entity, "content-type");
                entity->fields[at] = WithCharset(entity->fields[at], "UTF-8");
            }
        }
    }
}

std::string Converted(const std::string& text, int depth);

bool IsDelimiter(const std::string& line, const std::string& delimiter, bool* last) {
    const std::string bare = WithoutLineEnd(line);
    if (bare.compare(0, delimiter.size(), delimiter) != 0)
        return false;
    std::string rest = bare.substr(delimiter.size());
    *last = rest.compare(0, 2, "--") == 0;
    if (*last)
        rest = rest.substr(2);
    return Trimmed(rest).empty();
}

// A multipart body with each part converted; the preamble, the delimiter lines and the
// epilogue stay as they are. The line end before a delimiter belongs to the delimiter.
std::string ConvertedMultipart(const std::string& body, const std::string& boundary, int depth) {
    const std::string delimiter = "--" + boundary;
    std::string out;
    std::string part;
    bool inPart = false;
    bool ended = false;
    for (const std::string& line : SplitLines(body)) {
        bool last = false;
        if (ended || !IsDelimiter(line, delimiter, &last)) {
            (inPart ? part : out) += line;
            continue;
        }
        if (inPart) {
            std::string content = part;
            std::string lineEnd;
            if (!content.empty() && content.back() == '\n') {
                lineEnd =
                    content.size() >= 2 && content[content.size() - 2] == '\r' ? "\r\n" : "\n";
                content.resize(content.size() - lineEnd.size());
            }
            out += Converted(content, depth + 1) + lineEnd;
        }
        out += line;
        part.clear();
        inPart = !last;
        ended = last;
    }
    if (inPart)
        out += Converted(part, depth + 1);
    return out;
}

std::string Converted(const std::string& text, int depth) {
    Entity entity = SplitEntity(text);
    ContentType ct;
    bool attached = false;
    for (std::string& field : entity.fields) {
        field = DecodedField(field);
        const std::string name = FieldName(field);
        if (!ct.present && name == "content-type")
            ct = ParseContentType(field);
        if (name == "content-disposition")
            attached = Lowered(Trimmed(UnfoldedValue(field))).compare(0, 10, "attachment") == 0;
    }
    // A text file attached keeps its bytes, so it is saved as it was sent.
    const bool file = attached || ct.named;
    if (depth < kMaxDepth) {
        if (ct.type == "multipart" && !ct.boundary.empty())
            entity.body = ConvertedMultipart(entity.body, ct.boundary, depth);
        else if ((!ct.present || ct.type == "text") && !file && !entity.separator.empty())
            ConvertText(&entity, ct);
    }
    return Joined(entity);
}

}  // namespace

std::string HostFormOf(const std::string& message) {
    return Converted(message, 0);
}
