// Tests of comparing a folder's index snapshot with the index read again and of bringing the
// snapshot up to date: new, removed and changed messages (status word or kept flags), all at once,
// names listed twice, new lines that cannot be appended, and the sequence numbers each step is
// reported with.
#include "store/index_changes.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

constexpr uint32_t kRead = 0;
constexpr uint32_t kUnread = StatusUnread;

// A listener that writes each step as one short line.
class Recorder : public IndexChangeListener {
  public:
    void Expunged(int sequence, uint32_t) override {
        steps.push_back("expunge " + std::to_string(sequence));
    }
    void StatusChanged(int sequence, MessageEntry& entry) override {
        std::string step = "flags " + std::to_string(sequence) + " " + std::to_string(entry.status);
        if (!entry.keptFlags.IsEmpty())
            step += std::string(" ") + entry.keptFlags.c_str();
        steps.push_back(step);
    }
    void Grew(int count, int recent) override {
        steps.push_back("exists " + std::to_string(count) + " recent " + std::to_string(recent));
    }
    std::vector<std::string> steps;
};

// Appends an entry as "Entry.lst" loading makes it: uid from the name, recent when unread.
MessageEntry* Add(MessageIndex& index, const char* name, uint32_t status) {
    MessageEntry* entry = new MessageEntry;
    entry->fileName = name;
    entry->uid = UidFromFileName(entry->fileName);
    entry->status = status;
    entry->recent = (status & StatusUnread) != 0 ? 1 : 0;
    index.Append(entry);
    return entry;
}

std::vector<uint32_t> Uids(const MessageIndex& index) {
    std::vector<uint32_t> uids;
    for (int i = 0; i < index.Count(); ++i)
        uids.push_back(index.At(i)->uid);
    return uids;
}

std::vector<std::string> Update(MessageIndex& snapshot, const MessageIndex& fresh) {
    Recorder recorder;
    ApplyIndexChanges(snapshot, fresh, CompareIndexes(snapshot, fresh), recorder);
    return recorder.steps;
}

TEST(IndexChangesTest, SameIndexHasNoChanges) {
    MessageIndex snapshot, fresh;
    for (MessageIndex* index : {&snapshot, &fresh}) {
        Add(*index, "AAAA0001", kRead);
        Add(*index, "AAAA0002", kUnread);
    }
    EXPECT_TRUE(CompareIndexes(snapshot, fresh).Empty());
    EXPECT_TRUE(Update(snapshot, fresh).empty());
    EXPECT_EQ(Uids(snapshot), (std::vector<uint32_t>{1, 2}));
}

TEST(IndexChangesTest, NewMessagesAreAppendedAsCopiesAndCounted) {
    MessageIndex snapshot, fresh;
    Add(snapshot, "AAAA0001", kRead);
    Add(fresh, "AAAA0001", kRead);
    Add(fresh, "AAAA0002", kUnread);
    Add(fresh, "AAAB0001", kRead);

    IndexChanges changes = CompareIndexes(snapshot, fresh);
    EXPECT_EQ(changes.added, (std::vector<int>{1, 2}));
    EXPECT_TRUE(changes.removed.empty());
    EXPECT_TRUE(changes.changed.empty());

    EXPECT_EQ(Update(snapshot, fresh), (std::vector<std::string>{"exists 3 recent 1"}));
    EXPECT_EQ(Uids(snapshot), (std::vector<uint32_t>{1, 2, 10001}));
    // Copies: the fresh index still owns its own entries.
    EXPECT_NE(snapshot.At(1), fresh.At(1));
    EXPECT_EQ(snapshot.At(1)->fileName, "AAAA0002");
    EXPECT_EQ(snapshot.At(1)->recent, 1);
}

TEST(IndexChangesTest, RemovedMessagesAreNumberedAsTheClientAppliesThem) {
    MessageIndex snapshot, fresh;
    for (const char* name : {"AAAA0001", "AAAA0002", "AAAA0003", "AAAA0004"})
        Add(snapshot, name, kRead);
    Add(fresh, "AAAA0001", kRead);
    Add(fresh, "AAAA0004", kRead);

    IndexChanges changes = CompareIndexes(snapshot, fresh);
    ASSERT_EQ(changes.removed.size(), 2u);
    EXPECT_EQ(changes.removed[0].position, 1);
    EXPECT_EQ(changes.removed[0].uid, 2u);
    EXPECT_EQ(changes.removed[0].fileName, "AAAA0002");
    EXPECT_EQ(changes.removed[1].position, 2);
    EXPECT_EQ(changes.removed[1].fileName, "AAAA0003");

    // Messages 2 and 3 of 4: the second is number 2 once the first is gone.
    EXPECT_EQ(Update(snapshot, fresh), (std::vector<std::string>{"expunge 2", "expunge 2"}));
    EXPECT_EQ(Uids(snapshot), (std::vector<uint32_t>{1, 4}));
}

TEST(IndexChangesTest, ChangedFlagsUpdateTheEntryAndKeepItsLoadedText) {
    MessageIndex snapshot, fresh;
    MessageEntry* kept = Add(snapshot, "AAAA0001", kUnread);
    kept->headerText = "Subject: kept\r\n";
    kept->bodyText = "body\r\n";
    Add(snapshot, "AAAA0002", kRead);
    Add(snapshot, "AAAA0003", kRead)->keptFlags = "$Work";
    Add(fresh, "AAAA0001", kRead | StatusAnswered);
    // Flags kept by the server that another session set, or took away.
    Add(fresh, "AAAA0002", kRead)->keptFlags = "\\Flagged $Work";
    Add(fresh, "AAAA0003", kRead);

    IndexChanges changes = CompareIndexes(snapshot, fresh);
    ASSERT_EQ(changes.changed.size(), 3u);
    EXPECT_EQ(changes.changed[0].position, 0);
    EXPECT_EQ(changes.changed[0].status, StatusAnswered);

    EXPECT_EQ(Update(snapshot, fresh),
              (std::vector<std::string>{"flags 1 " + std::to_string(StatusAnswered),
                                        "flags 2 0 \\Flagged $Work", "flags 3 0"}));
    EXPECT_EQ(snapshot.At(1)->keptFlags, "\\Flagged $Work");
    EXPECT_TRUE(snapshot.At(2)->keptFlags.IsEmpty());
    EXPECT_TRUE(CompareIndexes(snapshot, fresh).Empty());
    ASSERT_EQ(snapshot.At(0), kept);
    EXPECT_EQ(kept->status, StatusAnswered);
    // \Recent is the session's marker from when it first saw the message; it stays.
    EXPECT_EQ(kept->recent, 1);
    EXPECT_EQ(kept->headerText, "Subject: kept\r\n");
    EXPECT_EQ(kept->bodyText, "body\r\n");
}

TEST(IndexChangesTest, MixedChangesComeAsExpungesThenFlagsThenTheNewCount) {
    MessageIndex snapshot, fresh;
    for (const char* name : {"AAAA0001", "AAAA0002", "AAAA0003", "AAAA0004", "AAAA0005"})
        Add(snapshot, name, kUnread);
    Add(fresh, "AAAA0001", kRead);
    Add(fresh, "AAAA0003", kUnread);
    Add(fresh, "AAAA0005", kRead | StatusDeleted);
    Add(fresh, "AAAA0006", kUnread);
    Add(fresh, "AAAA0007", kRead);

    const std::string deleted = std::to_string(StatusDeleted);
    EXPECT_EQ(Update(snapshot, fresh),
              (std::vector<std::string>{"expunge 2", "expunge 3", "flags 1 0", "flags 3 " + deleted,
                                        "exists 5 recent 4"}));
    EXPECT_EQ(Uids(snapshot), (std::vector<uint32_t>{1, 3, 5, 6, 7}));
    EXPECT_EQ(snapshot.At(2)->status, StatusDeleted);
    // A second comparison finds nothing left to report.
    EXPECT_TRUE(CompareIndexes(snapshot, fresh).Empty());
}

TEST(IndexChangesTest, NamesListedTwiceMatchOneForOne) {
    MessageIndex snapshot, fresh;
    Add(snapshot, "AAAA0001", kRead);
    Add(snapshot, "AAAA0001", kUnread);
    Add(snapshot, "AAAA0002", kRead);
    // One of the two lines is gone; the one left matches the first of the snapshot.
    Add(fresh, "AAAA0001", kRead);
    Add(fresh, "AAAA0002", kRead);

    IndexChanges changes = CompareIndexes(snapshot, fresh);
    ASSERT_EQ(changes.removed.size(), 1u);
    EXPECT_EQ(changes.removed[0].position, 1);
    EXPECT_TRUE(changes.changed.empty());
    EXPECT_TRUE(changes.added.empty());

    // The host lists the name a second time now: a second line with the same UID cannot be
    // appended after UID 2.
    MessageIndex twice;
    Add(twice, "AAAA0001", kRead);
    Add(twice, "AAAA0001", kRead);
    Add(twice, "AAAA0002", kRead);
    EXPECT_TRUE(CompareIndexes(fresh, twice).Empty());
}

TEST(IndexChangesTest, SameUidUnderAnotherNameIsAnotherMessage) {
    MessageIndex snapshot, fresh;
    Add(snapshot, "AAAA0001", kRead);
    Add(snapshot, "AAAA0003", kRead);
    Add(fresh, "AAAA0001", kRead);
    Add(fresh, "aaaa0003", kRead);

    IndexChanges changes = CompareIndexes(snapshot, fresh);
    ASSERT_EQ(changes.removed.size(), 1u);
    EXPECT_EQ(changes.removed[0].fileName, "AAAA0003");
    EXPECT_EQ(changes.added, (std::vector<int>{1}));
    EXPECT_EQ(Update(snapshot, fresh),
              (std::vector<std::string>{"expunge 2", "exists 2 recent 0"}));
    EXPECT_EQ(snapshot.At(1)->fileName, "aaaa0003");
}

TEST(IndexChangesTest, NewLinesBelowTheHighestKeptUidAreLeftOut) {
    MessageIndex snapshot, fresh;
    Add(snapshot, "AAAA0002", kRead);
    Add(snapshot, "AAAA0005", kRead);
    Add(fresh, "AAAA0001", kUnread);  // below everything kept
    Add(fresh, "AAAA0002", kRead);
    Add(fresh, "AAAA0004", kUnread);  // between kept ones
    Add(fresh, "AAAA0005", kRead);
    Add(fresh, "AAAA0009", kUnread);

    EXPECT_EQ(CompareIndexes(snapshot, fresh).added, (std::vector<int>{4}));
    EXPECT_EQ(Update(snapshot, fresh), (std::vector<std::string>{"exists 3 recent 1"}));
    EXPECT_EQ(Uids(snapshot), (std::vector<uint32_t>{2, 5, 9}));

    // Once the highest is removed, a new line above the remaining ones can follow them.
    MessageIndex later;
    Add(later, "AAAA0002", kRead);
    Add(later, "AAAA0007", kRead);
    EXPECT_EQ(Update(snapshot, later),
              (std::vector<std::string>{"expunge 2", "expunge 2", "exists 2 recent 0"}));
    EXPECT_EQ(Uids(snapshot), (std::vector<uint32_t>{2, 7}));
}

TEST(IndexChangesTest, EmptiedFolderAndEmptySnapshot) {
    MessageIndex snapshot, empty;
    Add(snapshot, "AAAA0001", kRead);
    Add(snapshot, "AAAA0002", kRead);
    EXPECT_EQ(Update(snapshot, empty), (std::vector<std::string>{"expunge 1", "expunge 1"}));
    EXPECT_EQ(snapshot.Count(), 0);

    MessageIndex fresh;
    Add(fresh, "AAAA0001", kUnread);
    EXPECT_EQ(Update(snapshot, fresh), (std::vector<std::string>{"exists 1 recent 1"}));
}

}  // namespace
