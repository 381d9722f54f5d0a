// Tests of a folder's own file of learned facts: every byte of a value comes back, a damaged
// end and names reaching outside the folder are dropped, and a file written from one cache
// fills another.
#include "store/folder_facts.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <string>
#include <utility>
#include <vector>

namespace {

namespace fs = std::filesystem;

MessageCache::Record MakeRecord(const std::string& name, const std::string& envelope) {
    MessageCache::Record r;
    r.name = name;
    r.form = 2;
    r.stamp.size = 1234;
    r.stamp.writeTime = -5;  // before 1970
    r.stamp.volume = UINT64_MAX;
    r.stamp.file = 99;
    r.facts.clientSize = 4000000000u;
    r.facts.envelope.AppendBytes(envelope.data(), static_cast<int>(envelope.size()));
    r.facts.structure = "(\"text\" \"plain\")";
    return r;
}

TEST(FolderFactsTest, FileTextKeepsEveryByteAndDropsWhatIsDamaged) {
    const std::string odd("(NIL {3}\r\n\0\n\" 7 8 9\n)", 22);
    const std::string text =
        FolderFacts::Format({MakeRecord("AAAA0001.orv", odd), MakeRecord("AAAA0002.orv", "")});
    std::vector<MessageCache::Record> back = FolderFacts::Parse(text);
    ASSERT_EQ(back.size(), 2u);
    EXPECT_EQ(back[0].name, "AAAA0001.orv");
    EXPECT_EQ(back[0].form, 2);
    EXPECT_TRUE(back[0].stamp == MakeRecord("", "").stamp);
    EXPECT_EQ(back[0].facts.clientSize, 4000000000u);
    EXPECT_EQ(std::string(back[0].facts.envelope.c_str(),
                          static_cast<size_t>(back[0].facts.envelope.Length())),
              odd);
    EXPECT_STREQ(back[1].facts.structure.c_str(), "(\"text\" \"plain\")");
    EXPECT_TRUE(back[1].facts.envelope.IsEmpty());

    // Cut anywhere in the second record, or with a wrong count: only the first comes back.
    for (size_t cut = text.size() - 1; cut > text.size() - 30; --cut)
        EXPECT_EQ(FolderFacts::Parse(text.substr(0, cut)).size(), 1u) << cut;
    std::string wrong = text;
    wrong.replace(wrong.rfind(" 16\n"), 4, " 17\n");
    EXPECT_EQ(FolderFacts::Parse(wrong).size(), 1u);
    // Another format, or a name with a separator, is not taken.
    EXPECT_TRUE(FolderFacts::Parse("Imap4.cache 2\n" + text.substr(14)).empty());
    EXPECT_EQ(FolderFacts::Parse(FolderFacts::Format({MakeRecord("..\\evil.orv", "x"),
                                                      MakeRecord("../evil.orv", "x")}))
                  .size(),
              0u);
}

TEST(FolderFactsTest, WrittenFromOneCacheLoadedIntoAnother) {
    const fs::path dir =
        fs::temp_directory_path() /
        ("orv_facts_" +
         std::to_string(std::chrono::steady_clock::now().time_since_epoch().count()));
    fs::create_directories(dir);
    const Text directory((dir.string() + "/").c_str());
    const MessageCache::Record record = MakeRecord("AAAA0001.orv", "(NIL \"kept\")");
    Text path(directory);
    path.Append(record.name.c_str());

    MessageCache first;
    first.Add(path, record.form, record.stamp, record.facts);
    // Enough records to be read in several pieces, one of them larger than a piece.
    auto many = [&](int i) {
        MessageCache::Record r = MakeRecord("AAAB" + std::to_string(1000 + i) + ".orv",
                                            std::string(i == 7 ? 300000 : 1000, 'a' + i % 26));
        Text p(directory);
        p.Append(r.name.c_str());
        return std::make_pair(p, r);
    };
    for (int i = 0; i < 400; ++i) {
        const auto [p, r] = many(i);
        first.Add(p, r.form, r.stamp, r.facts);
    }
    // A file of another folder is not written into this one.
    first.Add(Text((dir.string() + "/sub.box/AAAA0001.orv").c_str()), 2, record.stamp,
              record.facts);
    FolderFacts(first).Learned(directory);

    MessageCache second;
    FolderFacts facts(second);
    facts.Load(directory);
    MessageFacts found;
    ASSERT_TRUE(second.Find(path, record.form, record.stamp, &found));
    EXPECT_STREQ(found.envelope.c_str(), "(NIL \"kept\")");
    EXPECT_EQ(second.Count(), 401u);
    for (int i = 0; i < 400; ++i) {
        const auto [p, r] = many(i);
        ASSERT_TRUE(second.Find(p, r.form, r.stamp, &found)) << i;
        EXPECT_EQ(found.envelope, r.facts.envelope) << i;
        EXPECT_EQ(found.structure, r.facts.structure) << i;
    }
    // Read once per process: facts dropped since are not read back a second time.
    second.SetLimit(0);
    second.SetLimit(1 << 20);
    facts.Load(directory);
    EXPECT_EQ(second.Count(), 0u);
    std::error_code ec;
    fs::remove_all(dir, ec);
}

}  // namespace
