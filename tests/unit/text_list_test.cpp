// Tests of TextList: ownership of copies, insert and remove order, case-sensitive lookup,
// the growth rule and independent deep copies.
#include "base/text_list.h"

#include <gtest/gtest.h>

#include <string>

namespace {

std::string Joined(const TextList& list) {
    std::string out;
    for (int i = 0; i < list.Count(); ++i) {
        if (i > 0)
            out += ',';
        out += list.At(i)->c_str();
    }
    return out;
}

TEST(TextList, AppendInsertRemoveKeepOrder) {
    TextList list;
    EXPECT_EQ(list.Count(), 0);
    EXPECT_EQ(list.At(0), nullptr);
    Text item("b");
    list.Append(item);
    item = "changed";  // the list holds its own copy
    list.Append(Text("d"));
    EXPECT_TRUE(list.Insert(0, Text("a")));
    EXPECT_TRUE(list.Insert(2, Text("c")));
    EXPECT_TRUE(list.Insert(4, Text("e")));  // index == Count() appends
    EXPECT_FALSE(list.Insert(6, Text("x")));
    EXPECT_FALSE(list.Insert(-1, Text("x")));
    EXPECT_EQ(Joined(list), "a,b,c,d,e");

    EXPECT_EQ(list.At(-1), nullptr);
    EXPECT_EQ(list.At(5), nullptr);
    EXPECT_TRUE(list.Remove(0));
    EXPECT_TRUE(list.Remove(3));
    EXPECT_TRUE(list.Remove(1));
    EXPECT_FALSE(list.Remove(2));
    EXPECT_FALSE(list.Remove(-1));
    EXPECT_EQ(Joined(list), "b,d");

    list.Clear();
    EXPECT_EQ(list.Count(), 0);
    EXPECT_EQ(list.At(0), nullptr);
    list.Append(Text("again"));
    EXPECT_EQ(Joined(list), "again");
}

TEST(TextList, FindIsCaseSensitive) {
    TextList list;
    list.Append(Text("INBOX"));
    list.Append(Text("Sent"));
    list.Append(Text(""));
    list.Append(Text("Sent"));
    EXPECT_EQ(list.IndexOf(Text("Sent")), 1);
    EXPECT_EQ(list.Find(Text("Sent")), list.At(1));
    EXPECT_EQ(list.IndexOf(Text("inbox")), -1);
    EXPECT_EQ(list.Find(Text("inbox")), nullptr);
    EXPECT_EQ(list.IndexOf(Text("")), 2);
    // An item appended from a Text without a buffer is stored as "" and is found as such.
    TextList empty;
    empty.Append(Text());
    EXPECT_EQ(empty.IndexOf(Text("")), 0);
}

TEST(TextList, GrowsToNeededPlus64) {
    TextList list;
    EXPECT_EQ(list.Capacity(), 0);
    list.Append(Text("0"));
    EXPECT_EQ(list.Capacity(), 65);
    for (int i = 1; i < 65; ++i) {
        Text t;
        t.AppendNumber(static_cast<uint32_t>(i));
        list.Append(t);
    }
    EXPECT_EQ(list.Capacity(), 65);
    list.Insert(10, Text("x"));
    EXPECT_EQ(list.Capacity(), 130);
    EXPECT_EQ(list.Count(), 66);
    EXPECT_STREQ(list.At(9)->c_str(), "9");
    EXPECT_STREQ(list.At(10)->c_str(), "x");
    EXPECT_STREQ(list.At(65)->c_str(), "64");
}

TEST(TextList, CopiesAreDeepAndIndependent) {
    TextList list;
    list.Append(Text("a"));
    list.Append(Text("b"));
    TextList copy(list);
    copy.At(0)->Append('!');
    copy.Remove(1);
    EXPECT_EQ(Joined(list), "a,b");
    EXPECT_EQ(Joined(copy), "a!");

    TextList assigned;
    assigned.Append(Text("old"));
    assigned = list;
    list.Clear();
    EXPECT_EQ(Joined(assigned), "a,b");
    const TextList& same = assigned;
    assigned = same;
    EXPECT_EQ(Joined(assigned), "a,b");
}

}  // namespace
