// The extended client form: header text as encoded words of the charset each run needs, and a
// whole-message walk that finds the text parts (following multipart boundaries and attached
// messages) so that a part whose text ISO-2022-JP cannot carry is relabelled and sent as UTF-8.
#include "mime/extended_form.h"

#include <cstring>
#include <vector>

#include "mime/base64.h"
#include "mime/jis_text.h"
#include "mime/message_text.h"
#include "platform/codepage.h"

namespace {

// Multiparts nested deeper than this are sent as they are, so a hostile message cannot
// exhaust the stack.
constexpr int kMaxDepth = 32;
// The longest encoded word, in characters.
constexpr size_t kMaxWord = 75;
// Characters per line of a base64 body.
constexpr size_t kBase64Line = 76;

bool IsLead(unsigned char b) {
    return platform::IsLeadByte(b);
}

// The length of the character at s[i]: 2 for a lead byte followed by a trail byte, else 1.
size_t CharLength(const char* s, size_t i, size_t n) {
    return i + 1 < n && IsLead(static_cast<unsigned char>(s[i])) &&
                   platform::IsTrailByte(static_cast<unsigned char>(s[i + 1]))
               ? 2
               : 1;
}

bool IsBlank(char c) {
    return c == ' ' || c == '\t';
}

bool IsSpecial(char c) {
    return std::strchr("()<>@,;:\\\"[]", c) != nullptr && c != '\0';
}

// One line of a text: its start and length, line end included.
struct Line {
    const char* p;
    size_t n;
};

std::vector<Line> SplitLines(const char* s, size_t n) {
    std::vector<Line> lines;
    size_t pos = 0;
    while (pos < n) {
        const void* lf = std::memchr(s + pos, '\n', n - pos);
        const size_t end =
            lf != nullptr ? static_cast<size_t>(static_cast<const char*>(lf) - s) + 1 : n;
        lines.push_back({s + pos, end - pos});
        pos = end;
    }
    return lines;
}

bool IsEmptyLine(const Line& line) {
    return (line.n == 1 && line.p[0] == '\n') ||
           (line.n == 2 && line.p[0] == '\r' && line.p[1] == '\n');
}

// The bytes of a line end at the end of a line: 0, 1 (LF) or 2 (CR LF).
size_t LineEndLength(const char* p, size_t n) {
    if (n >= 2 && p[n - 2] == '\r' && p[n - 1] == '\n')
        return 2;
    return n >= 1 && p[n - 1] == '\n' ? 1 : 0;
}

bool StartsNoCase(const char* p, size_t n, const char* word) {
    const size_t k = std::strlen(word);
    if (n < k)
        return false;
    for (size_t i = 0; i < k; ++i) {
        char c = p[i];
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
        char w = word[i];
        if (w >= 'A' && w <= 'Z')
            w = static_cast<char>(w - 'A' + 'a');
        if (c != w)
            return false;
    }
    return true;
}

void AppendBase64Lines(const std::string& bytes, Text* out) {
    const size_t chunk = kBase64Line / 4 * 3;
    std::vector<char> encoded(kBase64Line + 4);
    for (size_t i = 0; i < bytes.size(); i += chunk) {
        const size_t take = bytes.size() - i < chunk ? bytes.size() - i : chunk;
        const size_t k = Base64EncodeTo(bytes.data() + i, take, encoded.data());
        if (i > 0)
            out->Append("\r\n");
        out->AppendBytes(encoded.data(), static_cast<int>(k));
    }
}

// One encoded word (or the UTF-8 itself) of n Shift_JIS bytes that fit one word, in
// ISO-2022-JP when jis, else UTF-8.
void AppendOneWord(const char* s, size_t n, TextForm form, bool jis, Text* out) {
    std::string utf8;
    if (form == TextForm::kUtf8) {
        AppendUtf8OfShiftJis(s, n, &utf8);
        out->AppendBytes(utf8.data(), static_cast<int>(utf8.size()));
        return;
    }
    Base64Codec base64;
    if (jis) {
        JisText text;
        text.AppendBytes(s, static_cast<int>(n));
        text.ConvertToJis();
        out->Append("=?ISO-2022-JP?B?");
        out->Append(base64.Encode(text.c_str(), static_cast<size_t>(text.Length())));
    } else {
        AppendUtf8OfShiftJis(s, n, &utf8);
        out->Append("=?UTF-8?B?");
        out->Append(base64.Encode(utf8.data(), utf8.size()));
    }
    out->Append("?=");
}

// Reads the quoted string that opens at s[open]: its contents with quoted pairs undone into
// *contents; returns the index after its closing quote, or 0 when it is not closed.
size_t ReadQuoted(const char* s, size_t n, size_t open, std::string* contents) {
    size_t j = open + 1;
    while (j < n) {
        const size_t k = CharLength(s, j, n);
        if (k == 2) {
            contents->append(s + j, 2);
        } else if (s[j] == '\\' && j + 1 < n && s[j + 1] != '\r' && s[j + 1] != '\n') {
            contents->push_back(s[j + 1]);
            ++j;
        } else if (s[j] == '"') {
            return j + 1;
        } else if (s[j] == '\r' || s[j] == '\n') {
            return 0;
        } else {
            contents->push_back(s[j]);
        }
        j += k;
    }
    return 0;
}

bool HasHighByte(const char* s, size_t n) {
    for (size_t i = 0; i < n; ++i) {
        if ((static_cast<unsigned char>(s[i]) & 0x80) != 0)
            return true;
    }
    return false;
}

// Appends s[0, n) with the runs of words that hold non-ASCII text encoded. A word ends at a
// blank, a line end or (structured) a special; a run is such words with the blanks between
// them. Every other byte is copied as it is.
void AppendRuns(const char* s, size_t n, bool structured, TextForm form, Text* out) {
    auto separates = [&](size_t i) {
        return IsBlank(s[i]) || s[i] == '\r' || s[i] == '\n' || (structured && IsSpecial(s[i]));
    };
    // The end of the word at i, and whether it holds a byte above 0x7F.
    auto wordEnd = [&](size_t i, bool* high) {
        *high = false;
        while (i < n && !separates(i)) {
            if ((static_cast<unsigned char>(s[i]) & 0x80) != 0)
                *high = true;
            i += CharLength(s, i, n);
        }
        return i;
    };
    size_t copied = 0;
    size_t i = 0;
    while (i < n) {
        if (separates(i)) {
            ++i;
            continue;
        }
        bool high = false;
        size_t end = wordEnd(i, &high);
        if (!high) {
            i = end;
            continue;
        }
        // Further words with non-ASCII text after blanks join the run.
        for (;;) {
            size_t next = end;
            while (next < n && IsBlank(s[next]))
                ++next;
            bool nextHigh = false;
            const size_t nextEnd = next > end ? wordEnd(next, &nextHigh) : next;
            if (!nextHigh || nextEnd == next)
                break;
            end = nextEnd;
        }
        out->AppendBytes(s + copied, static_cast<int>(i - copied));
        AppendEncodedWords(s + i, end - i, form, out);
        copied = i = end;
    }
    out->AppendBytes(s + copied, static_cast<int>(n - copied));
}

// What the walk needs of a header: its Content-Type and Content-Transfer-Encoding fields.
struct HeaderInfo {
    int typeFirst = -1;  // the field's first and last line, -1 when absent
    int typeLast = -1;
    int encodingFirst = -1;
    int encodingLast = -1;
    std::string type;      // the Content-Type value, lines joined, without line ends
    std::string encoding;  // the Content-Transfer-Encoding value the same way
};

std::string FieldValue(const std::vector<Line>& lines, int first, int last) {
    std::string value;
    for (int i = first; i <= last; ++i) {
        const Line& l = lines[static_cast<size_t>(i)];
        size_t from = 0;
        if (i == first) {
            const void* colon = std::memchr(l.p, ':', l.n);
            from = colon != nullptr ? static_cast<size_t>(static_cast<const char*>(colon) - l.p) + 1
                                    : l.n;
        }
        value.append(l.p + from, l.n - from - LineEndLength(l.p, l.n));
    }
    return value;
}

HeaderInfo ReadHeaderInfo(const std::vector<Line>& lines) {
    HeaderInfo info;
    const int count = static_cast<int>(lines.size());
    for (int i = 0; i < count; ++i) {
        const Line& l = lines[static_cast<size_t>(i)];
        if (l.n == 0 || IsBlank(l.p[0]))
            continue;
        int last = i;
        while (last + 1 < count && lines[static_cast<size_t>(last + 1)].n > 0 &&
               IsBlank(lines[static_cast<size_t>(last + 1)].p[0]))
            ++last;
        if (info.typeFirst < 0 && StartsNoCase(l.p, l.n, "content-type:")) {
            info.typeFirst = i;
            info.typeLast = last;
            info.type = FieldValue(lines, i, last);
        } else if (info.encodingFirst < 0 && StartsNoCase(l.p, l.n, "content-transfer-encoding:")) {
            info.encodingFirst = i;
            info.encodingLast = last;
            info.encoding = FieldValue(lines, i, last);
        }
    }
    return info;
}

std::string Trimmed(const std::string& s) {
    size_t a = 0;
    size_t b = s.size();
    while (a < b && IsBlank(s[a]))
        ++a;
    while (b > a && IsBlank(s[b - 1]))
        --b;
    return s.substr(a, b - a);
}

// The first word of a field value in lower case ("base64" of a Content-Transfer-Encoding).
std::string FirstWord(const std::string& value) {
    std::string type;
    for (char c : Trimmed(value)) {
        if (c == ';' || IsBlank(c) || c == '(')
            break;
        type += (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
    }
    return type;
}

// Where a parameter's value lies in a field's raw text (from its name to the end of its
// value); false when the field has no such parameter.
bool FindParameter(const std::string& text, const char* name, size_t* from, size_t* valueFrom,
                   size_t* to) {
    const size_t k = std::strlen(name);
    for (size_t i = 0; i + k < text.size(); ++i) {
        if ((i > 0 && text[i - 1] != ';' && !IsBlank(text[i - 1]) && text[i - 1] != '\n') ||
            !StartsNoCase(text.data() + i, text.size() - i, name))
            continue;
        size_t j = i + k;
        while (j < text.size() && IsBlank(text[j]))
            ++j;
        if (j >= text.size() || text[j] != '=')
            continue;
        ++j;
        while (j < text.size() && IsBlank(text[j]))
            ++j;
        *from = i;
        *valueFrom = j;
        if (j < text.size() && text[j] == '"') {
            size_t e = j + 1;
            while (e < text.size() && text[e] != '"' && text[e] != '\r' && text[e] != '\n')
                e += (text[e] == '\\' && e + 1 < text.size()) ? 2 : 1;
            *to = e < text.size() && text[e] == '"' ? e + 1 : e;
        } else {
            size_t e = j;
            while (e < text.size() && text[e] != ';' && !IsBlank(text[e]) && text[e] != '\r' &&
                   text[e] != '\n' && text[e] != '(')
                ++e;
            *to = e;
        }
        return true;
    }
    return false;
}

// Whether an entity is text the host keeps in Shift_JIS: of type text (or none) and not
// transfer-encoded.
bool IsShiftJisText(const HeaderInfo& info) {
    const std::string type = ParseContentType(info.type).type;
    const std::string encoding = FirstWord(info.encoding);  // lower case, trimmed
    return (type.empty() || type == "text") &&
           (encoding.empty() || encoding == "7bit" || encoding == "8bit" || encoding == "binary");
}

class Walker {
  public:
    explicit Walker(TextForm form) : form_(form) {}

    // A header's lines (no status line, no empty line) into out, with the Content-Type and
    // Content-Transfer-Encoding fields replaced by those of a UTF-8 text part when relabel.
    void Header(const std::vector<Line>& lines, const HeaderInfo& info, bool relabel,
                Text* out) const {
        bool structured = false;
        const int count = static_cast<int>(lines.size());
        for (int i = 0; i < count; ++i) {
            const Line& l = lines[static_cast<size_t>(i)];
            if (relabel && i >= info.encodingFirst && i <= info.encodingLast)
                continue;
            if (relabel && i == info.typeFirst) {
                RelabelledType(lines, info, out);
                i = info.typeLast;
                continue;
            }
            if (l.n > 0 && !IsBlank(l.p[0]))
                structured = IsStructuredFieldLine(l.p, l.n);
            AppendHeaderTextExtended(l.p, l.n, structured, form_, out);
        }
        if (relabel && info.typeFirst < 0) {
            out->Append("Content-Type: text/plain; charset=UTF-8\r\n");
            AppendEncodingField(out);
        }
    }

    // An entity: header lines up to the first empty line, then the body, from the lines
    // [first, last); the last line's line end may belong to a boundary that follows, and is
    // kept as it is. The empty line goes to body only when nested (the top level's header and
    // body are kept apart, the line between them being implied). header null: the body only.
    void Entity(const std::vector<Line>& lines, size_t first, size_t last, bool topLevel, int depth,
                Text* header, Text* body) const {
        std::vector<Line> head;
        size_t i = first;
        for (; i < last; ++i) {
            const Line& l = lines[i];
            if (IsEmptyLine(l))
                break;
            if (topLevel && IsHostStatusLine(l.p, l.n))
                continue;
            head.push_back(l);
        }
        const bool hasSeparator = i < last;
        const size_t bodyFirst = hasSeparator ? i + 1 : last;
        const HeaderInfo info = ReadHeaderInfo(head);
        const ContentType type = ParseContentType(info.type);
        bool relabel = false;
        if (IsShiftJisText(info) && bodyFirst < last) {
            relabel = form_ == TextForm::kUtf8 || !LinesFitJis(lines, bodyFirst, last);
        }
        if (header != nullptr)
            Header(head, info, relabel, header);
        if (!hasSeparator || body == nullptr)
            return;
        if (!topLevel)
            body->AppendBytes(lines[i].p, static_cast<int>(lines[i].n));
        if (relabel) {
            Utf8Body(lines, bodyFirst, last, topLevel, body);
        } else if (depth < kMaxDepth && type.type == "multipart" && !type.boundary.empty()) {
            Multipart(lines, bodyFirst, last, type.boundary, depth, body);
        } else if (depth < kMaxDepth && type.type == "message" && type.subtype == "rfc822") {
            Text nestedHeader;
            Text nestedBody;
            Entity(lines, bodyFirst, last, false, depth + 1, &nestedHeader, &nestedBody);
            body->Append(nestedHeader);
            body->Append(nestedBody);
        } else {
            Plain(lines, bodyFirst, last, body);
        }
    }

  private:
    // The lines of an entity lie one after another in the message: [first, last) as one span.
    static size_t SpanLength(const std::vector<Line>& lines, size_t first, size_t last) {
        return first < last
                   ? static_cast<size_t>(lines[last - 1].p + lines[last - 1].n - lines[first].p)
                   : 0;
    }

    bool LinesFitJis(const std::vector<Line>& lines, size_t first, size_t last) const {
        return first >= last || FitsJisX0208(lines[first].p, SpanLength(lines, first, last));
    }

    void Plain(const std::vector<Line>& lines, size_t first, size_t last, Text* out) const {
        if (first < last)
            AppendJisLines(lines[first].p, static_cast<int>(SpanLength(lines, first, last)), out);
    }

    // The text of lines [first, last) as UTF-8: base64 lines (kMime) or the UTF-8 itself. In a
    // part the last line's line end stays outside, as it belongs to the boundary after it.
    void Utf8Body(const std::vector<Line>& lines, size_t first, size_t last, bool ownsLastEnd,
                  Text* out) const {
        std::string sjis;
        for (size_t i = first; i < last; ++i)
            sjis.append(lines[i].p, lines[i].n);
        const size_t end = ownsLastEnd ? 0 : LineEndLength(sjis.data(), sjis.size());
        std::string utf8;
        AppendUtf8OfShiftJis(sjis.data(), sjis.size() - end, &utf8);
        if (form_ == TextForm::kUtf8) {
            out->AppendBytes(utf8.data(), static_cast<int>(utf8.size()));
        } else {
            AppendBase64Lines(utf8, out);
            // The base64 text ends with a line of its own.
            if (ownsLastEnd && !utf8.empty())
                out->Append("\r\n");
        }
        out->AppendBytes(sjis.data() + sjis.size() - end, static_cast<int>(end));
    }

    void Multipart(const std::vector<Line>& lines, size_t first, size_t last,
                   const std::string& boundary, int depth, Text* out) const {
        // Where each separator or terminator line lies.
        size_t part = 0;  // the first line of the current part, 0 before the first separator
        bool inPart = false;
        bool closed = false;
        for (size_t i = first; i < last; ++i) {
            int kind = closed ? 0 : DelimiterKind(lines[i], boundary);
            if (kind == 0) {
                if (!inPart)
                    Plain(lines, i, i + 1, out);
                continue;
            }
            if (inPart) {
                Text header;
                Text body;
                Entity(lines, part, i, false, depth + 1, &header, &body);
                out->Append(header);
                out->Append(body);
            }
            AppendJisLines(lines[i].p, static_cast<int>(lines[i].n), out);
            inPart = kind == 1;
            closed = kind == 2;
            part = i + 1;
        }
        if (inPart) {
            Text header;
            Text body;
            Entity(lines, part, last, false, depth + 1, &header, &body);
            out->Append(header);
            out->Append(body);
        }
    }

    // 1 for a separator line of boundary, 2 for its terminator, 0 for any other line.
    static int DelimiterKind(const Line& line, const std::string& boundary) {
        const size_t b = boundary.size();
        if (line.n < 2 + b || line.p[0] != '-' || line.p[1] != '-' ||
            std::memcmp(line.p + 2, boundary.data(), b) != 0)
            return 0;
        size_t k = 2 + b;
        int kind = 1;
        if (k + 1 < line.n && line.p[k] == '-' && line.p[k + 1] == '-') {
            k += 2;
            kind = 2;
        }
        while (k < line.n && IsBlank(line.p[k]))
            ++k;
        return k + LineEndLength(line.p, line.n) == line.n ? kind : 0;
    }

    // The Content-Type field with its charset parameter made UTF-8, then the transfer encoding.
    void RelabelledType(const std::vector<Line>& lines, const HeaderInfo& info, Text* out) const {
        std::string field;
        for (int i = info.typeFirst; i <= info.typeLast; ++i)
            field.append(lines[static_cast<size_t>(i)].p, lines[static_cast<size_t>(i)].n);
        const size_t end = LineEndLength(field.data(), field.size());
        const std::string lineEnd = field.substr(field.size() - end);
        field.resize(field.size() - end);
        size_t from = 0;
        size_t valueFrom = 0;
        size_t to = 0;
        if (FindParameter(field, "charset", &from, &valueFrom, &to))
            field.replace(valueFrom, to - valueFrom, "UTF-8");
        else
            field += "; charset=UTF-8";
        field += lineEnd.empty() ? "\r\n" : lineEnd;
        // Continuation lines stay continuation lines, each converted as a header line.
        for (const Line& l : SplitLines(field.data(), field.size()))
            AppendHeaderTextExtended(l.p, l.n, true, form_, out);
        AppendEncodingField(out);
    }

    void AppendEncodingField(Text* out) const {
        out->Append(form_ == TextForm::kUtf8 ? "Content-Transfer-Encoding: 8bit\r\n"
                                             : "Content-Transfer-Encoding: base64\r\n");
    }

    TextForm form_;
};

}  // namespace

bool FitsJisX0208(const char* s, size_t n) {
    constexpr uint64_t kHigh = 0x8080808080808080ull;
    const unsigned char* p = reinterpret_cast<const unsigned char*>(s);
    size_t i = 0;
    while (i < n) {
        // ASCII runs eight bytes at a time.
        if (i + 8 <= n) {
            uint64_t w;
            std::memcpy(&w, p + i, 8);
            if ((w & kHigh) == 0) {
                i += 8;
                continue;
            }
        }
        const unsigned b = p[i];
        if (b < 0x80) {
            ++i;
            continue;
        }
        // Only the lead bytes of JIS X 0208 rows 1-8 and 16-84 with a trail byte pass: not
        // half-width katakana, not a byte of no character, not the other rows.
        const bool jis =
            (b >= 0x81 && b <= 0x84) || (b >= 0x88 && b <= 0x9F) || (b >= 0xE0 && b <= 0xEA);
        if (!jis || i + 1 >= n)
            return false;
        const unsigned t = p[i + 1];
        if (t < 0x40 || t == 0x7F || t > 0xFC)
            return false;
        i += 2;
    }
    return true;
}

void AppendUtf8OfShiftJis(const char* s, size_t n, std::string* out) {
    platform::AppendUtf8OfCodePage(s, n, out);
}

void AppendEncodedWords(const char* s, size_t n, TextForm form, Text* out) {
    if (form == TextForm::kAsIs) {
        out->AppendBytes(s, static_cast<int>(n));
        return;
    }
    if (form == TextForm::kUtf8) {
        AppendOneWord(s, n, form, false, out);
        return;
    }
    // One charset for the run, and words that each stay within the limit: a word takes
    // characters while its encoded length allows.
    const bool jis = FitsJisX0208(s, n);
    auto wordLength = [&](size_t from, size_t to) {
        size_t bytes;
        if (jis) {
            bytes = static_cast<size_t>(SjisToJisLength(s + from, static_cast<int>(to - from)));
        } else {
            std::string utf8;
            AppendUtf8OfShiftJis(s + from, to - from, &utf8);
            bytes = utf8.size();
        }
        return (jis ? 18 : 12) + (bytes + 2) / 3 * 4;
    };
    size_t i = 0;
    while (i < n) {
        size_t end = i + CharLength(s, i, n);
        while (end < n) {
            const size_t next = end + CharLength(s, end, n);
            if (wordLength(i, next) > kMaxWord)
                break;
            end = next;
        }
        if (i > 0)
            out->Append(' ');
        AppendOneWord(s + i, end - i, form, jis, out);
        i = end;
    }
}

void AppendHeaderTextExtended(const char* s, size_t n, bool structured, TextForm form, Text* out) {
    if (form == TextForm::kAsIs) {
        out->AppendBytes(s, static_cast<int>(n));
        return;
    }
    // UTF-8 as it stands: quoted strings stay quoted strings.
    if (form == TextForm::kUtf8) {
        std::string utf8;
        AppendUtf8OfShiftJis(s, n, &utf8);
        out->AppendBytes(utf8.data(), static_cast<int>(utf8.size()));
        return;
    }
    if (!structured) {
        AppendRuns(s, n, false, form, out);
        return;
    }
    size_t plain = 0;
    size_t i = 0;
    while (i < n) {
        const size_t k = CharLength(s, i, n);
        if (k == 2 || s[i] != '"') {
            i += k;
            continue;
        }
        std::string contents;
        const size_t after = ReadQuoted(s, n, i, &contents);
        if (after == 0)
            break;
        if (HasHighByte(contents.data(), contents.size())) {
            AppendRuns(s + plain, i - plain, true, form, out);
            // A parameter value keeps its quotes: the last byte before it that is no blank
            // is "=".
            size_t before = i;
            while (before > 0 && IsBlank(s[before - 1]))
                --before;
            const bool parameter = before > 0 && s[before - 1] == '=';
            if (parameter)
                out->Append('"');
            AppendEncodedWords(contents.data(), contents.size(), form, out);
            if (parameter)
                out->Append('"');
            plain = after;
        }
        i = after;
    }
    AppendRuns(s + plain, n - plain, true, form, out);
}

bool IsStructuredFieldLine(const char* line, size_t n) {
    static const char* const kFields[] = {"From",
                                          "Sender",
                                          "Reply-To",
                                          "To",
                                          "Cc",
                                          "Bcc",
                                          "Resent-From",
                                          "Resent-Sender",
                                          "Resent-To",
                                          "Resent-Cc",
                                          "Resent-Bcc",
                                          "Content-Type",
                                          "Content-Disposition",
                                          "Disposition-Notification-To"};
    const void* colon = std::memchr(line, ':', n);
    if (colon == nullptr)
        return false;
    size_t end = static_cast<size_t>(static_cast<const char*>(colon) - line);
    while (end > 0 && IsBlank(line[end - 1]))
        --end;
    for (const char* name : kFields) {
        if (std::strlen(name) == end && StartsNoCase(line, end, name))
            return true;
    }
    return false;
}

void ExtendedClientForm(const char* raw, size_t n, TextForm form, Text* header, Text* body) {
    // The header alone first: its lines, and the body's text only where it decides the label.
    size_t bodyStart = n;
    std::vector<Line> head;
    for (const char* p = raw; p < raw + n;) {
        const void* lf = std::memchr(p, '\n', static_cast<size_t>(raw + n - p));
        const char* end = lf != nullptr ? static_cast<const char*>(lf) + 1 : raw + n;
        const Line line{p, static_cast<size_t>(end - p)};
        p = end;
        if (IsEmptyLine(line)) {
            bodyStart = static_cast<size_t>(p - raw);
            break;
        }
        if (!IsHostStatusLine(line.p, line.n))
            head.push_back(line);
    }
    const HeaderInfo info = ReadHeaderInfo(head);
    const ContentType type = ParseContentType(info.type);
    const bool relabel = IsShiftJisText(info) && bodyStart < n &&
                         (form == TextForm::kUtf8 || !FitsJisX0208(raw + bodyStart, n - bodyStart));
    const Walker walker(form);
    walker.Header(head, info, relabel, header);
    if (body == nullptr || bodyStart >= n)
        return;
    // A message of one part that keeps its text: the body converts in one pass.
    if (!relabel && type.type != "multipart" &&
        !(type.type == "message" && type.subtype == "rfc822")) {
        AppendJisLines(raw + bodyStart, static_cast<int>(n - bodyStart), body);
        return;
    }
    // The header is written: the walk converts the body alone.
    const std::vector<Line> lines = SplitLines(raw, n);
    walker.Entity(lines, 0, lines.size(), true, 0, nullptr, body);
}

bool ExtendedHeaderNeedsBody(const char* header, size_t n) {
    std::vector<Line> lines;
    for (const Line& l : SplitLines(header, n)) {
        if (IsEmptyLine(l))
            break;
        lines.push_back(l);
    }
    return IsShiftJisText(ReadHeaderInfo(lines));
}

uint32_t ExtendedClientFormSize(const char* raw, size_t n, TextForm form) {
    // A message of one text part that fits ISO-2022-JP: its body is only counted.
    size_t bodyStart = 0;
    bool separated = false;
    while (bodyStart < n) {
        const void* lf = std::memchr(raw + bodyStart, '\n', n - bodyStart);
        const size_t end =
            lf != nullptr ? static_cast<size_t>(static_cast<const char*>(lf) - raw) + 1 : n;
        const bool empty =
            (end - bodyStart == 1) || (end - bodyStart == 2 && raw[bodyStart] == '\r');
        bodyStart = end;
        if (empty && raw[end - 1] == '\n') {
            separated = true;
            break;
        }
    }
    Text header;
    if (separated && form == TextForm::kMime && ExtendedHeaderNeedsBody(raw, bodyStart) &&
        FitsJisX0208(raw + bodyStart, n - bodyStart)) {
        ExtendedClientForm(raw, bodyStart, form, &header, nullptr);
        return static_cast<uint32_t>(header.Length()) + 2u +
               static_cast<uint32_t>(
                   JisLinesLength(raw + bodyStart, static_cast<int>(n - bodyStart)));
    }
    Text body;
    ExtendedClientForm(raw, n, form, &header, &body);
    return static_cast<uint32_t>(header.Length() + 2 + body.Length());
}
