// Tests of the store-side pieces of extended mode: STORE FLAGS that replaces the storable
// flags (every one sent to the host, the entry following), the other forms unchanged, and the
// switch that keeps a read-only folder's fetches from marking messages as read.
#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include "fake_host.h"
#include "render/extended_flag_update.h"
#include "store/message_entry.h"

namespace {

using MarkCall = FakeHost::Mark;

const char kKey[] = "user\\inbox.box\\AAAA0001";
constexpr uint32_t kCarried = 0x4;  // a bit the server never looks at

class ExtendedStoreTest : public ::testing::Test {
  protected:
    void SetUp() override { entry_.fileName = "AAAA0001"; }
    bool Store(const char* item, const char* flags) {
        return UpdateFlagsExtended(host_, entry_, "user", "INBOX", item, flags);
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

TEST_F(ExtendedStoreTest, FlagsReplacesTheStorableFlags) {
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

TEST_F(ExtendedStoreTest, AddAndRemoveFormsChangeOnlyTheListedFlags) {
    entry_.status = StatusAnswered | StatusUnread;
    EXPECT_TRUE(Store("+FLAGS", "\\Seen"));
    EXPECT_FALSE(Store("-FLAGS.SILENT", "\\Answered"));
    EXPECT_EQ(host_.Marks(),
              (std::vector<MarkCall>{{kKey, StatusUnread, 0}, {kKey, StatusAnswered, 0}}));
    EXPECT_EQ(entry_.status, 0u);
    host_.ClearCalls();
    EXPECT_FALSE(Store("XFLAGS", "\\Seen"));
    EXPECT_FALSE(Store("FLAGSX", "\\Seen"));
    EXPECT_TRUE(host_.Marks().empty());
}

TEST_F(ExtendedStoreTest, KeyTooLongForTheHostIsNeverSent) {
    entry_.fileName = std::string(300, 'A').c_str();
    entry_.status = StatusUnread;
    EXPECT_TRUE(Store("FLAGS", "\\Seen"));
    EXPECT_TRUE(host_.Marks().empty());
    EXPECT_EQ(entry_.status, 0u);
}

TEST_F(ExtendedStoreTest, ALoadPolicyWithoutMarksAsksTheHostForNothing) {
    LoadPolicy quiet;
    quiet.marksSeen = false;
    entry_.clientSize = 10;  // measured before: the file is not read
    EXPECT_EQ(MessageSize(host_, entry_, "user", "INBOX", quiet), 10u);
    MessageSize(host_, entry_, "user", "INBOX");
    EXPECT_EQ(host_.Marks(), (std::vector<MarkCall>{{kKey, StatusUnread, 0}}));
}

}  // namespace
