// Tests of the message-text FETCH items: the RFC822 family, BODY sections with PEEK, partial
// ranges (past the end, overflowing), header field selection with continuation lines, echoed
// sections without value, and the exact mark-as-read requests.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "fake_host.h"
#include "imap/fetch_message.h"

namespace {

namespace fs = std::filesystem;

const std::string kHeader =
    "From: Alice <alice@example.com>\r\nReceived: from a.example\r\n\tby b.example\r\n"
    "Subject: hello\r\n world\r\nTo: bob@example.com\r\n";
const std::string kBody = "Line one\r\nLine two\r\n";
const std::string kWhole = kHeader + "\r\n" + kBody;

std::string Literal(const std::string& value) {
    return " {" + std::to_string(value.size()) + "}\r\n" + value;
}

class BodySectionsTest : public ::testing::Test {
  protected:
    void SetUp() override {
        auto stamp = std::chrono::steady_clock::now().time_since_epoch().count();
        const char* test = ::testing::UnitTest::GetInstance()->current_test_info()->name();
        root_ = fs::temp_directory_path() / ("orv_body_" + std::to_string(stamp) + "_" + test);
        fs::create_directories(root_ / "user" / "work.box");
        host_.SetMailboxDirectory(root_.string() + "/");
        // The host's status line never reaches a client.
        Put("X-Orvex-Status: 0x40000000\r\n" + kWhole);
    }
    void TearDown() override {
        std::error_code ignored;
        fs::remove_all(root_, ignored);
    }

    // Writes the message file and starts from an entry with nothing loaded, as after SELECT.
    void Put(const std::string& bytes) {
        std::ofstream(root_ / "user" / "work.box" / "AAAA0001.orv", std::ios::binary) << bytes;
        Reset();
    }
    void Reset() {
        entry_ = MessageEntry();
        entry_.fileName = "AAAA0001";
        host_.ClearCalls();
    }
    // The keys of the mark requests so far.
    std::vector<std::string> MarkedKeys() const {
        std::vector<std::string> keys;
        for (const FakeHost::Mark& mark : host_.Marks()) {
            EXPECT_EQ(mark.mask, StatusUnread);  // these items only ever mark as read
            EXPECT_EQ(mark.value, 0);
            keys.push_back(mark.key);
        }
        return keys;
    }
    // The answer to one item; with itemWritten, as it follows another item on the line.
    std::string Fetch(const char* item, int itemWritten = 0) {
        StringOutput out;
        RenderItems(host_, entry_, mailRoot_, folder_, Text(item), 0, out);
        return (itemWritten != 0 ? " " : "") + out.text;
    }

    fs::path root_;
    FakeHost host_;
    Text mailRoot_{"user"};
    Text folder_{"work.box"};
    MessageEntry entry_;
};

TEST_F(BodySectionsTest, Rfc822FamilyAndWholeMessage) {
    EXPECT_EQ(Fetch("RFC822"), "RFC822" + Literal(kWhole));
    EXPECT_EQ(Fetch("rfc822.header"), "rfc822.header" + Literal(kHeader + "\r\n"));
    EXPECT_EQ(Fetch("RFC822.TEXT", 1), " RFC822.TEXT" + Literal(kBody));
    EXPECT_EQ(Fetch("RFC822.BOGUS"), "RFC822.BOGUS");
    EXPECT_EQ(Fetch("rfc822.size", 1), " rfc822.size " + std::to_string(kWhole.size()));
    EXPECT_EQ(MarkedKeys(), (std::vector<std::string>(2, "user\\work.box\\AAAA0001")));
    // BODY without a section is the whole message; PEEK is dropped from the name.
    EXPECT_EQ(Fetch("BODY"), "BODY[]" + Literal(kWhole));
    EXPECT_EQ(Fetch("body.peek[]", 1), " body[]" + Literal(kWhole));
}

TEST_F(BodySectionsTest, PartialRanges) {
    const std::string whole = "Subject: abcdefg\r\n\r\n";  // 20 bytes in client form
    Put(whole);
    EXPECT_EQ(Fetch("BODY[]<0.10>"), "BODY[]<0>" + Literal(whole.substr(0, 10)));
    EXPECT_EQ(Fetch("BODY.PEEK[]<5.100>"), "BODY[]<5>" + Literal(whole.substr(5)));
    EXPECT_EQ(Fetch("BODY[]<19.4294967295>"), "BODY[]<19>" + Literal("\n"));
    EXPECT_EQ(Fetch("BODY[]xy<2.3>"), "BODY[]<2>" + Literal("bje"));
    // At or past the end, or no count: the name alone.
    EXPECT_EQ(Fetch("BODY[]<20.5>"), "BODY[]<20>");
    EXPECT_EQ(Fetch("BODY[]<4294967295.4294967295>"), "BODY[]<4294967295>");
    EXPECT_EQ(Fetch("BODY[]<3>"), "BODY[]<3>");
}

TEST_F(BodySectionsTest, HeaderSections) {
    const std::string fromSubject =
        "From: Alice <alice@example.com>\r\nSubject: hello\r\n world\r\n\r\n";
    EXPECT_EQ(Fetch("BODY.PEEK[HEADER.FIELDS (from subject)]"),
              "BODY[HEADER.FIELDS (from subject)]" + Literal(fromSubject));
    EXPECT_EQ(Fetch("BODY.PEEK[HEADER.FIELDS.NOT (RECEIVED  To)]"),
              "BODY[HEADER.FIELDS.NOT (RECEIVED  To)]" + Literal(fromSubject));
    // A name matches every field that begins with it.
    EXPECT_EQ(
        Fetch("BODY.PEEK[HEADER.FIELDS (Re)]"),
        "BODY[HEADER.FIELDS (Re)]" + Literal("Received: from a.example\r\n\tby b.example\r\n\r\n"));
    // A partial range is echoed but not applied.
    EXPECT_EQ(Fetch("BODY.PEEK[header]<0.5>"), "BODY[header]<0>" + Literal(kHeader + "\r\n"));

    Put("Subject: \x8E\x64\x8E\x96\r\nTo: x@example.com\r\n\r\nbody\r\n");
    EXPECT_EQ(Fetch("BODY.PEEK[HEADER.FIELDS (SUBJECT)]"),
              "BODY[HEADER.FIELDS (SUBJECT)]" +
                  Literal("Subject: =?ISO-2022-JP?B?GyRCO0U7dhsoQg==?=\r\n\r\n"));
}

TEST_F(BodySectionsTest, TextAndEchoedSections) {
    EXPECT_EQ(Fetch("BODY.PEEK[TEXT]<0.3>"), "BODY[TEXT]<0>" + Literal(kBody));
    EXPECT_EQ(Fetch("BODY[1]"), "BODY[1]");
    EXPECT_EQ(Fetch("BODY[1.MIME]"), "BODY[1.MIME]");
    EXPECT_TRUE(entry_.headerText.IsEmpty());  // echoed sections load nothing
    Put("Subject: empty\r\n\r\n");
    EXPECT_EQ(Fetch("BODY[TEXT]"), "BODY[TEXT]");
    // A missing message reads as empty: a header section is CR LF alone.
    fs::remove(root_ / "user" / "work.box" / "AAAA0001.orv");
    Reset();
    EXPECT_EQ(Fetch("BODY.PEEK[HEADER]"), "BODY[HEADER]" + Literal("\r\n"));
}

TEST_F(BodySectionsTest, MarkAsReadRequestsPerItem) {
    // Counted on an entry with nothing loaded: a header section asks once while loading the
    // header and once more for the section.
    // clang-format off
    const std::pair<const char*, size_t> cases[] = {
        {"RFC822", 0}, {"RFC822.HEADER", 0}, {"RFC822.TEXT", 1}, {"RFC822.SIZE", 1},
        {"BODY[]", 1}, {"BODY", 1}, {"BODY[]<0.10>", 1}, {"BODY.PEEK[]", 0},
        {"BODY[HEADER]", 2}, {"BODY[HEADER.FIELDS (FROM)]", 2}, {"BODY.PEEK[HEADER]", 0},
        {"BODY.PEEK[HEADER.FIELDS.NOT (A)]", 0}, {"BODY[TEXT]", 1}, {"BODY.PEEK[TEXT]", 0},
        {"BODY[1]", 0}, {"BODY[1.MIME]", 0},
    };
    // clang-format on
    for (const auto& [item, marks] : cases) {
        Reset();
        Fetch(item);
        EXPECT_EQ(MarkedKeys().size(), marks) << item;
    }
    Reset();
    Fetch("BODY.PEEK[HEADER]");
    Fetch("BODY[HEADER]");  // header already loaded
    EXPECT_EQ(MarkedKeys().size(), 1u);
}

}  // namespace
