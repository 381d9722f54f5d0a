// Tests of extended SEARCH: reading criteria (nesting, sets, arguments, errors, charsets),
// evaluating them on a folder of messages (flags, sets, sizes, dates, header and body strings in
// Shift_JIS, encoded words and MIME parts), and the file-backed subject, which must agree with
// FETCH on sizes and dates and must never mark a message as read.
#include "imap/search_program.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "fake_host.h"
#include "imap/search_subject.h"
#include "mime/message_text.h"
#include "render/internal_date.h"
#include "store/folder_flags.h"
#include "store/message_entry.h"

namespace {

namespace fs = std::filesystem;

// A host-style message in Shift_JIS: 山田太郎, 会議の件 / について (folded),
// 本文です。Ｍｅｅｔｉｎｇ.
const std::string kMessageA =
    "X-Orvex-Status: 40000000\r\n"
    "From: \x8E\x52\x93\x63\x91\xBE\x98\x59 <yamada@example.jp>\r\n"
    "To: suzuki@example.jp\r\n"
    "Cc: Tanaka <tanaka@example.jp>\r\n"
    "Subject: \x89\xEF\x8B\x63\x82\xCC\x8C\x8F\r\n"
    " \x82\xC9\x82\xC2\x82\xA2\x82\xC4\r\n"
    "Date: Sun, 4 Mar 2001 10:00:00 +0900\r\n"
    "X-Mailer: Orvex\r\n"
    "\r\n"
    "\x96\x7B\x95\xB6\x82\xC5\x82\xB7\x81\x42"
    "\x82\x6C\x82\x85\x82\x85\x82\x94\x82\x89\x82\x8E\x82\x87 at 10.\r\n";

// The same names in encoded words, a base64 UTF-8 text part and an attachment.
const std::string kMessageB =
    "From: =?ISO-2022-JP?B?GyRCOzNFREJATzobKEI=?= <yamada@example.jp>\r\n"
    "Subject: =?UTF-8?B?5Lya6K2w44Gu5Lu2?=\r\n"
    "Date: 5 Mar 01 09:00 -0500\r\n"
    "Bcc: boss@example.jp\r\n"
    "Content-Type: multipart/mixed;\r\n boundary=\"b1\"\r\n"
    "\r\n"
    "preamble secret\r\n"
    "--b1\r\n"
    "Content-Type: text/plain; charset=utf-8\r\n"
    "Content-Transfer-Encoding: base64\r\n"
    "\r\n"
    "SGVsbG8g5pel5pys6KqeIHdvcmxkDQo=\r\n"
    "--b1\r\n"
    "Content-Type: application/octet-stream\r\n"
    "Content-Transfer-Encoding: BASE64\r\n"
    "\r\n"
    "YXR0YWNobWVudC1vbmx5LXdvcmQ=\r\n"
    "--b1--\r\n";

// LF line ends, a Date that cannot be read, quoted-printable Latin-1.
const std::string kMessageC =
    "From: bob@example.com\n"
    "Date: yesterday\n"
    "Subject: =?iso-8859-1?q?Caf=E9?=\n"
    "Content-Type: text/plain; charset=iso-8859-1\n"
    "Content-Transfer-Encoding: quoted-printable\n"
    "\n"
    "Un caf=E9 cr=\n"
    "=E8me\n";

// Quotes bytes as a client's literal reaches the criteria text.
std::string Quoted(const std::string& bytes) {
    std::string out = "\"";
    for (char c : bytes) {
        if (c == '"' || c == '\\')
            out.push_back('\\');
        out.push_back(c);
    }
    return out + "\"";
}

class FakeSubject : public SearchSubject {
  public:
    FakeSubject(uint32_t sequence, uint32_t uid, uint32_t status, bool recent, uint32_t size,
                int32_t date, const std::string& raw, const std::string& kept = "")
        : sequence_(sequence),
          uid_(uid),
          status_(status),
          recent_(recent),
          size_(size),
          date_(date),
          text_(raw),
          kept_(kept) {}
    uint32_t Sequence() const override { return sequence_; }
    uint32_t Uid() const override { return uid_; }
    uint32_t Status() const override { return status_; }
    bool HasKeptFlag(const std::string& flag) const override {
        return HasFlag(kept_.data(), kept_.size(), flag);
    }
    bool Recent() const override { return recent_; }
    uint64_t ModSeq() const override { return modSeq; }
    uint32_t Size() override { return size_; }
    int32_t InternalDate() override { return date_; }
    MessageText& Content() override {
        ++contentCalls;
        return text_;
    }
    int contentCalls = 0;
    uint64_t modSeq = 0;

  private:
    uint32_t sequence_, uid_, status_;
    bool recent_;
    uint32_t size_;
    int32_t date_;
    MessageText text_;
    std::string kept_;
};

SearchProgram::Result ParseOnly(const std::string& criteria) {
    SearchProgram program;
    return program.Parse(criteria.data(), criteria.size());
}

class SearchFolderTest : public ::testing::Test {
  protected:
    void SetUp() override {
        // seq uid status recent size internal-date text kept-flags
        folder_.emplace_back(1, 1, StatusUnread, true, 100, 20010303, kMessageA);
        folder_.emplace_back(2, 2, 0, false, 200, 20010304, kMessageB, "\\Flagged $Junk");
        folder_.emplace_back(3, 5, StatusAnswered | StatusUnread, false, 300, 20010304, kMessageC,
                             "$Junky");
        folder_.emplace_back(4, 10, StatusDeleted | StatusDraft, false, 400, 20010305, "");
        folder_.emplace_back(5, 20, StatusAnswered, true, 500, 20020101, "", "$Work $junk");
    }
    std::vector<uint32_t> Search(const std::string& criteria) {
        SearchProgram program;
        EXPECT_EQ(program.Parse(criteria.data(), criteria.size()), SearchProgram::kOk) << criteria;
        program.Bind(static_cast<uint32_t>(folder_.size()), 21);
        std::vector<uint32_t> found;
        for (FakeSubject& s : folder_) {
            if (program.Matches(s))
                found.push_back(s.Sequence());
        }
        return found;
    }
    std::vector<FakeSubject> folder_;
};

using Found = std::vector<uint32_t>;

// The folder tests below parse most of the grammar; these are the forms they do not use.
TEST(SearchParseTest, AcceptsTheGrammar) {
    const char* const good[] = {
        "(OR FROM a NOT (SEEN DELETED)) 1:3,5:*",
        "LARGER 10 SMALLER 4294967295",
        "SINCE 1-Feb-2001 BEFORE \"04-mar-2001\" ON 29-Feb-2000",
        "charset \"shift_jis\" BODY x TEXT y BCC \"\" CC c TO t",
        "((ALL))(NEW)OLD",
        "SUBJECT \"a \\\"quoted\\\" \\\\ word\"",
        "MODSEQ 0 MODSEQ \"/flags/\\\\seen\" priv 9223372036854775807",
    };
    for (const char* criteria : good)
        EXPECT_EQ(ParseOnly(criteria), SearchProgram::kOk) << criteria;
}

TEST(SearchParseTest, RejectsMalformedCriteria) {
    const char* const bad[] = {
        "",
        "FROM",
        "NOT",
        "ALL)",
        "()",
        "1:2:3",
        "0",
        "1,,2",
        "01",
        "1:x",
        "LARGER -1",
        "LARGER 4294967296",
        "LARGER",
        "\"ALL\"",
        "HEADER \"\" x",
        "HEADER Subject",
        "SUBJECT \"open",
        "CHARSET",
        "CHARSET UTF-8",
        "SINCE 4-Foo-2001",
        "SINCE 32-Jan-2001",
        "SINCE 4-Mar-01",
        "SINCE 4-Mar-2001x",
        "SINCE 0-Mar-2001",
        "BEFORE (ALL)",
        "ALL\x01",
        "MODSEQ",
        "MODSEQ 9223372036854775808",
        "MODSEQ \"/flags/x\" other 5",
        "MODSEQ \"/flags/x\" 5",
    };
    for (const char* criteria : bad)
        EXPECT_EQ(ParseOnly(criteria), SearchProgram::kBadSyntax) << criteria;
    // Nesting is limited, so a hostile line cannot exhaust the stack.
    std::string deepNot;
    std::string deepGroup;
    for (int i = 0; i < 5000; ++i) {
        deepNot += "NOT ";
        deepGroup += "(";
    }
    EXPECT_EQ(ParseOnly(deepNot + "ALL"), SearchProgram::kBadSyntax);
    EXPECT_EQ(ParseOnly(deepGroup + "ALL"), SearchProgram::kBadSyntax);
    EXPECT_EQ(ParseOnly("NOT NOT NOT NOT NOT NOT NOT NOT ALL"), SearchProgram::kOk);
}

TEST(SearchParseTest, ModSeqKeyComparesAtOrAbove) {
    SearchProgram program;
    const std::string criteria = "OR MODSEQ 7 MODSEQ \"/flags/\\\\answered\" all 9";
    ASSERT_EQ(program.Parse(criteria.data(), criteria.size()), SearchProgram::kOk);
    EXPECT_TRUE(program.UsesModSeq());
    FakeSubject subject(1, 1, 0, false, 10, 20010304, "Subject: x\r\n\r\n");
    for (uint64_t modSeq : {6u, 7u, 8u}) {
        subject.modSeq = modSeq;
        EXPECT_EQ(program.Matches(subject), modSeq >= 7) << modSeq;
    }
    ASSERT_EQ(program.Parse("ALL", 3), SearchProgram::kOk);
    EXPECT_FALSE(program.UsesModSeq());
}

TEST(SearchParseTest, UnsupportedCharsets) {
    EXPECT_EQ(ParseOnly("CHARSET \"\" ALL"), SearchProgram::kBadCharset);
    // The charset is checked before the keys are read.
    EXPECT_EQ(ParseOnly("CHARSET EUC-KR FOO"), SearchProgram::kBadCharset);
    for (const char* name : {"us-ascii", "UTF-8", "iso-2022-jp", "Shift_JIS", "CP932"})
        EXPECT_EQ(ParseOnly(std::string("CHARSET ") + name + " ALL"), SearchProgram::kOk);
}

TEST(SearchParseTest, StringsWithoutAUsableCharset) {
    // Without a charset, and with US-ASCII, bytes that are not UTF-8 are taken one by one.
    std::u16string s;
    ASSERT_TRUE(SearchString("", "\x8E\x52", &s));
    EXPECT_EQ(s, std::u16string(u"\u008er"));
    ASSERT_TRUE(SearchString("US-ASCII", "\xE5\xB1\xB1", &s));
    EXPECT_EQ(s, std::u16string(u"\u00e5\u00b1\u00b1"));
}

TEST_F(SearchFolderTest, FlagsAndSets) {
    EXPECT_EQ(Search("ALL"), (Found{1, 2, 3, 4, 5}));
    EXPECT_EQ(Search("NEW"), (Found{1}));
    EXPECT_EQ(Search("OLD"), (Found{2, 3, 4}));
    EXPECT_EQ(Search("RECENT"), (Found{1, 5}));
    EXPECT_EQ(Search("SEEN"), (Found{2, 4, 5}));
    EXPECT_EQ(Search("ANSWERED"), (Found{3, 5}));
    EXPECT_EQ(Search("deleted"), (Found{4}));
    EXPECT_EQ(Search("DRAFT"), (Found{4}));
    // The kept flags: keywords whole and without regard to case.
    EXPECT_EQ(Search("FLAGGED"), (Found{2}));
    EXPECT_EQ(Search("UNFLAGGED KEYWORD $JUNK"), (Found{5}));
    EXPECT_EQ(Search("KEYWORD $Jun"), Found{});
    EXPECT_EQ(Search("KEYWORD \\flagged"), (Found{2}));
    // (seen and answered) or not (recent or deleted)
    EXPECT_EQ(Search("OR (SEEN ANSWERED) NOT OR RECENT DELETED"), (Found{2, 3, 5}));
    EXPECT_EQ(Search("NOT (UNSEEN OR DRAFT RECENT)"), (Found{2, 3, 4, 5}));
    EXPECT_EQ(Search("4:*"), (Found{4, 5}));
    EXPECT_EQ(Search("1,3,5 NOT 3"), (Found{1, 5}));
    EXPECT_EQ(Search("UID 5:10"), (Found{3, 4}));
    EXPECT_EQ(Search("UID 2,20 OR 1 2"), (Found{2}));
}

TEST_F(SearchFolderTest, SizesAndDates) {
    EXPECT_EQ(Search("LARGER 200"), (Found{3, 4, 5}));
    EXPECT_EQ(Search("SMALLER 200"), (Found{1}));
    EXPECT_EQ(Search("BEFORE 4-Mar-2001"), (Found{1}));
    EXPECT_EQ(Search("SINCE 4-Mar-2001"), (Found{2, 3, 4, 5}));
    // The sent date is the Date field's own day; one that cannot be read never matches.
    EXPECT_EQ(Search("SENTBEFORE 5-Mar-2001"), (Found{1}));
    EXPECT_EQ(Search("SENTSINCE 5-Mar-2001"), (Found{2}));
    EXPECT_EQ(Search("NOT SENTSINCE 1-Jan-1900"), (Found{3, 4, 5}));
}

TEST_F(SearchFolderTest, HeaderStringsInEveryCharset) {
    // 山田 and 会議の件 as UTF-8 and Shift_JIS criteria find both the Shift_JIS header and the
    // encoded words (ISO-2022-JP criteria are tested end to end).
    EXPECT_EQ(Search("FROM 山田"), (Found{1, 2}));
    EXPECT_EQ(Search("CHARSET UTF-8 SUBJECT \"会議の件\""), (Found{1, 2}));
    EXPECT_EQ(Search("CHARSET SHIFT_JIS SUBJECT " + Quoted("\x89\xEF\x8B\x63")), (Found{1, 2}));
    // A continuation line is part of its field, joined with its blank.
    EXPECT_EQ(Search("SUBJECT \"件 につ\""), (Found{1}));
    // Without regard to case; the address part too.
    EXPECT_EQ(Search("FROM YAMADA@Example"), (Found{1, 2}));
    EXPECT_EQ(Search("SUBJECT café"), (Found{3}));
    EXPECT_EQ(Search("TO SUZUKI CC tanaka"), (Found{1}));
    EXPECT_EQ(Search("BCC boss"), (Found{2}));
    EXPECT_EQ(Search("HEADER x-mailer ORV"), (Found{1}));
    EXPECT_EQ(Search("HEADER Content-Type \"\""), (Found{2, 3}));
    // The host's status line is no field and no text.
    EXPECT_EQ(Search("HEADER X-Orvex-Status \"\""), Found{});
    EXPECT_EQ(Search("TEXT 40000000"), Found{});
}

TEST_F(SearchFolderTest, BodyAndText) {
    EXPECT_EQ(Search("BODY 本文です"), (Found{1}));
    EXPECT_EQ(Search("BODY \"日本語 WORLD\""), (Found{2}));
    EXPECT_EQ(Search("BODY crème"), (Found{3}));
    // Full-width letters fold among themselves.
    EXPECT_EQ(Search("BODY ｍｅｅｔｉｎｇ"), (Found{1}));
    // Attachments and the preamble are not text; header fields are not body.
    EXPECT_EQ(Search("BODY attachment-only-word"), Found{});
    EXPECT_EQ(Search("BODY secret"), Found{});
    EXPECT_EQ(Search("BODY yamada"), Found{});
    EXPECT_EQ(Search("TEXT 本文"), (Found{1}));
    EXPECT_EQ(Search("TEXT \"x-mailer: orvex\""), (Found{1}));
}

TEST_F(SearchFolderTest, FlagKeysDoNotReadTheMessage) {
    Search("OR SEEN NOT 2:3 UID 1:* LARGER 0 BEFORE 1-Jan-2100");
    for (const FakeSubject& s : folder_)
        EXPECT_EQ(s.contentCalls, 0);
    Search("SENTON 1-Jan-2000");
    for (const FakeSubject& s : folder_)
        EXPECT_GT(s.contentCalls, 0);
}

TEST(MessageDateTest, Rfc2822Dates) {
    EXPECT_EQ(ParseMessageDate(u"Tue, 4 Mar 2001 10:00:00 +0900"), 20010304);
    EXPECT_EQ(ParseMessageDate(u"  tue ,04 mar 2001"), 20010304);
    EXPECT_EQ(ParseMessageDate(u"31 Dec 99 23:59 -0500"), 19991231);
    EXPECT_EQ(ParseMessageDate(u"1 Jan 49"), 20490101);
    EXPECT_EQ(ParseMessageDate(u"1 Jan 101"), 20010101);
    EXPECT_EQ(ParseMessageDate(u"4 March 2001"), 20010304);
    for (const char16_t* bad : {u"", u"yesterday", u"Tue 4 Mar 2001", u"4 Foo 2001", u"32 Mar 2001",
                                u"4 Mar", u"4 Mar 20011", u"123 Mar 2001"}) {
        EXPECT_EQ(ParseMessageDate(bad), 0);
    }
}

// The file-backed subject against a fake host that records every mark-as-read request.
class EntrySubjectTest : public ::testing::Test {
  protected:
    void SetUp() override {
        auto stamp = std::chrono::steady_clock::now().time_since_epoch().count();
        const char* test = ::testing::UnitTest::GetInstance()->current_test_info()->name();
        root_ = fs::temp_directory_path() / ("orv_search_" + std::to_string(stamp) + "_" + test);
        fs::create_directories(root_ / "user" / "work.box");
        host_.SetMailboxDirectory(root_.string() + "/");
    }
    void TearDown() override {
        std::error_code ignored;
        fs::remove_all(root_, ignored);
    }
    // Writes a message file last written at the given UTC time (seconds since 1970).
    void Put(const char* name, const std::string& bytes, int64_t utcSeconds = 983667723) {
        const fs::path path = root_ / "user" / "work.box" / (std::string(name) + ".orv");
        std::ofstream(path, std::ios::binary) << bytes;
        using namespace std::chrono;
        const auto offset = round<seconds>(fs::file_time_type::clock::now().time_since_epoch() -
                                           system_clock::now().time_since_epoch());
        fs::last_write_time(path, fs::file_time_type(duration_cast<fs::file_time_type::duration>(
                                      seconds(utcSeconds) + offset)));
    }
    MessageEntry Entry(const char* name) {
        MessageEntry entry;
        entry.fileName = name;
        return entry;
    }
    fs::path root_;
    FakeHost host_;
    Text mailRoot_{"user"};
    Text folder_{"work.box"};
};

TEST_F(EntrySubjectTest, SizeAgreesWithTheLoadedClientFormAndMarksNothing) {
    const std::string noSeparator = "Subject: \x89\xEF\x8B\x63\r\nFrom: a\r\n";
    const std::string lowerStatus = "x-orvex-status: 0\nSubject: a\n\n\x96\x7B\x95\xB6\n";
    const std::string files[] = {kMessageA, kMessageB, kMessageC, noSeparator, lowerStatus, ""};
    int n = 0;
    for (const std::string& bytes : files) {
        const std::string name = "AAAA000" + std::to_string(++n);
        Put(name.c_str(), bytes);
        MessageEntry searched = Entry(name.c_str());
        EntrySearchSubject subject(host_, searched, 1, mailRoot_, folder_, Mode::kExtended);
        const uint32_t size = subject.Size();
        subject.Content().BodyContains(u"x");
        // The search leaves the cached client form alone.
        EXPECT_TRUE(searched.headerText.IsEmpty());
        EXPECT_TRUE(searched.bodyText.IsEmpty());
        MessageEntry fetched = Entry(name.c_str());
        LoadMessage(host_, fetched, mailRoot_, folder_, true, LoadPolicy{Mode::kExtended, true});
        EXPECT_EQ(size, static_cast<uint32_t>(fetched.headerText.Length() + 2 +
                                              fetched.bodyText.Length()))
            << name;
    }
    EXPECT_TRUE(host_.Marks().empty());
    // A missing file is an empty message, and is not created.
    MessageEntry missing = Entry("AAAA0099");
    EntrySearchSubject subject(host_, missing, 1, mailRoot_, folder_, Mode::kExtended);
    EXPECT_EQ(subject.Size(), 2u);
    EXPECT_FALSE(subject.Content().FieldContains("From", u""));
    EXPECT_FALSE(fs::exists(root_ / "user" / "work.box" / "AAAA0099.orv"));
}

TEST_F(EntrySubjectTest, SizeOfALoadedEntryComesFromTheEntry) {
    Put("AAAA0001", kMessageA);
    MessageEntry entry = Entry("AAAA0001");
    entry.headerText = "H\r\n";
    entry.bodyText = "B\r\n";
    EntrySearchSubject subject(host_, entry, 1, mailRoot_, folder_, Mode::kExtended);
    EXPECT_EQ(subject.Size(), 8u);
}

TEST_F(EntrySubjectTest, InternalDateIsTheDayInternalDateShows) {
    // 20:00 UTC on 4 March 2001 is already 5 March in +0900.
    Put("AAAA0001", kMessageA, 983736000);
    MessageEntry entry = Entry("AAAA0001");
    EntrySearchSubject subject(host_, entry, 7, mailRoot_, folder_, Mode::kExtended);
    EXPECT_EQ(subject.InternalDate(), 20010305);
    EXPECT_EQ(subject.Sequence(), 7u);
    // The header is read from the file, decoded.
    EXPECT_TRUE(subject.Content().FieldContains("subject", u"会議の件"));
    EXPECT_TRUE(host_.Marks().empty());
}

TEST(InternalDateZoneTest, DaysRollOverIntoTheZoneOfTheLabel) {
    // UTC before 15:00 stays on its day; later it is the next day, across months, a leap day
    // and the year's end.
    const struct {
        platform::SystemTime utc;
        int32_t day;
        uint16_t hour;
    } cases[] = {{{2001, 3, 0, 3, 14, 59, 59, 0}, 20010303, 23},
                 {{2001, 3, 0, 3, 15, 0, 0, 0}, 20010304, 0},
                 {{2000, 2, 0, 28, 20, 1, 2, 0}, 20000229, 5},
                 {{2001, 2, 0, 28, 20, 1, 2, 0}, 20010301, 5},
                 {{1999, 12, 0, 31, 23, 59, 59, 0}, 20000101, 8}};
    for (const auto& c : cases) {
        const platform::SystemTime zoned = InternalDateZone(c.utc);
        EXPECT_EQ(DayNumber(zoned), c.day);
        EXPECT_EQ(zoned.hour, c.hour);
        EXPECT_EQ(zoned.minute, c.utc.minute);
        EXPECT_EQ(zoned.second, c.utc.second);
    }
}

}  // namespace
