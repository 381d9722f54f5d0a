// MessageIndex: a folder's messages as compact records of the host's list, each made into a
// MessageEntry on first use.
#include "store/message_index.h"

#include <algorithm>

void Listing::Add(const char* name, int length, uint32_t uid, uint32_t status, uint64_t tail) {
    Record record;
    record.tail = tail;
    record.uid = uid;
    record.status = status;
    record.nameOffset = static_cast<uint32_t>(name - text->data());
    record.nameLength = length;
    records.push_back(record);
}

void Listing::SortByUid() {
    std::stable_sort(records.begin(), records.end(),
                     [](const Record& a, const Record& b) { return a.uid < b.uid; });
}

MessageIndex::MessageIndex() : listing_(std::make_shared<Listing>()) {}

MessageIndex::~MessageIndex() {
    Clear();
}

std::vector<MessageEntry*>& MessageIndex::Slots() const {
    if (entries_.empty())
        entries_.assign(listing_->records.size(), nullptr);
    return entries_;
}

MessageEntry* MessageIndex::Make(int position) const {
    IndexLock hold(*this);
    MessageEntry*& slot = Slots()[static_cast<size_t>(position)];
    if (slot != nullptr)
        return slot;
    const Listing::Record& record = RecordAt(position);
    MessageEntry* entry = new (batch_) MessageEntry;
    SetEntryFileName(entry, listing_->text->data() + record.nameOffset, record.nameLength);
    entry->uid = record.uid;
    entry->status = record.status;
    entry->recordTail = record.tail;
    entry->modSeq = record.modSeq;
    entry->recent = (record.status & StatusUnread) != 0 ? 1 : 0;
    slot = entry;
    return entry;
}

Listing& MessageIndex::Own() {
    if (!owned_) {
        listing_ = std::make_shared<Listing>(*listing_);
        owned_ = true;
    }
    // Only this index holds it now.
    return const_cast<Listing&>(*listing_);
}

void MessageIndex::Peek(int position, MessageEntry* out) const {
    const Listing::Record& record = RecordAt(position);
    out->uid = record.uid;
    out->status = record.status;
    out->recordTail = record.tail;
    out->modSeq = record.modSeq;
    out->recent = (record.status & StatusUnread) != 0 ? 1 : 0;
}

uint32_t MessageIndex::UidAt(int position) const {
    const MessageEntry* entry = Made(position);
    return entry != nullptr ? entry->uid : RecordAt(position).uid;
}

uint32_t MessageIndex::StatusAt(int position) const {
    const MessageEntry* entry = Made(position);
    return entry != nullptr ? entry->status : RecordAt(position).status;
}

bool MessageIndex::RecentAt(int position) const {
    const MessageEntry* entry = Made(position);
    if (entry != nullptr)
        return entry->recent != 0;
    return (RecordAt(position).status & StatusUnread) != 0;
}

uint64_t MessageIndex::TailAt(int position) const {
    const MessageEntry* entry = Made(position);
    return entry != nullptr ? entry->recordTail : RecordAt(position).tail;
}

void MessageIndex::NameAt(int position, const char** name, int* length) const {
    const MessageEntry* entry = Made(position);
    if (entry != nullptr) {
        *name = entry->fileName.c_str();
        *length = entry->fileName.Length();
        return;
    }
    const Listing::Record& record = RecordAt(position);
    *name = listing_->text->data() + record.nameOffset;
    *length = record.nameLength;
}

uint64_t MessageIndex::ModSeqAt(int position) const {
    const MessageEntry* entry = Made(position);
    return entry != nullptr ? entry->modSeq : RecordAt(position).modSeq;
}

void MessageIndex::SetUidAt(int position, uint32_t uid, uint64_t modSeq) {
    IndexLock hold(*this);
    MessageEntry* entry = Made(position);
    if (entry != nullptr) {
        entry->uid = uid;
        entry->modSeq = modSeq;
    }
    Listing::Record& record = Own().records[static_cast<size_t>(position)];
    record.uid = uid;
    record.modSeq = modSeq;
}

void MessageIndex::Adopt(std::shared_ptr<const Listing> listing) {
    IndexLock hold(*this);
    Clear();
    listing_ = std::move(listing);
    owned_ = false;
}

void MessageIndex::Insert(int position, MessageEntry* entry) {
    IndexLock hold(*this);
    if (position < 0 || position > Count())
        return;
    Listing::Record record;
    record.uid = entry->uid;
    std::vector<MessageEntry*>& entries = Slots();
    std::vector<Listing::Record>& records = Own().records;
    records.insert(records.begin() + position, record);
    entries.insert(entries.begin() + position, entry);
}

bool MessageIndex::Remove(int position) {
    IndexLock hold(*this);
    if (position < 0 || position >= Count())
        return false;
    std::vector<MessageEntry*>& entries = Slots();
    std::vector<Listing::Record>& records = Own().records;
    records.erase(records.begin() + position);
    entries.erase(entries.begin() + position);
    return true;
}

void MessageIndex::Clear() {
    IndexLock hold(*this);
    for (MessageEntry* entry : entries_)
        delete entry;
    // Swapped out, so the memory of a long list goes back now, not at the next read.
    std::vector<MessageEntry*>().swap(entries_);
    listing_ = std::make_shared<Listing>();
    owned_ = true;
}

void MessageIndex::SortedInsert(MessageEntry* entry) {
    IndexLock hold(*this);
    const int count = Count();
    if (count == 0 || UidAt(count - 1) < entry->uid) {
        Insert(count, entry);
        return;
    }
    // Before the first position whose UID is larger.
    int low = 0;
    int high = count;
    while (low < high) {
        const int middle = low + (high - low) / 2;
        if (entry->uid < UidAt(middle))
            high = middle;
        else
            low = middle + 1;
    }
    Insert(low, entry);
}

void MessageIndex::SortedInsertCopy(const MessageEntry& entry) {
    SortedInsert(new MessageEntry(entry));
}

void MessageIndex::SortByUid() {
    IndexLock hold(*this);
    const int count = Count();
    int first = 1;
    while (first < count && UidAt(first - 1) < UidAt(first))
        ++first;
    if (first >= count)
        return;
    std::vector<int> order(static_cast<size_t>(count));
    for (int i = 0; i < count; ++i)
        order[static_cast<size_t>(i)] = i;
    std::stable_sort(order.begin(), order.end(),
                     [this](int a, int b) { return UidAt(a) < UidAt(b); });
    std::vector<MessageEntry*> entries(static_cast<size_t>(count));
    std::vector<Listing::Record> records(static_cast<size_t>(count));
    for (int i = 0; i < count; ++i) {
        entries[static_cast<size_t>(i)] = Made(order[i]);
        records[static_cast<size_t>(i)] = RecordAt(order[i]);
    }
    entries_.swap(entries);
    Own().records.swap(records);
}
