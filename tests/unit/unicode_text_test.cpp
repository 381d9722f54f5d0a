// Tests of decoding mail text to Unicode: the JIS to Shift_JIS code arithmetic, UTF-8
// validation, the Japanese decoders, charset names, transfer decodings, encoded words in header
// values and case folding.
#include "mime/unicode_text.h"

#include <gtest/gtest.h>

#include <string>

#include "mime/jis_text.h"

namespace {

// "日本語" in the charsets mail carries it in.
const char kSjisNihongo[] = "\x93\xFA\x96\x7B\x8C\xEA";
const char kJisNihongo[] = "\x1B\x24\x42\x46\x7C\x4B\x5C\x38\x6C\x1B\x28\x42";
const char kEucNihongo[] = "\xC6\xFC\xCB\xDC\xB8\xEC";
const char kUtf8Nihongo[] = "\xE6\x97\xA5\xE6\x9C\xAC\xE8\xAA\x9E";

std::u16string Japanese(const std::string& bytes) {
    std::u16string out;
    DecodeJapanese(bytes.data(), bytes.size(), &out);
    return out;
}

std::u16string Header(const std::string& bytes) {
    return DecodeHeaderValue(bytes.data(), bytes.size());
}

TEST(UnicodeTextTest, JisToSjisInvertsSjisToJis) {
    // Every code of the JIS X 0208 rows (Shift_JIS lead bytes up to 0xEF) goes there and back.
    int checked = 0;
    for (unsigned lead = 0x81; lead <= 0xEF; ++lead) {
        if (lead > 0x9F && lead < 0xE0)
            continue;
        for (unsigned trail = 0x40; trail <= 0xFC; ++trail) {
            if (trail == 0x7F)
                continue;
            const uint16_t sjis = static_cast<uint16_t>(lead << 8 | trail);
            const uint16_t jis = SjisToJisCode(sjis);
            ASSERT_GE(jis >> 8, 0x21u) << std::hex << sjis;
            ASSERT_LE(jis >> 8, 0x7Eu) << std::hex << sjis;
            ASSERT_EQ(JisToSjisCode(jis), sjis) << std::hex << sjis;
            ++checked;
        }
    }
    EXPECT_EQ(checked, 94 * 94);
}

TEST(UnicodeTextTest, Utf8AcceptsWellFormedAndRejectsTheRest) {
    std::u16string out = u"x";
    const std::string text = std::string("a") + kUtf8Nihongo + "\xC3\xA9\xF0\x9F\x98\x80";
    ASSERT_TRUE(DecodeUtf8(text.data(), text.size(), &out));
    EXPECT_EQ(out, u"xa日本語é\U0001F600");
    const char* const bad[] = {
        "\xC0\x80",          // overlong NUL
        "\xE0\x80\xAF",      // overlong slash
        "\xED\xA0\x80",      // a surrogate
        "\xF4\x90\x80\x80",  // above U+10FFFF
        "\xE6\x97",          // cut short
        "\x80",              // a lone continuation byte
        "\x93\xFA",          // Shift_JIS
    };
    for (const char* b : bad) {
        std::u16string kept = u"kept";
        EXPECT_FALSE(DecodeUtf8(b, std::char_traits<char>::length(b), &kept)) << b;
        EXPECT_EQ(kept, u"kept");
    }
}

TEST(UnicodeTextTest, JapaneseDecoderReadsJisShiftJisAndMixtures) {
    EXPECT_EQ(Japanese(kJisNihongo), u"日本語");
    EXPECT_EQ(Japanese(kSjisNihongo), u"日本語");
    // Shift_JIS and a JIS segment on one line, ASCII around them.
    EXPECT_EQ(Japanese(std::string("a") + kSjisNihongo + " " + kJisNihongo + "b"),
              u"a日本語 日本語b");
    // Half-width katakana: raw Shift_JIS bytes, the JIS X 0201 escape, and SO/SI.
    EXPECT_EQ(Japanese("\xB1\x1B\x28\x49\x32\x1B\x28\x42\x0E\x33\x0F!"), u"ｱｲｳ!");
    // A line end leaves a segment the sender did not close; JIS X 0201 Roman reads as ASCII.
    EXPECT_EQ(Japanese("\x1B\x24\x42\x24\x22\r\nab\x1B\x28\x4A"
                       "cd"),
              u"あ\r\nabcd");
    // The older JIS C 6226 escape; an escape not known here stays in the text.
    EXPECT_EQ(Japanese("\x1B\x24\x40\x24\x22\x1B\x28\x42"), u"あ");
    EXPECT_EQ(Japanese("\x1B\x25\x47z"), u"\x1B%Gz");
    // JIS X 0212 cannot be shown: one stand-in per character.
    EXPECT_EQ(Japanese("\x1B\x24\x28\x44\x30\x21\x1B\x28\x42"), u"・");
    // Unlabelled text: UTF-8 when it is well-formed and not plain ASCII, else as above.
    std::u16string unlabelled;
    DecodeMailText(kUtf8Nihongo, 9, &unlabelled);
    DecodeMailText(kSjisNihongo, 6, &unlabelled);
    DecodeMailText(kJisNihongo, 12, &unlabelled);
    EXPECT_EQ(unlabelled, u"日本語日本語日本語");
    // EUC-JP goes through the same tables.
    std::u16string euc;
    DecodeEucJp(kEucNihongo, 6, &euc);
    DecodeEucJp("\x8E\xB1x", 3, &euc);
    EXPECT_EQ(euc, u"日本語ｱx");
}

TEST(UnicodeTextTest, CharsetNames) {
    struct Case {
        const char* charset;
        std::string bytes;
    };
    const Case cases[] = {
        {"utf-8", kUtf8Nihongo},
        {"ISO-2022-JP", kJisNihongo},
        {"Shift_JIS", kSjisNihongo},
        {"cp932", kSjisNihongo},
        {"windows-31j", kSjisNihongo},
        {"EUC-JP", kEucNihongo},
        // Mislabelled host text still decodes.
        {"us-ascii", kSjisNihongo},
        {"UTF-8", kSjisNihongo},
    };
    for (const Case& c : cases) {
        std::u16string out;
        EXPECT_TRUE(DecodeCharset(c.charset, c.bytes.data(), c.bytes.size(), &out)) << c.charset;
        EXPECT_EQ(out, u"日本語") << c.charset;
    }
    std::u16string out;
    EXPECT_TRUE(DecodeCharset("ISO-8859-1", "caf\xE9", 4, &out));
    EXPECT_EQ(out, u"café");
    out = u"kept";
    EXPECT_FALSE(DecodeCharset("KOI8-R", "abc", 3, &out));
    EXPECT_FALSE(DecodeCharset("", "abc", 3, &out));
    EXPECT_EQ(out, u"kept");
}

TEST(UnicodeTextTest, TransferDecodings) {
    std::string out;
    const std::string base64 = "5pel5pys\r\n6Kqe\r\n==\r\nignored";
    DecodeBase64(base64.data(), base64.size(), &out);
    EXPECT_EQ(out, kUtf8Nihongo);
    out.clear();
    const std::string qp = "caf=C3=A9 =\r\nau=\nlait_=3d =\t\r\nx=ZZ=";
    DecodeQuotedPrintable(qp.data(), qp.size(), false, &out);
    EXPECT_EQ(out, "caf\xC3\xA9 aulait_= x=ZZ");
    out.clear();
    DecodeQuotedPrintable("a_b=5F", 6, true, &out);
    EXPECT_EQ(out, "a b_");
}

TEST(UnicodeTextTest, HeaderValuesWithEncodedWords) {
    // The server's own form of a Shift_JIS subject, and the same words from other mailers.
    EXPECT_EQ(Header("=?ISO-2022-JP?B?GyRCJUYlOSVIGyhCIA==?=test"), u"テスト test");
    EXPECT_EQ(Header("=?utf-8?q?caf=C3=A9_au_lait?="), u"café au lait");
    EXPECT_EQ(Header("=?Shift_JIS?B?k/qWe4zq?= <x@example.jp>"), u"日本語 <x@example.jp>");
    EXPECT_EQ(Header("=?UTF-8*ja?B?5pel5pys6Kqe?="), u"日本語");
    // Blanks and a folded line end between two encoded words vanish; other text stays.
    EXPECT_EQ(Header("=?UTF-8?B?5pel?= \r\n =?UTF-8?B?5pys?= x =?UTF-8?B?6Kqe?="), u"日本 x 語");
    // Raw Shift_JIS and raw ISO-2022-JP around encoded words.
    EXPECT_EQ(Header(std::string(kSjisNihongo) + " =?UTF-8?B?6Kqe?=" + kJisNihongo),
              u"日本語 語日本語");
    // Raw UTF-8, as a client may have stored it.
    EXPECT_EQ(Header(std::string(kUtf8Nihongo) + " =?UTF-8?B?6Kqe?="), u"日本語 語");
    // Words that are not encoded words, or name an unknown charset, stay as written.
    EXPECT_EQ(Header("=?UTF-8?X?abc?= =?foo?B?YQ==?= =?UTF-8?B?YQ==?= =? a"),
              u"=?UTF-8?X?abc?= =?foo?B?YQ==?= a =? a");
}

TEST(UnicodeTextTest, FoldCase) {
    std::u16string text = u"ABCxyz ＡＢＣｘ ÀÉ×Þ ΑΩ АЯЁ 〜−日本";
    FoldCase(&text);
    EXPECT_EQ(text, u"abcxyz ａｂｃｘ àé×þ αω аяё ～－日本");
}

}  // namespace
