// Decoding to UTF-16 for matching. Every Japanese form (ISO-2022-JP, EUC-JP) is first rewritten
// as Shift_JIS bytes and then converted by the platform's code page 932, so all of them yield
// exactly the characters that the host's own Shift_JIS text yields.
#include "mime/unicode_text.h"

#include <climits>
#include <cstring>

#include "base/ascii.h"
#include "mime/base64.h"
#include "platform/codepage.h"

namespace {

constexpr unsigned char kEsc = 0x1B;
constexpr unsigned char kShiftOut = 0x0E;
constexpr unsigned char kShiftIn = 0x0F;
// The Shift_JIS code of KATAKANA MIDDLE DOT, the code page's stand-in for a character that it
// cannot show (here the characters of JIS X 0212).
constexpr unsigned char kStandIn[2] = {0x81, 0x45};

bool SameNoCase(const char* a, const char* b) {
    return SameAsciiNoCase(a, std::strlen(a), b, std::strlen(b));
}

bool InList(const char* name, const char* const* list) {
    for (; *list != nullptr; ++list) {
        if (SameNoCase(name, *list))
            return true;
    }
    return false;
}

const char* const kUtf8Names[] = {"UTF-8", "UTF8", nullptr};
const char* const kJapaneseNames[] = {
    "ISO-2022-JP", "ISO-2022-JP-1", "ISO-2022-JP-2", "ISO-2022-JP-3", "CSISO2022JP", "SHIFT_JIS",
    "SHIFT-JIS",   "SJIS",          "X-SJIS",        "CP932",         "WINDOWS-31J", "MS_KANJI",
    "CSSHIFTJIS",  "US-ASCII",      "ASCII",         nullptr};
const char* const kEucNames[] = {"EUC-JP", "X-EUC-JP", "EUCJP", nullptr};
const char* const kLatin1Names[] = {"ISO-8859-1", "ISO_8859-1",   "LATIN1", "L1",
                                    "CP819",      "WINDOWS-1252", nullptr};

bool IsJisByte(unsigned char b) {
    return b >= 0x21 && b <= 0x7E;
}

void AppendSjis(uint16_t code, std::string* out) {
    out->push_back(static_cast<char>(code >> 8));
    out->push_back(static_cast<char>(code & 0xFF));
}

int HexValue(unsigned char c) {
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    return -1;
}

// What an escape sequence at p (ESC included) switches to; its length in *length. kNoMode
// for a sequence not known here.
enum JisMode { kAscii, kKanji, kKana, kSupplement, kNoMode };

JisMode EscapeMode(const unsigned char* p, size_t left, size_t* length) {
    if (left >= 3 && p[1] == '(') {
        *length = 3;
        if (p[2] == 'B' || p[2] == 'J' || p[2] == 'H')
            return kAscii;
        if (p[2] == 'I')
            return kKana;
    }
    if (left >= 3 && p[1] == '$' && (p[2] == 'B' || p[2] == '@')) {
        *length = 3;
        return kKanji;
    }
    if (left >= 4 && p[1] == '$' && p[2] == '(') {
        *length = 4;
        if (p[3] == 'B' || p[3] == 'Q' || p[3] == 'O')
            return kKanji;
        if (p[3] == 'D')
            return kSupplement;
    }
    return kNoMode;
}

// One encoded word "=?charset?X?text?=": the charset without a language suffix, the encoding
// letter, the text and the length of the whole word.
struct EncodedWord {
    std::string charset;
    char encoding;
    const char* text;
    size_t textLength;
    size_t length;
};

bool IsWordByte(unsigned char c) {
    return c > 0x20 && c < 0x7F && c != '?';
}

// Reads the encoded word at p (p[0..1] being "=?"). False when the bytes there are not one.
bool ParseEncodedWord(const char* p, size_t left, EncodedWord* word) {
    size_t i = 2;
    while (i < left && IsWordByte(static_cast<unsigned char>(p[i])))
        ++i;
    if (i == 2 || i + 3 > left || p[i] != '?' || p[i + 2] != '?')
        return false;
    word->charset.assign(p + 2, i - 2);
    const size_t star = word->charset.find('*');
    if (star != std::string::npos)
        word->charset.resize(star);
    word->encoding = AsciiUpper(p[i + 1]);
    if (word->encoding != 'B' && word->encoding != 'Q')
        return false;
    const size_t start = i + 3;
    size_t end = start;
    while (end < left && IsWordByte(static_cast<unsigned char>(p[end])))
        ++end;
    if (end + 1 >= left || p[end] != '?' || p[end + 1] != '=')
        return false;
    word->text = p + start;
    word->textLength = end - start;
    word->length = end + 2;
    return true;
}

bool IsBlank(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

}  // namespace

uint16_t JisToSjisCode(uint16_t jis) {
    const unsigned j1 = jis >> 8;
    const unsigned j2 = jis & 0xFF;
    const unsigned s1 = ((j1 + 1) >> 1) + (j1 <= 0x5E ? 0x70 : 0xB0);
    unsigned s2;
    if (j1 & 1) {
        s2 = j2 + (j2 <= 0x5F ? 0x1F : 0x20);
    } else {
        s2 = j2 + 0x7E;
    }
    return static_cast<uint16_t>((s1 & 0xFF) << 8 | (s2 & 0xFF));
}

bool DecodeUtf8(const char* bytes, size_t n, std::u16string* out) {
    const unsigned char* p = reinterpret_cast<const unsigned char*>(bytes);
    std::u16string result;
    result.reserve(n);
    size_t i = 0;
    while (i < n) {
        const unsigned b = p[i];
        if (b < 0x80) {
            result.push_back(static_cast<char16_t>(b));
            ++i;
            continue;
        }
        size_t extra;
        uint32_t value;
        unsigned low = 0x80;
        unsigned high = 0xBF;
        if (b >= 0xC2 && b <= 0xDF) {
            extra = 1;
            value = b & 0x1F;
        } else if (b >= 0xE0 && b <= 0xEF) {
            extra = 2;
            value = b & 0x0F;
            if (b == 0xE0)
                low = 0xA0;  // overlong
            if (b == 0xED)
                high = 0x9F;  // surrogates
        } else if (b >= 0xF0 && b <= 0xF4) {
            extra = 3;
            value = b & 0x07;
            if (b == 0xF0)
                low = 0x90;  // overlong
            if (b == 0xF4)
                high = 0x8F;  // above U+10FFFF
        } else {
            return false;
        }
        if (i + extra >= n)
            return false;
        for (size_t k = 1; k <= extra; ++k) {
            const unsigned c = p[i + k];
            const unsigned lo = k == 1 ? low : 0x80;
            const unsigned hi = k == 1 ? high : 0xBF;
            if (c < lo || c > hi)
                return false;
            value = value << 6 | (c & 0x3F);
        }
        if (value >= 0x10000) {
            value -= 0x10000;
            result.push_back(static_cast<char16_t>(0xD800 | (value >> 10)));
            result.push_back(static_cast<char16_t>(0xDC00 | (value & 0x3FF)));
        } else {
            result.push_back(static_cast<char16_t>(value));
        }
        i += extra + 1;
    }
    out->append(result);
    return true;
}

void DecodeLatin1(const char* bytes, size_t n, std::u16string* out) {
    out->reserve(out->size() + n);
    for (size_t i = 0; i < n; ++i)
        out->push_back(static_cast<char16_t>(static_cast<unsigned char>(bytes[i])));
}

void DecodeShiftJis(const char* bytes, size_t n, std::u16string* out) {
    // The platform counts in int; a message of a gigabyte is cut there.
    const int length = n > INT_MAX / 2 ? INT_MAX / 2 : static_cast<int>(n);
    if (length == 0)
        return;
    const size_t before = out->size();
    out->resize(before + static_cast<size_t>(length));
    const int written = platform::MultiByteToWideChar(bytes, length, &(*out)[before], length);
    out->resize(before + static_cast<size_t>(written > 0 ? written : 0));
}

void DecodeJapanese(const char* bytes, size_t n, std::u16string* out) {
    const unsigned char* p = reinterpret_cast<const unsigned char*>(bytes);
    std::string sjis;
    sjis.reserve(n);
    JisMode mode = kAscii;
    size_t i = 0;
    while (i < n) {
        const unsigned char b = p[i];
        size_t length = 0;
        if (b == kEsc) {
            const JisMode next = EscapeMode(p + i, n - i, &length);
            if (next != kNoMode) {
                mode = next;
                i += length;
                continue;
            }
        } else if (b == kShiftOut) {
            mode = kKana;
            ++i;
            continue;
        } else if (b == kShiftIn) {
            mode = kAscii;
            ++i;
            continue;
        } else if (b == '\r' || b == '\n') {
            mode = kAscii;
        }
        if ((mode == kKanji || mode == kSupplement) && IsJisByte(b) && i + 1 < n &&
            IsJisByte(p[i + 1])) {
            if (mode == kKanji) {
                AppendSjis(JisToSjisCode(static_cast<uint16_t>(b << 8 | p[i + 1])), &sjis);
            } else {
                sjis.append(reinterpret_cast<const char*>(kStandIn), 2);
            }
            i += 2;
            continue;
        }
        if (mode == kKana && b >= 0x21 && b <= 0x5F) {
            sjis.push_back(static_cast<char>(b + 0x80));
        } else {
            sjis.push_back(static_cast<char>(b));
        }
        ++i;
    }
    DecodeShiftJis(sjis.data(), sjis.size(), out);
}

void DecodeMailText(const char* bytes, size_t n, std::u16string* out) {
    bool ascii = true;
    for (size_t i = 0; i < n && ascii; ++i)
        ascii = static_cast<unsigned char>(bytes[i]) < 0x80;
    if (ascii || !DecodeUtf8(bytes, n, out))
        DecodeJapanese(bytes, n, out);
}

void DecodeEucJp(const char* bytes, size_t n, std::u16string* out) {
    const unsigned char* p = reinterpret_cast<const unsigned char*>(bytes);
    std::string sjis;
    sjis.reserve(n);
    size_t i = 0;
    while (i < n) {
        const unsigned char b = p[i];
        if (b >= 0xA1 && b <= 0xFE && i + 1 < n && p[i + 1] >= 0xA1 && p[i + 1] <= 0xFE) {
            AppendSjis(JisToSjisCode(static_cast<uint16_t>((b & 0x7F) << 8 | (p[i + 1] & 0x7F))),
                       &sjis);
            i += 2;
        } else if (b == 0x8E && i + 1 < n && p[i + 1] >= 0xA1 && p[i + 1] <= 0xDF) {
            sjis.push_back(static_cast<char>(p[i + 1]));
            i += 2;
        } else if (b == 0x8F && i + 2 < n && p[i + 1] >= 0xA1 && p[i + 2] >= 0xA1) {
            sjis.append(reinterpret_cast<const char*>(kStandIn), 2);
            i += 3;
        } else {
            sjis.push_back(static_cast<char>(b < 0x80 ? b : '?'));
            ++i;
        }
    }
    DecodeShiftJis(sjis.data(), sjis.size(), out);
}

bool DecodeCharset(const char* charset, const char* bytes, size_t n, std::u16string* out) {
    if (InList(charset, kUtf8Names)) {
        if (!DecodeUtf8(bytes, n, out))
            DecodeJapanese(bytes, n, out);
    } else if (InList(charset, kJapaneseNames)) {
        DecodeJapanese(bytes, n, out);
    } else if (InList(charset, kEucNames)) {
        DecodeEucJp(bytes, n, out);
    } else if (InList(charset, kLatin1Names)) {
        DecodeLatin1(bytes, n, out);
    } else {
        return false;
    }
    return true;
}

void DecodeBase64(const char* text, size_t n, std::string* out) {
    Base64DecodeAppend(text, n, Base64Stray::kSkip, out);
}

void DecodeQuotedPrintable(const char* text, size_t n, bool header, std::string* out) {
    const unsigned char* p = reinterpret_cast<const unsigned char*>(text);
    size_t i = 0;
    while (i < n) {
        const unsigned char c = p[i];
        if (c == '_' && header) {
            out->push_back(' ');
            ++i;
        } else if (c != '=') {
            out->push_back(static_cast<char>(c));
            ++i;
        } else if (i + 2 < n && HexValue(p[i + 1]) >= 0 && HexValue(p[i + 2]) >= 0) {
            out->push_back(static_cast<char>(HexValue(p[i + 1]) << 4 | HexValue(p[i + 2])));
            i += 3;
        } else {
            // A soft line break: "=", blanks a sender left behind, then the line end.
            size_t k = i + 1;
            while (k < n && (p[k] == ' ' || p[k] == '\t'))
                ++k;
            if (k < n && p[k] == '\r')
                ++k;
            if (k < n && p[k] == '\n') {
                i = k + 1;
            } else if (k == n) {
                i = n;
            } else {
                out->push_back('=');
                ++i;
            }
        }
    }
}

std::u16string DecodeHeaderValue(const char* bytes, size_t n) {
    std::u16string result;
    std::string plain;  // bytes since the last encoded word, decoded when something follows
    bool afterWord = false;
    size_t i = 0;
    while (i < n) {
        EncodedWord word;
        if (bytes[i] == '=' && i + 1 < n && bytes[i + 1] == '?' &&
            ParseEncodedWord(bytes + i, n - i, &word)) {
            std::string raw;
            if (word.encoding == 'B') {
                DecodeBase64(word.text, word.textLength, &raw);
            } else {
                DecodeQuotedPrintable(word.text, word.textLength, true, &raw);
            }
            std::u16string decoded;
            if (DecodeCharset(word.charset.c_str(), raw.data(), raw.size(), &decoded)) {
                bool onlyBlanks = true;
                for (char c : plain)
                    onlyBlanks = onlyBlanks && IsBlank(c);
                if (!(afterWord && onlyBlanks))
                    DecodeMailText(plain.data(), plain.size(), &result);
                plain.clear();
                result += decoded;
                afterWord = true;
            } else {
                plain.append(bytes + i, word.length);
                afterWord = false;
            }
            i += word.length;
            continue;
        }
        plain.push_back(bytes[i]);
        if (!IsBlank(bytes[i]))
            afterWord = false;
        ++i;
    }
    DecodeMailText(plain.data(), plain.size(), &result);
    return result;
}

void FoldCase(std::u16string* text) {
    for (char16_t& c : *text) {
        if (c < 0x80) {
            if (c >= u'A' && c <= u'Z')
                c = static_cast<char16_t>(c + 0x20);
        } else if ((c >= 0x00C0 && c <= 0x00DE && c != 0x00D7) ||
                   (c >= 0x0391 && c <= 0x03A9 && c != 0x03A2) || (c >= 0x0410 && c <= 0x042F) ||
                   (c >= 0xFF21 && c <= 0xFF3A)) {
            c = static_cast<char16_t>(c + 0x20);
        } else if (c >= 0x0400 && c <= 0x040F) {
            c = static_cast<char16_t>(c + 0x50);
        } else {
            switch (c) {
                case 0x301C:  // WAVE DASH
                    c = 0xFF5E;
                    break;
                case 0x2016:  // DOUBLE VERTICAL LINE
                    c = 0x2225;
                    break;
                case 0x2212:  // MINUS SIGN
                    c = 0xFF0D;
                    break;
                case 0x00A2:  // CENT SIGN
                    c = 0xFFE0;
                    break;
                case 0x00A3:  // POUND SIGN
                    c = 0xFFE1;
                    break;
                case 0x00AC:  // NOT SIGN
                    c = 0xFFE2;
                    break;
                default:
                    break;
            }
        }
    }
}
