// Tests of STORE's flag update in both modes (the host request per flag, the entry's status
// word, which forms answer), of the extended flag lists (the flags kept beside the status word)
// and of the exact SEARCH's criterion test.
#include <gtest/gtest.h>

#include <string>
#include <tuple>
#include <vector>

#include "fake_host.h"
#include "imap/flag_update.h"

namespace {

using MarkCall = FakeHost::Mark;

const char kKey[] = "user\\inbox.box\\AAAA0001";
constexpr uint32_t kCarried = 0x4;  // a bit the server never looks at

class FlagUpdateTest : public ::testing::Test {
  protected:
    void SetUp() override { entry_.fileName = "AAAA0001"; }
    bool Store(const char* item, const char* flags) {
        return UpdateFlags(host_, entry_, "user", "INBOX", item, flags, Mode::kExact);
    }
    FakeHost host_;
    MessageEntry entry_;
};

TEST_F(FlagUpdateTest, EachFlagBothWays) {
    // Adding \Seen clears the unread bit; adding the others sets theirs.
    const std::tuple<const char*, uint32_t, int> cases[] = {{"\\Seen", StatusUnread, 0},
                                                            {"\\Answered", StatusAnswered, 1},
                                                            {"\\Deleted", StatusDeleted, 1},
                                                            {"\\Draft", StatusDraft, 1}};
    for (const auto& [flag, bit, added] : cases) {
        const uint32_t before = kCarried | (added ? 0 : bit);
        entry_.status = before;
        host_.ClearCalls();
        EXPECT_TRUE(Store("+FLAGS", flag));
        EXPECT_EQ(entry_.status, kCarried | (added ? bit : 0)) << flag;
        EXPECT_TRUE(Store("-FLAGS", flag));
        EXPECT_EQ(entry_.status, before) << flag;
        EXPECT_EQ(host_.Marks(),
                  (std::vector<MarkCall>{{kKey, bit, added}, {kKey, bit, 1 - added}}));
    }
}

TEST_F(FlagUpdateTest, FormsAndSilence) {
    // FLAGS adds like +FLAGS; names in any case; a flag listed twice goes to the host twice.
    entry_.status = StatusAnswered | StatusUnread;
    EXPECT_TRUE(Store("flags", "\\seen \\DELETED \\seen"));
    EXPECT_EQ(host_.Marks(),
              (std::vector<MarkCall>{
                  {kKey, StatusUnread, 0}, {kKey, StatusDeleted, 1}, {kKey, StatusUnread, 0}}));
    EXPECT_EQ(entry_.status, StatusAnswered | StatusDeleted);
    // Silent forms change the same way but want no answer.
    EXPECT_FALSE(Store("-FLAGS.SILENT", "\\Deleted"));
    EXPECT_FALSE(Store("+flags.silent", "\\Draft"));
    EXPECT_EQ(entry_.status, StatusAnswered | StatusDraft);
    EXPECT_TRUE(Store("+FLAGS.LOUD", ""));
    // Another form changes nothing and wants no answer.
    host_.ClearCalls();
    EXPECT_FALSE(Store("XFLAGS", "\\Seen"));
    EXPECT_FALSE(Store("FLAGSX", "\\Seen"));
    EXPECT_TRUE(host_.Marks().empty());
    EXPECT_EQ(entry_.status, StatusAnswered | StatusDraft);
}

TEST_F(FlagUpdateTest, FlagsThatCannotBeStored) {
    entry_.status = StatusUnread;
    entry_.recent = 1;
    EXPECT_TRUE(Store("+FLAGS", "\\Flagged \\Recent $Keyword"));
    EXPECT_TRUE(Store("-FLAGS", "\\Recent"));
    EXPECT_TRUE(Store("FLAGS", ""));
    EXPECT_TRUE(host_.Marks().empty());
    EXPECT_EQ(entry_.status, StatusUnread);
    EXPECT_EQ(entry_.recent, 1);
}

TEST(SearchCriterionTest, OnlyAllMatches) {
    MessageEntry entry;
    auto run = [&entry](std::vector<const char*> words) {
        TextList arguments;
        for (const char* w : words)
            arguments.Append(w);
        std::string results;
        for (int position = 0; position < arguments.Count();) {
            const int before = position;
            results += TestCriterion(entry, arguments, &position) ? 'y' : 'n';
            EXPECT_EQ(position, before + 1);
        }
        return results;
    };
    EXPECT_EQ(run({"ALL"}), "y");
    EXPECT_EQ(run({"all", "UNSEEN"}), "yn");
    EXPECT_EQ(run({"FROM", "ALL", "ALLX"}), "nyn");  // a key's argument is a criterion too
    TextList none;
    int position = 0;
    EXPECT_FALSE(TestCriterion(entry, none, &position));
    EXPECT_EQ(position, 1);
}

class ExtendedFlagUpdateTest : public ::testing::Test {
  protected:
    void SetUp() override { entry_.fileName = "AAAA0001"; }
    bool Store(const char* item, const char* flags) {
        return UpdateFlags(host_, entry_, "user", "INBOX", item, flags, Mode::kExtended);
    }
    // The four calls of a replacement: \Seen (unread bit), \Answered, \Deleted, \Draft.
    static std::vector<MarkCall> Replacement(bool seen, bool answered, bool deleted, bool draft) {
        return {{kKey, StatusUnread, seen ? 0 : 1},
                {kKey, StatusAnswered, answered ? 1 : 0},
                {kKey, StatusDeleted, deleted ? 1 : 0},
                {kKey, StatusDraft, draft ? 1 : 0}};
    }
    FakeHost host_;
    MessageEntry entry_;
};

TEST_F(ExtendedFlagUpdateTest, FlagsReplacesTheStorableFlags) {
    entry_.status = kCarried | StatusAnswered | StatusDraft;  // seen, answered, draft
    entry_.recent = 1;
    EXPECT_TRUE(Store("FLAGS", "\\Deleted \\Flagged $Junk"));
    EXPECT_EQ(host_.Marks(), Replacement(false, false, true, false));
    EXPECT_EQ(entry_.status, kCarried | StatusUnread | StatusDeleted);
    EXPECT_EQ(entry_.recent, 1);

    // Names in any case, a flag listed twice counts once; the host hears all four flags even
    // where the entry already agrees (the host's copy may differ).
    host_.ClearCalls();
    EXPECT_TRUE(Store("flags", "\\seen \\ANSWERED \\Seen"));
    EXPECT_EQ(host_.Marks(), Replacement(true, true, false, false));
    EXPECT_EQ(entry_.status, kCarried | StatusAnswered);

    // An empty list clears every storable flag; .SILENT wants no answer.
    host_.ClearCalls();
    EXPECT_FALSE(Store("FLAGS.SILENT", ""));
    EXPECT_EQ(host_.Marks(), Replacement(false, false, false, false));
    EXPECT_EQ(entry_.status, kCarried | StatusUnread);
}

TEST_F(ExtendedFlagUpdateTest, AddAndRemoveFormsChangeOnlyTheListedFlags) {
    entry_.status = StatusAnswered | StatusUnread;
    EXPECT_TRUE(Store("+FLAGS", "\\Seen"));
    EXPECT_FALSE(Store("-FLAGS.SILENT", "\\Answered"));
    EXPECT_EQ(host_.Marks(),
              (std::vector<MarkCall>{{kKey, StatusUnread, 0}, {kKey, StatusAnswered, 0}}));
    EXPECT_EQ(entry_.status, 0u);
}

TEST(ExtendedFlagListTest, KeptFlags) {
    FlagList kept;
    ASSERT_TRUE(ReadKeptFlags("\\Seen $Work \\flagged \\Recent $work \\Unknown Junk", &kept));
    EXPECT_EQ(kept, (FlagList{"\\Flagged", "$Work", "Junk"}));
    ASSERT_TRUE(ReadKeptFlags("", &kept));
    EXPECT_TRUE(kept.empty());
    for (const char* list : {"\\Seen \"two words\"", "a]b", "(nested)", "\\Seen $\x80"})
        EXPECT_FALSE(ReadKeptFlags(list, &kept)) << list;
}

TEST_F(ExtendedFlagUpdateTest, KeyTooLongForTheHostIsNeverSent) {
    entry_.fileName = std::string(300, 'A').c_str();
    entry_.status = StatusUnread;
    EXPECT_TRUE(Store("FLAGS", "\\Seen"));
    EXPECT_TRUE(host_.Marks().empty());
    EXPECT_EQ(entry_.status, 0u);
}

}  // namespace
