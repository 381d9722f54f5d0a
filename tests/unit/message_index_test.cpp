// Tests of the index of compact records: entries made on first use, records shared until a
// change, and the positions of made and unmade entries kept in step through inserts, removals
// and sorting.
#include "store/message_index.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

namespace {

// A list of the names given, one 8-byte name per record, UIDs as given.
std::shared_ptr<const Listing> ListingOf(
    const std::vector<std::pair<std::string, uint32_t>>& lines) {
    auto bytes = std::make_shared<std::string>();
    for (const auto& line : lines)
        *bytes += line.first;
    auto listing = std::make_shared<Listing>();
    listing->text = bytes;
    size_t offset = 0;
    for (const auto& line : lines) {
        listing->Add(bytes->data() + offset, static_cast<int>(line.first.size()), line.second,
                     line.second * 10, line.second * 100);
        offset += line.first.size();
    }
    listing->SortByUid();
    return listing;
}

std::vector<uint32_t> UidsOf(const MessageIndex& index) {
    std::vector<uint32_t> uids;
    for (int i = 0; i < index.Count(); ++i)
        uids.push_back(index.UidAt(i));
    return uids;
}

TEST(MessageIndexTest, MadeAndUnmadeEntriesStayInStepThroughChanges) {
    const auto listing = ListingOf({{"AAAA0003", 3}, {"AAAA0001", 1}, {"AAAA0002", 2}});
    MessageIndex a;
    MessageIndex b;
    a.Adopt(listing);
    b.Adopt(listing);
    ASSERT_EQ(UidsOf(a), (std::vector<uint32_t>{1, 2, 3}));
    EXPECT_FALSE(a.IsMade(1));

    // A passing copy and a made entry say the same.
    MessageEntry passing;
    a.Peek(1, &passing);
    MessageEntry* second = a.At(1);
    EXPECT_TRUE(a.IsMade(1));
    EXPECT_EQ(passing.uid, second->uid);
    EXPECT_EQ(passing.status, second->status);
    EXPECT_EQ(passing.recordTail, 200u);
    EXPECT_STREQ(second->fileName.c_str(), "AAAA0002");

    // Changes of one index: the other keeps the shared records.
    a.SetUidAt(0, 7);
    a.SortByUid();
    EXPECT_EQ(UidsOf(a), (std::vector<uint32_t>{2, 3, 7}));
    EXPECT_EQ(a.At(0), second);
    EXPECT_EQ(UidsOf(b), (std::vector<uint32_t>{1, 2, 3}));
    const char* name = nullptr;
    int length = 0;
    a.NameAt(2, &name, &length);
    EXPECT_EQ(std::string(name, static_cast<size_t>(length)), "AAAA0001");

    // An unmade entry removed, an added one inserted between: names follow their records.
    ASSERT_TRUE(a.Remove(1));
    MessageEntry added;
    added.uid = 5;
    added.fileName = "ZZZZ0005";
    a.SortedInsertCopy(added);
    EXPECT_EQ(UidsOf(a), (std::vector<uint32_t>{2, 5, 7}));
    EXPECT_STREQ(a.At(1)->fileName.c_str(), "ZZZZ0005");
    EXPECT_STREQ(a.At(2)->fileName.c_str(), "AAAA0001");
    EXPECT_EQ(a.At(2)->status, 10u);
    EXPECT_STREQ(b.At(1)->fileName.c_str(), "AAAA0002");
}

}  // namespace
