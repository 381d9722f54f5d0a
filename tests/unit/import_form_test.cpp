// Tests of the form in which the host keeps an imported message: encoded words in header fields
// decoded into Shift_JIS (with quoting kept valid in addresses and MIME parameters), text parts
// in each charset and transfer encoding turned into Shift_JIS with their fields brought in
// line, everything else left as it was, and the host's own form left unchanged.
#include "host/import_form.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "host/store_format.h"
#include "mime/jis_text.h"
#include "platform/codepage.h"

namespace {

std::string Sjis(const std::u16string& text) {
    const int n = static_cast<int>(text.size());
    const int size = platform::WideCharToMultiByte(text.data(), n, nullptr, 0);
    std::string out(static_cast<size_t>(size), '\0');
    platform::WideCharToMultiByte(text.data(), n, &out[0], size);
    return out;
}

std::string Jis(const std::u16string& text) {
    const std::string sjis = Sjis(text);
    std::string out(sjis.size() * 4 + 10, '\0');
    out.resize(static_cast<size_t>(SjisToJis(sjis.c_str(), &out[0])));
    return out;
}

std::string Utf8(const std::u16string& text) {
    std::string out;
    for (size_t i = 0; i < text.size(); ++i) {
        uint32_t c = text[i];
        if (c >= 0xD800 && c < 0xDC00 && i + 1 < text.size())
            c = 0x10000 + ((c - 0xD800) << 10) + (text[++i] - 0xDC00);
        if (c < 0x80) {
            out += static_cast<char>(c);
        } else if (c < 0x800) {
            out += static_cast<char>(0xC0 | c >> 6);
            out += static_cast<char>(0x80 | (c & 0x3F));
        } else if (c < 0x10000) {
            out += static_cast<char>(0xE0 | c >> 12);
            out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (c & 0x3F));
        } else {
            out += static_cast<char>(0xF0 | c >> 18);
            out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
            out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (c & 0x3F));
        }
    }
    return out;
}

std::string B64(const std::string& bytes) {
    return Base64Encode(bytes);
}

// The header field of a converted message (the first one named so, with its line end).
std::string Field(const std::string& message, const std::string& name) {
    size_t at = 0;
    while (message.compare(at, name.size(), name) != 0) {
        at = message.find('\n', at);
        if (at == std::string::npos)
            return std::string();
        ++at;
    }
    return message.substr(at, message.find('\n', at) + 1 - at);
}

std::string BodyOf(const std::string& message) {
    const size_t at = message.find("\r\n\r\n");
    return at == std::string::npos ? std::string() : message.substr(at + 4);
}

const std::u16string kText = u"日本語のテキストです。\n二行目〜終わり\n";

// --- Header fields ---

TEST(ImportFormHeaderTest, EncodedWordsInAnyCharsetBecomeShiftJis) {
    const std::string message = "Subject: =?UTF-8?B?" + B64(Utf8(u"日本語")) +
                                "?= and =?ISO-2022-JP?B?" + B64(Jis(u"漢字")) +
                                "?=\r\nX-Note: =?shift_jis?Q?=93=FA?= end\r\n\r\nbody\r\n";
    const std::string out = HostFormOf(message);
    EXPECT_EQ(Field(out, "Subject:"),
              "Subject: " + Sjis(u"日本語") + " and " + Sjis(u"漢字") + "\r\n");
    EXPECT_EQ(Field(out, "X-Note:"), "X-Note: " + Sjis(u"日") + " end\r\n");
    EXPECT_EQ(BodyOf(out), "body\r\n");
}

TEST(ImportFormHeaderTest, AdjacentWordsJoinAcrossFoldedLines) {
    const std::string message = "Subject: =?UTF-8?B?" + B64(Utf8(u"長い")) + "?=\r\n =?UTF-8?B?" +
                                B64(Utf8(u"件名")) + "?=\r\n\t(x)\r\n\r\n";
    EXPECT_EQ(Field(HostFormOf(message), "Subject:"),
              "Subject: " + Sjis(u"長い件名") + "\t(x)\r\n");
}

TEST(ImportFormHeaderTest, WordsShiftJisCannotHoldStayAsWritten) {
    const std::string emoji = "=?UTF-8?B?" + B64(Utf8(u"\U0001F600")) + "?=";
    const std::string halfWidth = "=?UTF-8?B?" + B64(Utf8(u"ｶﾅ")) + "?=";
    const std::string unknown = "=?x-unknown?B?" + B64("abc") + "?=";
    const std::string message = "Subject: " + emoji + " " + halfWidth + " " + unknown +
                                " =?UTF-8?B?" + B64(Utf8(u"字")) + "?=\r\n\r\n";
    EXPECT_EQ(Field(HostFormOf(message), "Subject:"),
              "Subject: " + emoji + " " + halfWidth + " " + unknown + " " + Sjis(u"字") + "\r\n");
}

TEST(ImportFormHeaderTest, DecodedDisplayNamesStayValidAddresses) {
    const std::string plain = "=?UTF-8?B?" + B64(Utf8(u"山田 太郎")) + "?=";
    const std::string quotes = "=?UTF-8?B?" + B64(Utf8(u"鈴木 \"スズキ\"")) + "?=";
    const std::string inside = "=?ISO-2022-JP?B?" + B64(Jis(u"佐藤")) + "?=";
    const std::string out =
        HostFormOf("From: " + plain + " <y@example.jp>\r\nTo: " + quotes + " <s@example.jp>, \"" +
                   inside + " \\\"x\\\"\" <t@example.jp>\r\nSubject: " + quotes + "\r\n\r\n");
    EXPECT_EQ(Field(out, "From:"), "From: " + Sjis(u"山田 太郎") + " <y@example.jp>\r\n");
    EXPECT_EQ(Field(out, "To:"), "To: \"" + Sjis(u"鈴木 \\\"スズキ\\\"") + "\" <s@example.jp>, \"" +
                                     Sjis(u"佐藤") + " \\\"x\\\"\" <t@example.jp>\r\n");
    // Quotes are text in an unstructured field.
    EXPECT_EQ(Field(out, "Subject:"), "Subject: " + Sjis(u"鈴木 \"スズキ\"") + "\r\n");
}

TEST(ImportFormHeaderTest, ParameterValuesAreQuoted) {
    const std::string name = "=?UTF-8?B?" + B64(Utf8(u"見積書.csv")) + "?=";
    const std::string message =
        "Content-Type: multipart/mixed; boundary=b\r\n\r\n--b\r\n"
        "Content-Type: text/csv; name=" +
        name +
        "\r\n"
        "Content-Disposition: attachment; filename=\"" +
        name +
        "\"\r\n"
        "Content-Transfer-Encoding: base64\r\n\r\nYWJj\r\n--b--\r\n";
    const std::string out = HostFormOf(message);
    EXPECT_NE(out.find("Content-Type: text/csv; name=\"" + Sjis(u"見積書.csv") + "\"\r\n"),
              std::string::npos)
        << out;
    EXPECT_NE(
        out.find("Content-Disposition: attachment; filename=\"" + Sjis(u"見積書.csv") + "\"\r\n"),
        std::string::npos)
        << out;
}

TEST(ImportFormHeaderTest, RawUtf8HeadersBecomeShiftJisAndAsciiFieldsStayFolded) {
    const std::string message = "Subject: " + Utf8(u"生の件名") +
                                "\r\nReceived: from a\r\n\tby b; Mon, 1 Jan 2024\r\n\r\nx\r\n";
    const std::string out = HostFormOf(message);
    EXPECT_EQ(Field(out, "Subject:"), "Subject: " + Sjis(u"生の件名") + "\r\n");
    EXPECT_NE(out.find("Received: from a\r\n\tby b; Mon, 1 Jan 2024\r\n"), std::string::npos);
    // Raw UTF-8 that Shift_JIS cannot all hold becomes UTF-8 encoded words, blanks outside.
    const std::string smile = Utf8(u"笑顔 \U0001F600");
    EXPECT_EQ(Field(HostFormOf("Subject: Re: " + smile + " ok\r\n\r\nx\r\n"), "Subject:"),
              "Subject: Re: =?UTF-8?B?" + B64(smile) + "?= ok\r\n");
}

// --- Text parts ---

struct TextCase {
    const char* charset;
    const char* encoding;
    std::string body;
};

std::string QuotedPrintable(const std::string& bytes) {
    std::string out;
    int column = 0;
    for (unsigned char c : bytes) {
        char piece[4];
        if (c == '\n') {
            out += "\r\n";
            column = 0;
            continue;
        }
        if (c >= 0x80 || c == '=')
            std::snprintf(piece, sizeof piece, "=%02X", c);
        else
            std::snprintf(piece, sizeof piece, "%c", c);
        if (column + 4 > 76) {
            out += "=\r\n";
            column = 0;
        }
        out += piece;
        column += static_cast<int>(std::string(piece).size());
    }
    return out;
}

TEST(ImportFormTextTest, EveryCharsetAndEncodingBecomesShiftJisText) {
    const std::string utf8 = Utf8(kText);
    const std::string sjis = Sjis(kText);
    const std::string jis = Jis(kText);
    const TextCase cases[] = {
        {"ISO-2022-JP", "7bit", jis},
        {"ISO-2022-JP", "base64", B64(jis)},
        {"UTF-8", "8bit", utf8},
        {"utf-8", "base64", B64(utf8)},
        {"UTF-8", "quoted-printable", QuotedPrintable(utf8)},
        {"Shift_JIS", "8bit", sjis},
        {"shift_jis", "quoted-printable", QuotedPrintable(sjis)},
        {"Windows-31J", "base64", B64(sjis)},
    };
    for (const TextCase& c : cases) {
        const std::string message =
            std::string("Subject: t\r\nContent-Type: text/plain; charset=") + c.charset +
            "; format=flowed\r\nContent-Transfer-Encoding: " + c.encoding + "\r\n\r\n" + c.body;
        const std::string out = HostFormOf(message);
        SCOPED_TRACE(std::string(c.charset) + " " + c.encoding);
        EXPECT_EQ(Field(out, "Content-Type:"),
                  "Content-Type: text/plain; charset=ISO-2022-JP; format=flowed\r\n");
        EXPECT_EQ(Field(out, "Content-Transfer-Encoding:"), "Content-Transfer-Encoding: 7bit\r\n");
        // The store makes every line end CR LF.
        EXPECT_EQ(WithCrLf(BodyOf(out)), WithCrLf(sjis));
    }
}

TEST(ImportFormTextTest, AsciiTextLosesOnlyItsTransferEncoding) {
    const std::string plain = "Content-Type: text/plain; charset=us-ascii\r\n\r\nhello =\r\n";
    EXPECT_EQ(HostFormOf(plain), plain);
    const std::string encoded =
        "Content-Type: text/plain; charset=us-ascii\r\n"
        "Content-Transfer-Encoding: base64\r\n\r\n" +
        B64("hello\nworld\n") + "\r\n";
    EXPECT_EQ(HostFormOf(encoded),
              "Content-Type: text/plain; charset=us-ascii\r\n"
              "Content-Transfer-Encoding: 7bit\r\n\r\nhello\r\nworld\r\n");
}

TEST(ImportFormTextTest, TextWithoutContentTypeGetsFields) {
    const std::string out = HostFormOf("Subject: s\r\n\r\n" + Utf8(u"本文\n"));
    EXPECT_EQ(out,
              "Subject: s\r\nContent-Type: text/plain; charset=ISO-2022-JP\r\n"
              "Content-Transfer-Encoding: 7bit\r\n\r\n" +
                  Sjis(u"本文\r\n"));
}

TEST(ImportFormTextTest, TextShiftJisCannotHoldKeepsItsCharset) {
    const std::string emoji = Utf8(u"笑顔 \U0001F600\n");
    // 8-bit text would be read as Shift_JIS by the server: it is carried in base64 instead.
    const std::string eightBit = HostFormOf(
        "Content-Type: text/plain; charset=UTF-8\r\n"
        "Content-Transfer-Encoding: 8bit\r\n\r\n" +
        emoji);
    EXPECT_EQ(eightBit,
              "Content-Type: text/plain; charset=UTF-8\r\n"
              "Content-Transfer-Encoding: base64\r\n\r\n" +
                  B64(emoji) + "\r\n");
    const std::string encoded =
        "Content-Type: text/plain; charset=UTF-8\r\n"
        "Content-Transfer-Encoding: base64\r\n\r\n" +
        B64(emoji) + "\r\n";
    EXPECT_EQ(HostFormOf(encoded), encoded);
    const std::string halfWidth =
        "Content-Type: text/plain; charset=UTF-8\r\n"
        "Content-Transfer-Encoding: quoted-printable\r\n\r\n" +
        QuotedPrintable(Utf8(u"ｶﾅ\n"));
    EXPECT_EQ(HostFormOf(halfWidth), halfWidth);
    // Raw UTF-8 that names no charset (an APPEND in the UTF8 form) says it is UTF-8 once in
    // base64.
    EXPECT_EQ(HostFormOf("Subject: a\r\n\r\n" + emoji),
              "Subject: a\r\nContent-Transfer-Encoding: base64\r\n"
              "Content-Type: text/plain; charset=UTF-8\r\n\r\n" +
                  B64(emoji) + "\r\n");
}

TEST(ImportFormTextTest, OtherCharsetsEncodingsAndTypesAreUntouched) {
    const std::string latin1 =
        "Content-Type: text/plain; charset=ISO-8859-1\r\n"
        "Content-Transfer-Encoding: 8bit\r\n\r\ncaf\xE9\r\n";
    EXPECT_EQ(HostFormOf(latin1), latin1);
    const std::string uuencoded =
        "Content-Type: text/plain; charset=UTF-8\r\n"
        "Content-Transfer-Encoding: x-uuencode\r\n\r\n" +
        Utf8(u"字\n");
    EXPECT_EQ(HostFormOf(uuencoded), uuencoded);
    const std::string html =
        "Content-Type: application/octet-stream\r\n"
        "Content-Transfer-Encoding: 8bit\r\n\r\n" +
        Utf8(u"字\n");
    EXPECT_EQ(HostFormOf(html), html);
    // A text file attached is saved as it was sent.
    const std::string attached =
        "Content-Type: text/plain; charset=UTF-8\r\n"
        "Content-Disposition: attachment; filename=a.txt\r\n"
        "Content-Transfer-Encoding: base64\r\n\r\n" +
        B64(Utf8(u"字\n")) + "\r\n";
    EXPECT_EQ(HostFormOf(attached), attached);
}

// --- Multipart messages ---

TEST(ImportFormMultipartTest, TextPartsConvertAndOtherPartsStay) {
    const std::string attachment =
        "Content-Type: application/octet-stream; name=\"a.bin\"\r\n"
        "Content-Transfer-Encoding: base64\r\n\r\n" +
        B64(Utf8(u"字")) + "\r\n";
    const std::string inner =
        "Content-Type: message/rfc822\r\n\r\n"
        "Subject: =?UTF-8?B?" +
        B64(Utf8(u"中")) + "?=\r\n\r\n" + Utf8(u"中身\n");
    const std::string message =
        "Content-Type: multipart/mixed; boundary=\"outer\"\r\n\r\npreamble\r\n"
        "--outer\r\nContent-Type: multipart/alternative; boundary=inner\r\n\r\n"
        "--inner\r\nContent-Type: text/plain; charset=UTF-8\r\n"
        "Content-Transfer-Encoding: base64\r\n\r\n" +
        B64(Utf8(u"一\n")) +
        "\r\n"
        "--inner\r\nContent-Type: text/html; charset=UTF-8\r\n\r\n<p>" +
        Utf8(u"二") +
        "</p>\r\n"
        "--inner--\r\n\r\n--outer\r\n" +
        attachment + "--outer\r\n" + inner + "--outer--\r\nepilogue " + Utf8(u"字") + "\r\n";
    const std::string expected =
        "Content-Type: multipart/mixed; boundary=\"outer\"\r\n\r\npreamble\r\n"
        "--outer\r\nContent-Type: multipart/alternative; boundary=inner\r\n\r\n"
        "--inner\r\nContent-Type: text/plain; charset=ISO-2022-JP\r\n"
        "Content-Transfer-Encoding: 7bit\r\n\r\n" +
        Sjis(u"一\r\n") +
        "\r\n"
        "--inner\r\nContent-Type: text/html; charset=ISO-2022-JP\r\n"
        "Content-Transfer-Encoding: 7bit\r\n\r\n<p>" +
        Sjis(u"二") +
        "</p>\r\n"
        "--inner--\r\n\r\n--outer\r\n" +
        attachment + "--outer\r\n" + inner + "--outer--\r\nepilogue " + Utf8(u"字") + "\r\n";
    EXPECT_EQ(HostFormOf(message), expected);
}

TEST(ImportFormMultipartTest, AnUnendedMultipartConvertsItsLastPart) {
    const std::string message =
        "Content-Type: multipart/mixed; boundary=b\n\n--b\n"
        "Content-Type: text/plain; charset=UTF-8\n\n" +
        Utf8(u"終\n");
    EXPECT_EQ(HostFormOf(message),
              "Content-Type: multipart/mixed; boundary=b\n\n--b\n"
              "Content-Type: text/plain; charset=ISO-2022-JP\n"
              "Content-Transfer-Encoding: 7bit\n\n" +
                  Sjis(u"終\r\n"));
}

// --- The host's own form ---

TEST(ImportFormHostTest, AMessageInTheHostsFormComesBackUnchanged) {
    const std::string host =
        "X-Orvex-Status: 40000000\r\nFrom: " + Sjis(u"山田 太郎") +
        " <y@example.jp>\r\n"
        "Subject: " +
        Sjis(u"表示の件 髙橋 ①ｶﾅ\uE000") + "\r\n\t" + Sjis(u"続き") +
        "\r\n"
        "Content-Type: multipart/mixed; boundary=\"b\"\r\n\r\n--b\r\n"
        "Content-Type: text/plain; charset=ISO-2022-JP\r\nContent-Transfer-Encoding: 7bit\r\n\r\n" +
        Sjis(u"本文です。\r\n髙橋様 ①Ⅱ㈱ｶﾀｶﾅ\uE000\r\n") + "\r\n--b\r\nContent-Type: text/csv; name=\"" +
        Sjis(u"表.csv") + "\"\r\nContent-Transfer-Encoding: base64\r\n\r\nYWJj\r\n--b--\r\n";
    EXPECT_EQ(HostFormOf(host), host);
    const std::string lfOnly = "Subject: " + Sjis(u"件名") +
                               "\nContent-Type: text/plain; "
                               "charset=ISO-2022-JP\n\n" +
                               Sjis(u"本文\n");
    EXPECT_EQ(HostFormOf(lfOnly), "Subject: " + Sjis(u"件名") +
                                      "\nContent-Type: text/plain; "
                                      "charset=ISO-2022-JP\nContent-Transfer-Encoding: 7bit\n\n" +
                                      Sjis(u"本文\n"));
    // Unlabelled Shift_JIS text, half-width katakana and all, gets the host's label.
    EXPECT_EQ(HostFormOf("Subject: s\r\n\r\n" + Sjis(u"ｶﾅ\r\n")),
              "Subject: s\r\nContent-Type: text/plain; charset=ISO-2022-JP\r\n"
              "Content-Transfer-Encoding: 7bit\r\n\r\n" +
                  Sjis(u"ｶﾅ\r\n"));
    const std::string headerOnly = "Subject: =?UTF-8?B?" + B64(Utf8(u"だけ")) + "?=\r\n";
    EXPECT_EQ(HostFormOf(headerOnly), "Subject: " + Sjis(u"だけ") + "\r\n");
}

}  // namespace
