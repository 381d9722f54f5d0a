// A folder's "Imap4.uid" of any bytes, as a server that finds it at a folder's first open reads
// it: a record read is written back and must read back the same, and matching a list against it
// (the status words and modification sequences it carries) must keep every rule of the record.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "store/folder_uids.h"
#include "store/message_index.h"

namespace {

void Require(bool condition) {
    if (!condition)
        std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    UidMap map;
    if (!ParseUidMap(text, &map))
        return 0;
    const std::string written = FormatUidMap(map);
    UidMap again;
    Require(ParseUidMap(written, &again));
    Require(FormatUidMap(again) == written);

    // The record's own messages listed again, every status word changed: one new sequence for
    // all, above every one the record gave before, and no UID at or past next.
    MessageIndex index;
    for (const UidRecord& record : map.records) {
        MessageEntry* entry = new MessageEntry;
        entry->fileName.AssignCompact(record.name.data(), static_cast<int>(record.name.size()));
        entry->uid = record.nameUid;
        entry->recordTail = record.tail;
        entry->status = record.status + 1;
        index.SortedInsert(entry);
    }
    const uint64_t before = map.modSeq;
    if (AssignUids(map, index, false) == UidAssignment::kExhausted)
        return 0;
    Require(map.modSeq >= before && map.modSeq <= before + 1);
    for (int i = 0; i < index.Count(); ++i) {
        Require(index.UidAt(i) < map.next);
        Require(index.ModSeqAt(i) <= map.modSeq);
        Require(i == 0 || index.UidAt(i - 1) < index.UidAt(i));
    }
    Require(ParseUidMap(FormatUidMap(map), &again));
    return 0;
}
