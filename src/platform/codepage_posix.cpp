// Code page 932 <-> UTF-16 over glibc's iconv: the tables are read from iconv once, corrected
// where the target platform's conversion differs, and every conversion then runs on the tables.
#include <iconv.h>

#include <climits>
#include <cstddef>
#include <cstdint>

#include "platform/codepage.h"

namespace platform {

namespace {

constexpr char16_t kDefaultWide = 0x30FB;  // KATAKANA MIDDLE DOT, the code page's default
constexpr char kDefaultNarrow = '?';
constexpr std::uint16_t kNone = 0xFFFF;  // neither a character of a code nor a code of 932

bool IsNecSelectedIbm(unsigned code) {
    return code >= 0xED40 && code <= 0xEEFC;
}

// The JIS X 0208 characters of six codes that this code page decodes to other characters
// (full-width forms, U+2225, U+FF5E). Text from JIS-based converters holds them, so they are
// accepted on the way out; the codes still decode to the code page's own characters.
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

// Both directions of the code page, filled once. toWide is indexed by the byte (single bytes)
// or by lead << 8 | trail; toNarrow by the UTF-16 unit, holding a byte or a double-byte code.
// A double-byte code is at least 0x8140, so the two kinds of entry cannot be confused.
class Cp932Tables {
  public:
    Cp932Tables() {
        for (auto& w : toWide_)
            w = kNone;
        for (auto& c : toNarrow_)
            c = kNone;
        FillSingleBytes();
        FillDoubleBytes();
        FillReverse();
    }

    char16_t Wide(unsigned code) const { return toWide_[code]; }
    std::uint16_t Narrow(char16_t ch) const { return toNarrow_[ch]; }

  private:
    // The single bytes follow fixed rules, so they do not depend on iconv: ASCII as itself
    // (0x5C and 0x7E included), the half-width katakana, and the five bytes without a
    // character that the target platform still maps (iconv rejects them).
    void FillSingleBytes() {
        for (unsigned b = 0; b < 0x80; ++b)
            toWide_[b] = static_cast<char16_t>(b);
        for (unsigned b = 0xA1; b <= 0xDF; ++b)
            toWide_[b] = static_cast<char16_t>(0xFF61 + b - 0xA1);
        toWide_[0x80] = 0x0080;
        toWide_[0xA0] = 0xF8F0;
        toWide_[0xFD] = 0xF8F1;
        toWide_[0xFE] = 0xF8F2;
        toWide_[0xFF] = 0xF8F3;
    }

    // Every lead/trail pair is asked of iconv on its own; a pair that iconv rejects or that
    // does not give exactly one UTF-16 unit stays without a mapping. When iconv has no
    // CP932 module, every pair stays so and converts to the default character.
    void FillDoubleBytes() {
        iconv_t cd = iconv_open("UTF-16LE", "CP932");
        if (cd == reinterpret_cast<iconv_t>(-1))
            return;
        for (unsigned lead = 0x81; lead <= 0xFC; ++lead) {
            if (!IsLeadByte(static_cast<unsigned char>(lead)))
                continue;
            for (unsigned trail = 0x40; trail <= 0xFC; ++trail) {
                if (!IsTrailByte(static_cast<unsigned char>(trail)))
                    continue;
                char in[2] = {static_cast<char>(lead), static_cast<char>(trail)};
                unsigned char out[8];
                char* inPtr = in;
                size_t inLeft = sizeof in;
                char* outPtr = reinterpret_cast<char*>(out);
                size_t outLeft = sizeof out;
                iconv(cd, nullptr, nullptr, nullptr, nullptr);
                size_t r = iconv(cd, &inPtr, &inLeft, &outPtr, &outLeft);
                if (r == static_cast<size_t>(-1) || inLeft != 0 || sizeof out - outLeft != 2) {
                    continue;
                }
                char16_t ch = static_cast<char16_t>(out[0] | out[1] << 8);
                if (ch == kNone || (ch >= 0xD800 && ch <= 0xDFFF))
                    continue;
                toWide_[lead << 8 | trail] = ch;
            }
        }
        iconv_close(cd);
    }

    // The reverse table inverts the forward one. Where several codes share a character the
    // lowest code wins (so a JIS X 0208 code before NEC row 13, and NEC row 13 before the
    // IBM extensions), except that the NEC-selected IBM extensions are never chosen: their
    // characters all have an IBM extension code as well.
    void FillReverse() {
        for (unsigned code = 0; code < 0x10000; ++code) {
            char16_t ch = toWide_[code];
            if (ch == kNone || IsNecSelectedIbm(code))
                continue;
            if (toNarrow_[ch] == kNone)
                toNarrow_[ch] = static_cast<std::uint16_t>(code);
        }
        for (const OneWay& m : kOneWay) {
            if (toNarrow_[m.ch] == kNone)
                toNarrow_[m.ch] = m.code;
        }
    }

    char16_t toWide_[0x10000];
    std::uint16_t toNarrow_[0x10000];
};

const Cp932Tables& Tables() {
    static const Cp932Tables tables;  // built by the first caller, thread-safe
    return tables;
}

bool IsHighSurrogate(char16_t c) {
    return c >= 0xD800 && c <= 0xDBFF;
}
bool IsLowSurrogate(char16_t c) {
    return c >= 0xDC00 && c <= 0xDFFF;
}

}  // namespace

// A lead byte takes the byte after it as its trail byte whatever that byte is, as the target
// platform does; a pair that has no character (an invalid trail byte included) gives the
// default character for both bytes. A lead byte at the end of the input or before a NUL
// gives the default character alone, so the NUL still ends the text.
int MultiByteToWideChar(const char* src, int srcLen, char16_t* dst, int dstLen) {
    if (src == nullptr || srcLen < -1 || dstLen < 0 || (dstLen > 0 && dst == nullptr))
        return 0;
    const unsigned char* in = reinterpret_cast<const unsigned char*>(src);
    size_t n = 0;
    if (srcLen == -1) {
        while (in[n] != 0)
            ++n;
        ++n;
    } else {
        n = static_cast<size_t>(srcLen);
    }
    const Cp932Tables& tables = Tables();
    int count = 0;
    for (size_t i = 0; i < n;) {
        unsigned b = in[i];
        char16_t ch;
        if (IsLeadByte(static_cast<unsigned char>(b))) {
            if (i + 1 < n && in[i + 1] != 0) {
                ch = tables.Wide(b << 8 | in[i + 1]);
                i += 2;
            } else {
                ch = kNone;
                i += 1;
            }
        } else {
            ch = tables.Wide(b);
            i += 1;
        }
        if (ch == kNone)
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
int WideCharToMultiByte(const char16_t* src, int srcLen, char* dst, int dstLen) {
    if (src == nullptr || srcLen < -1 || dstLen < 0 || (dstLen > 0 && dst == nullptr))
        return 0;
    size_t n = 0;
    if (srcLen == -1) {
        while (src[n] != 0)
            ++n;
        ++n;
    } else {
        n = static_cast<size_t>(srcLen);
    }
    const Cp932Tables& tables = Tables();
    int count = 0;
    for (size_t i = 0; i < n;) {
        char16_t ch = src[i];
        std::uint16_t code = kNone;
        if (IsHighSurrogate(ch) && i + 1 < n && IsLowSurrogate(src[i + 1])) {
            i += 2;
        } else {
            if (!IsHighSurrogate(ch) && !IsLowSurrogate(ch))
                code = tables.Narrow(ch);
            i += 1;
        }
        if (code == kNone)
            code = static_cast<unsigned char>(kDefaultNarrow);
        int size = code > 0xFF ? 2 : 1;
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

}  // namespace platform
