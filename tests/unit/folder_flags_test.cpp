// Tests of the flags the extended mode keeps itself: which flags a client's list holds for it,
// adding and removing them, the record's text, and a folder's record as sessions use it.
#include "store/folder_flags.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "fake_host.h"
#include "store/mailbox.h"

namespace {

namespace fs = std::filesystem;

TEST(KeptFlagListTest, WhatIsKeptAddedAndRemoved) {
    std::string kept;
    EXPECT_EQ(ClassifyFlag("\\fLaGgEd", 8, &kept), FlagKind::kKept);
    EXPECT_EQ(kept, "\\Flagged");
    // Flags of the system that are not kept are passed over, whatever they hold.
    for (const char* flag : {"\\Seen", "\\Unknown", "\\\\Answered"})
        EXPECT_EQ(ClassifyFlag(flag, std::strlen(flag), &kept), FlagKind::kSystem) << flag;
    for (const char* flag : {"", "a]b", "\"x\"", "a{1}", "\x80x", "a\\b", "a\x01"})
        EXPECT_EQ(ClassifyFlag(flag, std::strlen(flag), &kept), FlagKind::kMalformed) << flag;
    const std::string longest(kMaxKeywordLength, 'k');
    EXPECT_EQ(ClassifyFlag(longest.data(), longest.size(), &kept), FlagKind::kKept);
    EXPECT_EQ(ClassifyFlag((longest + "k").data(), longest.size() + 1, &kept),
              FlagKind::kMalformed);

    // \Flagged goes first; a keyword is there once, in the spelling it came in first.
    const FlagList all = AddFlags({"$A"}, {"$B", "\\Flagged", "$a", "$b"});
    EXPECT_EQ(all, (FlagList{"\\Flagged", "$A", "$B"}));
    EXPECT_EQ(JoinFlags(all), "\\Flagged $A $B");
    EXPECT_EQ(SplitFlagText("\\Flagged $A $B"), all);
    EXPECT_EQ(RemoveFlags(all, {"\\FLAGGED", "$b", "$C"}), (FlagList{"$A"}));
    EXPECT_TRUE(HasFlag("\\Flagged $Junk", 14, "$JUNK"));
    EXPECT_FALSE(HasFlag("\\Flagged $Junk", 14, "$Jun"));
    EXPECT_FALSE(HasFlag("", 0, "\\Flagged"));
}

TEST(FlagRecordTextTest, RoundTripAndDamagedTextRefused) {
    FlagRecord record;
    record.validity = 7;
    record.flags = {{3, "\\Flagged $Work"}, {10001, "Junk"}};
    const std::string text = FormatFlagRecord(record);
    EXPECT_EQ(text, "Imap4.flg 1\nvalidity 7 count 2\n3 \\Flagged $Work\n10001 Junk\nend\n");
    FlagRecord back;
    ASSERT_TRUE(ParseFlagRecord(text, &back));
    EXPECT_EQ(FormatFlagRecord(back), text);
    // Cut anywhere (a file written half), or anything the server never writes.
    for (size_t cut = 0; cut < text.size(); ++cut)
        EXPECT_FALSE(ParseFlagRecord(text.substr(0, cut), &back)) << cut;
    for (const char* damaged : {
             "Imap4.flg 1\nvalidity 7 count 2\n10001 Junk\n3 $Work\nend\n",  // not ascending
             "Imap4.flg 1\nvalidity 7 count 1\n3 \\flagged\nend\n",          // not as kept
             "Imap4.flg 1\nvalidity 7 count 1\n3 $Work \\Flagged\nend\n",    // out of order
             "Imap4.flg 1\nvalidity 7 count 1\n3 $Work $work\nend\n",        // twice
             "Imap4.flg 1\nvalidity 7 count 1\n3 \\Seen\nend\n",             // the host's
             "Imap4.flg 1\nvalidity 7 count 1\n0 Junk\nend\n",               // UID 0
             "Imap4.flg 1\nvalidity 0 count 0\nend\n",
             "Imap4.flg 1\nvalidity 7 count 2\n3 Junk\nend\n",
             "Imap4.flg 1\nvalidity 7 count 0\nend\nmore",
             "Imap4.flg 2\nvalidity 7 count 0\nend\n",
         })
        EXPECT_FALSE(ParseFlagRecord(damaged, &back)) << damaged;
}

// A folder's record in a mailbox directory of its own, as the sessions of one process see it.
class FolderFlagsTest : public ::testing::Test {
  protected:
    void SetUp() override {
        static int serial = 0;
        const auto stamp = std::chrono::steady_clock::now().time_since_epoch().count();
        root_ = fs::temp_directory_path() /
                ("orv_flags_" + std::to_string(stamp) + "_" + std::to_string(++serial));
        fs::create_directories(root_ / "user" / "work.box");
        host_.SetMailboxDirectory(root_.string() + "/");
    }
    void TearDown() override {
        std::error_code ec;
        fs::remove_all(root_, ec);
    }
    fs::path RecordPath() const { return root_ / "user" / "work.box" / "Imap4.flg"; }
    void PutRecord(const std::string& bytes) {
        std::ofstream f(RecordPath(), std::ios::binary | std::ios::trunc);
        f << bytes;
    }
    std::string Record() const {
        std::ifstream f(RecordPath(), std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(f), {});
    }
    FolderFlags* Flags() { return FolderFlags::Of(host_, "user", "work.box"); }
    // An index of the UIDs, its entries with the flags Attach gives them.
    std::vector<std::string> Attach(uint32_t validity, uint32_t next,
                                    const std::vector<uint32_t>& uids, bool complete = true) {
        MessageIndex index;
        for (uint32_t uid : uids) {
            MessageEntry* entry = new MessageEntry;
            entry->uid = uid;
            entry->keptFlags = "stale";
            index.Append(entry);
        }
        Flags()->Attach(validity, next, index, complete);
        std::vector<std::string> flags;
        for (int i = 0; i < index.Count(); ++i)
            flags.push_back(index.At(i)->keptFlags.c_str());
        return flags;
    }

    fs::path root_;
    FakeHost host_;
};

using Strings = std::vector<std::string>;

TEST_F(FolderFlagsTest, ReadAtFirstUseAndForgottenWithTheirMessages) {
    EXPECT_EQ(FolderFlags::Of(host_, "user", "gone.box"), nullptr);
    PutRecord("Imap4.flg 1\nvalidity 7 count 3\n1 \\Flagged\n3 $Work\n9 $Old\nend\n");
    // UID 9 was given after this index was read (it is not below next): it stays.
    EXPECT_EQ(Attach(7, 5, {1, 2, 3}), (Strings{"\\Flagged", "", "$Work"}));
    EXPECT_EQ(Flags()->Keywords(7), (Strings{"$Old", "$Work"}));
    // A short read forgets nothing; a whole one forgets what the folder lost.
    EXPECT_EQ(Attach(7, 10, {1}, false), (Strings{"\\Flagged"}));
    EXPECT_EQ(Flags()->FlagsOf(7, 3), "$Work");
    EXPECT_EQ(Attach(7, 10, {1}), (Strings{"\\Flagged"}));
    EXPECT_EQ(Record(), "Imap4.flg 1\nvalidity 7 count 1\n1 \\Flagged\nend\n");
    EXPECT_EQ(Flags()->Keywords(7), Strings{});
    // Under another UIDVALIDITY the UIDs name other messages.
    EXPECT_EQ(Attach(8, 10, {1}), (Strings{""}));
    EXPECT_EQ(Record(), "Imap4.flg 1\nvalidity 8 count 0\nend\n");
}

TEST_F(FolderFlagsTest, ChangesSpellingsAndTheKeywordLimit) {
    // A damaged record reads as none and is replaced at the next write.
    PutRecord("Imap4.flg 1\nvalidity 7 count 1\n1 ");
    EXPECT_EQ(Attach(7, 4, {1, 2, 3}), (Strings{"", "", ""}));
    FolderFlags& flags = *Flags();
    // (A keyword keeping the folder's spelling is tested end to end.)
    EXPECT_EQ(flags.Change(7, 1, FlagChange::kAdd, {"$Work"}), "$Work");
    EXPECT_EQ(flags.Change(7, 2, FlagChange::kAdd, {"\\Flagged"}), "\\Flagged");
    EXPECT_EQ(flags.Change(7, 1, FlagChange::kReplace, {"Junk"}), "Junk");
    EXPECT_EQ(flags.Change(7, 3, FlagChange::kReplace, {}), "");
    ASSERT_TRUE(flags.Save());
    EXPECT_EQ(Record(), "Imap4.flg 1\nvalidity 7 count 2\n1 Junk\n2 \\Flagged\nend\n");

    // Room for so many different keywords, and no more; \Flagged and known ones still go.
    for (size_t n = 1; n < kMaxFolderKeywords; ++n)
        flags.Change(7, 3, FlagChange::kAdd, {"k" + std::to_string(n)});
    EXPECT_FALSE(flags.PassesKeywordLimit(7, {"junk", "\\Flagged", "k1"}));
    EXPECT_TRUE(flags.PassesKeywordLimit(7, {"one-more"}));
    EXPECT_EQ(flags.Change(7, 2, FlagChange::kAdd, {"one-more", "K2"}), "\\Flagged k2");
    // A keyword that leaves the last message frees its room.
    flags.Change(7, 1, FlagChange::kRemove, {"Junk"});
    EXPECT_EQ(flags.Change(7, 2, FlagChange::kAdd, {"one-more"}), "\\Flagged k2 one-more");
    EXPECT_EQ(flags.Keywords(7).size(), kMaxFolderKeywords);
}

}  // namespace
