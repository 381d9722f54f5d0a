// Tests of the opened folder: "Entry.lst" loading in UID order (file order for equal UIDs),
// UIDNEXT, the empty and missing cases, status words and the RECENT/UNSEEN counts, UIDVALIDITY
// from the folder or the shared counter (also under concurrent opens), folder path
// normalisation. (The import and copy requests to the host are tested end to end.)
#include "store/mailbox.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <set>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "fake_host.h"
#include "platform/profile.h"

namespace {

namespace fs = std::filesystem;

// The host's record for a status word: 12 bytes, the status little-endian first, in base64.
std::string Value(uint32_t status) {
    static const char kAlphabet[] =
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    unsigned char bytes[12] = {
        static_cast<unsigned char>(status), static_cast<unsigned char>(status >> 8),
        static_cast<unsigned char>(status >> 16), static_cast<unsigned char>(status >> 24)};
    std::string out;
    for (int i = 0; i < 12; i += 3) {
        const uint32_t group = bytes[i] << 16 | bytes[i + 1] << 8 | bytes[i + 2];
        for (int shift = 18; shift >= 0; shift -= 6)
            out += kAlphabet[(group >> shift) & 63];
    }
    return out;
}

class MailboxTest : public ::testing::Test {
  protected:
    void SetUp() override {
        static int serial = 0;
        auto stamp = std::chrono::steady_clock::now().time_since_epoch().count();
        root_ = fs::temp_directory_path() /
                ("orv_mbox_" + std::to_string(stamp) + "_" + std::to_string(++serial));
        fs::create_directories(root_ / "user" / "work.box");
        fs::create_directories(root_ / "user" / "inbox.box");
        // The stand-in host: the mailbox directory it reports and the imports it was asked for.
        host_.SetMailboxDirectory(root_.string() + "/");
    }
    void TearDown() override {
        std::error_code ec;
        fs::remove_all(root_, ec);
    }

    fs::path Dir(const std::string& folder) { return root_ / "user" / folder; }
    void Put(const fs::path& path, const std::string& bytes) {
        fs::create_directories(path.parent_path());
        std::ofstream f(path, std::ios::binary | std::ios::trunc);
        f << bytes;
    }
    std::string Read(const fs::path& path) {
        std::ifstream f(path, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>());
    }
    // A folder with "Total" and an "Entry.lst" of the given bytes.
    void PutFolder(const std::string& folder, int total, const std::string& list) {
        Put(Dir(folder) / "Entry.ini",
            "[Property]\r\nTitle=t\r\nTotal=" + std::to_string(total) + "\r\n");
        Put(Dir(folder) / "Entry.lst", list);
    }
    // Fixes the UIDVALIDITY of a folder so that opening it leaves the shared counter alone.
    void PinValidity(const std::string& folder) {
        Put(Dir(folder) / "Imap4.ini", "[IMAP4]\r\nUID=7\r\n");
    }
    static std::vector<std::string> NamesOf(const Mailbox& box) {
        std::vector<std::string> names;
        for (int i = 0; i < box.Index().Count(); ++i)
            names.push_back(box.Index().At(i)->fileName.c_str());
        return names;
    }

    fs::path root_;
    FakeHost host_;
};

using Names = std::vector<std::string>;

TEST_F(MailboxTest, DuplicatesKeepFileOrderAndLowerCaseNamesMatch) {
    PinValidity("work.box");
    // Equal UIDs told apart by their status words.
    PutFolder("work.box", 5,
              "AAAA0005=" + Value(1) + "\r\naaaa0005=" + Value(2) + "\r\nAAAA0003=" + Value(3) +
                  "\r\nAaAa0005=" + Value(4) + "\r\naaab0023=" + Value(5) + "\r\n");
    Mailbox box(host_, "user", "work.box");
    box.OpenIndex();
    ASSERT_EQ(box.Index().Count(), 5);
    std::vector<std::pair<uint32_t, uint32_t>> got;
    for (int i = 0; i < 5; ++i)
        got.emplace_back(box.Index().At(i)->uid, box.Index().At(i)->status);
    EXPECT_EQ(got, (std::vector<std::pair<uint32_t, uint32_t>>{
                       {3, 3}, {5, 1}, {5, 2}, {5, 4}, {10023, 5}}));
    EXPECT_STREQ(box.Index().At(4)->fileName.c_str(), "aaab0023");
    EXPECT_EQ(box.UidNext(), 10024u);
}

TEST_F(MailboxTest, LongShuffledFileIsSortedStably) {
    PinValidity("work.box");
    // A fixed pseudo-random sequence with many repeated UIDs; the status word is the line number.
    std::vector<std::pair<uint32_t, uint32_t>> lines;  // (uid, line)
    std::string list;
    uint32_t seed = 12345;
    uint32_t largest = 0;
    for (uint32_t line = 0; line < 700; ++line) {
        seed = seed * 1103515245u + 12345u;
        const uint32_t letter = (seed >> 16) % 3;
        const uint32_t number = (seed >> 8) % 150;
        char name[16];
        std::snprintf(name, sizeof name, "AAA%c%04u", static_cast<char>('A' + letter), number);
        list += std::string(name) + "=" + Value(line) + (line % 2 ? "\n" : "\r\n");
        lines.emplace_back(letter * 10000 + number, line);
        largest = std::max(largest, letter * 10000 + number);
    }
    std::stable_sort(lines.begin(), lines.end(),
                     [](const auto& a, const auto& b) { return a.first < b.first; });
    PutFolder("work.box", 700, list);
    Mailbox box(host_, "user", "work.box");
    box.OpenIndex();
    ASSERT_EQ(box.Index().Count(), 700);
    for (int i = 0; i < 700; ++i) {
        ASSERT_EQ(box.Index().At(i)->uid, lines[i].first) << i;
        ASSERT_EQ(box.Index().At(i)->status, lines[i].second) << i;
    }
    EXPECT_EQ(box.UidNext(), largest + 1);
}

TEST_F(MailboxTest, EmptyAndMissingCases) {
    PinValidity("work.box");
    // Total 0: the list is not read, whatever it holds.
    PutFolder("work.box", 0, "AAAB0001=" + Value(0) + "\r\n");
    Mailbox box(host_, "user", "work.box");
    box.OpenIndex();
    EXPECT_EQ(box.Index().Count(), 0);
    EXPECT_EQ(box.UidNext(), 1u);

    // No "Entry.ini" at all: the same.
    fs::remove(Dir("work.box") / "Entry.ini");
    box.OpenIndex();
    EXPECT_EQ(box.Index().Count(), 0);
    EXPECT_EQ(box.UidNext(), 1u);

    // Total given but no "Entry.lst": empty, UIDNEXT 0.
    PutFolder("work.box", 4, "");
    fs::remove(Dir("work.box") / "Entry.lst");
    box.OpenIndex();
    EXPECT_EQ(box.Index().Count(), 0);
    EXPECT_EQ(box.UidNext(), 0u);

    // A reopened index replaces the previous snapshot.
    PutFolder("work.box", 1, "AAAA0009=" + Value(0) + "\r\n");
    box.OpenIndex();
    PutFolder("work.box", 1, "AAAA0004=" + Value(0) + "\r\n");
    box.OpenIndex();
    EXPECT_EQ(NamesOf(box), (Names{"AAAA0004"}));
    EXPECT_EQ(box.UidNext(), 5u);
}

TEST_F(MailboxTest, UnusualLines) {
    PinValidity("work.box");
    PutFolder("work.box", 4,
              // No "=": the name is the line without its line end, the status 0.
              "AAAC0007\r\n"
              // A run of "=" is one separator.
              "AAAA0001===" +
                  Value(StatusUnread) +
                  "\n"
                  // A short value: the missing characters count as zero bits.
                  "AAAA0002=AAAAQA\r\n"
                  // The last line without a line end; characters after the first 16 unused.
                  "AAAA0003=" +
                  Value(StatusAnswered) + "////");
    Mailbox box(host_, "user", "work.box");
    box.OpenIndex();
    ASSERT_EQ(NamesOf(box), (Names{"AAAA0001", "AAAA0002", "AAAA0003", "AAAC0007"}));
    EXPECT_EQ(box.Index().At(0)->status, StatusUnread);
    EXPECT_EQ(box.Index().At(1)->status, StatusUnread);
    EXPECT_EQ(box.Index().At(2)->status, StatusAnswered);
    EXPECT_EQ(box.Index().At(3)->status, 0u);
    EXPECT_EQ(box.Index().At(3)->uid, 20007u);
    EXPECT_EQ(box.UidNext(), 20008u);
}

TEST_F(MailboxTest, RecentAndUnseenCounts) {
    PinValidity("work.box");
    PutFolder("work.box", 5,
              "AAAA0001=" + Value(StatusUnread) + "\r\nAAAA0002=" + Value(0) +
                  "\r\nAAAA0003=" + Value(StatusUnread | StatusAnswered) +
                  "\r\nAAAA0004=" + Value(StatusAnswered | StatusDeleted) +
                  "\r\nAAAA0005=" + Value(0x01020304) + "\r\n");
    Mailbox box(host_, "user", "work.box");
    box.OpenIndex();
    EXPECT_EQ(box.RecentCount(), 2);
    EXPECT_EQ(box.UnseenCount(), 2);
    const int expectedRecent[] = {1, 0, 1, 0, 0};
    for (int i = 0; i < 5; ++i)
        EXPECT_EQ(box.Index().At(i)->recent, expectedRecent[i]) << i;
}

// Connections opening the same unchanged list share its records; a rewrite the host makes in
// place (same size, same time) is still seen, and a change one index makes stays its own.
TEST_F(MailboxTest, SharedListsFollowTheBytesAndAreCopiedBeforeAChange) {
    PinValidity("work.box");
    const std::string list = "AAAA0001=" + Value(StatusUnread) +
                             "\r\nAAAA0002=" + Value(StatusUnread) + "\r\nAAAA0003=" + Value(0) +
                             "\r\n";
    PutFolder("work.box", 3, list);
    Mailbox a(host_, "user", "work.box");
    Mailbox b(host_, "user", "work.box");
    a.OpenIndex();
    b.OpenIndex();
    ASSERT_EQ(b.Index().Count(), 3);
    EXPECT_FALSE(b.Index().IsMade(1));
    EXPECT_EQ(b.Index().UidAt(1), 2u);
    MessageEntry* second = a.Index().At(1);
    ASSERT_TRUE(a.Index().Remove(1));
    delete second;
    a.Index().SortedInsertCopy(*b.Index().At(2));
    EXPECT_EQ(a.Index().Count(), 3);
    EXPECT_EQ(b.Index().Count(), 3);
    EXPECT_STREQ(b.Index().At(1)->fileName.c_str(), "AAAA0002");
    EXPECT_EQ(b.UnseenCount(), 2);

    // The first message read, written over in place with its old time.
    const auto time = fs::last_write_time(Dir("work.box") / "Entry.lst");
    std::string read = list;
    read.replace(9, 16, Value(0));
    ASSERT_EQ(read.size(), list.size());
    Put(Dir("work.box") / "Entry.lst", read);
    fs::last_write_time(Dir("work.box") / "Entry.lst", time);
    Mailbox c(host_, "user", "work.box");
    c.OpenIndex();
    EXPECT_EQ(c.Index().StatusAt(0), 0u);
    EXPECT_EQ(c.UnseenCount(), 1);
    EXPECT_EQ(c.RecentCount(), 1);
    EXPECT_EQ(b.Index().StatusAt(0), StatusUnread);
}

TEST_F(MailboxTest, UidValidityFromFolderProfile) {
    Put(root_ / "Imap4.ini", "[IMAP4]\r\nUID=41\r\n");
    Put(Dir("work.box") / "Imap4.ini", "[IMAP4]\r\nUID=5\r\n");
    Mailbox box(host_, "user", "work.box");
    box.OpenIndex();
    EXPECT_EQ(box.UidValidity(), 5u);
    // The shared counter is left alone.
    EXPECT_EQ(platform::ProfileInt("IMAP4", "UID", 0, (root_ / "Imap4.ini").c_str()), 41u);
}

TEST_F(MailboxTest, UidValidityFromSharedCounter) {
    const std::string settings = (root_ / "Imap4.ini").string();
    Put(settings, "[Server]\r\nPortNo=143\r\n[IMAP4]\r\nUID=41\r\n");
    // A folder profile with UID 0 counts as none.
    Put(Dir("work.box") / "Imap4.ini", "[IMAP4]\r\nUID=0\r\n");
    Mailbox box(host_, "user", "work.box");
    box.OpenIndex();
    EXPECT_EQ(box.UidValidity(), 42u);
    EXPECT_EQ(platform::ProfileInt("IMAP4", "UID", 0, settings.c_str()), 42u);
    Mailbox other(host_, "user", "INBOX");
    other.OpenIndex();
    EXPECT_EQ(other.UidValidity(), 43u);
    EXPECT_EQ(platform::ProfileInt("IMAP4", "UID", 0, settings.c_str()), 43u);
    EXPECT_EQ(platform::ProfileInt("Server", "PortNo", 0, settings.c_str()), 143u);
}

TEST_F(MailboxTest, ConcurrentOpensNeverShareACounterValue) {
    constexpr int kThreads = 8;
    constexpr int kOpens = 12;
    std::vector<std::vector<uint32_t>> seen(kThreads);
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([this, &seen, t] {
            for (int i = 0; i < kOpens; ++i) {
                Mailbox box(host_, "user", t % 2 ? "INBOX" : "work.box");
                box.OpenIndex();
                seen[t].push_back(box.UidValidity());
            }
        });
    }
    for (auto& thread : threads)
        thread.join();
    std::set<uint32_t> distinct;
    for (const auto& values : seen)
        distinct.insert(values.begin(), values.end());
    EXPECT_EQ(distinct.size(), static_cast<size_t>(kThreads * kOpens));
    EXPECT_EQ(*distinct.rbegin(), static_cast<uint32_t>(kThreads * kOpens));
    EXPECT_EQ(platform::ProfileInt("IMAP4", "UID", 0, (root_ / "Imap4.ini").c_str()),
              static_cast<uint32_t>(kThreads * kOpens));
}

TEST_F(MailboxTest, FolderPathNormalisation) {
    // 受信トレイ in Shift_JIS.
    const char* inboxTitle = "\x8E\xF3\x90\x4D\x83\x67\x83\x8C\x83\x43";
    EXPECT_STREQ(NormaliseFolderPath(inboxTitle).c_str(), "inbox.box");
    EXPECT_STREQ(NormaliseFolderPath("INBOX").c_str(), "inbox.box");
    EXPECT_STREQ(NormaliseFolderPath("work.box/2001.box").c_str(), "work.box\\2001.box");
    // Compared case-sensitively and as whole paths.
    EXPECT_STREQ(NormaliseFolderPath("Inbox").c_str(), "Inbox");
    EXPECT_STREQ(NormaliseFolderPath("INBOX/sub").c_str(), "INBOX\\sub");
    EXPECT_STREQ(Mailbox(host_, "user", inboxTitle).FolderPath().c_str(), "inbox.box");
    EXPECT_STREQ(Mailbox(host_, "user", "x/y").FolderPath().c_str(), "x\\y");

    // The index of a subfolder and of the inbox named in another case.
    PinValidity("work.box/2001.box");
    PutFolder("work.box/2001.box", 1, "AAAA0002=" + Value(0) + "\r\n");
    Mailbox sub(host_, "user", "work.box/2001.box");
    sub.OpenIndex();
    EXPECT_EQ(NamesOf(sub), (Names{"AAAA0002"}));
    PinValidity("inbox.box");
    PutFolder("inbox.box", 1, "AAAA0003=" + Value(0) + "\r\n");
    Mailbox inbox(host_, "user", "Inbox");
    inbox.OpenIndex();
    EXPECT_EQ(NamesOf(inbox), (Names{"AAAA0003"}));
    EXPECT_EQ(inbox.UidValidity(), 7u);
}

TEST(MessageIndexTest, SortedInsertOfCopies) {
    MessageIndex index;
    MessageEntry entry;
    const uint32_t uids[] = {50, 10, 30, 30, 20, 60, 10, 40, 30, 5};
    for (uint32_t i = 0; i < 10; ++i) {
        entry.uid = uids[i];
        entry.status = i;
        entry.fileName = "x";
        entry.fileName.AppendNumber(i);
        index.SortedInsertCopy(entry);
    }
    entry.fileName = "changed";
    std::vector<std::pair<uint32_t, uint32_t>> got;
    for (int i = 0; i < index.Count(); ++i) {
        got.emplace_back(index.At(i)->uid, index.At(i)->status);
        EXPECT_STRNE(index.At(i)->fileName.c_str(), "changed");
    }
    EXPECT_EQ(got, (std::vector<std::pair<uint32_t, uint32_t>>{{5, 9},
                                                               {10, 1},
                                                               {10, 6},
                                                               {20, 4},
                                                               {30, 2},
                                                               {30, 3},
                                                               {30, 8},
                                                               {40, 7},
                                                               {50, 0},
                                                               {60, 5}}));
}

}  // namespace

namespace {

TEST(MailboxCacheTest, CachedTextIsBoundedKeepingTheMessageJustServed) {
    FakeHost host;
    Mailbox mailbox(host, Text("user"), Text("inbox.box"));
    // Two of these pass the bound, one does not.
    std::string big(static_cast<size_t>(Mailbox::kMaxCachedText / 8 * 5), 'x');
    for (int i = 0; i < 3; ++i)
        mailbox.Index().Append(new MessageEntry);
    MessageEntry& a = *mailbox.Index().At(0);
    MessageEntry& b = *mailbox.Index().At(1);
    MessageEntry& c = *mailbox.Index().At(2);
    a.headerText = Text(big.c_str());
    mailbox.NoteServed(a);
    b.bodyText = Text("small");
    mailbox.NoteServed(b);
    EXPECT_EQ(a.headerText.Length(), static_cast<int>(big.size()));  // under the bound
    c.headerText = Text(big.c_str());
    mailbox.NoteServed(c);
    // Past the bound: the others' texts are dropped, the one just served stays.
    EXPECT_FALSE(a.headerText.HasBuffer());
    EXPECT_FALSE(b.bodyText.HasBuffer());
    EXPECT_EQ(c.headerText.Length(), static_cast<int>(big.size()));
    // Serving the same text again counts nothing new.
    a.headerText = Text("again");
    mailbox.NoteServed(a);
    mailbox.NoteServed(c);
    EXPECT_EQ(c.headerText.Length(), static_cast<int>(big.size()));
    EXPECT_STREQ(a.headerText.c_str(), "again");
}

}  // namespace
