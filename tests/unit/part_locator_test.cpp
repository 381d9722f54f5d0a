// Tests of part numbers in a message's bytes: the parts of a multipart and of a message that
// is not one, nested multiparts, an attached message and its sections, the line end before a
// boundary, parts that do not exist, LF-only text, and header field selection.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "mime/part_locator.h"

namespace {

const std::string kMixed =
    "Subject: outer\r\n"
    "Content-Type: multipart/mixed; boundary=\"outer\"\r\n"
    "\r\n"
    "preamble\r\n"
    "--outer\r\n"
    "Content-Type: text/plain\r\n"
    "\r\n"
    "first text\r\n"
    "--outer\r\n"
    "Content-Type: multipart/alternative;\r\n"
    "\tboundary=inner\r\n"
    "\r\n"
    "--inner\r\n"
    "\r\n"
    "plain\r\n"
    "--inner\r\n"
    "Content-Type: text/html\r\n"
    "\r\n"
    "<p>html</p>\r\n"
    "--inner--\r\n"
    "--outer\r\n"
    "Content-Type: message/rfc822\r\n"
    "\r\n"
    "Subject: inner mail\r\n"
    "From: a@b\r\n"
    "X-Other: y\r\n"
    "\r\n"
    "inner body\r\n"
    "--outer--\r\n"
    "epilogue\r\n";

struct Found {
    bool ok = false;
    LocatedPart part;
};

Found Locate(const std::string& message, std::vector<int> numbers) {
    Found f;
    f.ok = LocatePart(message.data(), message.size(), numbers, &f.part);
    return f;
}

std::string Bytes(const std::string& message, ByteRange r) {
    return message.substr(r.start, r.length);
}

TEST(PartLocatorTest, PartsOfAMultipartWithoutTheLineEndBeforeBoundaries) {
    Found f = Locate(kMixed, {1});
    ASSERT_TRUE(f.ok);
    EXPECT_EQ(Bytes(kMixed, f.part.contents), "first text");
    EXPECT_EQ(Bytes(kMixed, f.part.mimeHeader), "Content-Type: text/plain\r\n\r\n");
    EXPECT_FALSE(f.part.isMessage);

    // A nested multipart: its contents run from its first boundary to its terminator.
    f = Locate(kMixed, {2});
    ASSERT_TRUE(f.ok);
    EXPECT_EQ(Bytes(kMixed, f.part.contents),
              "--inner\r\n\r\nplain\r\n--inner\r\nContent-Type: text/html\r\n\r\n"
              "<p>html</p>\r\n--inner--");
    f = Locate(kMixed, {2, 1});
    ASSERT_TRUE(f.ok);
    EXPECT_EQ(Bytes(kMixed, f.part.contents), "plain");
    EXPECT_EQ(Bytes(kMixed, f.part.mimeHeader), "\r\n");
    f = Locate(kMixed, {2, 2});
    ASSERT_TRUE(f.ok);
    EXPECT_EQ(Bytes(kMixed, f.part.contents), "<p>html</p>");
}

TEST(PartLocatorTest, AnAttachedMessageAndItsSections) {
    Found f = Locate(kMixed, {3});
    ASSERT_TRUE(f.ok);
    EXPECT_TRUE(f.part.isMessage);
    EXPECT_EQ(Bytes(kMixed, f.part.contents),
              "Subject: inner mail\r\nFrom: a@b\r\nX-Other: y\r\n\r\ninner body");
    EXPECT_EQ(Bytes(kMixed, f.part.messageHeader),
              "Subject: inner mail\r\nFrom: a@b\r\nX-Other: y\r\n\r\n");
    EXPECT_EQ(Bytes(kMixed, f.part.messageText), "inner body");
    // The attached message is not multipart: its body is its part 1, and there is no 2.
    f = Locate(kMixed, {3, 1});
    ASSERT_TRUE(f.ok);
    EXPECT_EQ(Bytes(kMixed, f.part.contents), "inner body");
    EXPECT_FALSE(Locate(kMixed, {3, 2}).ok);
}

TEST(PartLocatorTest, PartsThatDoNotExist) {
    EXPECT_FALSE(Locate(kMixed, {4}).ok);
    EXPECT_FALSE(Locate(kMixed, {0}).ok);
    EXPECT_FALSE(Locate(kMixed, {}).ok);
    // A text part has no parts of its own.
    EXPECT_FALSE(Locate(kMixed, {1, 1}).ok);
    EXPECT_FALSE(Locate(kMixed, {2, 3}).ok);
    // A multipart without a boundary parameter has no parts.
    const std::string noBoundary = "Content-Type: multipart/mixed\r\n\r\n--x\r\n\r\na\r\n--x--\r\n";
    EXPECT_FALSE(Locate(noBoundary, {1}).ok);
}

TEST(PartLocatorTest, AMessageThatIsNotMultipartIsItsOwnPartOne) {
    const std::string plain = "Subject: s\nContent-Type: text/plain\n\nline one\nline two\n";
    Found f = Locate(plain, {1});
    ASSERT_TRUE(f.ok);
    EXPECT_EQ(Bytes(plain, f.part.contents), "line one\nline two\n");
    EXPECT_FALSE(Locate(plain, {2}).ok);
    // No header at all, nor a blank line: no body.
    const std::string headerOnly = "Subject: s\r\n";
    f = Locate(headerOnly, {1});
    ASSERT_TRUE(f.ok);
    EXPECT_EQ(f.part.contents.length, 0u);
}

TEST(PartLocatorTest, LfLinesAndAnUnterminatedMultipart) {
    const std::string message =
        "Content-Type: Multipart/Mixed; BOUNDARY=b; x=\"y;z\"\n\n--b\n\none\n--b  \n\ntwo\n";
    Found f = Locate(message, {1});
    ASSERT_TRUE(f.ok);
    EXPECT_EQ(Bytes(message, f.part.contents), "one");
    // The last part runs to the end when no terminator comes.
    f = Locate(message, {2});
    ASSERT_TRUE(f.ok);
    EXPECT_EQ(Bytes(message, f.part.contents), "two\n");
}

TEST(PartLocatorTest, DigestPartsAreMessagesByDefault) {
    const std::string digest =
        "Content-Type: multipart/digest; boundary=d\r\n\r\n--d\r\n\r\nSubject: one\r\n\r\nbody\r\n"
        "--d--\r\n";
    Found f = Locate(digest, {1});
    ASSERT_TRUE(f.ok);
    EXPECT_TRUE(f.part.isMessage);
    EXPECT_EQ(Bytes(digest, f.part.messageText), "body");
}

// Each attached message holds the next one; the path is followed only to a bounded depth.
TEST(PartLocatorTest, PathsDeeperThanTheLimitNameNothing) {
    std::string nested;
    for (size_t i = 0; i < kMaxPartDepth + 5; ++i)
        nested += "Content-Type: message/rfc822\r\n\r\n";
    nested += "Subject: innermost\r\n\r\nbody";
    std::vector<int> path(kMaxPartDepth, 1);
    Found f = Locate(nested, path);
    ASSERT_TRUE(f.ok);
    EXPECT_TRUE(f.part.isMessage);
    path.push_back(1);
    EXPECT_FALSE(Locate(nested, path).ok);
}

TEST(PartLocatorTest, HeaderFieldSelection) {
    const std::string header =
        "Subject: a\r\nSubject-Extra: b\r\nFrom: x\r\n  folded\r\nsubject : c\r\n\r\nbody\r\n";
    EXPECT_EQ(SelectHeaderFields(header.data(), header.size(), {"SUBJECT"}, false),
              "Subject: a\r\nsubject : c\r\n\r\n");
    EXPECT_EQ(SelectHeaderFields(header.data(), header.size(), {"subject", "from"}, true),
              "Subject-Extra: b\r\n\r\n");
    EXPECT_EQ(SelectHeaderFields(header.data(), header.size(), {"From"}, false),
              "From: x\r\n  folded\r\n\r\n");
    EXPECT_EQ(SelectHeaderFields(header.data(), header.size(), {}, false), "\r\n");
}

}  // namespace
