// Tests of the extended mode's lasting UIDs: matching the host's list against a folder's record,
// the record's text, and the folder's UIDVALIDITY when the record is new, lost or unreadable.
#include "store/folder_uids.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "fake_host.h"
#include "platform/profile.h"
#include "store/mailbox.h"

namespace {

namespace fs = std::filesystem;

// An index as the host's list gives it: entries in name order with the name's UID.
struct Listed {
    const char* name;
    uint64_t tail;
    uint32_t status = 0;
};
void Fill(MessageIndex& index, const std::vector<Listed>& listed) {
    index.Clear();
    for (const Listed& l : listed) {
        MessageEntry* entry = new MessageEntry;
        entry->fileName = Text(l.name);
        entry->uid = UidFromFileName(entry->fileName);
        entry->recordTail = l.tail;
        entry->status = l.status;
        index.SortedInsert(entry);
    }
}
std::vector<uint64_t> ModSeqsOf(const MessageIndex& index) {
    std::vector<uint64_t> modSeqs;
    for (int i = 0; i < index.Count(); ++i)
        modSeqs.push_back(index.ModSeqAt(i));
    return modSeqs;
}
using ModSeqs = std::vector<uint64_t>;
std::vector<uint32_t> UidsOf(const MessageIndex& index) {
    std::vector<uint32_t> uids;
    for (int i = 0; i < index.Count(); ++i)
        uids.push_back(index.At(i)->uid);
    return uids;
}
using Uids = std::vector<uint32_t>;

TEST(AssignUidsTest, ReusedNamesAndReturningNamesGetNewUidsAndNextNeverFalls) {
    UidMap map;
    map.validity = 7;
    MessageIndex index;
    // A folder seen for the first time keeps the UIDs of its names.
    Fill(index, {{"AAAA0001", 1}, {"AAAA0002", 2}, {"AAAB0001", 3}});
    EXPECT_EQ(AssignUids(map, index, true), UidAssignment::kChanged);
    EXPECT_EQ(UidsOf(index), (Uids{1, 2, 10001}));
    EXPECT_EQ(map.next, 10002u);
    // The host deleted the newest and gave its name to the next message (another record).
    Fill(index, {{"AAAA0001", 1}, {"AAAA0002", 2}, {"AAAB0001", 9}});
    EXPECT_EQ(AssignUids(map, index, false), UidAssignment::kChanged);
    EXPECT_EQ(UidsOf(index), (Uids{1, 2, 10002}));
    // Deleted while the server looked, then back with the same record: still a new message.
    Fill(index, {{"AAAA0001", 1}, {"AAAA0002", 2}});
    EXPECT_EQ(AssignUids(map, index, false), UidAssignment::kChanged);
    Fill(index, {{"AAAA0001", 1}, {"AAAA0002", 2}, {"AAAB0001", 9}});
    AssignUids(map, index, false);
    EXPECT_EQ(UidsOf(index), (Uids{1, 2, 10003}));
    // Everything deleted: UIDNEXT stays; the next message named AAAA0001 gets 10004.
    Fill(index, {});
    AssignUids(map, index, false);
    EXPECT_EQ(map.next, 10004u);
    EXPECT_TRUE(map.records.empty());
    Fill(index, {{"AAAA0001", 1}});
    AssignUids(map, index, false);
    EXPECT_EQ(UidsOf(index), (Uids{10004}));
}

TEST(AssignUidsTest, ShortReadsDuplicatesOrderAndExhaustion) {
    UidMap map;
    map.validity = 3;
    MessageIndex index;
    Fill(index, {{"AAAA0001", 1}, {"AAAA0002", 2}, {"AAAA0002", 2}, {"AAAA0003", 3}});
    AssignUids(map, index, true);
    // Two lines of one name are two messages with UIDs of their own.
    EXPECT_EQ(UidsOf(index), (Uids{1, 2, 3, 4}));
    // A short read (the host rewriting its list) forgets nothing: 0002 keeps its UIDs later.
    Fill(index, {{"AAAA0001", 1}, {"AAAA0003", 3}});
    AssignUids(map, index, false, false);
    EXPECT_EQ(map.records.size(), 4u);
    Fill(index, {{"AAAA0001", 1}, {"AAAA0002", 2}, {"AAAA0002", 2}, {"AAAA0003", 3}});
    EXPECT_EQ(AssignUids(map, index, false), UidAssignment::kUnchanged);
    EXPECT_EQ(UidsOf(index), (Uids{1, 2, 3, 4}));
    // A new message named below older ones still gets the next UID, and the index ascends.
    Fill(index, {{"AAAA0000", 5}, {"AAAA0001", 1}, {"AAAA0003", 3}});
    AssignUids(map, index, false);
    EXPECT_EQ(UidsOf(index), (Uids{1, 4, 5}));
    EXPECT_STREQ(index.At(2)->fileName.c_str(), "AAAA0000");

    // No UID left: nothing changes.
    map.next = 0xFFFFFFFEu;
    Fill(index, {{"AAAA0001", 1}, {"AAAA0007", 7}, {"AAAA0008", 8}});
    EXPECT_EQ(AssignUids(map, index, false), UidAssignment::kExhausted);
    EXPECT_EQ(map.next, 0xFFFFFFFEu);
    EXPECT_EQ(map.records.size(), 3u);
}

TEST(AssignUidsTest, EachReadingsChangesShareOneNewModSeqAndRemovalsAreRemembered) {
    UidMap map;
    map.validity = 5;
    MessageIndex index;
    Fill(index, {{"AAAA0001", 1}, {"AAAA0002", 2}, {"AAAA0003", 3}});
    AssignUids(map, index, true);
    EXPECT_EQ(map.modSeq, 2u);
    EXPECT_EQ(ModSeqsOf(index), (ModSeqs{2, 2, 2}));
    // Read again unchanged: nothing moves, also on the fast path for the same list.
    EXPECT_EQ(AssignUids(map, index, false), UidAssignment::kUnchanged);
    EXPECT_EQ(map.modSeq, 2u);
    // The host changed one status word.
    Fill(index, {{"AAAA0001", 1}, {"AAAA0002", 2, 0x20000000}, {"AAAA0003", 3}});
    EXPECT_EQ(AssignUids(map, index, false), UidAssignment::kChanged);
    EXPECT_EQ(ModSeqsOf(index), (ModSeqs{2, 3, 2}));
    // One removed and one new with another status: both take the next value.
    Fill(index, {{"AAAA0001", 1, 0x40000000}, {"AAAA0002", 2, 0x20000000}, {"AAAA0004", 4}});
    AssignUids(map, index, false);
    EXPECT_EQ(ModSeqsOf(index), (ModSeqs{4, 3, 4}));
    ASSERT_EQ(map.vanished.size(), 1u);
    EXPECT_EQ(map.vanished[0].uid, 3u);
    EXPECT_EQ(map.vanished[0].modSeq, 4u);
    // A short read removes nothing, and so remembers no removal.
    Fill(index, {{"AAAA0001", 1, 0x40000000}});
    AssignUids(map, index, false, false);
    EXPECT_EQ(map.vanished.size(), 1u);

    // Past the bound the oldest removals are forgotten, all of one value together, and the
    // floor says how far back what is left reaches.
    map.vanished.assign(kMaxVanished, VanishedUid{100, 1});
    map.vanished.back().modSeq = 2;
    Fill(index, {{"AAAA0001", 1, 0x40000000}, {"AAAA0004", 4}});
    AssignUids(map, index, false);
    EXPECT_EQ(map.vanishedFloor, 1u);
    ASSERT_EQ(map.vanished.size(), 2u);
    EXPECT_EQ(map.vanished[0].modSeq, 2u);
    EXPECT_EQ(map.vanished[1].uid, 2u);
}

TEST(UidMapTextTest, RoundTripAndDamagedTextRefused) {
    UidMap map;
    map.validity = 41;
    map.next = 12;
    map.modSeq = 30;
    map.records = {{1, 1, 0x1122334455667788ull, "AAAA0001", 0x40000000, 30},
                   {10001, 11, 0, std::string("AAAB0001\r", 9)}};
    map.vanished = {{3, 7}, {2, 9}};
    map.vanishedFloor = 6;
    const std::string text = FormatUidMap(map);
    UidMap back;
    ASSERT_TRUE(ParseUidMap(text, &back));
    EXPECT_EQ(FormatUidMap(back), text);
    // Cut anywhere (a file written half), a UID at or past next, or a UID given twice.
    for (size_t cut = 0; cut < text.size(); ++cut)
        EXPECT_FALSE(ParseUidMap(text.substr(0, cut), &back)) << cut;
    map.next = 11;
    EXPECT_FALSE(ParseUidMap(FormatUidMap(map), &back));
    map.next = 12;
    map.records[0].modSeq = 31;  // above the folder's
    EXPECT_FALSE(ParseUidMap(FormatUidMap(map), &back));
    map.records[0].modSeq = 30;
    map.vanished[0].modSeq = 6;  // at the floor: forgotten already
    EXPECT_FALSE(ParseUidMap(FormatUidMap(map), &back));
    map.vanished[0].modSeq = 7;
    map.records[1].uid = 1;
    EXPECT_FALSE(ParseUidMap(FormatUidMap(map), &back));

    // The first format: no sequences, so the next reading takes the status words it finds
    // without counting them as changes.
    ASSERT_TRUE(
        ParseUidMap("Imap4.uid 1\nvalidity 41 next 12 count 1\n"
                    "1 1122334455667788 AAAA0001\nend\n",
                    &back));
    EXPECT_EQ(back.modSeq, 1u);
    EXPECT_EQ(back.records[0].status, kUnseenStatus);
    MessageIndex index;
    Fill(index, {{"AAAA0001", 0x1122334455667788ull, 0x40000000}});
    EXPECT_EQ(AssignUids(back, index, false), UidAssignment::kChanged);
    EXPECT_EQ(back.modSeq, 1u);
    EXPECT_EQ(back.records[0].status, 0x40000000u);
    EXPECT_EQ(UidsOf(index), (Uids{1}));
}

// The folders of one mailbox directory opened as sessions open them.
class LastingUidsTest : public ::testing::Test {
  protected:
    void SetUp() override {
        static int serial = 0;
        const auto stamp = std::chrono::steady_clock::now().time_since_epoch().count();
        root_ = fs::temp_directory_path() /
                ("orv_uids_" + std::to_string(stamp) + "_" + std::to_string(++serial));
        fs::create_directories(root_ / "user" / "work.box");
        fs::create_directories(root_ / "user" / "inbox.box");
        host_.SetMailboxDirectory(root_.string() + "/");
        Put(root_ / "Imap4.ini", "[Server]\r\nPortNo=143\r\n[IMAP4]\r\nUID=40\r\n");
    }
    void TearDown() override {
        std::error_code ec;
        fs::remove_all(root_, ec);
    }
    void Put(const fs::path& path, const std::string& bytes) {
        std::ofstream f(path, std::ios::binary | std::ios::trunc);
        f << bytes;
    }
    // The folder's list: names with a record of 16 characters each ("QAAAA" + a letter
    // choosing the record's tail).
    void List(const char* folder, const std::vector<std::string>& lines) {
        std::string list;
        for (const std::string& line : lines)
            list += line + "\r\n";
        Put(root_ / "user" / folder / "Entry.ini",
            "[Property]\r\nTotal=" + std::to_string(lines.size()) + "\r\n");
        Put(root_ / "user" / folder / "Entry.lst", list);
    }
    uint32_t Counter() { return ProfileUid(root_ / "Imap4.ini"); }
    uint32_t FolderUid(const char* folder) {
        return ProfileUid(root_ / "user" / folder / "Imap4.ini");
    }
    static uint32_t ProfileUid(const fs::path& path) {
        return platform::ProfileInt("IMAP4", "UID", 0, path.c_str());
    }
    struct Opened {
        uint32_t validity;
        uint32_t next;
        Uids uids;
    };
    Opened Open(const char* folder, Mode mode = Mode::kExtended) {
        Mailbox box(host_, "user", folder, mode);
        box.OpenIndex();
        return {box.UidValidity(), box.UidNext(), UidsOf(box.Index())};
    }

    fs::path root_;
    FakeHost host_;
};

TEST_F(LastingUidsTest, LostOrDamagedRecordTakesANewGreaterValidity) {
    // A folder that had a record and lost it; one whose record is damaged; one that never had
    // a value (the counter's next one).
    Put(root_ / "user" / "inbox.box" / "Imap4.ini", "[IMAP4]\r\nUID=90\r\nUIDRecord=1\r\n");
    Put(root_ / "user" / "work.box" / "Imap4.ini", "[IMAP4]\r\nUID=8\r\n");
    Put(root_ / "user" / "work.box" / "Imap4.uid", "Imap4.uid 1\nvalidity 8 next 3 count 1\n1 ");
    List("work.box", {"AAAA0001=QAAAAAEAAAABAAAA"});
    fs::create_directories(root_ / "user" / "new.box");
    EXPECT_EQ(Open("INBOX").validity, 91u);
    EXPECT_EQ(FolderUid("inbox.box"), 91u);
    EXPECT_EQ(Open("work.box").validity, 92u);
    EXPECT_EQ(Open("new.box").validity, 93u);
    EXPECT_EQ(Open("new.box").validity, 93u);
    EXPECT_EQ(Counter(), 93u);
    // The exact mode reads the folder's value that the record now gives.
    EXPECT_EQ(Open("work.box", Mode::kExact).validity, 92u);
}

TEST_F(LastingUidsTest, MissingFolderAndConcurrentFirstOpens) {
    // No directory: no record, nothing created, a new value each time as before.
    EXPECT_EQ(Open("gone.box").validity, 41u);
    EXPECT_EQ(Open("gone.box").validity, 42u);
    EXPECT_FALSE(fs::exists(root_ / "user" / "gone.box"));

    constexpr int kThreads = 8;
    std::vector<Opened> seen(kThreads);
    std::vector<std::thread> threads;
    List("work.box", {"AAAA0001=QAAAAAEAAAABAAAA"});
    for (int t = 0; t < kThreads; ++t)
        threads.emplace_back([this, &seen, t] { seen[t] = Open("work.box"); });
    for (std::thread& thread : threads)
        thread.join();
    for (const Opened& o : seen) {
        EXPECT_EQ(o.validity, 43u);
        EXPECT_EQ(o.uids, (Uids{1}));
    }
    EXPECT_EQ(FolderUid("work.box"), 43u);
    EXPECT_EQ(Counter(), 43u);
}

TEST_F(LastingUidsTest, AListIsMatchedBeforeAnotherConnectionReadsOne) {
    // A reads the list, and while it holds it B reads a longer one (a message the host just
    // stored). B must not match its list before A has matched A's: A would then drop the UID
    // B gave the new message, and the message would get another one later.
    std::atomic<bool> aDone{false};
    std::atomic<bool> bMatchedEarly{false};
    std::thread b;
    MessageIndex a;
    GiveLastingUids(host_, Text("user"), Text("work.box"), a, [&] {
        Fill(a, {{"AAAA0001", 1}});
        b = std::thread([&] {
            MessageIndex bIndex;
            GiveLastingUids(host_, Text("user"), Text("work.box"), bIndex, [&] {
                bMatchedEarly = !aDone;
                Fill(bIndex, {{"AAAA0001", 1}, {"AAAA0002", 2}});
                return true;
            });
        });
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        aDone = true;
        return true;
    });
    b.join();
    EXPECT_FALSE(bMatchedEarly);
    MessageIndex again;
    GiveLastingUids(host_, Text("user"), Text("work.box"), again, [&] {
        Fill(again, {{"AAAA0001", 1}, {"AAAA0002", 2}});
        return true;
    });
    EXPECT_EQ(UidsOf(again), (Uids{1, 2}));
}

}  // namespace
