// Tests of the code page 932 unit: byte classes, upper-casing and the two compares around
// double-byte characters, and the conversions to and from UTF-16 at the points where they
// must follow the target platform (the full tables are compared by cp932_test.py).
#include <gtest/gtest.h>

#include <string>

#include "platform/codepage.h"

namespace {

using platform::MultiByteToWideChar;
using platform::WideCharToMultiByte;

// "受信トレイ: 日本語のテキスト、ｶﾀｶﾅ・①Ⅰ㈱ and ASCII ～＼" in code page 932.
const char kSampleBytes[] =
    "\x8E\xF3\x90M\x83g\x83\x8C\x83"
    "C: \x93\xFA\x96{\x8C\xEA\x82\xCC\x83"
    "e\x83L\x83X\x83g\x81"
    "A\xB6\xC0\xB6\xC5\x81"
    "E\x87@\x87T\x87\x8A and ASCII \x81`\x81_";
const char16_t kSampleText[] = u"受信トレイ: 日本語のテキスト、ｶﾀｶﾅ・①Ⅰ㈱ and ASCII ～＼";

std::u16string ToWide(const std::string& bytes) {
    int n = MultiByteToWideChar(bytes.data(), static_cast<int>(bytes.size()), nullptr, 0);
    std::u16string out(static_cast<size_t>(n), u'\0');
    int written = MultiByteToWideChar(bytes.data(), static_cast<int>(bytes.size()), &out[0], n);
    EXPECT_EQ(written, n);
    return out;
}

std::string ToNarrow(const std::u16string& text) {
    int n = WideCharToMultiByte(text.data(), static_cast<int>(text.size()), nullptr, 0);
    std::string out(static_cast<size_t>(n), '\0');
    int written = WideCharToMultiByte(text.data(), static_cast<int>(text.size()), &out[0], n);
    EXPECT_EQ(written, n);
    return out;
}

TEST(CodePageBytes, LeadAndTrailRangesAtTheirEdges) {
    for (unsigned b : {0x81u, 0x9Fu, 0xE0u, 0xFCu})
        EXPECT_TRUE(platform::IsLeadByte(b)) << b;
    for (unsigned b : {0x00u, 0x7Fu, 0x80u, 0xA0u, 0xA1u, 0xDFu, 0xFDu, 0xFFu}) {
        EXPECT_FALSE(platform::IsLeadByte(b)) << b;
    }
    for (unsigned b : {0x40u, 0x7Eu, 0x80u, 0xFCu})
        EXPECT_TRUE(platform::IsTrailByte(b)) << b;
    for (unsigned b : {0x00u, 0x3Fu, 0x7Fu, 0xFDu, 0xFFu}) {
        EXPECT_FALSE(platform::IsTrailByte(b)) << b;
    }
}

TEST(CodePageUpper, OnlyAsciiLettersOutsideDoubleByteCharacters) {
    // 0x82 0x61 and 0x81 0x81 are double-byte characters; the trail byte 'a' stays.
    char text[] =
        "ab\x82\x61"
        "cd\x81\x81z\xB1x";
    EXPECT_EQ(platform::CharUpperA(text), text);
    EXPECT_STREQ(text,
                 "AB\x82\x61"
                 "CD\x81\x81Z\xB1X");
    char orphan[] = "q\x82";  // a lead byte at the end stays as it is
    EXPECT_STREQ(platform::CharUpperA(orphan), "Q\x82");
    EXPECT_EQ(platform::CharUpperA(nullptr), nullptr);
}

TEST(CodePageCompare, ByteOrderIsUnsignedAndCaseFoldingSparesTrailBytes) {
    EXPECT_EQ(platform::lstrcmpA("abc", "abc"), 0);
    EXPECT_LT(platform::lstrcmpA("ab", "abc"), 0);
    EXPECT_LT(platform::lstrcmpA("A", "a"), 0);
    EXPECT_GT(platform::lstrcmpA("\x81\x40", "z"), 0);  // 0x81 above every ASCII byte
    EXPECT_LT(platform::lstrcmpA("\x82\xA0", "\x82\xA1"), 0);

    EXPECT_EQ(platform::lstrcmpiA("INBOX", "inbox"), 0);
    EXPECT_LT(platform::lstrcmpiA("[", "A"), 0);  // folded to lower case: '[' < 'a'
    EXPECT_GT(platform::lstrcmpiA("\x82\x61", "\x82\x41"), 0);
    EXPECT_LT(platform::lstrcmpiA("\x82\x41", "\x82\x61"), 0);
    // After a double-byte character (even one whose trail byte is a lead byte value) the
    // next byte is a letter again.
    EXPECT_EQ(platform::lstrcmpiA("\x82\x61"
                                  "B",
                                  "\x82\x61"
                                  "b"),
              0);
    EXPECT_EQ(platform::lstrcmpiA("\x81\x81Q", "\x81\x81q"), 0);
}

TEST(CodePageToWide, JapaneseTextRoundTrips) {
    std::u16string wide = ToWide(kSampleBytes);
    EXPECT_EQ(wide, kSampleText);
    EXPECT_EQ(ToNarrow(wide), kSampleBytes);
}

TEST(CodePageToWide, SingleBytesWithoutATextCharacterStillRoundTrip) {
    const std::string bytes = "\x80\xA0\xFD\xFE\xFF\\~\xA1\xDF";
    const std::u16string wide = u"\u0080\uF8F0\uF8F1\uF8F2\uF8F3\\~\uFF61\uFF9F";
    EXPECT_EQ(ToWide(bytes), wide);
    EXPECT_EQ(ToNarrow(wide), bytes);
}

TEST(CodePageToWide, BrokenDoubleByteCodesGiveTheDefaultCharacter) {
    // An invalid trail byte is still taken with its lead byte; a pair without a character
    // and a lead byte at the end each give one U+30FB.
    EXPECT_EQ(ToWide("\x81 x"), u"\u30FBx");
    EXPECT_EQ(ToWide("\x85\x40x"), u"\u30FBx");
    EXPECT_EQ(ToWide("x\x81"), u"x\u30FB");
    // A lead byte before the NUL leaves the NUL in place.
    char16_t out[4] = {u'!', u'!', u'!', u'!'};
    EXPECT_EQ(MultiByteToWideChar("\x81", -1, out, 4), 2);
    EXPECT_EQ(out[0], u'\u30FB');
    EXPECT_EQ(out[1], u'\0');
}

TEST(CodePageToWide, MeasuresAndRefusesASmallBuffer) {
    const char* text =
        "a\x93\xFA"
        "b";  // a, 日, b and the NUL
    EXPECT_EQ(MultiByteToWideChar(text, -1, nullptr, 0), 4);
    EXPECT_EQ(MultiByteToWideChar(text, 4, nullptr, 0), 3);
    EXPECT_EQ(MultiByteToWideChar(text, 0, nullptr, 0), 0);
    char16_t out[4];
    EXPECT_EQ(MultiByteToWideChar(text, -1, out, 3), 0);
    ASSERT_EQ(MultiByteToWideChar(text, -1, out, 4), 4);
    EXPECT_EQ(std::u16string(out, 4), std::u16string(u"a日b", 4));
}

TEST(CodePageToNarrow, SharedCharactersTakeTheTargetPlatformsCode) {
    EXPECT_EQ(ToNarrow(u"\u2170"), "\xFA\x40");                // not the NEC-selected 0xEEEF
    EXPECT_EQ(ToNarrow(u"\u7E8A"), "\xFA\x5C");                // not 0xED40
    EXPECT_EQ(ToNarrow(u"\uFFE2"), "\x81\xCA");                // not 0xEEF9 or 0xFA54
    EXPECT_EQ(ToNarrow(u"\u2252\u2235"), "\x81\xE0\x81\xE6");  // not NEC row 13
    EXPECT_EQ(ToNarrow(u"\u2160"), "\x87\x54");                // NEC row 13 before the IBM 0xFA4A
    // The JIS forms of characters that the code page shows in a vendor form, beside it.
    EXPECT_EQ(ToNarrow(u"\u301C\uFF5E"), "\x81\x60\x81\x60");
    EXPECT_EQ(ToNarrow(u"\u2016\u2212"), "\x81\x61\x81\x7C");
    EXPECT_EQ(ToWide("\x81\x60\x81\x61\x81\x7C"), u"\uFF5E\u2225\uFF0D");
}

TEST(CodePageToNarrow, UnmappableCharactersBecomeOneQuestionMarkEach) {
    // Never a look-alike: not a plain letter for an accented one, not the path separator 0x5C
    // for the yen sign.
    EXPECT_EQ(ToNarrow(u"caf\u00E9 \u20AC \u00C0"), "caf? ? ?");
    EXPECT_EQ(ToNarrow(u"\u00A5\u203E"), "??");
    EXPECT_EQ(ToNarrow(u"a\U0001F600b"), "a?b");  // one "?" for a surrogate pair
    const char16_t lone[] = {u'a', 0xDC00, 0xD800, u'b', 0xD800};
    EXPECT_EQ(ToNarrow(std::u16string(lone, 5)), "a??b?");
    // The flag tells a "?" that stands for a character without a code from a real one, also
    // when only the size is asked.
    char out[8];
    bool usedDefault = false;
    EXPECT_EQ(WideCharToMultiByte(u"a\u00A5", -1, nullptr, 0, &usedDefault), 3);
    EXPECT_TRUE(usedDefault);
    EXPECT_EQ(WideCharToMultiByte(u"?\u301C", -1, out, 8, &usedDefault), 4);
    EXPECT_FALSE(usedDefault);
    EXPECT_EQ(WideCharToMultiByte(u"\U0001F600", 2, out, 8, &usedDefault), 1);
    EXPECT_TRUE(usedDefault);
}

TEST(CodePageToNarrow, MeasuresAndRefusesASmallBuffer) {
    const char16_t* text = u"a日";
    EXPECT_EQ(WideCharToMultiByte(text, -1, nullptr, 0), 4);
    EXPECT_EQ(WideCharToMultiByte(text, 2, nullptr, 0), 3);
    char out[4];
    EXPECT_EQ(WideCharToMultiByte(text, 2, out, 2), 0);  // no half of a double-byte code
    EXPECT_EQ(WideCharToMultiByte(text, -1, out, 3), 0);
    ASSERT_EQ(WideCharToMultiByte(text, -1, out, 4), 4);
    EXPECT_EQ(std::string(out, 4), std::string("a\x93\xFA", 4));
}

}  // namespace
