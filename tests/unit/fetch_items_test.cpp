// Tests of the FETCH item walker and the items answered without message text: the order of the
// item tests, macros and their member names, the UID item in both command forms, separators
// around unknown items, FLAGS from the status word, RFC822.SIZE with its mark-as-read request,
// INTERNALDATE moved to +0900, and the empty values of a message file that cannot be read.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "fake_host.h"
#include "imap/fetch_message.h"
#include "mime/body_structure.h"
#include "mime/mime_part.h"
#include "render/items.h"

namespace {

namespace fs = std::filesystem;

const char kMessage[] =
    "From: Taro <taro@example.jp>\r\nX-Orvex-Status: 40000000\r\nSubject: hi\r\n\r\nbody\r\n";
const std::string kClientForm = "From: Taro <taro@example.jp>\r\nSubject: hi\r\n\r\nbody\r\n";
const char kEnvelope[] =
    "ENVELOPE (NIL \"hi\" ((\"Taro\" NIL \"taro\" \"example.jp\")) ((\"Taro\" NIL \"taro\" "
    "\"example.jp\")) ((\"Taro\" NIL \"taro\" \"example.jp\")) NIL NIL NIL NIL NIL)";
const char kNilEnvelope[] = "ENVELOPE (NIL NIL NIL NIL NIL NIL NIL NIL NIL NIL)";

class FetchItemsTest : public ::testing::Test {
  protected:
    void SetUp() override {
        static int serial = 0;
        root_ = fs::temp_directory_path() /
                ("orv_items_" +
                 std::to_string(std::chrono::steady_clock::now().time_since_epoch().count()) + "_" +
                 std::to_string(++serial));
        fs::create_directories(root_ / "user" / "work.box");
        host_.SetMailboxDirectory(root_.string() + "/");
        entry_.fileName = "AAAA0007";
        entry_.uid = 7;
        entry_.status = StatusUnread;
    }
    void TearDown() override {
        std::error_code ec;
        fs::remove_all(root_, ec);
    }

    fs::path FilePath() const { return root_ / "user" / "work.box" / "AAAA0007.orv"; }
    // Writes the message file, last written at the given UTC time (seconds since 1970).
    void PutMessage(const std::string& bytes, int64_t utcSeconds = 983667723) {
        std::ofstream(FilePath(), std::ios::binary) << bytes;
        using namespace std::chrono;
        // The file clock may count from another epoch than the system clock; the two differ
        // by whole seconds.
        const auto offset = round<seconds>(fs::file_time_type::clock::now().time_since_epoch() -
                                           system_clock::now().time_since_epoch());
        fs::last_write_time(FilePath(),
                            fs::file_time_type(duration_cast<fs::file_time_type::duration>(
                                seconds(utcSeconds) + offset)));
    }
    std::string Render(const char* items, int uidFlag = 0) {
        StringOutput out;
        RenderItems(host_, entry_, mailRoot_, folder_, items, uidFlag, out);
        return out.text;
    }

    fs::path root_;
    FakeHost host_;
    Text mailRoot_{"user"};
    Text folder_{"work.box"};
    MessageEntry entry_;
};

TEST_F(FetchItemsTest, NamesSeparatorsAndUid) {
    PutMessage(kMessage);
    EXPECT_EQ(Render(""), "");
    EXPECT_EQ(Render("", 1), "UID 7");
    EXPECT_EQ(Render("XYZZY FLAGS"), "FLAGS ()");
    EXPECT_EQ(Render("FLAGS XYZZY uid"), "FLAGS () uid 7");
    EXPECT_EQ(Render("flags Uid", 1), "UID 7 flags ()");
    // Only the UID form's own UID item suppresses an explicit one.
    EXPECT_EQ(Render("uid uid"), "uid 7 uid 7");
    EXPECT_EQ(Render("uid UID", 1), "UID 7");
    EXPECT_EQ(Render("internaldate"), "internaldate \"04-Mar-2001 10:02:03 +0900\"");
    EXPECT_EQ(Render("rfc822.size"), "rfc822.size " + std::to_string(kClientForm.size()));
    EXPECT_EQ(Render("Envelope"), "Envelope" + std::string(kEnvelope).substr(8));
    EXPECT_EQ(host_.Marks().size(), 1u) << "only RFC822.SIZE marks as read";
    // Numbers at the ends of their range.
    entry_.uid = 4294967295u;
    EXPECT_EQ(Render("", 1), "UID 4294967295");
    entry_.uid = 0;
    EXPECT_EQ(Render("", 1), "UID 0");
    StringOutput out;
    for (int32_t n : {INT32_MIN, -7, 0, 10, INT32_MAX}) {
        out.WriteNumber(n);
        out.Write(" ");
    }
    EXPECT_EQ(out.text, "-2147483648 -7 0 10 2147483647 ");
}

TEST_F(FetchItemsTest, MacrosExpandInCapitalsAndUidComesOnce) {
    PutMessage(kMessage);
    const std::string size = std::to_string(kClientForm.size());
    const std::string fast =
        "FLAGS () INTERNALDATE \"04-Mar-2001 10:02:03 +0900\" RFC822.SIZE " + size;
    EXPECT_EQ(Render("fast"), fast);
    EXPECT_EQ(Render("All", 1), "UID 7 " + fast + " " + kEnvelope);
    EXPECT_EQ(Render("uid all UID", 1), "UID 7 " + fast + " " + kEnvelope);
    // The BODY member of FULL is the whole message as a literal.
    EXPECT_EQ(Render("full"), fast + " " + kEnvelope + " BODY[] {" + size + "}\r\n" + kClientForm);
}

TEST_F(FetchItemsTest, BodyStructureIsNotABodySection) {
    PutMessage(kMessage);
    MimePart root;
    ASSERT_TRUE(ParseMessageFile(&root, FilePath().c_str()));
    Text structure;
    RenderBodyStructure(root, &structure);
    EXPECT_EQ(Render("bodystructure"), std::string("bodystructure") + structure.c_str());
    EXPECT_TRUE(host_.Marks().empty());
    EXPECT_EQ(Render("FLAGS BODY[HEADER.FIELDS (SUBJECT X)] FLAGS"),
              "FLAGS () BODY[HEADER.FIELDS (SUBJECT X)] {15}\r\nSubject: hi\r\n\r\n FLAGS ()");
    EXPECT_EQ(Render("BODY"),
              "BODY[] {" + std::to_string(kClientForm.size()) + "}\r\n" + kClientForm);
}

TEST_F(FetchItemsTest, FlagsFromStatusWordInFixedOrder) {
    struct Case {
        uint32_t status;
        int recent;
        const char* flags;
    } cases[] = {
        {StatusUnread, 0, "()"},
        {StatusUnread, 1, "(\\Recent)"},
        {0, 0, "(\\Seen)"},
        {0x8000FFFF, 0, "(\\Seen)"},  // bits the server does not interpret
        {StatusUnread | StatusDraft | StatusDeleted, 0, "(\\Deleted \\Draft)"},
        {StatusAnswered | StatusDraft | StatusDeleted, 1,
         "(\\Seen \\Answered \\Deleted \\Draft \\Recent)"},
    };
    for (const Case& c : cases) {
        entry_.status = c.status;
        entry_.recent = c.recent;
        EXPECT_EQ(Render("FLAGS"), std::string("FLAGS ") + c.flags) << std::hex << c.status;
    }
    EXPECT_TRUE(host_.Marks().empty());
}

TEST_F(FetchItemsTest, SizeLoadsClientFormAndMarksRead) {
    PutMessage("Subject: x\nX-orvex-status: 1\n\nline\n");
    EXPECT_EQ(Render("RFC822.SIZE"), "RFC822.SIZE 18");  // "Subject: x\n" CR LF "line\n"
    ASSERT_EQ(host_.Marks().size(), 1u);
    EXPECT_EQ(host_.Marks()[0], (FakeHost::Mark{"user\\work.box\\AAAA0007", 1073741824, 0}));
    EXPECT_EQ(entry_.status, StatusUnread) << "FLAGS stay as at SELECT";
}

TEST_F(FetchItemsTest, InternalDateIsMovedToPlusNine) {
    struct Case {
        int64_t utc;
        const char* date;
    } cases[] = {
        {983667723, "04-Mar-2001 10:02:03"},  // 2001-03-04 01:02:03
        {978292800, "01-Jan-2001 05:00:00"},  // 2000-12-31 20:00:00
        {951780600, "29-Feb-2000 08:30:00"},  // 2000-02-28 23:30:00
        {983372400, "01-Mar-2001 00:00:00"},  // 2001-02-28 15:00:00
        {930754799, "30-Jun-1999 23:59:59"},  // 1999-06-30 14:59:59
    };
    for (const Case& c : cases) {
        PutMessage("", c.utc);
        EXPECT_EQ(Render("INTERNALDATE"), std::string("INTERNALDATE \"") + c.date + " +0900\"");
    }
}

TEST_F(FetchItemsTest, UnreadableMessageGivesEmptyValues) {
    const std::string items = "INTERNALDATE ENVELOPE RFC822.SIZE BODYSTRUCTURE";
    // A missing file in its folder is created empty by the attempt to read it.
    std::string got = Render(items.c_str());
    EXPECT_EQ(got.find(std::string(kNilEnvelope) + " RFC822.SIZE 2 BODYSTRUCTURE ("), 42u) << got;
    EXPECT_TRUE(fs::exists(FilePath()));

    const std::string noTime = "INTERNALDATE \"01-Jan-1970 09:00:00 +0900\" " +
                               std::string(kNilEnvelope) + " RFC822.SIZE 2 BODYSTRUCTURE (";
    fs::remove(FilePath());
    fs::create_directory(FilePath());  // a directory where the file should be
    EXPECT_EQ(Render(items.c_str()).rfind(noTime, 0), 0u);
    mailRoot_ = "nobody";  // no folder directory: nothing can be created
    EXPECT_EQ(Render(items.c_str()).rfind(noTime, 0), 0u);
    folder_ = std::string(300, 'f').c_str();  // a path over the platform's limit
    EXPECT_EQ(Render(items.c_str()).rfind(noTime, 0), 0u);
}

}  // namespace
