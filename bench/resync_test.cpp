// The readers of server answers the resynchronisation line judges by: a UID misread would
// turn a right answer into a fault, or hide a wrong one.
#include "bench/resync.h"

#include <gtest/gtest.h>

namespace {

uint32_t UidOf(const std::string& text) {
    uint32_t uid = 0;
    return FetchUid(text, &uid) ? uid : 0;
}

TEST(FetchUid, FindsTheItemWhereverItStands) {
    EXPECT_EQ(UidOf("* 26 FETCH (UID 26 FLAGS (\\Flagged \\Seen) MODSEQ (3))\r\n"), 26u);
    EXPECT_EQ(UidOf("* 3 fetch (FLAGS () MODSEQ (12) uid 4294967295)\r\n"), 4294967295u);
    // After an envelope whose strings and literal hold what looks like items.
    EXPECT_EQ(UidOf("* 7 FETCH (ENVELOPE (\"Mon, 7 Dec 2026\" \"UID 99 (\\\"x\\\") ]\" "
                    "((NIL NIL \"a\" \"b\")) NIL NIL NIL NIL NIL NIL {12}\r\n"
                    " NIL) BODY[HEADER.FIELDS (UID)] {5}\r\n"
                    " UID 10007)\r\n"),
              10007u);
}

TEST(FetchUid, RefusesWhatIsNoUidOfAFetch) {
    EXPECT_EQ(UidOf("* 26 FETCH (FLAGS (\\Seen) MODSEQ (3))\r\n"), 0u);
    // Inside a nested list or a string, "UID" is no item of the response.
    EXPECT_EQ(UidOf("* 26 FETCH (X-LIST (UID 5) X \"UID 6\")\r\n"), 0u);
    EXPECT_EQ(UidOf("* 26 FETCH (UIDS 5)\r\n"), 0u);
    EXPECT_EQ(UidOf("* 26 FETCH (UID 0)\r\n"), 0u);
    EXPECT_EQ(UidOf("* 26 FETCH (UID 4294967296)\r\n"), 0u);
    EXPECT_EQ(UidOf("* OK [UIDNEXT 506] UID 5\r\n"), 0u);
    EXPECT_EQ(UidOf("* SEARCH 1 2\r\n"), 0u);
    EXPECT_EQ(UidOf("* 26 FETCH (UID"), 0u);
}

TEST(CodeNumber, ReadsTheCodeOfAnUntaggedOk) {
    uint64_t n = 0;
    EXPECT_TRUE(
        CodeNumber("* OK [HIGHESTMODSEQ 18446744073709551615] Highest\r\n", "HIGHESTMODSEQ", &n));
    EXPECT_EQ(n, 18446744073709551615u);
    EXPECT_TRUE(CodeNumber("* ok [uidnext 506] Predicted next UID\r\n", "UIDNEXT", &n));
    EXPECT_EQ(n, 506u);
    n = 7;
    EXPECT_FALSE(CodeNumber("* OK [NOMODSEQ] Sorry\r\n", "HIGHESTMODSEQ", &n));
    EXPECT_FALSE(CodeNumber("* OK [UIDNEXTS 5] x\r\n", "UIDNEXT", &n));
    EXPECT_FALSE(CodeNumber("* OK [UIDNEXT 5 x\r\n", "UIDNEXT", &n));
    EXPECT_FALSE(CodeNumber("* NO [UIDNEXT 5] x\r\n", "UIDNEXT", &n));
    EXPECT_FALSE(CodeNumber("a1 OK [UIDNEXT 5] x\r\n", "UIDNEXT", &n));
    EXPECT_EQ(n, 7u);
}

TEST(UidSet, JoinsRunsIntoRanges) {
    EXPECT_EQ(UidSet({}), "");
    EXPECT_EQ(UidSet({10001}), "10001");
    EXPECT_EQ(UidSet({3, 7, 8, 9, 12, 13}), "3,7:9,12:13");
    EXPECT_EQ(UidSet({4294967294u, 4294967295u}), "4294967294:4294967295");
}

}  // namespace
