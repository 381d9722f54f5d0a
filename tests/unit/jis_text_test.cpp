// Tests of the Shift_JIS to ISO-2022-JP conversion: the code arithmetic, body segments, header
// encoded words, the bytes that stay raw, and a lead byte right before the terminator.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>

#include "mime/jis_text.h"

namespace {

const std::string kEsc = "\x1B";
const std::string kToJis = kEsc + "$B";
const std::string kToAscii = kEsc + "(B";

std::string Body(const std::string& sjis) {
    JisText t(sjis.c_str());
    const int n = t.ConvertToJis();
    EXPECT_EQ(n, t.Length());
    return std::string(t.c_str(), t.Length());
}

std::string Header(const std::string& sjis) {
    JisText t(sjis.c_str());
    const int n = t.EncodeHeaderWords();
    EXPECT_EQ(n, t.Length());
    return std::string(t.c_str(), t.Length());
}

// SjisToJis over an exactly sized heap copy, so a read past the terminator is caught.
std::string Convert(const std::string& sjis, int* count = nullptr) {
    std::unique_ptr<char[]> in(new char[sjis.size() + 1]);
    std::memcpy(in.get(), sjis.c_str(), sjis.size() + 1);
    std::unique_ptr<char[]> out(new char[sjis.size() * 4 + 10]);
    std::memset(out.get(), 0x55, sjis.size() * 4 + 10);
    const int n = SjisToJis(in.get(), out.get());
    EXPECT_EQ(out[n], 0) << "terminator";
    if (count != nullptr)
        *count = n;
    return std::string(out.get(), n);
}

TEST(SjisToJisCodeTest, RowsAndCells) {
    EXPECT_EQ(SjisToJisCode(0x82A0), 0x2422);  // あ
    EXPECT_EQ(SjisToJisCode(0x889F), 0x3021);  // 亜
    EXPECT_EQ(SjisToJisCode(0x8341), 0x2522);  // ア
    EXPECT_EQ(SjisToJisCode(0x8140), 0x2121);  // first cell of the first row
    EXPECT_EQ(SjisToJisCode(0x817E), 0x215F);  // before the gap at 0x7F
    EXPECT_EQ(SjisToJisCode(0x8180), 0x2160);  // after it
    EXPECT_EQ(SjisToJisCode(0x819E), 0x217E);  // last cell of an odd row
    EXPECT_EQ(SjisToJisCode(0x819F), 0x2221);  // first cell of the even row
    EXPECT_EQ(SjisToJisCode(0x9FFC), 0x5E7E);
    EXPECT_EQ(SjisToJisCode(0xE040), 0x5F21);  // second lead byte range
    EXPECT_EQ(SjisToJisCode(0xEAA4), 0x7426);  // 熙, the last JIS X 0208 character
    // The user-defined area is left as it is.
    EXPECT_EQ(SjisToJisCode(0xF040), 0xF040);
    EXPECT_EQ(SjisToJisCode(0xF9FC), 0xF9FC);
}

TEST(SjisToJisTest, SegmentsAndRawBytes) {
    int n = 0;
    // テスト test
    EXPECT_EQ(Convert("\x83\x65\x83\x58\x83\x67 test", &n), kToJis + "%F%9%H" + kToAscii + " test");
    EXPECT_EQ(n, 3 + 6 + 3 + 5);
    EXPECT_EQ(Convert(""), "");
    EXPECT_EQ(Convert("plain ASCII \\ ~\r\n"), "plain ASCII \\ ~\r\n");
    // Half-width katakana and the bytes without a character stay raw.
    EXPECT_EQ(Convert("\xB1\x80\xA0\xFD\xFE\xFF"), "\xB1\x80\xA0\xFD\xFE\xFF");
    // The text ends in ASCII mode even when it ends in a double-byte character.
    EXPECT_EQ(Convert("\x82\xA0"), kToJis + "\x24\x22" + kToAscii);
    // User-defined codes go out unchanged inside their segment.
    EXPECT_EQ(Convert("a\xF0\x40\x82\xA0z"), "a" + kToJis + "\xF0\x40\x24\x22" + kToAscii + "z");
}

TEST(SjisToJisTest, LeadByteBeforeTheTerminator) {
    EXPECT_EQ(Convert("\x82"), "\x82");
    EXPECT_EQ(Convert("ab\x82"), "ab\x82");
    // After a segment: the segment is closed first, the lone byte follows outside it.
    EXPECT_EQ(Convert("\x82\xA0\x82"), kToJis + "\x24\x22" + kToAscii + "\x82");
}

TEST(JisTextTest, ConvertToJisBodyLines) {
    // Two double-byte words separated by ASCII: two segments.
    EXPECT_EQ(Body("\x93\xFA\x96\x7B-\x8C\xEA\r\n"),
              kToJis + "F|K\\" + kToAscii + "-" + kToJis + "8l" + kToAscii + "\r\n");
    EXPECT_EQ(Body("ASCII only\r\n"), "ASCII only\r\n");
    JisText empty;
    EXPECT_EQ(empty.ConvertToJis(), 0);
    EXPECT_TRUE(empty.IsEmpty());
}

TEST(JisTextTest, EncodeHeaderWords) {
    // テスト test: the blank after the katakana belongs to the word.
    EXPECT_EQ(Header("Subject: \x83\x65\x83\x58\x83\x67 test\r\n"),
              "Subject: =?ISO-2022-JP?B?GyRCJUYlOSVIGyhCIA==?=test\r\n");
    // 日本 語: one word holding two segments with a blank between them.
    EXPECT_EQ(Header("\x93\xFA\x96\x7B \x8C\xEA"),
              "=?ISO-2022-JP?B?GyRCRnxLXBsoQiAbJEI4bBsoQg==?=");
    // A line ending in a double-byte character: the word ends before CR LF.
    EXPECT_EQ(Header("To: \x8E\x64\x8E\x96\r\n"), "To: =?ISO-2022-JP?B?GyRCO0U7dhsoQg==?=\r\n");
    // Blanks before the first double-byte character stay outside the word.
    EXPECT_EQ(Header("a  \x8E\x64"), "a  =?ISO-2022-JP?B?GyRCO0UbKEI=?=");
    // Half-width katakana stay raw, outside any word; ASCII is untouched.
    EXPECT_EQ(Header("X: \xB1\xB2 abc\r\n"), "X: \xB1\xB2 abc\r\n");
    EXPECT_EQ(Header("Subject: hello\r\n"), "Subject: hello\r\n");
    // A lead byte without a trail byte does not start a word.
    EXPECT_EQ(Header("a\x82"), "a\x82");
    EXPECT_EQ(Header("\x82\x0D\x0A"), "\x82\x0D\x0A");
}

}  // namespace
