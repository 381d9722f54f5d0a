// Tests of Text: the argument splitting the IMAP parser rests on, the counted compares, the
// trimming rules, the growth rule and safety on unbalanced or truncated input.
#include "base/text.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

namespace {

// Splits every argument off a line, the way the command parser walks its arguments.
std::vector<std::string> Arguments(const char* line) {
    Text rest(line);
    std::vector<std::string> out;
    while (!rest.IsEmpty())
        out.push_back(rest.SplitArgument().c_str());
    return out;
}

using Args = std::vector<std::string>;

TEST(TextSplitArgument, BracketsAndParenthesesNest) {
    Text t("BODY[HEADER.FIELDS (FROM TO)] RFC822.SIZE");
    EXPECT_STREQ(t.SplitArgument().c_str(), "BODY[HEADER.FIELDS (FROM TO)]");
    EXPECT_STREQ(t.c_str(), "RFC822.SIZE");

    EXPECT_EQ(Arguments("((a b) c) d"), (Args{"((a b) c)", "d"}));
    EXPECT_EQ(Arguments("(FLAGS UID)"), (Args{"(FLAGS UID)"}));
    EXPECT_EQ(Arguments("1:* (FLAGS BODY.PEEK[HEADER])"),
              (Args{"1:*", "(FLAGS BODY.PEEK[HEADER])"}));
    // Braces are ordinary bytes: a blank inside them still separates.
    EXPECT_EQ(Arguments("{a b} c"), (Args{"{a", "b}", "c"}));
}

TEST(TextSplitArgument, OnlyTheBlankSeparatesAndRunsOfBlanksAreSkipped) {
    EXPECT_EQ(Arguments("a\tb"), (Args{"a\tb"}));
    Text t("a    b  ");
    EXPECT_STREQ(t.SplitArgument().c_str(), "a");
    EXPECT_STREQ(t.c_str(), "b  ");
    EXPECT_STREQ(t.SplitArgument().c_str(), "b");
    EXPECT_TRUE(t.IsEmpty());

    Text whole("nothing-to-split");
    EXPECT_STREQ(whole.SplitArgument().c_str(), "nothing-to-split");
    EXPECT_TRUE(whole.IsEmpty());

    // A leading blank gives an empty argument and the blanks are gone.
    Text lead("  x");
    EXPECT_STREQ(lead.SplitArgument().c_str(), "");
    EXPECT_STREQ(lead.c_str(), "x");
}

TEST(TextSplitArgument, QuotesAreTakenWholeWithTheirEscapes) {
    Text t("\"Sent Items\" *");
    EXPECT_STREQ(t.SplitArgument().c_str(), "\"Sent Items\"");
    EXPECT_STREQ(t.c_str(), "*");

    // A backslash escapes the next byte: an escaped quote does not close, and the escapes stay
    // on the argument for the command parser to remove.
    EXPECT_EQ(Arguments("\"a\\\" b\" c"), (Args{"\"a\\\" b\"", "c"}));
    EXPECT_EQ(Arguments("\"a\\\\\" b"), (Args{"\"a\\\\\"", "b"}));
    EXPECT_EQ(Arguments("\"a\\"), (Args{"\"a\\"}));
    // Brackets inside quotes do not count; text after the closing quote joins the argument.
    EXPECT_EQ(Arguments("\"(x\"y z"), (Args{"\"(x\"y", "z"}));
    // Quotes inside a list.
    EXPECT_EQ(Arguments("(\"a )b\" c) d"), (Args{"(\"a )b\" c)", "d"}));
    // An unclosed quote takes the rest of the text.
    EXPECT_EQ(Arguments("\"open to the end"), (Args{"\"open to the end"}));
    EXPECT_EQ(Arguments("x \""), (Args{"x", "\""}));
}

TEST(TextSplitArgument, UnbalancedBracketsStayInBounds) {
    // Closers without openers drive the depth below zero, where blanks no longer separate.
    EXPECT_EQ(Arguments(")))"), (Args{")))"}));
    EXPECT_EQ(Arguments("a) b"), (Args{"a) b"}));
    // An opener never closed keeps everything.
    EXPECT_EQ(Arguments("(a b c"), (Args{"(a b c"}));
    EXPECT_EQ(Arguments("[[ ]"), (Args{"[[ ]"}));
    // A closer balances either kind of opener.
    EXPECT_EQ(Arguments("(a] b"), (Args{"(a]", "b"}));

    Text none;
    EXPECT_STREQ(none.SplitArgument().c_str(), "");
    EXPECT_TRUE(none.IsEmpty());
}

TEST(TextSplitToken, SkipsTheWholeRunOfDelimiters) {
    Text t("A001  LOGIN x");
    EXPECT_STREQ(t.SplitToken(' ').c_str(), "A001");
    EXPECT_STREQ(t.c_str(), "LOGIN x");
    EXPECT_STREQ(t.SplitToken(' ').c_str(), "LOGIN");
    EXPECT_STREQ(t.SplitToken(' ').c_str(), "x");
    EXPECT_TRUE(t.IsEmpty());

    Text lead(",,a,b");
    EXPECT_STREQ(lead.SplitToken(',').c_str(), "");
    EXPECT_STREQ(lead.c_str(), "a,b");

    Text trailing("a::");
    EXPECT_STREQ(trailing.SplitToken(':').c_str(), "a");
    EXPECT_TRUE(trailing.IsEmpty());
}

TEST(TextCompare, CountedCompareUsesSignedBytesAndEnds) {
    Text t("abc");
    EXPECT_EQ(t.Compare("abd", 2), 0);
    EXPECT_LT(t.Compare("abd", 3), 0);
    EXPECT_GT(Text("abd").Compare("abc", 3), 0);
    EXPECT_EQ(t.Compare("xyz", 0), 0);
    // Both end at the same place before n: equal, nothing beyond is looked at.
    EXPECT_EQ(t.Compare("abc", 100), 0);
    // The end of the shorter string is smaller, even against a (negative) high byte.
    EXPECT_LT(Text("ab").Compare("abc", 3), 0);
    EXPECT_GT(t.Compare("ab", 3), 0);
    EXPECT_LT(Text("a").Compare("a\x83", 2), 0);
    EXPECT_GT(Text("a\x83").Compare("a", 2), 0);
    // High bytes are negative: 0x83 sorts below 'A'.
    EXPECT_LT(Text("\x83").Compare("A", 1), 0);
    EXPECT_GT(Text("A").Compare("\x83", 1), 0);
}

TEST(TextCompare, CountedNoCaseFoldsEverythingAbove0x60) {
    EXPECT_EQ(Text("{").CompareNoCase("[", 1), 0);
    EXPECT_EQ(Text("~").CompareNoCase("^", 1), 0);
    EXPECT_EQ(Text("bOdY[").CompareNoCase("BODY{", 5), 0);
    EXPECT_EQ(Text("uid").CompareNoCase("UIDX", 3), 0);
    EXPECT_LT(Text("uid").CompareNoCase("UIDX", 4), 0);
    // 0x60 itself is not folded, and high bytes stay as they are.
    EXPECT_NE(Text("`").CompareNoCase("@", 1), 0);
    EXPECT_NE(Text("\xE1").CompareNoCase("\xC1", 1), 0);
    EXPECT_LT(Text("\xE1").CompareNoCase("A", 1), 0);
    // Case-sensitive counted compare does not fold.
    EXPECT_NE(Text("{").Compare("[", 1), 0);
}

TEST(TextCompare, UncountedCompareAndEquality) {
    EXPECT_EQ(Text("FETCH").Compare("FETCH"), 0);
    EXPECT_NE(Text("FETCH").Compare("fetch"), 0);
    EXPECT_EQ(Text("FeTcH").CompareNoCase("fetch"), 0);
    EXPECT_NE(Text("FETCH").CompareNoCase("FETC"), 0);
    // The uncounted form uses unsigned byte order.
    EXPECT_GT(Text("\x83").Compare("A"), 0);
    EXPECT_TRUE(Text("abc") == Text("abc"));
    EXPECT_TRUE(Text("abc") != "abd");
    EXPECT_TRUE(Text("") == "");
    EXPECT_TRUE(Text("x") == Text(nullptr) + "x");
}

TEST(TextCompare, NoBufferComparesBelowEverything) {
    Text none;
    ASSERT_FALSE(none.HasBuffer());
    EXPECT_LT(none.Compare(""), 0);
    EXPECT_LT(none.Compare("", 1), 0);
    EXPECT_LT(none.CompareNoCase(""), 0);
    EXPECT_LT(none.CompareNoCase("", 1), 0);
    EXPECT_LT(none.Compare("\x83", 1), 0);
    EXPECT_FALSE(none == "");
    // As an argument it reads as "".
    EXPECT_EQ(Text("").Compare(none.c_str()), 0);
    EXPECT_TRUE(Text("") == none);
    Text copy;
    copy = none;
    EXPECT_TRUE(copy == "");
    EXPECT_STREQ((none + "a" + none).c_str(), "a");
}

TEST(TextNumbers, ToNumberReadsLeadingDigitsOnly) {
    EXPECT_EQ(Text("12ab").ToNumber(), 12u);
    EXPECT_EQ(Text("-5").ToNumber(), 0u);
    EXPECT_EQ(Text(" 5").ToNumber(), 0u);
    EXPECT_EQ(Text("+5").ToNumber(), 0u);
    EXPECT_EQ(Text("").ToNumber(), 0u);
    EXPECT_EQ(Text().ToNumber(), 0u);
    EXPECT_EQ(Text("007").ToNumber(), 7u);
    EXPECT_EQ(Text("4294967295").ToNumber(), 4294967295u);
    EXPECT_EQ(Text("4294967296").ToNumber(), 0u);
    EXPECT_EQ(Text("4294967306:*").ToNumber(), 10u);
}

// Applies one in-place operation to a copy of s and returns the result.
template <typename Op>
std::string After(const char* s, Op op) {
    Text t(s);
    op(t);
    EXPECT_EQ(t.Length(), static_cast<int>(std::strlen(t.c_str())));
    return t.c_str();
}

TEST(TextTrimming, UnquoteUnbracketAndTrim) {
    auto unquote = [](Text& t) { t.Unquote('"'); };
    EXPECT_EQ(After("\"", unquote), "\"");
    EXPECT_EQ(After("\"\"", unquote), "");
    EXPECT_EQ(After("\"\"INBOX\"\"", unquote), "\"INBOX\"");
    EXPECT_EQ(After("\"abc", unquote), "\"abc");
    EXPECT_EQ(After("'x'", [](Text& t) { t.Unquote('\''); }), "x");

    auto unbracket = [](Text& t) { t.Unbracket(); };
    EXPECT_EQ(After("((a b))", unbracket), "(a b)");
    EXPECT_EQ(After("[x]", unbracket), "x");
    EXPECT_EQ(After("{3}", unbracket), "3");
    EXPECT_EQ(After("()", unbracket), "");
    for (const char* unchanged : {"(a]", "[a)", "{a)", "(a}", ")a(", "(", "a", ""}) {
        EXPECT_EQ(After(unchanged, unbracket), unchanged);
    }

    auto trim = [](Text& t) { t.Trim(); };
    EXPECT_EQ(After(" \t a b \t ", trim), "a b");
    EXPECT_EQ(After(" x\r\n", trim), "x\r\n");
    EXPECT_EQ(After(" \t\t ", trim), "");
}

TEST(TextPieces, FindLeftMidReplace) {
    Text t("INBOX.Sent");
    EXPECT_EQ(t.Find('.'), 5);
    EXPECT_EQ(t.Find('x'), -1);
    EXPECT_STREQ(t.Left(5).c_str(), "INBOX");
    EXPECT_STREQ(t.Left(50).c_str(), "INBOX.Sent");
    EXPECT_STREQ(t.Left(-1).c_str(), "");
    EXPECT_STREQ(t.Mid(6).c_str(), "Sent");
    EXPECT_STREQ(t.Mid(6, 2).c_str(), "Se");
    EXPECT_STREQ(t.Mid(6, 99).c_str(), "Sent");
    EXPECT_STREQ(t.Mid(99, 3).c_str(), "");
    EXPECT_STREQ(t.Mid(-3, 2).c_str(), "IN");
    EXPECT_EQ(Text("a.b.c").Replace('.', '/'), 2);
    EXPECT_EQ(t.Replace('.', '/'), 1);
    EXPECT_STREQ(t.c_str(), "INBOX/Sent");
}

TEST(TextPieces, MakeUpperKeepsDoubleByteCharacters) {
    // 0x83 0x61 is one Shift_JIS character whose trail byte looks like 'a'.
    Text t("fetch \x83\x61 body\x83");
    t.MakeUpper();
    EXPECT_STREQ(t.c_str(), "FETCH \x83\x61 BODY\x83");
    Text none;
    none.MakeUpper();
    EXPECT_FALSE(none.HasBuffer());
}

TEST(TextGrowth, AppendGrowsToNeededPlus64AndAssignIsFresh) {
    Text t;
    EXPECT_FALSE(t.HasBuffer());
    t.Append('a');
    EXPECT_EQ(t.Capacity(), 65);
    // Up to 64 bytes fit; the 65th reaches the capacity and grows it.
    t.Append(std::string(63, 'b').c_str());
    EXPECT_EQ(t.Capacity(), 65);
    t.Append('c');
    EXPECT_EQ(t.Length(), 65);
    EXPECT_EQ(t.Capacity(), 129);
    EXPECT_EQ(t[64], 'c');
    EXPECT_EQ(t[65], 0);

    // Every assignment makes a fresh buffer of length plus 64, even a shorter one.
    t = "xyz";
    EXPECT_EQ(t.Capacity(), 67);
    t.Assign("abcdef", 2);
    EXPECT_EQ(t.Capacity(), 66);
    t.Assign("ab", 50);  // fewer when the string is shorter
    EXPECT_STREQ(t.c_str(), "ab");
    t.Assign(static_cast<const char*>(nullptr));
    EXPECT_EQ(t.Capacity(), 64);
    t.Clear();  // keeps the buffer
    EXPECT_EQ(t.Capacity(), 64);
}

TEST(TextGrowth, LongTextsGrowGeometrically) {
    Text t;
    int reallocations = 0;
    int capacity = t.Capacity();
    for (int i = 0; i < 100000; ++i) {
        t.Append('x');
        if (t.Capacity() != capacity) {
            ++reallocations;
            capacity = t.Capacity();
        }
    }
    EXPECT_EQ(t.Length(), 100000);
    EXPECT_LT(reallocations, 40);  // +64 alone would reallocate over 1,500 times
}

TEST(TextGrowth, SelfAppendAndSelfAssignSurviveReallocation) {
    Text t(std::string(70, 'x').c_str());
    ASSERT_EQ(t.Capacity(), 134);
    t.Append(t.c_str());           // grows while reading its own buffer
    EXPECT_EQ(t.Capacity(), 210);  // a long text also grows by half its length
    EXPECT_EQ(std::string(t.c_str()), std::string(140, 'x'));
    t.Append(t);
    t.Assign(t.c_str() + 270);
    EXPECT_EQ(std::string(t.c_str()), std::string(10, 'x'));
    const Text& same = t;
    t = same;
    t.Append("abc", 1);
    EXPECT_STREQ(t.c_str(), "xxxxxxxxxxa");
}

TEST(TextGrowth, CopiesAndConcatenation) {
    Text a("abc");
    Text copy(a);
    copy.Append('d');
    EXPECT_STREQ(a.c_str(), "abc");
    Text moved(std::move(copy));
    EXPECT_STREQ(moved.c_str(), "abcd");
    EXPECT_STREQ((("0" + a) + Text("1") + "2" + '!').c_str(), "0abc12!");
    Text line("* ");
    line.AppendNumber(0);
    line += ' ';
    line.AppendNumber(4294967295u);
    line += " x";
    line.AppendNumber(1000);
    EXPECT_STREQ(line.c_str(), "* 0 4294967295 x1000");
}

TEST(TextGrowth, CompactAssignmentAndInPlaceAppendingHoldExactlyTheirBytes) {
    Text t("previous contents");
    t.AssignCompact("ab\0cd", 5);
    EXPECT_EQ(t.Length(), 5);
    EXPECT_EQ(t.Capacity(), 6);
    EXPECT_EQ(std::string(t.c_str(), 5), std::string("ab\0cd", 5));
    t.Append('e');  // grows by the usual rule
    EXPECT_EQ(t.Length(), 6);
    EXPECT_EQ(t.Capacity(), 70);
    EXPECT_EQ(t[5], 'e');
    t.AssignCompact(t.c_str() + 3, 3);  // from its own buffer
    EXPECT_EQ(std::string(t.c_str(), 3), "cde");
    // Bytes written in place after the text join it, never more than the buffer holds.
    t.Reserve(5);
    std::memcpy(t.SpareBytes(), "fgh", 3);
    t.Extend(2);
    EXPECT_EQ(std::string(t.c_str(), 6), std::string("cdefg\0", 6));
    t.Extend(100);
    EXPECT_EQ(t.Length() + 1, t.Capacity());
    EXPECT_EQ(t.Spare(), 0);
    Text empty;
    empty.AssignCompact(nullptr, 0);
    EXPECT_TRUE(empty.HasBuffer());
    EXPECT_STREQ(empty.c_str(), "");
}

}  // namespace
