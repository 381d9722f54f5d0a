// MessageIndex: the messages of an opened folder in ascending UID order, as read from the host's
// list. A folder of 100,000 messages is opened far more often than each of its messages is
// looked at, so the list is kept as compact records (name, UID, status word, record tail) and a
// message's MessageEntry is made the first time it is asked for. The records of an unchanged
// list are shared by every index that read it (store/listing_cache.h) until one changes them.
#ifndef ORV_STORE_MESSAGE_INDEX_H_
#define ORV_STORE_MESSAGE_INDEX_H_

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/threads.h"
#include "store/message_entry.h"

// The records of one reading of the host's list.
struct Listing {
    // One line of the list: 32 bytes instead of an entry of some 180.
    struct Record {
        uint64_t tail = 0;
        uint32_t uid = 0;
        uint32_t status = 0;
        uint32_t nameOffset = 0;  // in text
        int32_t nameLength = -1;  // -1: an entry added whole, not from the list
        uint64_t modSeq = 0;      // extended mode: the modification sequence of its last change
    };
    std::vector<Record> records;
    // The list's bytes as read, where the records' names lie.
    std::shared_ptr<const std::string> text;
    // As the list was read: the messages marked recent (unread then), and one above the
    // highest UID (0 for no line).
    int recent = 0;
    uint32_t uidNext = 0;

    // Adds a line's record at the end; the name lies in text.
    void Add(const char* name, int length, uint32_t uid, uint32_t status, uint64_t tail);
    // Puts the records in ascending UID order, keeping the order of equal UIDs.
    void SortByUid();
    // The bytes it holds.
    size_t Bytes() const {
        return records.capacity() * sizeof(Record) + (text != nullptr ? text->size() : 0);
    }
};

class MessageIndex {
  public:
    MessageIndex();
    // Deletes every entry made or added.
    ~MessageIndex();
    MessageIndex(const MessageIndex&) = delete;
    MessageIndex& operator=(const MessageIndex&) = delete;

    int Count() const { return static_cast<int>(listing_->records.size()); }
    // The entry at position (made from its record on first use, and kept), or null when out of
    // range. Entries never move in memory while they are in the index.
    MessageEntry* At(int position) const {
        if (position < 0 || position >= Count())
            return nullptr;
        MessageEntry* entry = Made(position);
        return entry != nullptr ? entry : Make(position);
    }
    MessageEntry* First() const { return At(0); }
    MessageEntry* Last() const { return At(Count() - 1); }

    // What the index holds at position, without making the entry (position must be in range).
    // The name is the host's file name, not NUL-terminated when read from a record.
    uint32_t UidAt(int position) const;
    uint32_t StatusAt(int position) const;
    bool RecentAt(int position) const;
    uint64_t TailAt(int position) const;
    void NameAt(int position, const char** name, int* length) const;
    uint64_t ModSeqAt(int position) const;
    // Sets the UID and the modification sequence at position.
    void SetUidAt(int position, uint32_t uid, uint64_t modSeq = 0);
    // Sets the UID, status word, record tail, modification sequence and recent mark of *out to the
    // record's at position (position in range), without making the entry; the texts and file name
    // are left alone.
    void Peek(int position, MessageEntry* out) const;
    // Whether the entry at position was made (only a made entry can hold kept flags or texts).
    bool IsMade(int position) const { return Made(position) != nullptr; }

    // Takes listing's records as the whole index (after Clear), sharing them: they are copied
    // only when the index changes them.
    void Adopt(std::shared_ptr<const Listing> listing);

    // Adds entry (taking it) at the end, or before position.
    void Append(MessageEntry* entry) { Insert(Count(), entry); }
    void Insert(int position, MessageEntry* entry);
    // Takes the entry at position out of the index without deleting it: the caller that asked
    // for it with At owns it now. False when out of range.
    bool Remove(int position);
    // Deletes every entry and record.
    void Clear();

    // Inserts entry (taking it) in UID order; entries with equal UIDs keep their insertion
    // order. Appends directly when the last UID is smaller.
    void SortedInsert(MessageEntry* entry);
    // Inserts a copy of entry in UID order.
    void SortedInsertCopy(const MessageEntry& entry);
    // Puts the index in ascending UID order, keeping the order of equal UIDs; nothing moves
    // when it is in order already.
    void SortByUid();

    // The index's critical section, re-entrant: held by every change, and by a reader on
    // another thread than the one that changes the index.
    void Lock() const { lock_.Enter(); }
    void Unlock() const { lock_.Leave(); }

  private:
    MessageEntry* Make(int position) const;
    // The entry made at position, or null.
    MessageEntry* Made(int position) const {
        return entries_.empty() ? nullptr : entries_[static_cast<size_t>(position)];
    }
    // The entries' slots, one per record, null for those not made: none are kept until one
    // entry is made or added, so opening a folder writes nothing per message.
    std::vector<MessageEntry*>& Slots() const;
    // The records, made the index's own before a change.
    Listing& Own();
    const Listing::Record& RecordAt(int position) const {
        return listing_->records[static_cast<size_t>(position)];
    }

    mutable std::vector<MessageEntry*> entries_;
    std::shared_ptr<const Listing> listing_;
    bool owned_ = true;  // listing_ is this index's alone
    mutable EntryBatch batch_;
    mutable platform::CriticalSection lock_;
};

// Holds a message index's critical section for one scope.
class IndexLock {
  public:
    explicit IndexLock(const MessageIndex& index) : index_(index) { index_.Lock(); }
    ~IndexLock() { index_.Unlock(); }
    IndexLock(const IndexLock&) = delete;
    IndexLock& operator=(const IndexLock&) = delete;

  private:
    const MessageIndex& index_;
};

#endif  // ORV_STORE_MESSAGE_INDEX_H_
