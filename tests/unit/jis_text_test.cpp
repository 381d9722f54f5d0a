// Tests of the Shift_JIS to ISO-2022-JP conversion: the code arithmetic, body segments, header
// encoded words, the bytes that stay raw, a lead byte right before the terminator, and the
// conversion of many lines at once against the same lines converted one by one.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <random>
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
    // 髙 of the IBM extensions goes as its NEC-selected code 0xEEE0 does, in row 92.
    EXPECT_EQ(SjisToJisCode(0xFBFC), 0x7C62);
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

// Random Shift_JIS-like lines: ASCII, double-byte characters, lone lead bytes, half-width
// katakana, CR, NUL and LF, with runs of characters long enough to cross every internal block.
std::string RandomLines(std::mt19937* random, size_t size) {
    std::string out;
    std::uniform_int_distribution<int> kind(0, 99);
    std::uniform_int_distribution<int> byte(0, 255);
    while (out.size() < size) {
        const int k = kind(*random);
        if (k < 27) {
            out += static_cast<char>(0x20 + byte(*random) % 0x5F);
        } else if (k < 30) {
            // A long plain run, as in base64 text.
            for (int i = byte(*random) % 70; i > 0; --i)
                out += static_cast<char>('A' + i % 26);
        } else if (k < 60) {
            out += static_cast<char>(0x81 + byte(*random) % 0x1F);  // lead, then any trail
            out += static_cast<char>(0x40 + byte(*random) % 0xBD);
        } else if (k < 62) {
            // A long run of characters.
            for (int i = 0; i < 700; ++i)
                out += "\x93\xFA";
        } else if (k < 66) {
            out += static_cast<char>(0xE0 + byte(*random) % 0x1D);  // a lead byte alone
        } else if (k < 70) {
            out += static_cast<char>(0xA1 + byte(*random) % 0x3F);
        } else if (k < 72) {
            out += '\0';
        } else if (k < 80) {
            out += '\r';
        } else if (k < 92) {
            out += '\n';
        } else {
            out += static_cast<char>(byte(*random));
        }
    }
    return out;
}

TEST(JisLinesTest, ManyLinesConvertAsEachLineOnItsOwn) {
    std::mt19937 random(20261208);
    for (int round = 0; round < 200; ++round) {
        const std::string lines = RandomLines(&random, round < 150 ? 300 : 20000);
        // Each line on its own, cut at its first NUL, as the converter of one line reads it.
        std::string expected;
        size_t start = 0;
        while (start < lines.size()) {
            size_t end = lines.find('\n', start);
            end = end == std::string::npos ? lines.size() : end + 1;
            std::string line = lines.substr(start, end - start);
            const std::string raw = line;
            line = line.substr(0, line.find('\0'));
            expected += Body(line);
            EXPECT_EQ(SjisToJisLength(raw.data(), static_cast<int>(raw.size())),
                      static_cast<int>(Body(line).size()));
            // Cut at the first CR, as a body line is measured for the structure.
            const std::string cut = raw.substr(0, raw.find('\r'));
            EXPECT_EQ(SjisToJisLengthBeforeCr(raw.data(), static_cast<int>(raw.size())),
                      static_cast<int>(Body(cut.substr(0, cut.find('\0'))).size()));
            start = end;
        }
        Text out("prefix:");
        const int n = AppendJisLines(lines.data(), static_cast<int>(lines.size()), &out);
        ASSERT_EQ(n, static_cast<int>(expected.size())) << "round " << round;
        EXPECT_EQ(JisLinesLength(lines.data(), static_cast<int>(lines.size())), n);
        ASSERT_TRUE(std::string(out.c_str(), out.Length()) == "prefix:" + expected)
            << "round " << round;
    }
}

// The lines cut into pieces anywhere, down to single bytes, through a stream whose caller
// takes the unchanged bytes of each piece itself, as a reader of blocks in place does.
TEST(JisLinesTest, PiecesCutAnywhereConvertAsTheWholeText) {
    std::mt19937 random(20261209);
    for (int round = 0; round < 300; ++round) {
        const std::string lines = RandomLines(&random, round < 200 ? 200 : 30000);
        Text whole("prefix:");
        AppendJisLines(lines.data(), static_cast<int>(lines.size()), &whole);
        Text out("prefix:");
        JisLineStream stream;
        const size_t most = round % 3 == 0 ? 3 : 5000;
        for (size_t at = 0; at < lines.size();) {
            const size_t n = std::min(lines.size() - at, random() % most);
            const size_t same = round % 2 == 0 ? stream.UnchangedLength(lines.data() + at, n) : 0;
            out.AppendBytes(lines.data() + at, static_cast<int>(same));
            stream.Append(lines.data() + at + same, n - same, &out);
            at += n;
        }
        stream.Finish(&out);
        ASSERT_TRUE(std::string(out.c_str(), out.Length()) ==
                    std::string(whole.c_str(), whole.Length()))
            << "round " << round;
    }
}

// The plain scanners, the one in use and the eight-byte one, against a byte-by-byte count: a
// NUL or a high byte anywhere in several blocks, or none, from unaligned starts, with plain
// bytes past the end; and random lines.
TEST(JisLinesTest, PlainScannersStopAtTheFirstNulOrHighByte) {
    std::mt19937 random(7);
    for (int round = 0; round < 20000; ++round) {
        std::string text = round % 4 != 0 ? std::string(160, 'a') : RandomLines(&random, 160);
        if (round % 4 > 1)
            text[random() % 160] = "\0\x80\xFF"[round % 3];
        const size_t start = random() % 9;
        const size_t n = random() % (text.size() - start + 1);
        const char* s = text.data() + start;
        size_t plain = 0;
        while (plain < n && s[plain] != 0 && static_cast<unsigned char>(s[plain]) < 0x80)
            ++plain;
        ASSERT_EQ(PlainLength(s, n), plain) << round;
        ASSERT_EQ(PlainLengthPortable(s, n), plain) << round;
    }
}

TEST(JisLinesTest, LineEndsCloseRunsAndNulDropsTheRestOfItsLine) {
    Text out;
    // A lead byte before the LF pairs with it; the run ends there, the next line opens anew.
    static const char kLines[] = "\x82\n\x82\xA0\x82\xA0\nab\0cd\r\nx\x82";
    const std::string lines(kLines, sizeof kLines - 1);
    const int n = AppendJisLines(lines.data(), static_cast<int>(lines.size()), &out);
    EXPECT_EQ(n, out.Length());
    EXPECT_EQ(
        std::string(out.c_str(), out.Length()),
        kToJis + "\x23\xEB" + kToAscii + kToJis + "\x24\x22\x24\x22" + kToAscii + "\nab" + "x\x82");
    // A NUL right after a lead byte leaves the lead byte raw.
    EXPECT_EQ(SjisToJisLength("a\x82\0\x82\xA0", 5), 2);
    EXPECT_EQ(SjisToJisLength("", 0), 0);
    EXPECT_EQ(AppendJisLines("", 0, &out), 0);
}

TEST(JisTextTest, LongHeaderRunsAndEncodedWordsInPlace) {
    // A run of 600 characters is one word; the words of the in-place form and the appended
    // form agree.
    std::string run;
    for (int i = 0; i < 600; ++i)
        run += "\x83\x65";
    const std::string line = "Subject: " + run + " x\r\n";
    const std::string inPlace = Header(line);
    Text appended("> ");
    const int n = AppendHeaderWords(line.data(), static_cast<int>(line.size()), &appended);
    EXPECT_EQ(n, static_cast<int>(inPlace.size()));
    EXPECT_EQ(std::string(appended.c_str(), appended.Length()), "> " + inPlace);
    EXPECT_EQ(inPlace.compare(0, 25, "Subject: =?ISO-2022-JP?B?"), 0);
    EXPECT_EQ(inPlace.substr(inPlace.size() - 5), "?=x\r\n");
    EXPECT_EQ(inPlace.find("?=", 25), inPlace.size() - 5) << "one word";
    // NUL bytes of a header line are kept as ordinary bytes.
    const std::string nul("A\0B\x82\xA0", 5);
    Text withNul;
    EXPECT_EQ(AppendHeaderWords(nul.data(), 5, &withNul), 3 + 16 + 12 + 2);
    EXPECT_EQ(std::string(withNul.c_str(), 3), std::string("A\0B", 3));
}

}  // namespace
