// Code page 932: the byte classes, upper-casing, compares and the conversions to and from
// UTF-16. Pure code, the same on every OS: the conversions run on the generated table of
// codepage_table.cpp and the rules below, never on a converter of the OS, so every build maps
// every character alike and a character without a code never becomes another character.
#include "platform/codepage.h"

#include <climits>
#include <cstddef>
#include <cstdint>

#include "platform/codepage_table.h"

namespace platform {

bool IsLeadByte(unsigned char b) {
    return (b >= 0x81 && b <= 0x9F) || (b >= 0xE0 && b <= 0xFC);
}

bool IsTrailByte(unsigned char b) {
    return (b >= 0x40 && b <= 0x7E) || (b >= 0x80 && b <= 0xFC);
}

char* CharUpperA(char* s) {
    if (s == nullptr)
        return s;
    for (unsigned char* p = reinterpret_cast<unsigned char*>(s); *p != 0; ++p) {
        if (IsLeadByte(*p) && p[1] != 0) {
            ++p;  // skip the trail byte: it is part of the character, never a letter
        } else if (*p >= 'a' && *p <= 'z') {
            *p = static_cast<unsigned char>(*p - 0x20);
        }
    }
    return s;
}

namespace {

int CompareBytes(const char* a, const char* b, bool fold) {
    const unsigned char* p = reinterpret_cast<const unsigned char*>(a ? a : "");
    const unsigned char* q = reinterpret_cast<const unsigned char*>(b ? b : "");
    bool trailP = false;
    bool trailQ = false;
    for (;; ++p, ++q) {
        unsigned int x = *p;
        unsigned int y = *q;
        if (fold) {
            if (!trailP && x >= 'A' && x <= 'Z')
                x += 0x20;
            if (!trailQ && y >= 'A' && y <= 'Z')
                y += 0x20;
            trailP = !trailP && IsLeadByte(*p);
            trailQ = !trailQ && IsLeadByte(*q);
        }
        if (x != y)
            return x < y ? -1 : 1;
        if (x == 0)
            return 0;
    }
}

}  // namespace

int lstrcmpA(const char* a, const char* b) {
    return CompareBytes(a, b, false);
}

int lstrcmpiA(const char* a, const char* b) {
    return CompareBytes(a, b, true);
}

namespace {

constexpr char16_t kDefaultWide = 0x30FB;  // KATAKANA MIDDLE DOT, the code page's default
constexpr char kDefaultNarrow = '?';
constexpr char16_t kNoChar = 0xFFFF;       // a code without a character
constexpr std::uint16_t kNoCode = 0xFFFF;  // a character without a code

bool IsNecSelectedIbm(unsigned code) {
    return code >= 0xED40 && code <= 0xEEFC;
}

// The JIS X 0208 characters of six codes that this code page decodes to other characters
// (full-width forms, U+2225, U+FF5E). Text from JIS-based converters holds them (many
// clients send U+301C for the wave dash), so they are accepted on the way out; the codes still
// decode to the code page's own characters.
struct OneWay {
    char16_t ch;
    std::uint16_t code;
};
constexpr OneWay kOneWay[] = {
    {0x00A2, 0x8191},  // CENT SIGN (decodes to U+FFE0)
    {0x00A3, 0x8192},  // POUND SIGN (U+FFE1)
    {0x00AC, 0x81CA},  // NOT SIGN (U+FFE2)
    {0x2016, 0x8161},  // DOUBLE VERTICAL LINE (U+2225)
    {0x2212, 0x817C},  // MINUS SIGN (U+FF0D)
    {0x301C, 0x8160},  // WAVE DASH (U+FF5E)
};

// The single bytes follow fixed rules: ASCII as itself (0x5C and 0x7E included), the
// half-width katakana, and the five bytes without a text character that the code page still
// maps to characters of their own, so that they survive a round trip.
char16_t SingleByteChar(unsigned b) {
    if (b < 0x80)
        return static_cast<char16_t>(b);
    if (b >= 0xA1 && b <= 0xDF)
        return static_cast<char16_t>(0xFF61 + b - 0xA1);
    switch (b) {
        case 0x80:
            return 0x0080;
        case 0xA0:
            return 0xF8F0;
        case 0xFD:
            return 0xF8F1;
        case 0xFE:
            return 0xF8F2;
        case 0xFF:
            return 0xF8F3;
        default:
            return kNoChar;  // a lead byte
    }
}

// The character of a lead byte and the byte after it (any byte), or kNoChar.
char16_t DoubleByteChar(unsigned lead, unsigned trail) {
    unsigned row;
    if (lead >= 0x81 && lead <= 0x9F)
        row = lead - 0x81;
    else if (lead >= 0xE0 && lead <= 0xFC)
        row = lead - 0xE0 + (0x9F - 0x81 + 1);
    else
        return kNoChar;
    if (trail < kTableFirstTrail || trail - kTableFirstTrail >= kTableTrailCount)
        return kNoChar;
    const char16_t ch = kDoubleByteTable[row][trail - kTableFirstTrail];
    return ch == 0 ? kNoChar : ch;
}

// The way out, indexed by the UTF-16 unit: a byte or a double-byte code (at least 0x8140, so
// the two kinds of entry cannot be confused), or kNoCode. It inverts the way in. Where several
// codes share a character the lowest code wins (so a JIS X 0208 code before NEC row 13, and
// NEC row 13 before the IBM extensions), except that the NEC-selected IBM extensions are never
// chosen: their characters all have an IBM extension code as well.
class NarrowTable {
  public:
    NarrowTable() {
        for (auto& c : codes_)
            c = kNoCode;
        for (unsigned b = 0; b < 0x100; ++b)
            Offer(SingleByteChar(b), b);
        for (unsigned lead = 0x81; lead <= 0xFC; ++lead) {
            if (!IsLeadByte(static_cast<unsigned char>(lead)))
                continue;
            for (unsigned trail = 0x40; trail <= 0xFC; ++trail) {
                const unsigned code = lead << 8 | trail;
                if (!IsNecSelectedIbm(code))
                    Offer(DoubleByteChar(lead, trail), code);
            }
        }
        for (const OneWay& m : kOneWay)
            Offer(m.ch, m.code);
    }

    std::uint16_t Code(char16_t ch) const { return codes_[ch]; }

  private:
    void Offer(char16_t ch, unsigned code) {
        if (ch != kNoChar && codes_[ch] == kNoCode)
            codes_[ch] = static_cast<std::uint16_t>(code);
    }

    std::uint16_t codes_[0x10000];
};

const NarrowTable& Narrow() {
    static const NarrowTable table;  // built by the first caller, thread-safe
    return table;
}

bool IsHighSurrogate(char16_t c) {
    return c >= 0xD800 && c <= 0xDBFF;
}
bool IsLowSurrogate(char16_t c) {
    return c >= 0xDC00 && c <= 0xDFFF;
}

}  // namespace

namespace {

// The units a conversion reads: srcLen, or with -1 the text up to and with its terminator.
template <class Unit>
size_t InputLength(const Unit* s, int srcLen) {
    if (srcLen != -1)
        return static_cast<size_t>(srcLen);
    size_t n = 0;
    while (s[n] != 0)
        ++n;
    return n + 1;
}

}  // namespace

// A lead byte takes the byte after it as its trail byte whatever that byte is; a pair that has
// no character (an invalid trail byte included) gives the default character for both bytes. A
// lead byte at the end of the input or before a NUL gives the default character alone, so the
// NUL still ends the text.
int MultiByteToWideChar(const char* src, int srcLen, char16_t* dst, int dstLen) {
    if (src == nullptr || srcLen < -1 || dstLen < 0 || (dstLen > 0 && dst == nullptr))
        return 0;
    const unsigned char* in = reinterpret_cast<const unsigned char*>(src);
    const size_t n = InputLength(in, srcLen);
    int count = 0;
    for (size_t i = 0; i < n;) {
        const unsigned b = in[i];
        char16_t ch = kNoChar;
        if (IsLeadByte(static_cast<unsigned char>(b))) {
            if (i + 1 < n && in[i + 1] != 0) {
                ch = DoubleByteChar(b, in[i + 1]);
                i += 2;
            } else {
                i += 1;
            }
        } else {
            ch = SingleByteChar(b);
            i += 1;
        }
        if (ch == kNoChar)
            ch = kDefaultWide;
        if (count == INT_MAX)
            return 0;
        if (dstLen > 0) {
            if (count >= dstLen)
                return 0;
            dst[count] = ch;
        }
        ++count;
    }
    return count;
}

// A character without a code, a lone surrogate, and a surrogate pair (a character outside the
// code page's reach) each become one "?".
int WideCharToMultiByte(const char16_t* src, int srcLen, char* dst, int dstLen, bool* usedDefault) {
    if (usedDefault != nullptr)
        *usedDefault = false;
    if (src == nullptr || srcLen < -1 || dstLen < 0 || (dstLen > 0 && dst == nullptr))
        return 0;
    const size_t n = InputLength(src, srcLen);
    const NarrowTable& table = Narrow();
    int count = 0;
    for (size_t i = 0; i < n;) {
        const char16_t ch = src[i];
        std::uint16_t code = kNoCode;
        if (IsHighSurrogate(ch) && i + 1 < n && IsLowSurrogate(src[i + 1])) {
            i += 2;
        } else {
            if (!IsHighSurrogate(ch) && !IsLowSurrogate(ch))
                code = table.Code(ch);
            i += 1;
        }
        if (code == kNoCode) {
            code = static_cast<unsigned char>(kDefaultNarrow);
            if (usedDefault != nullptr)
                *usedDefault = true;
        }
        const int size = code > 0xFF ? 2 : 1;
        if (count > INT_MAX - size)
            return 0;
        if (dstLen > 0) {
            if (count + size > dstLen)
                return 0;
            if (size == 2)
                dst[count] = static_cast<char>(code >> 8);
            dst[count + size - 1] = static_cast<char>(code & 0xFF);
        }
        count += size;
    }
    return count;
}

void AppendUtf8OfCodePage(const char* src, size_t n, std::string* out) {
    if (src == nullptr || n == 0)
        return;
    // Never more units than bytes: one conversion into room for n.
    std::u16string wide(n, u'\0');
    const int units = MultiByteToWideChar(src, static_cast<int>(n), &wide[0], static_cast<int>(n));
    if (units <= 0)
        return;
    wide.resize(static_cast<size_t>(units));
    // The code page has no character outside the BMP: every unit is one code point.
    for (const char16_t unit : wide) {
        const uint32_t c = unit >= 0xD800 && unit <= 0xDFFF ? 0xFFFD : unit;
        if (c < 0x80) {
            *out += static_cast<char>(c);
        } else if (c < 0x800) {
            *out += static_cast<char>(0xC0 | c >> 6);
            *out += static_cast<char>(0x80 | (c & 0x3F));
        } else {
            *out += static_cast<char>(0xE0 | c >> 12);
            *out += static_cast<char>(0x80 | (c >> 6 & 0x3F));
            *out += static_cast<char>(0x80 | (c & 0x3F));
        }
    }
}

}  // namespace platform
