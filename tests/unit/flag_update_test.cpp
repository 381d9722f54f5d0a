// Tests of the extended STORE's flag update (the host request per flag, the entry's status word,
// which forms answer) and of the extended flag lists (the flags kept beside the status word).
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "fake_host.h"
#include "imap/flag_update.h"

namespace {

using MarkCall = FakeHost::Mark;

const char kKey[] = "user\\inbox.box\\AAAA0001";
constexpr uint32_t kCarried = 0x4;  // a bit the server never looks at

// The exact mode's STORE (each flag's host call, the forms, .SILENT, flags the host cannot hold)
// and its one-key SEARCH are tested end to end, host calls included.

class ExtendedFlagUpdateTest : public ::testing::Test {
  protected:
    void SetUp() override { entry_.fileName = "AAAA0001"; }
    bool Store(const char* item, const char* flags) {
        bool keyFits = false;
        const Text key = MessageKey(entry_, "user", "INBOX", &keyFits);
        return FlagUpdate(item, flags, Mode::kExtended).Apply(host_, entry_, key, keyFits);
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
