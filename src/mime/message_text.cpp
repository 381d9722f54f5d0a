// Message text for searching. The header is split the way the client form splits it (the first
// line that is exactly CR LF or LF ends it); the body is walked through its MIME structure so
// that base64 and quoted-printable text parts are searched in their decoded form.
#include "mime/message_text.h"

#include <cstring>
#include <utility>

#include "base/ascii.h"
#include "mime/extended_form.h"
#include "mime/jis_text.h"
#include "mime/unicode_text.h"

namespace {

// The host's own header line, never shown to a client nor searched.
constexpr char kStatusField[] = "X-Orvex-Status:";
constexpr int kStatusFieldLength = sizeof kStatusField - 1;
// Deeper nesting is not searched, so a hostile message cannot exhaust the stack.
constexpr int kMaxDepth = 16;

const char* const kMonths[12] = {"jan", "feb", "mar", "apr", "may", "jun",
                                 "jul", "aug", "sep", "oct", "nov", "dec"};

bool IsWhite(char c) {
    return c == ' ' || c == '\t';
}

bool SameNoCase(const std::string& a, const char* b) {
    return SameAsciiNoCase(a, b);
}

}  // namespace

bool IsHostStatusLine(const char* p, size_t n) {
    if (n < static_cast<size_t>(kStatusFieldLength))
        return false;
    for (int i = 0; i < kStatusFieldLength; ++i) {
        if (AsciiLower(p[i]) != AsciiLower(kStatusField[i]))
            return false;
    }
    return true;
}

namespace {

std::string Trimmed(const std::string& s) {
    size_t begin = 0;
    size_t end = s.size();
    while (begin < end && IsWhite(s[begin]))
        ++begin;
    while (end > begin && IsWhite(s[end - 1]))
        --end;
    return s.substr(begin, end - begin);
}

// One header field as written: name and raw value, continuation lines joined.
struct RawField {
    std::string name;
    std::string value;
};

// Reads the header at the start of p into fields and returns the offset of the body (n when
// there is no empty line). The host's status line is left out.
size_t ParseHeader(const char* p, size_t n, std::vector<RawField>* fields) {
    std::string current;
    bool status = false;
    auto finish = [&]() {
        const size_t colon = current.find(':');
        if (!status && colon != std::string::npos && colon > 0) {
            RawField field;
            field.name = Trimmed(current.substr(0, colon));
            field.value = Trimmed(current.substr(colon + 1));
            fields->push_back(std::move(field));
        }
        current.clear();
    };
    size_t pos = 0;
    while (pos < n) {
        size_t end = pos;
        while (end < n && p[end] != '\n')
            ++end;
        const size_t next = end < n ? end + 1 : n;
        size_t length = end - pos;
        if (length > 0 && p[pos + length - 1] == '\r')
            --length;
        if (length == 0 && (end - pos) <= 1 && end < n) {
            finish();
            return next;
        }
        if (IsWhite(p[pos]) && length > 0) {
            current.append(p + pos, length);
        } else {
            finish();
            status = IsHostStatusLine(p + pos, length);
            current.assign(p + pos, length);
        }
        pos = next;
    }
    finish();
    return n;
}

const RawField* FindField(const std::vector<RawField>& fields, const char* name) {
    for (const RawField& f : fields) {
        if (SameNoCase(f.name, name))
            return &f;
    }
    return nullptr;
}

std::u16string Folded(std::u16string text) {
    FoldCase(&text);
    return text;
}

std::string Lower(std::string s) {
    for (char& c : s)
        c = AsciiLower(c);
    return s;
}

std::u16string Latin1(const std::string& bytes) {
    std::u16string text;
    DecodeLatin1(bytes.data(), bytes.size(), &text);
    return text;
}

// The fields as "name: value" lines, for an enclosed message's text.
void AppendHeaderText(const std::vector<RawField>& fields, std::u16string* out) {
    for (const RawField& f : fields) {
        out->append(Latin1(f.name));
        out->append(u": ");
        out->append(DecodeHeaderValue(f.value.data(), f.value.size()));
        out->push_back(u'\n');
    }
}

void DecodeEntity(const std::vector<RawField>& fields, const char* body, size_t n, int depth,
                  std::u16string* out);

// The parts of a multipart body, each between two delimiter lines.
void DecodeMultipart(const std::string& boundary, const char* body, size_t n, int depth,
                     std::u16string* out) {
    const std::string delimiter = "--" + boundary;
    size_t partStart = std::string::npos;
    size_t pos = 0;
    while (pos < n) {
        size_t end = pos;
        while (end < n && body[end] != '\n')
            ++end;
        const size_t next = end < n ? end + 1 : n;
        if (end - pos >= delimiter.size() &&
            std::string(body + pos, delimiter.size()) == delimiter) {
            if (partStart != std::string::npos) {
                std::vector<RawField> partFields;
                const char* part = body + partStart;
                const size_t partLength = pos - partStart;
                const size_t offset = ParseHeader(part, partLength, &partFields);
                DecodeEntity(partFields, part + offset, partLength - offset, depth + 1, out);
                out->push_back(u'\n');
            }
            const size_t after = pos + delimiter.size();
            if (after + 1 < n && body[after] == '-' && body[after + 1] == '-')
                return;
            partStart = next;
        }
        pos = next;
    }
}

void DecodeEntity(const std::vector<RawField>& fields, const char* body, size_t n, int depth,
                  std::u16string* out) {
    const RawField* typeField = FindField(fields, "Content-Type");
    const ContentType ct = typeField ? ParseContentType(typeField->value) : ContentType();
    if (ct.type == "multipart" && !ct.boundary.empty() && depth < kMaxDepth) {
        DecodeMultipart(ct.boundary, body, n, depth, out);
        return;
    }
    if (ct.type == "message" && ct.subtype == "rfc822" && depth < kMaxDepth) {
        std::vector<RawField> inner;
        const size_t offset = ParseHeader(body, n, &inner);
        AppendHeaderText(inner, out);
        DecodeEntity(inner, body + offset, n - offset, depth + 1, out);
        return;
    }
    if (!ct.type.empty() && ct.type != "text")
        return;
    const RawField* encodingField = FindField(fields, "Content-Transfer-Encoding");
    const std::string encoding = encodingField ? Lower(encodingField->value) : std::string();
    std::string decoded;
    const char* bytes = body;
    size_t length = n;
    if (encoding == "base64") {
        DecodeBase64(body, n, &decoded);
        bytes = decoded.data();
        length = decoded.size();
    } else if (encoding == "quoted-printable") {
        DecodeQuotedPrintable(body, n, false, &decoded);
        bytes = decoded.data();
        length = decoded.size();
    }
    if (ct.charset.empty() || !DecodeCharset(ct.charset.c_str(), bytes, length, out))
        DecodeMailText(bytes, length, out);
}

// Reads up to two digits (or four for a year) starting at *i; -1 when there is none.
int ReadNumber(const std::u16string& s, size_t* i, size_t maxDigits, size_t* digits) {
    int value = 0;
    *digits = 0;
    while (*i < s.size() && *digits < maxDigits && s[*i] >= u'0' && s[*i] <= u'9') {
        value = value * 10 + (s[*i] - u'0');
        ++*i;
        ++*digits;
    }
    return *digits == 0 ? -1 : value;
}

void SkipBlanks(const std::u16string& s, size_t* i) {
    while (*i < s.size() && (s[*i] == u' ' || s[*i] == u'\t'))
        ++*i;
}

bool IsLetter(char16_t c) {
    return (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z');
}

}  // namespace

MessageText::MessageText(std::string raw) : raw_(std::move(raw)) {
    std::vector<RawField> fields;
    bodyStart_ = ParseHeader(raw_.data(), raw_.size(), &fields);
    for (const RawField& f : fields) {
        Field field;
        field.name = f.name;
        field.value = Folded(DecodeHeaderValue(f.value.data(), f.value.size()));
        header_.append(Folded(Latin1(f.name)));
        header_.append(u": ");
        header_.append(field.value);
        header_.push_back(u'\n');
        fields_.push_back(std::move(field));
    }
}

bool MessageText::FieldContains(const char* name, const std::u16string& needle) const {
    for (const Field& f : fields_) {
        if (SameNoCase(f.name, name) && f.value.find(needle) != std::u16string::npos)
            return true;
    }
    return false;
}

bool MessageText::HeaderContains(const std::u16string& needle) const {
    return header_.find(needle) != std::u16string::npos;
}

bool MessageText::BodyContains(const std::u16string& needle) {
    return Body().find(needle) != std::u16string::npos;
}

const std::u16string& MessageText::Body() {
    if (!bodyDecoded_) {
        bodyDecoded_ = true;
        std::vector<RawField> fields;
        ParseHeader(raw_.data(), raw_.size(), &fields);
        DecodeEntity(fields, raw_.data() + bodyStart_, raw_.size() - bodyStart_, 0, &body_);
        FoldCase(&body_);
    }
    return body_;
}

int32_t MessageText::SentDate() const {
    for (const Field& f : fields_) {
        if (SameNoCase(f.name, "Date"))
            return ParseMessageDate(f.value);
    }
    return 0;
}

ContentType ParseContentType(const std::string& value) {
    ContentType ct;
    size_t i = value.find(';');
    const std::string head = Trimmed(value.substr(0, i));
    const size_t slash = head.find('/');
    ct.type = Lower(Trimmed(head.substr(0, slash)));
    if (slash != std::string::npos)
        ct.subtype = Lower(Trimmed(head.substr(slash + 1)));
    while (i != std::string::npos && i < value.size()) {
        ++i;  // past ';'
        while (i < value.size() && (IsWhite(value[i]) || value[i] == '\r' || value[i] == '\n'))
            ++i;
        const size_t eq = value.find('=', i);
        if (eq == std::string::npos)
            break;
        const std::string name = Lower(Trimmed(value.substr(i, eq - i)));
        size_t v = eq + 1;
        while (v < value.size() && IsWhite(value[v]))
            ++v;
        std::string text;
        if (v < value.size() && value[v] == '"') {
            ++v;
            while (v < value.size() && value[v] != '"') {
                if (value[v] == '\\' && v + 1 < value.size())
                    ++v;
                text.push_back(value[v++]);
            }
            i = value.find(';', v);
        } else {
            const size_t end = value.find(';', v);
            text = Trimmed(value.substr(v, end == std::string::npos ? std::string::npos : end - v));
            i = end;
        }
        if (name == "charset")
            ct.charset = text;
        else if (name == "boundary")
            ct.boundary = text;
    }
    return ct;
}

uint32_t ClientFormSize(const std::string& raw, Mode mode) {
    uint32_t size = 2;  // the CR LF between header and body
    if (mode == Mode::kExtended)
        return ExtendedClientFormSize(raw.data(), raw.size(), TextForm::kMime);
    // Header lines are converted into one scratch text and counted, the body only counted.
    Text scratch;
    const char* data = raw.data();
    const size_t n = raw.size();
    size_t pos = 0;
    bool inHeader = true;
    while (pos < n && inHeader) {
        const void* lf = std::memchr(data + pos, '\n', n - pos);
        const size_t end =
            lf != nullptr ? static_cast<size_t>(static_cast<const char*>(lf) - data) + 1 : n;
        const char* line = data + pos;
        const size_t length = end - pos;
        pos = end;
        const bool separator =
            (length == 1 && line[0] == '\n') || (length == 2 && line[0] == '\r' && line[1] == '\n');
        if (separator) {
            inHeader = false;
        } else if (!IsHostStatusLine(line, length)) {
            scratch.Clear();
            AppendHeaderWords(line, static_cast<int>(length), &scratch);
            size += static_cast<uint32_t>(scratch.Length());
        }
    }
    // The body in pieces of whole lines of about kPiece bytes.
    constexpr size_t kPiece = 64u << 10;
    while (pos < n) {
        size_t end = pos + kPiece < n ? pos + kPiece : n;
        if (end < n) {
            size_t cut = end;
            while (cut > pos && data[cut - 1] != '\n')
                --cut;
            if (cut == pos) {
                // One line longer than a piece: it is taken whole.
                const void* lf = std::memchr(data + end, '\n', n - end);
                cut = lf != nullptr ? static_cast<size_t>(static_cast<const char*>(lf) - data) + 1
                                    : n;
            }
            end = cut;
        }
        size += static_cast<uint32_t>(JisLinesLength(data + pos, static_cast<int>(end - pos)));
        pos = end;
    }
    return size;
}

int32_t ParseMessageDate(const std::u16string& value) {
    size_t i = 0;
    SkipBlanks(value, &i);
    // An optional day name and its comma.
    size_t k = i;
    while (k < value.size() && IsLetter(value[k]))
        ++k;
    if (k > i) {
        SkipBlanks(value, &k);
        if (k >= value.size() || value[k] != u',')
            return 0;
        i = k + 1;
        SkipBlanks(value, &i);
    }
    size_t digits = 0;
    const int day = ReadNumber(value, &i, 2, &digits);
    if (day < 1 || day > 31)
        return 0;
    SkipBlanks(value, &i);
    if (i + 3 > value.size())
        return 0;
    int month = 0;
    for (int m = 0; m < 12 && month == 0; ++m) {
        bool same = true;
        for (int c = 0; c < 3; ++c) {
            const char16_t ch = value[i + c];
            const char16_t lower = (ch >= u'A' && ch <= u'Z') ? ch + 0x20 : ch;
            same = same && lower == static_cast<char16_t>(kMonths[m][c]);
        }
        if (same)
            month = m + 1;
    }
    if (month == 0)
        return 0;
    i += 3;
    while (i < value.size() && IsLetter(value[i]))
        ++i;  // a month name written out
    SkipBlanks(value, &i);
    int year = ReadNumber(value, &i, 4, &digits);
    if (year < 0 || (i < value.size() && value[i] >= u'0' && value[i] <= u'9'))
        return 0;
    if (digits == 2)
        year += year < 50 ? 2000 : 1900;
    else if (digits == 3)
        year += 1900;
    return year * 10000 + month * 100 + day;
}
