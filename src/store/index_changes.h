// IndexChanges: what changed in a folder since a session took its snapshot of the index: the
// messages the host removed, those whose flags changed (the host's status word, or the flags the
// extended mode keeps itself, which another connection may have set) and the new ones. Comparing is
// pure (two indexes in, a description out); applying brings the snapshot up to date and tells
// a listener each step with the sequence numbers the client must see, in the order it applies
// them.
#ifndef ORV_STORE_INDEX_CHANGES_H_
#define ORV_STORE_INDEX_CHANGES_H_

#include <cstdint>
#include <vector>

#include "base/text.h"
#include "store/mailbox.h"

// A snapshot entry whose line the host removed.
struct RemovedEntry {
    int position;  // 0-based position in the snapshot
    uint32_t uid;
    Text fileName;
};

// A snapshot entry whose status word differs from the host's line now, or whose kept flags or
// modification sequence (extended mode) differ from the folder's record now.
struct ChangedEntry {
    int position;  // 0-based position in the snapshot
    uint32_t status;
    Text keptFlags;
    uint64_t modSeq;
};

// The difference between a snapshot and the index read again. Each list is in ascending
// position order.
struct IndexChanges {
    std::vector<RemovedEntry> removed;
    std::vector<ChangedEntry> changed;
    // Positions in the fresh index of the new messages that can be appended: their UIDs lie
    // above every UID the snapshot keeps. A new line with a lower UID could only be placed
    // by renumbering messages the client already knows, so it is left out.
    std::vector<int> added;

    bool Empty() const { return removed.empty() && changed.empty() && added.empty(); }
};

// Compares two indexes of one folder, both in ascending UID order. An entry is the same
// message in both when UID and file name agree; among entries that share both (the host can
// list a name twice) the n-th of the snapshot matches the n-th of the fresh index.
IndexChanges CompareIndexes(const MessageIndex& snapshot, const MessageIndex& fresh);

// Told each step of ApplyIndexChanges, so a session can write one untagged line per step
// while the snapshot changes under it.
class IndexChangeListener {
  public:
    virtual ~IndexChangeListener() = default;
    // The message at sequence number `sequence` (counted at this moment), with UID uid, was
    // removed.
    virtual void Expunged(int sequence, uint32_t uid) = 0;
    // The message at `sequence` got a new status word, new kept flags or a new modification
    // sequence (already in entry).
    virtual void StatusChanged(int sequence, MessageEntry& entry) = 0;
    // Messages were appended: the folder now holds `count`, `recent` of them recent.
    virtual void Grew(int count, int recent) = 0;
};

// Brings snapshot up to date with fresh as changes (from CompareIndexes of the two) describe:
// removes the entries gone, in ascending order, each reported with the number it has once the
// ones before it are gone; sets the changed status words and kept flags; appends copies of the new
// entries and reports the new count once. Unchanged entries keep everything they hold (the loaded
// header and body text included).
void ApplyIndexChanges(MessageIndex& snapshot, const MessageIndex& fresh,
                       const IndexChanges& changes, IndexChangeListener& listener);

#endif  // ORV_STORE_INDEX_CHANGES_H_
