// Comparing a folder's index snapshot with the index read again, and bringing the snapshot up
// to date, as the change reports of NOOP, CHECK and IDLE need them.
#include "store/index_changes.h"

#include <cstring>

namespace {

// File names and kept flags are compared byte for byte: the host writes a message's name once
// and keeps it.
bool SameBytes(const Text& a, const Text& b) {
    return a.Length() == b.Length() && std::memcmp(a.c_str(), b.c_str(), a.Length()) == 0;
}

bool SameName(const MessageIndex& a, int i, const MessageIndex& b, int k) {
    const char* name = nullptr;
    const char* other = nullptr;
    int length = 0;
    int otherLength = 0;
    a.NameAt(i, &name, &length);
    b.NameAt(k, &other, &otherLength);
    return length == otherLength && std::memcmp(name, other, static_cast<size_t>(length)) == 0;
}

// The kept flags of an entry; one not made yet has none.
const Text& KeptFlagsAt(const MessageIndex& index, int position) {
    static const Text kNone;
    return index.IsMade(position) ? index.At(position)->keptFlags : kNone;
}

}  // namespace

IndexChanges CompareIndexes(const MessageIndex& snapshot, const MessageIndex& fresh) {
    IndexChanges changes;
    const int freshCount = fresh.Count();
    std::vector<bool> matched(static_cast<size_t>(freshCount), false);
    bool kept = false;
    uint32_t highestKept = 0;
    // Both indexes ascend by UID, so the fresh entries sharing a snapshot entry's UID start at
    // or after those of the entry before it. Neither index makes entries for the comparison.
    int group = 0;
    for (int i = 0; i < snapshot.Count(); ++i) {
        const uint32_t uid = snapshot.UidAt(i);
        while (group < freshCount && fresh.UidAt(group) < uid)
            ++group;
        int match = -1;
        for (int k = group; k < freshCount && fresh.UidAt(k) == uid; ++k) {
            if (!matched[k] && SameName(fresh, k, snapshot, i)) {
                match = k;
                break;
            }
        }
        if (match < 0) {
            const char* name = nullptr;
            int length = 0;
            snapshot.NameAt(i, &name, &length);
            Text removedName;
            removedName.AssignCompact(name, length);
            changes.removed.push_back({i, uid, removedName});
            continue;
        }
        matched[match] = true;
        const Text& keptNow = KeptFlagsAt(fresh, match);
        if (fresh.StatusAt(match) != snapshot.StatusAt(i) ||
            fresh.ModSeqAt(match) != snapshot.ModSeqAt(i) ||
            !SameBytes(keptNow, KeptFlagsAt(snapshot, i)))
            changes.changed.push_back({i, fresh.StatusAt(match), keptNow, fresh.ModSeqAt(match)});
        if (!kept || uid > highestKept)
            highestKept = uid;
        kept = true;
    }
    for (int k = 0; k < freshCount; ++k) {
        if (!matched[k] && (!kept || fresh.UidAt(k) > highestKept))
            changes.added.push_back(k);
    }
    return changes;
}

void ApplyIndexChanges(MessageIndex& snapshot, const MessageIndex& fresh,
                       const IndexChanges& changes, IndexChangeListener& listener) {
    // Each removal moves the later entries one position down, so the client, applying the
    // EXPUNGE lines in order, numbers the messages as we do here.
    int gone = 0;
    for (const RemovedEntry& removal : changes.removed) {
        const int position = removal.position - gone;
        MessageEntry* entry = snapshot.At(position);
        if (entry == nullptr)
            continue;
        const uint32_t uid = entry->uid;
        snapshot.Remove(position);
        delete entry;
        ++gone;
        listener.Expunged(position + 1, uid);
    }

    // A changed entry is never a removed one; its number drops by the removals before it.
    size_t before = 0;
    for (const ChangedEntry& change : changes.changed) {
        while (before < changes.removed.size() &&
               changes.removed[before].position < change.position)
            ++before;
        const int position = change.position - static_cast<int>(before);
        MessageEntry* entry = snapshot.At(position);
        if (entry == nullptr)
            continue;
        entry->status = change.status;
        entry->keptFlags = change.keptFlags;
        entry->modSeq = change.modSeq;
        listener.StatusChanged(position + 1, *entry);
    }

    bool grew = false;
    for (int position : changes.added) {
        const MessageEntry* entry = fresh.At(position);
        if (entry == nullptr)
            continue;
        snapshot.Append(new MessageEntry(*entry));
        grew = true;
    }
    if (grew) {
        int recent = 0;
        for (int p = 0; p < snapshot.Count(); ++p) {
            if (snapshot.RecentAt(p))
                ++recent;
        }
        listener.Grew(snapshot.Count(), recent);
    }
}
