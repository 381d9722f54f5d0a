// Tests of BODYSTRUCTURE rendering over message files: the two reference answers byte for byte,
// the form of a file that failed to open, parameter list shapes, the multipart form and its
// quirks, field values and quoting.
#include "mime/body_structure.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "base/file.h"
#include "base/text.h"
#include "mime/mime_part.h"

namespace fs = std::filesystem;

namespace {

// 20 lines of 48 bytes in client form ("日本語" is 12, then 36 ASCII bytes): 1000 in all.
std::string TwentyJapaneseLines() {
    std::string body;
    for (int i = 0; i < 20; ++i)
        body += "\x93\xfa\x96\x7b\x8c\xea" + std::string(36, 'a' + i) + "\r\n";
    return body;
}

// 65 base64 lines of 74 bytes and one of 58: 66 lines, 5000 bytes in all.
std::string Base64Lines() {
    std::string body;
    for (int i = 0; i < 65; ++i)
        body += std::string(74, 'A') + "\r\n";
    return body + std::string(58, 'B') + "\r\n";
}

const char kTextPartHeader[] = "Content-Type: text/plain; charset=ISO-2022-JP\r\n\r\n";
const char kTextPartForm[] =
    "(\"text\" \"plain\" (\"charset\" \"ISO-2022-JP\") NIL NIL \"7bit\" 1000 20 NIL NIL NIL)";

// Writes a message file, parses it and renders its structure.
class BodyStructureTest : public ::testing::Test {
  protected:
    void SetUp() override {
        marker_ = platform::MakeTempFileName(platform::TempDirectory().c_str(), "bst");
        dir_ = marker_ + ".d";
        fs::create_directory(dir_);
    }
    void TearDown() override {
        std::error_code ec;
        fs::remove_all(dir_, ec);
        fs::remove(marker_, ec);
    }
    std::string Render(const std::string& contents) {
        const std::string path = dir_ + "\\m" + std::to_string(++files_) + ".orv";
        File f;
        if (!f.Open(path.c_str(), platform::kAccessWrite, platform::kCreateAlways) ||
            !f.Write(contents.data(), static_cast<uint32_t>(contents.size())))
            return "<not written>";
        f.Close();
        MimePart root;
        if (!ParseMessageFile(&root, path.c_str()))
            return "<not parsed>";
        Text out;
        RenderBodyStructure(root, &out);
        return out.c_str();
    }
    std::string marker_;
    std::string dir_;
    int files_ = 0;
};

TEST_F(BodyStructureTest, ReferenceAnswers) {
    EXPECT_EQ(Render(kTextPartHeader + TwentyJapaneseLines()), std::string(" ") + kTextPartForm);

    EXPECT_EQ(Render("Content-Type: multipart/mixed; boundary=xyz\r\n\r\n--xyz\r\n" +
                     std::string(kTextPartHeader) + TwentyJapaneseLines() +
                     "--xyz\r\nContent-Type: application/octet-stream; name=a.bin\r\n"
                     "Content-Disposition: attachment; filename=a.bin\r\n"
                     "Content-Transfer-Encoding: base64\r\n\r\n" +
                     Base64Lines() + "--xyz--\r\n"),
              std::string(" (") + kTextPartForm +
                  "(\"application\" \"octet-stream\" ((\"name\" \"a.bin\") (\"NAME\" \"a.bin\")) "
                  "NIL NIL \"base64\" 5000 66 NIL NIL NIL) \"mixed\" (\"boundary\" \"xyz\") )");
}

TEST_F(BodyStructureTest, FailedOpenAndDefaultRoots) {
    MimePart root;
    Text out;
    RenderBodyStructure(root, &out);
    EXPECT_STREQ(out.c_str(), " (NIL NIL () NIL NIL \"7bit\" 0 0 NIL NIL NIL)");
    EXPECT_EQ(Render(""),
              " (\"text\" \"plain\" (\"charset\" \"us-ascii\") NIL NIL \"7bit\" 0 0 "
              "NIL NIL NIL)");
}

TEST_F(BodyStructureTest, FieldValues) {
    EXPECT_EQ(Render("Content-Type: image\r\nContent-ID: <p1@x>\r\n"
                     "Content-Transfer-Encoding: BASE64\r\n\r\nR0lG\r\n"),
              " (\"image\" \"\" () \"<p1@x>\" NIL \"BASE64\" 6 1 NIL NIL NIL)");
    EXPECT_EQ(Render("Content-Type: message/rfc822\r\nContent-Transfer-Encoding:\r\n\r\n"
                     "Content-Type: multipart/mixed; boundary=q\r\n\r\n--q\r\n"),
              " (\"message\" \"rfc822\" () NIL NIL \"7bit\" 50 3 NIL NIL NIL)");
}

TEST_F(BodyStructureTest, DispositionParametersFollowContentTypes) {
    EXPECT_EQ(Render("Content-Disposition: inline; filename=x.txt; size=3\r\n"
                     "Content-Type: text/plain; charset=us-ascii\r\n\r\nabc"),
              " (\"text\" \"plain\" ((\"charset\" \"us-ascii\") (\"NAME\" \"x.txt\") (\"size\" "
              "\"3\")) NIL NIL \"7bit\" 5 1 NIL NIL NIL)");
    EXPECT_EQ(Render("Content-Type: a/b\r\nContent-Disposition: attachment; filename=/c\r\n\r\n"),
              " (\"a\" \"b\" (\"NAME\" \"c\") NIL NIL \"7bit\" 0 0 NIL NIL NIL)");
}

TEST_F(BodyStructureTest, QuotesAndBackslashesAreEscaped) {
    // The value of n is a"b\c once its enclosing quotes are gone; "表" ends in the byte 0x5C.
    EXPECT_EQ(Render("Content-Type: text/plain; n=\"a\"b\\c\"; f=\x95\x5c\r\n\r\n"),
              " (\"text\" \"plain\" ((\"n\" \"a\\\"b\\\\c\") (\"f\" \"\x95\x5c\x5c\")) NIL NIL "
              "\"7bit\" 0 0 NIL NIL NIL)");
}

TEST_F(BodyStructureTest, MultipartForms) {
    EXPECT_EQ(Render("Content-Type: multipart/mixed; boundary=b\r\n\r\n--b\r\n--b--\r\n"),
              " (\"NIL\" \"mixed\" (\"boundary\" \"b\") )");
    EXPECT_EQ(Render("Content-Type: MULTIPART/Mixed; boundary=b\r\n\r\n--b\r\n\r\nx\r\n--b--\r\n"),
              " ((\"text\" \"plain\" (\"charset\" \"us-ascii\") NIL NIL \"7bit\" 3 1 NIL NIL NIL)"
              " \"Mixed\" (\"boundary\" \"b\") )");
    EXPECT_EQ(Render("Content-Type: multipartx/y; boundary=b\r\n\r\n--b\r\n\r\nx\r\n--b--\r\n"),
              " (\"multipartx\" \"y\" (\"boundary\" \"b\") NIL NIL \"7bit\" 0 0 NIL NIL NIL)");
}

TEST_F(BodyStructureTest, NestedAlternativeIsOneChildForm) {
    EXPECT_EQ(Render("Content-Type: multipart/mixed; boundary=o\r\n\r\n--o\r\n"
                     "Content-Type: multipart/alternative; boundary=i\r\n\r\n--i\r\n\r\nplain\r\n"
                     "--i\r\nContent-Type: text/html; charset=us-ascii\r\n\r\n<p>\r\n--i--\r\n"
                     "inner epilogue\r\n--i\r\n--o\r\nContent-Type: image/gif; "
                     "name=a.gif\r\n\r\nGIF\r\n--o--\r\n"),
              " (((\"text\" \"plain\" (\"charset\" \"us-ascii\") NIL NIL \"7bit\" 7 1 NIL NIL NIL)"
              "(\"text\" \"html\" (\"charset\" \"us-ascii\") NIL NIL \"7bit\" 5 1 NIL NIL NIL)"
              " \"alternative\" (\"boundary\" \"i\") )"
              "(\"image\" \"gif\" (\"name\" \"a.gif\") NIL NIL \"7bit\" 5 1 NIL NIL NIL)"
              " \"mixed\" (\"boundary\" \"o\") )");
}

}  // namespace
