// Tests of the client form of header and body lines: the default form unchanged, quoted
// display names and parameter values as whole encoded words in the extended form, quoted
// strings of unstructured fields left alone, and part headers found by their boundaries.
#include <gtest/gtest.h>

#include <string>

#include "mime/base64.h"
#include "mime/client_form.h"

namespace {

// "鈴木" and "スズキ" in Shift_JIS; "ソ" has the trail byte 0x5C ('\').
const std::string kSuzuki = "\x97\xE9\x96\xD8";
const std::string kSuzukiKana = "\x83\x58\x83\x59\x83\x4C";
const std::string kSo = "\x83\x5C";

// The encoded word of a Shift_JIS text as a whole.
std::string Word(const std::string& sjis) {
    JisText jis(sjis.c_str());
    jis.ConvertToJis();
    Base64Codec base64;
    return std::string("=?ISO-2022-JP?B?") +
           base64.Encode(jis.c_str(), static_cast<size_t>(jis.Length())) + "?=";
}

std::string Default(const std::string& line) {
    JisText t(line.c_str());
    t.EncodeHeaderWords();
    return std::string(t.c_str(), t.Length());
}

std::string BodyText(const std::string& line) {
    JisText t(line.c_str());
    t.ConvertToJis();
    return std::string(t.c_str(), t.Length());
}

std::string Extended(const std::string& line) {
    JisText t(line.c_str());
    const int n = EncodeHeaderWordsExtended(&t);
    EXPECT_EQ(n, t.Length());
    return std::string(t.c_str(), t.Length());
}

TEST(ClientFormTest, QuotedDisplayNameBecomesOneWord) {
    const std::string name = kSuzuki + " \"" + kSuzukiKana + "\"";
    EXPECT_EQ(Extended("From: \"" + kSuzuki + " \\\"" + kSuzukiKana + "\\\"\" <s@example.jp>\r\n"),
              "From: " + Word(name) + " <s@example.jp>\r\n");
    // A trail byte '\' inside the quotes is part of its character, not a quoted pair.
    EXPECT_EQ(Extended("To: \"" + kSo + "\" <t@x>\r\n"), "To: " + Word(kSo) + " <t@x>\r\n");
}

TEST(ClientFormTest, ParameterValuesKeepTheirQuotes) {
    EXPECT_EQ(Extended("Content-Disposition: attachment; filename=\"" + kSuzuki + ".csv\"\r\n"),
              "Content-Disposition: attachment; filename=\"" + Word(kSuzuki + ".csv") + "\"\r\n");
}

TEST(ClientFormTest, OtherTextTakesTheDefaultForm) {
    // ASCII quoted strings, runs outside quotes, and an unclosed quote.
    for (const std::string& line :
         {std::string("From: \"Plain Name\" <p@x>\r\n"), "From: " + kSuzuki + " <p@x>\r\n",
          "From: \"" + kSuzuki + " <p@x>\r\n", std::string("To: \"a\\\"b\" <q@x>\n")}) {
        EXPECT_EQ(Extended(line), Default(line)) << line;
    }
}

std::string Convert(ClientFormConverter& form, const std::string& line, bool header) {
    JisText t(line.c_str());
    const int n = header ? form.HeaderLine(&t) : form.BodyLine(&t);
    EXPECT_EQ(n, t.Length());
    return std::string(t.c_str(), t.Length());
}

TEST(ClientFormTest, ConverterWritesTheFormOfItsMode) {
    const std::string from = "From: \"" + kSuzuki + "\" <s@x>\r\n";
    const std::string subject = "Subject: \"" + kSuzuki + "\"\r\n";
    {
        ClientFormConverter form(Mode::kExact);
        EXPECT_EQ(Convert(form, from, true), Default(from));
    }
    ClientFormConverter form(Mode::kExtended);
    EXPECT_EQ(Convert(form, from, true), "From: " + Word(kSuzuki) + " <s@x>\r\n");
    // In a Subject a quote is an ordinary character; so in a continuation line of it.
    EXPECT_EQ(Convert(form, subject, true), Default(subject));
    EXPECT_EQ(Convert(form, " \"" + kSuzuki + "\"\r\n", true), Default(" \"" + kSuzuki + "\"\r\n"));
}

TEST(ClientFormTest, PartHeadersOfTheBodyAreHeaderLines) {
    ClientFormConverter form(Mode::kExtended);
    const std::string disposition =
        "Content-Disposition: attachment; filename=\"" + kSuzuki + "\"\r\n";
    const std::string encoded =
        "Content-Disposition: attachment; filename=\"" + Word(kSuzuki) + "\"\r\n";
    // The boundary comes on a continuation line of a header that is not wanted.
    form.SkipHeaderLine("Content-Type: multipart/mixed;\r\n");
    form.SkipHeaderLine("\tboundary=\"b1\"\r\n");
    const std::string asBody = BodyText(disposition);
    ASSERT_NE(asBody, encoded);
    // Body text before the first separator, and a line that only starts like one.
    EXPECT_EQ(Convert(form, disposition, false), asBody);
    EXPECT_EQ(Convert(form, "--b1x\r\n", false), "--b1x\r\n");
    EXPECT_EQ(Convert(form, disposition, false), asBody);
    EXPECT_EQ(Convert(form, "--b1 \r\n", false), "--b1 \r\n");
    EXPECT_EQ(Convert(form, disposition, false), encoded);
    EXPECT_EQ(Convert(form, "\r\n", false), "\r\n");
    // After the blank line the part's body is body text again.
    EXPECT_EQ(Convert(form, disposition, false), asBody);
    // A terminator opens no header.
    EXPECT_EQ(Convert(form, "--b1--\r\n", false), "--b1--\r\n");
    EXPECT_EQ(Convert(form, disposition, false), asBody);
}

TEST(ClientFormTest, AMessageOfTypeMessageStartsWithAHeader) {
    const std::string from = "From: \"" + kSuzuki + "\" <s@x>\r\n";
    const std::string encoded = "From: " + Word(kSuzuki) + " <s@x>\r\n";
    {
        ClientFormConverter form(Mode::kExtended);
        EXPECT_EQ(Convert(form, "Content-Type: message/rfc822\r\n", true),
                  "Content-Type: message/rfc822\r\n");
        EXPECT_EQ(Convert(form, from, false), encoded);
        EXPECT_EQ(Convert(form, "\r\n", false), "\r\n");
        EXPECT_EQ(Convert(form, from, false), BodyText(from));
    }
    // Any other message's body is body text from its first line.
    ClientFormConverter form(Mode::kExtended);
    form.SkipHeaderLine("Content-Type: text/plain\r\n");
    EXPECT_EQ(Convert(form, from, false), BodyText(from));
}

}  // namespace
