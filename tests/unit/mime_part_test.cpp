// Tests of the MIME structure parser: field splitting and parameter rules, the header phase
// (folding, defaults, field name prefixes), body sizes in client form, multipart trees with
// preamble and epilogue, and the malformed shapes (no boundary, no terminator, LF-only lines,
// a header cut off by the end of the file, hostile nesting).
#include "mime/mime_part.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "base/file.h"
#include "base/text.h"

namespace fs = std::filesystem;

namespace {

// Shift_JIS test texts; their ISO-2022-JP lengths are noted where they are used.
const char kNihongo[] = "\x93\xfa\x96\x7b\x8c\xea";  // 3 kanji: ESC $ B, 6 bytes, ESC ( B
const char kTenpu[] = "\x93\x59\x95\x74";            // 2 kanji: 10 bytes in client form

// A message file of its own in a temporary directory, removed afterwards.
class MimeFixture : public ::testing::Test {
  protected:
    void SetUp() override {
        marker_ = platform::MakeTempFileName(platform::TempDirectory().c_str(), "mpt");
        dir_ = marker_ + ".d";
        fs::create_directory(dir_);
        path_ = dir_ + "\\msg.orv";
    }
    void TearDown() override {
        std::error_code ec;
        fs::remove_all(dir_, ec);
        fs::remove(marker_, ec);
    }
    // Writes the message and parses it into root_.
    void Parse(const std::string& contents) {
        File f;
        ASSERT_TRUE(f.Open(path_.c_str(), platform::kAccessWrite, platform::kCreateAlways));
        ASSERT_TRUE(f.Write(contents.data(), static_cast<uint32_t>(contents.size())));
        f.Close();
        ASSERT_TRUE(ParseMessageFile(&root_, path_.c_str()));
    }
    std::string marker_;
    std::string dir_;
    std::string path_;
    MimePart root_;
};

// "type/subtype size/lines" and the children in brackets, for comparing whole trees.
std::string Shape(const MimePart& part) {
    std::string s = std::string(part.contentType.type.c_str()) + "/" +
                    part.contentType.subtype.c_str() + " " + std::to_string(part.size) + "/" +
                    std::to_string(part.lines);
    if (part.children.Count() > 0) {
        s += " [";
        for (int i = 0; i < part.children.Count(); ++i)
            s += (i ? ", " : "") + Shape(*part.children.At(i));
        s += "]";
    }
    return s;
}

// "name=value;" for every parameter.
std::string Params(const MimeField& field) {
    std::string s;
    for (int i = 0; i < field.params.Count(); ++i)
        s += std::string(field.params.At(i)->name.c_str()) + "=" +
             field.params.At(i)->value.c_str() + ";";
    return s;
}

TEST(MimeFieldTest, SplitsTypeSubtypeAndParameters) {
    MimeField f;
    ParseField("Content-Type:  text/plain ; charset=\"ISO-2022-JP\"; name= a.txt ;x", &f);
    EXPECT_TRUE(f.present);
    EXPECT_STREQ(f.type.c_str(), "text");
    EXPECT_STREQ(f.subtype.c_str(), "plain ") << "the main value is not trimmed";
    EXPECT_EQ(Params(f), "charset=ISO-2022-JP;name= a.txt;x=;");

    ParseField("Content-Transfer-Encoding: BASE64", &f);
    EXPECT_STREQ(f.type.c_str(), "BASE64");
    EXPECT_STREQ(f.subtype.c_str(), "");
    EXPECT_EQ(Params(f), "") << "a field parsed again starts afresh";

    ParseField("Content-ID: <a/b@c>", &f);
    EXPECT_STREQ(f.type.c_str(), "<a");
    EXPECT_STREQ(f.subtype.c_str(), "b@c>");

    ParseField("Content-Type:", &f);
    EXPECT_TRUE(f.present);
    EXPECT_TRUE(f.type.IsEmpty());
}

TEST(MimeFieldTest, ParameterRules) {
    MimeField f;
    ParseField("Content-Disposition: attachment; FileName=\"a.txt\"; name=\"/x\"; N=\"q\\\"\"", &f);
    EXPECT_STREQ(f.type.c_str(), "attachment");
    EXPECT_EQ(Params(f), "NAME=a.txt;name=x;N=q\\\";") << "no escapes recognised in quotes";

    ParseField("Content-Type: a/b; name=\"x;y\"; lone=\"", &f);
    EXPECT_EQ(Params(f), "name=\"x;y\"=;lone=\";") << "semicolons in quotes still split";

    EXPECT_STREQ(FindParam(f, "NAME").c_str(), "\"x");
    EXPECT_STREQ(FindParam(f, "missing").c_str(), "");
    ParseField("Content-Type: multipart/mixed; boundary=b1; Boundary=b2", &f);
    EXPECT_STREQ(FindParam(f, "BOUNDARY").c_str(), "b1");
}

using MimeHeaderTest = MimeFixture;

TEST_F(MimeHeaderTest, PlainMessageWithoutContentTypeGetsDefault) {
    Parse("From: a@b\r\nX-Orvex-Status: 1\r\n\r\nhello\r\n\r\nbye");
    EXPECT_EQ(Shape(root_), "text/plain 14/3");
    EXPECT_EQ(Params(root_.contentType), "charset=us-ascii;");
    EXPECT_FALSE(root_.contentId.present);
    EXPECT_FALSE(root_.transferEncoding.present);
    EXPECT_FALSE(root_.disposition.present);
}

TEST_F(MimeHeaderTest, EmptyTypeTakesDefaultAndKeepsItsParameters) {
    Parse("Content-Type: ; name=x\r\n\r\n");
    EXPECT_EQ(Shape(root_), "text/plain 0/0");
    EXPECT_EQ(Params(root_.contentType), "name=x;charset=us-ascii;");
}

TEST_F(MimeHeaderTest, FoldedFieldsAndNamePrefixes) {
    Parse(
        "Subject: x\r\ncontent-types: Multipart/mixed;\r\n\tboundary=\"b1\"\r\n"
        "Content-IDs: <id1>\r\nContent-Transfer-Encoding:\r\n  quoted-printable\r\n"
        "Content-Disposition: inline;\r\n filename=\"" +
        std::string(kTenpu) +
        ".txt\"\r\nContent-Description: dropped\r\n\r\n--b1\r\n\r\n\r\n--b1--\r\n");
    EXPECT_STREQ(root_.contentType.type.c_str(), "Multipart");
    EXPECT_STREQ(FindParam(root_.contentType, "Boundary").c_str(), "b1");
    EXPECT_STREQ(root_.contentId.type.c_str(), "<id1>");
    EXPECT_STREQ(root_.transferEncoding.type.c_str(), "quoted-printable");
    EXPECT_STREQ(root_.disposition.type.c_str(), "inline");
    EXPECT_EQ(Params(root_.disposition), "NAME=" + std::string(kTenpu) + ".txt;");
    EXPECT_EQ(Shape(root_), "Multipart/mixed 0/0 [text/plain 2/1]");
}

TEST_F(MimeHeaderTest, FileEndingInsideAFieldCompletesIt) {
    Parse("Content-Type: image/png;\r\n name=a.png");
    EXPECT_EQ(Shape(root_), "image/png 0/0");
    EXPECT_EQ(Params(root_.contentType), "name=a.png;");
}

TEST_F(MimeHeaderTest, MissingAndUnopenableFiles) {
    ASSERT_TRUE(ParseMessageFile(&root_, path_.c_str())) << "a missing file is created empty";
    EXPECT_EQ(Shape(root_), "text/plain 0/0");
    MimePart untouched;
    EXPECT_FALSE(ParseMessageFile(&untouched, (dir_ + "\\no\\such.orv").c_str()));
    EXPECT_FALSE(untouched.contentType.present);
    EXPECT_EQ(untouched.contentType.params.Count(), 0);
}

using MimeBodyTest = MimeFixture;

TEST_F(MimeBodyTest, SizesCountClientFormOfJapaneseLines) {
    // 12+2, 0+2, 17+2 ("テスト test"), 3+2 (cut at the first CR), 4+2 (last line, no LF).
    Parse("Content-Type: text/plain; charset=ISO-2022-JP\r\n\r\n" + std::string(kNihongo) +
          "\r\n\r\n\x83\x65\x83\x58\x83\x67 test\r\nabc\rdef\r\nlast");
    EXPECT_EQ(Shape(root_), "text/plain 46/5");
}

TEST_F(MimeBodyTest, LfOnlyLinesKeepTheirLf) {
    Parse("Content-Type: text/plain\n\n" + std::string(kNihongo) + "\nab\n");
    EXPECT_EQ(Shape(root_), "text/plain 20/2") << "(12+1+2) + (2+1+2)";
    EXPECT_EQ(Params(root_.contentType), "");
}

TEST_F(MimeBodyTest, MixedWithTextAndJapaneseAttachment) {
    Parse(
        "Content-Type: multipart/mixed; boundary=\"=_x\"\r\n\r\n"
        "preamble\r\n--=_x--\r\n--=_x\r\n"
        "Content-Type: text/plain; charset=ISO-2022-JP\r\n\r\n" +
        std::string(kNihongo) +
        "\r\n\r\n--=_x\r\n"
        "Content-Type: application/octet-stream; name=\"" +
        kTenpu + ".bin\"\r\nContent-Disposition: attachment; filename=\"" + kTenpu +
        ".bin\"\r\nContent-Transfer-Encoding: base64\r\n\r\nQUJD\r\n--=_x--\r\n"
        "epilogue\r\n--=_x\r\n");
    EXPECT_EQ(Shape(root_), "multipart/mixed 0/0 [text/plain 16/2, application/octet-stream 6/1]");
    const MimePart& attachment = *root_.children.At(1);
    EXPECT_EQ(Params(attachment.contentType), "name=" + std::string(kTenpu) + ".bin;");
    EXPECT_EQ(Params(attachment.disposition), "NAME=" + std::string(kTenpu) + ".bin;");
    EXPECT_STREQ(attachment.transferEncoding.type.c_str(), "base64");
}

TEST_F(MimeBodyTest, InnerTerminatorEndsOuterListWhenEpilogueMeetsOuterTerminator) {
    Parse(
        "Content-Type: multipart/mixed; boundary=o\r\n\r\n--o\r\n"
        "Content-Type: multipart/related; boundary=i\r\n\r\n--i\r\n\r\nx\r\n--i--\r\n"
        "--o--\r\n--o\r\n\r\nafter the end\r\n");
    EXPECT_EQ(Shape(root_), "multipart/mixed 0/0 [multipart/related 0/0 [text/plain 3/1]]");
}

TEST_F(MimeBodyTest, WithoutBoundaryTheSeparatorIsTwoHyphens) {
    Parse("Content-Type: multipart/mixed\r\n\r\nx\r\n--\r\n\r\n-- x\r\n----\r\nepilogue\r\n");
    EXPECT_EQ(Shape(root_), "multipart/mixed 0/0 [text/plain 6/1]");
}

TEST_F(MimeBodyTest, WithoutBoundaryPreambleRunsToTheEnd) {
    Parse("Content-Type: multipart/mixed\r\n\r\ntext\r\n--b\r\n");
    EXPECT_EQ(Shape(root_), "multipart/mixed 0/0 [text/plain 0/0]");
}

TEST_F(MimeBodyTest, MissingTerminatorKeepsCutOffPart) {
    Parse(
        "Content-Type: multipart/mixed; boundary=b\r\n\r\n--b\r\n\r\none\r\n--b\r\n"
        "Content-Type: multipart/alternative; boundary=c\r\n\r\n--c\r\n\r\ntwo\r\nthree");
    EXPECT_EQ(Shape(root_),
              "multipart/mixed 0/0 [text/plain 5/1, "
              "multipart/alternative 0/0 [text/plain 12/2]]");
}

TEST_F(MimeBodyTest, LfOnlyMultipartEndsWithOneEmptyPart) {
    Parse(
        "Content-Type: multipart/mixed; boundary=b\n\n--b\nContent-Type: text/html\n\nx\n"
        "--b--\n");
    EXPECT_EQ(Shape(root_), "multipart/mixed 0/0 [text/plain 0/0]");
}

TEST_F(MimeBodyTest, TypesThatMerelyBeginWithMultipartHaveChildren) {
    Parse("Content-Type: MULTIPARTX/y; boundary=b\r\n\r\n--b\r\n\r\nz\r\n--b--\r\n");
    EXPECT_EQ(Shape(root_), "MULTIPARTX/y 0/0 [text/plain 3/1]");
}

TEST_F(MimeBodyTest, HostileNestingIsCutIntoLeaves) {
    const int levels = 10000;
    std::string msg;
    for (int i = 0; i < levels; ++i)
        msg += "Content-Type: multipart/mixed; boundary=b" + std::to_string(i) + "\r\n\r\n--b" +
               std::to_string(i) + "\r\n";
    msg += "\r\ndeep\r\n";
    for (int i = levels - 1; i >= 0; --i)
        msg += "--b" + std::to_string(i) + "--\r\n";
    Parse(msg);
    int depth = 0;
    const MimePart* part = &root_;
    while (part->children.Count() > 0) {
        ASSERT_EQ(part->children.Count(), 1);
        part = part->children.First();
        ++depth;
    }
    EXPECT_EQ(depth, kMaxMultipartDepth);
    // The deepest part is read as a leaf up to its parent's terminator: its own separator, the
    // field, blank and separator of every level below, the blank and the deep text, and the
    // terminators of all those levels and its own.
    EXPECT_STREQ(part->contentType.type.c_str(), "multipart");
    const int below = levels - kMaxMultipartDepth - 1;
    EXPECT_EQ(part->lines, static_cast<uint32_t>(1 + 3 * below + 2 + below + 1));
}

}  // namespace
