#include "imap/command_line.h"

#include "imap/command_table.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

namespace {

std::vector<std::string> Args(const CommandLine& c) {
    std::vector<std::string> out;
    for (int i = 0; i < c.arguments.Count(); ++i)
        out.push_back(c.arguments.At(i)->c_str());
    return out;
}

TEST(CommandLineTest, SplitsTagUidWordAndStripsArguments) {
    CommandLine c;
    c.Parse("a3 UID FETCH 5:* (FLAGS BODY.PEEK[HEADER])");
    EXPECT_STREQ(c.tag.c_str(), "a3");
    EXPECT_EQ(c.uid, 1);
    EXPECT_STREQ(c.word.c_str(), "FETCH");
    EXPECT_EQ(Args(c), (std::vector<std::string>{"5:*", "FLAGS BODY.PEEK[HEADER]"}));

    // Quotes first, then one bracket pair; a literal marker loses its braces.
    c.Parse("a1 LOGIN \"user1\" {4}");
    EXPECT_EQ(c.uid, 0);
    EXPECT_EQ(Args(c), (std::vector<std::string>{"user1", "4"}));

    c.Parse("a1 LIST \"\" \"*\"");
    EXPECT_EQ(Args(c), (std::vector<std::string>{"", "*"}));

    c.Parse("a1  FETCH  1   (FLAGS UID)");
    EXPECT_STREQ(c.word.c_str(), "FETCH");
    EXPECT_EQ(Args(c), (std::vector<std::string>{"1", "FLAGS UID"}));

    // One pair of quotes, then one pair of brackets: no more.
    c.Parse("a1 STATUS \"(x)\" ((MESSAGES)) \"\"a\"\"");
    EXPECT_EQ(Args(c), (std::vector<std::string>{"x", "(MESSAGES)", "\"a\""}));
}

TEST(CommandLineTest, QuotedArgumentsLoseTheirEscapes) {
    CommandLine c;
    // A password holding a quote and a backslash, as every client sends it.
    c.Parse("a1 LOGIN \"us er\" \"p\\\"w\\\\d\"");
    EXPECT_EQ(Args(c), (std::vector<std::string>{"us er", "p\"w\\d"}));
    EXPECT_STREQ(c.rest.c_str(), "\"us er\" \"p\\\"w\\\\d\"");
    // Outside quotes a backslash is an ordinary byte (flags).
    c.Parse("a1 STORE 1 +FLAGS (\\Seen)");
    EXPECT_EQ(Args(c), (std::vector<std::string>{"1", "+FLAGS", "\\Seen"}));
}

TEST(CommandLineTest, LooksWordsUpIgnoringCaseAndKeepsTheirSpelling) {
    CommandLine c;
    c.Parse("a1 noop");
    EXPECT_STREQ(FindCommand(c.word)->name, "NOOP");
    EXPECT_STREQ(c.word.c_str(), "noop");

    c.Parse("a1 uid fetch 1 flags");
    EXPECT_EQ(c.uid, 1);
    EXPECT_STREQ(FindCommand(c.word)->name, "FETCH");
    EXPECT_STREQ(c.word.c_str(), "fetch");

    // A second UID is a word of its own, and no command.
    c.Parse("a1 UID UID");
    EXPECT_EQ(FindCommand(c.word), nullptr);
    c.Parse("a1 FOO bar");
    EXPECT_EQ(FindCommand(c.word), nullptr);
    EXPECT_STREQ(c.word.c_str(), "FOO");

    for (const char* word :
         {"CAPABILITY", "LOGOUT", "NOOP",      "LOGIN",       "SELECT", "EXAMINE", "CREATE",
          "DELETE",     "RENAME", "SUBSCRIBE", "UNSUBSCRIBE", "LIST",   "LSUB",    "STATUS",
          "APPEND",     "STORE",  "EXPUNGE",   "SEARCH",      "FETCH",  "COPY",    "CHECK",
          "CLOSE",      "IDLE",   "UNSELECT",  "STARTTLS"}) {
        const CommandSpec* spec = FindCommand(Text(word));
        ASSERT_NE(spec, nullptr) << word;
        EXPECT_STREQ(spec->name, word);
    }
    EXPECT_STREQ(FindCommand(Text("idle"))->name, "IDLE");
    EXPECT_EQ(FindCommand(Text("IDLEX")), nullptr);
    EXPECT_EQ(FindCommand(Text("GETQUOTA")), nullptr);

    // A command whose modes allow it in different states has a line per mode.
    for (const char* word : {"LIST", "lsub"}) {
        EXPECT_EQ(FindCommand(Text(word), kExactMode)->states, kAuthenticatedState) << word;
        EXPECT_EQ(FindCommand(Text(word), kExtendedMode)->states, kLoggedIn) << word;
    }
    EXPECT_EQ(FindCommand(Text("UNSELECT"), kExactMode), nullptr);
    EXPECT_NE(FindCommand(Text("UNSELECT"), kExtendedMode), nullptr);
}

TEST(CommandLineTest, IncompleteLinesNeverKeepAnEarlierLinesTagOrWord) {
    CommandLine c;
    c.Parse("a1 LOGIN x y");
    c.Parse("");
    EXPECT_TRUE(c.tag.IsEmpty());
    EXPECT_TRUE(c.word.IsEmpty());
    EXPECT_EQ(c.arguments.Count(), 0);

    c.Parse("a1 LOGIN x y");
    c.Parse(" a2 NOOP");  // a leading blank gives an empty first argument
    EXPECT_TRUE(c.tag.IsEmpty());

    c.Parse("a1 UID FETCH 1 x");
    c.Parse("a9");
    EXPECT_STREQ(c.tag.c_str(), "a9");
    EXPECT_TRUE(c.word.IsEmpty());
    EXPECT_EQ(c.uid, 0);

    c.Parse("a9 UID");
    EXPECT_EQ(c.uid, 1);
    EXPECT_TRUE(c.word.IsEmpty());
}

TEST(CommandLineTest, LiteralMarkersAreDigitsThatFitThirtyTwoBits) {
    const struct {
        const char* line;
        bool present, valid, synchronizing;
        uint32_t size;
    } cases[] = {
        {"a LOGIN {5}", true, true, true, 5},
        {"a LOGIN x {4294967295+}", true, true, false, 4294967295u},
        {"a LOGIN {0+}", true, true, false, 0},
        {"a APPEND x () {4294967296}", true, false, true, 0},
        {"a APPEND x () {12345678901}", true, false, true, 0},
        {"a APPEND x () {-1}", true, false, true, 0},
        {"a APPEND x () {abc+}", true, false, false, 0},
        {"a APPEND x () {}", true, false, true, 0},
        {"a APPEND x () {+}", true, false, false, 0},
        {"a NOOP", false, false, true, 0},
        {"a FETCH 1 BODY[]<0.10>", false, false, true, 0},
        {"}", false, false, true, 0},
    };
    for (const auto& c : cases) {
        const LiteralMarker m = FindLiteralMarker(c.line, static_cast<int>(std::strlen(c.line)));
        EXPECT_EQ(m.present, c.present) << c.line;
        EXPECT_EQ(m.valid, c.valid) << c.line;
        EXPECT_EQ(m.synchronizing, c.synchronizing) << c.line;
        EXPECT_EQ(m.size, c.size) << c.line;
    }
}

}  // namespace
