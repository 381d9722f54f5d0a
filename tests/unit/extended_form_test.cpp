// Tests of the extended client form: header words in the charset their characters need, with
// the blanks around them left outside; text parts that ISO-2022-JP cannot carry relabelled as
// base64 UTF-8, found through multipart boundaries; and the UTF-8 form for clients that enable it.
#include "mime/extended_form.h"

#include <gtest/gtest.h>

#include <string>

#include "mime/base64.h"
#include "mime/jis_text.h"

namespace {

// Shift_JIS: 鈴木, 山田 太郎, 髙橋 (髙 an IBM extension) and ｶﾅ (half-width).
const std::string kSuzuki = "\x97\xE9\x96\xD8";
const std::string kYamada = "\x8E\x52\x93\x63 \x91\xBE\x98\x59";
const std::string kTakahashi = "\xFB\xFC\x8B\xB4";
const std::string kKana = "\xB6\xC5";

std::string JisWord(const std::string& sjis) {
    JisText jis(sjis.c_str());
    jis.ConvertToJis();
    Base64Codec base64;
    return "=?ISO-2022-JP?B?" + std::string(base64.Encode(jis.c_str(), jis.Length())) + "?=";
}

std::string Utf8Word(const std::string& utf8) {
    Base64Codec base64;
    return "=?UTF-8?B?" + std::string(base64.Encode(utf8.data(), utf8.size())) + "?=";
}

std::string Header(const std::string& line, bool structured, TextForm form = TextForm::kMime) {
    Text out("");
    AppendHeaderTextExtended(line.data(), line.size(), structured, form, &out);
    return std::string(out.c_str(), out.Length());
}

struct Form {
    std::string header;
    std::string body;
};
Form Convert(const std::string& raw, TextForm form = TextForm::kMime) {
    Text header("");
    Text body("");
    ExtendedClientForm(raw.data(), raw.size(), form, &header, &body);
    return {std::string(header.c_str(), header.Length()), std::string(body.c_str(), body.Length())};
}

std::string Base64Of(const std::string& bytes) {
    Base64Codec base64;
    return base64.Encode(bytes.data(), bytes.size());
}

TEST(ExtendedHeaderTest, WordsTakeTheCharsetTheyNeedAndLeaveBlanksOutside) {
    // The blank before "<" and the one after the name stay blanks.
    EXPECT_EQ(Header("From: " + kYamada + " <a@b>\r\n", true),
              "From: " + JisWord(kYamada) + " <a@b>\r\n");
    // ASCII in the same word goes into it; text beyond JIS X 0208 goes as UTF-8.
    EXPECT_EQ(Header("Subject: Re:" + kTakahashi + " x\r\n", false),
              "Subject: " + Utf8Word("Re:\xE9\xAB\x99\xE6\xA9\x8B") + " x\r\n");
    // (Quoted display names and parameter values as words are tested end to end.)
    // A long run is split into words of at most 75 characters, whatever it holds: kanji,
    // ASCII between kanji (each switch costs escapes), half-width katakana (three UTF-8 bytes
    // each).
    std::string kanji, mixed, kana;
    for (int i = 0; i < 30; ++i) {
        kanji += "\x82\xA0";
        mixed += "a\x8A\xBF";
        kana += "\xB6";
    }
    for (const std::string& run : {kanji, mixed, kana}) {
        const std::string words = Header("Subject: " + run + "\r\n", false);
        size_t count = 0;
        for (size_t at = words.find("=?"); at != std::string::npos; at = words.find("=?", at + 1)) {
            EXPECT_LE(words.find("?=", at) + 2 - at, 75u) << words;
            ++count;
        }
        EXPECT_GE(count, 2u) << words;
    }
}

TEST(ExtendedFormTest, TextPartsBeyondJisAreRelabelledAsUtf8) {
    const std::string utf8Body = "\xE9\xAB\x99\xE6\xA9\x8B\r\nline 2\r\n";
    // A single-part message: its own Content-Type gets the charset, its encoding base64; the
    // host's status line is left out.
    Form f = Convert(
        "X-Orvex-Status: 0\r\nSubject: a\r\nContent-Type: text/plain;\r\n"
        "\tcharset=\"ISO-2022-JP\"; format=flowed\r\nContent-Transfer-Encoding: "
        "7bit\r\n\r\n" +
        kTakahashi + "\r\nline 2\r\n");
    EXPECT_EQ(f.header,
              "Subject: a\r\nContent-Type: text/plain;\r\n\tcharset=UTF-8; format=flowed\r\n"
              "Content-Transfer-Encoding: base64\r\n");
    EXPECT_EQ(f.body, Base64Of(utf8Body) + "\r\n");
    // Without a Content-Type one is added. Text that fits stays ISO-2022-JP.
    f = Convert("Subject: a\r\n\r\n" + kKana + "\r\n");
    EXPECT_EQ(f.header,
              "Subject: a\r\nContent-Type: text/plain; charset=UTF-8\r\n"
              "Content-Transfer-Encoding: base64\r\n");
    f = Convert("Subject: a\r\n\r\n" + kSuzuki + "\r\n");
    EXPECT_EQ(f.header, "Subject: a\r\n");
    JisText jis((kSuzuki + "\r\n").c_str());
    jis.ConvertToJis();
    EXPECT_EQ(f.body, jis.c_str());

    // In a multipart only the part that needs it; the line end before a boundary stays the
    // boundary's. (Attachment names and attached messages are tested end to end.)
    f = Convert(
        "Content-Type: multipart/mixed; boundary=\"b1\"\r\n\r\npreamble\r\n"
        "--b1\r\nContent-Type: text/plain\r\n\r\n" +
        kSuzuki + "\r\n--b1\r\nContent-Type: text/plain; charset=iso-2022-jp\r\n\r\n" + kTakahashi +
        "\r\n--b1--\r\nepilogue\r\n");
    EXPECT_EQ(f.body, "preamble\r\n--b1\r\nContent-Type: text/plain\r\n\r\n" +
                          std::string(jis.c_str()) +
                          "--b1\r\nContent-Type: text/plain; charset=UTF-8\r\n"
                          "Content-Transfer-Encoding: base64\r\n\r\n" +
                          Base64Of("\xE9\xAB\x99\xE6\xA9\x8B") + "\r\n--b1--\r\nepilogue\r\n");

    // The UTF-8 form: every Shift_JIS text part as 8bit UTF-8.
    f = Convert("Subject: " + kSuzuki + "\r\n\r\n" + kSuzuki + "\r\n", TextForm::kUtf8);
    EXPECT_EQ(f.header,
              "Subject: \xE9\x88\xB4\xE6\x9C\xA8\r\nContent-Type: text/plain; "
              "charset=UTF-8\r\nContent-Transfer-Encoding: 8bit\r\n");
    EXPECT_EQ(f.body, "\xE9\x88\xB4\xE6\x9C\xA8\r\n");
}

}  // namespace
