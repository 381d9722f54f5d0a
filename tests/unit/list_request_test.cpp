// Tests of LIST pattern matching: "*" and "%" anywhere, levels, the inbox in any case, and
// patterns that would take long. (The arguments' grammar is tested end to end.)
#include "imap/list_request.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using Names = std::vector<std::u16string>;

// The names of a tree that a pattern matches, in the tree's order.
Names Matching(const std::u16string& pattern) {
    static const Names kTree = {u"INBOX",          u"INBOX/迷惑", u"仕事",    u"仕事/2001",
                                u"仕事/2001/深い", u"Sent*",      u"INBOXES", u"inbox (x.box)"};
    Names out;
    for (const std::u16string& name : kTree) {
        if (MatchListPattern(pattern, name))
            out.push_back(name);
    }
    return out;
}

TEST(ListPatternTest, WildcardsLevelsAndTheInbox) {
    EXPECT_EQ(Matching(u"%"), (Names{u"INBOX", u"仕事", u"Sent*", u"INBOXES", u"inbox (x.box)"}));
    EXPECT_EQ(Matching(u"%/%"), (Names{u"INBOX/迷惑", u"仕事/2001"}));
    EXPECT_EQ(Matching(u"*/*"), (Names{u"INBOX/迷惑", u"仕事/2001", u"仕事/2001/深い"}));
    EXPECT_EQ(Matching(u"*深い"), (Names{u"仕事/2001/深い"}));
    EXPECT_EQ(Matching(u"%深い"), Names{});
    EXPECT_EQ(Matching(u"仕事/"), Names{});
    // A "*" in a name is a character like any other.
    EXPECT_EQ(Matching(u"Sent*"), (Names{u"Sent*"}));
    // The inbox's own level in any case; other names keep theirs.
    EXPECT_EQ(Matching(u"inb%"), (Names{u"INBOX", u"inbox (x.box)"}));
    EXPECT_EQ(Matching(u"INBOX*"), (Names{u"INBOX", u"INBOX/迷惑", u"INBOXES"}));
    EXPECT_EQ(Matching(u"InBoX/*"), (Names{u"INBOX/迷惑"}));
    EXPECT_FALSE(MatchListPattern(u"inbox/X", u"INBOX/x"));
}

// Patterns full of wildcards are matched without backtracking (one that did would not end
// within the test's time-out here).
TEST(ListPatternTest, ManyWildcards) {
    std::u16string pattern;
    for (int i = 0; i < 200; ++i)
        pattern += u"*a%";
    EXPECT_FALSE(MatchListPattern(pattern + u"b", std::u16string(300, u'a')));
    EXPECT_TRUE(MatchListPattern(std::u16string(100000, u'*'), std::u16string(300, u'a')));
}

}  // namespace
