#include "imap/message_set.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

namespace {

// Every range of a whole set, as the walk takes them.
std::vector<std::pair<uint32_t, uint32_t>> Ranges(const char* set, int uid, uint32_t uidNext,
                                                  uint32_t count) {
    std::vector<std::pair<uint32_t, uint32_t>> out;
    Text rest(set);
    while (!rest.IsEmpty() && out.size() < 20) {
        MessageRange r = ParseRange(&rest, uid, uidNext, count);
        out.emplace_back(r.lo, r.hi);
    }
    return out;
}

using R = std::vector<std::pair<uint32_t, uint32_t>>;

TEST(MessageSetTest, SequenceModeClampsToTheFolder) {
    EXPECT_EQ(Ranges("1:*", 0, 100, 3), (R{{1, 3}}));
    EXPECT_EQ(Ranges("*", 0, 100, 3), (R{{1, 3}}));  // a lone * is the whole folder
    EXPECT_EQ(Ranges("0", 0, 100, 3), (R{{1, 3}}));
    EXPECT_EQ(Ranges("2:*,1", 0, 100, 3), (R{{2, 3}, {1, 1}}));
    EXPECT_EQ(Ranges("3:1", 0, 100, 3), (R{{3, 1}}));  // reversed: selects nothing
    EXPECT_EQ(Ranges("5", 0, 100, 3), (R{{4, 3}}));    // beyond the end: nothing
    EXPECT_EQ(Ranges("2:10", 0, 100, 3), (R{{2, 3}}));
    EXPECT_EQ(Ranges("1,3", 0, 100, 3), (R{{1, 1}, {3, 3}}));
    EXPECT_EQ(Ranges("1:2,3:3", 0, 100, 3), (R{{1, 2}, {3, 3}}));
    EXPECT_EQ(Ranges("1:*", 0, 1, 0), (R{{1, 0}}));  // empty folder: nothing
    EXPECT_EQ(Ranges("x", 0, 100, 3), (R{{1, 3}}));  // no number reads as 0
}

TEST(MessageSetTest, UidModeUsesUidNext) {
    EXPECT_EQ(Ranges("5:*", 1, 10, 3), (R{{5, 10}}));
    EXPECT_EQ(Ranges("4:6", 1, 10, 3), (R{{4, 6}}));
    EXPECT_EQ(Ranges("*", 1, 10, 3), (R{{1, 10}}));
    EXPECT_EQ(Ranges("20:30", 1, 10, 3), (R{{10, 10}}));
    EXPECT_EQ(Ranges("1:*", 1, 1, 0), (R{{1, 1}}));
}

TEST(MessageSetTest, OddSetsFollowTheReadingRules) {
    // The byte after the second number is passed over whatever it is.
    EXPECT_EQ(Ranges("1:2x3", 0, 100, 9), (R{{1, 2}, {3, 3}}));
    // Leading blanks and a sign are read as atoi reads them; a negative number wraps and is
    // clamped like any number above the folder.
    EXPECT_EQ(Ranges(" 2", 0, 100, 9), (R{{2, 2}}));
    EXPECT_EQ(Ranges("-1", 0, 100, 9), (R{{10, 9}}));
    EXPECT_EQ(Ranges("99999999999999999999", 0, 100, 9).size(), 1u);
    // A trailing comma leaves nothing more to walk.
    EXPECT_EQ(Ranges("2,", 0, 100, 9), (R{{2, 2}}));
    EXPECT_EQ(Ranges("2:*,", 0, 100, 9), (R{{2, 9}}));
}

}  // namespace
