#include "imap/flag_update.h"

#include <cstdint>
#include <string>

namespace {

// A flag the host's status word can hold, its bit, and whether having the flag sets (1) or
// clears (0) the bit.
struct StorableFlag {
    const char* name;
    uint32_t bit;
    int valueWhenSet;
};

// \Seen is the absence of the unread bit, so having it clears the bit. \Recent cannot be stored;
// \Flagged and keywords have no bit, and only the extended mode keeps them (store/folder_flags.h).
constexpr StorableFlag kStorableFlags[] = {
    {"\\Seen", StatusUnread, 0},
    {"\\Answered", StatusAnswered, 1},
    {"\\Deleted", StatusDeleted, 1},
    {"\\Draft", StatusDraft, 1},
};
constexpr int kStorableCount = sizeof kStorableFlags / sizeof kStorableFlags[0];

// The index of a storable flag (any letter case), or -1.
int FindStorableFlag(const Text& flag) {
    for (int i = 0; i < kStorableCount; ++i) {
        if (flag.CompareNoCase(kStorableFlags[i].name) == 0)
            return i;
    }
    return -1;
}

// The form of STORE's item name, and whether it ends in .SILENT.
StoreForm ReadStoreForm(const Text& itemName, bool* silent) {
    Text suffix(itemName);
    const Text form = suffix.SplitToken('.');
    *silent = !suffix.IsEmpty() && suffix.CompareNoCase("silent") == 0;
    if (form.CompareNoCase("FLAGS") == 0)
        return StoreForm::kReplace;
    if (form.CompareNoCase("+FLAGS") == 0)
        return StoreForm::kAdd;
    if (form.CompareNoCase("-FLAGS") == 0)
        return StoreForm::kRemove;
    return StoreForm::kNone;
}

}  // namespace

FlagUpdate::FlagUpdate(const Text& itemName, const Text& flagList, Mode mode) {
    form_ = ReadStoreForm(itemName, &silent_);
    if (form_ == StoreForm::kNone)
        return;
    if (mode == Mode::kExtended && form_ == StoreForm::kReplace) {
        // The four storable flags are all sent to the host, each set when the list names it
        // and cleared otherwise, whatever the entry shows (the host may have changed the
        // message since the folder was read).
        unsigned listed = 0;
        Text flags(flagList);
        while (!flags.IsEmpty()) {
            const int i = FindStorableFlag(flags.SplitArgument());
            if (i >= 0)
                listed |= 1u << i;
        }
        for (int i = 0; i < kStorableCount; ++i) {
            const StorableFlag& flag = kStorableFlags[i];
            const bool wanted = (listed & (1u << i)) != 0;
            changes_.push_back({flag.bit, wanted ? flag.valueWhenSet : 1 - flag.valueWhenSet});
        }
        return;
    }
    // The exact mode's FLAGS adds like +FLAGS.
    const bool add = form_ != StoreForm::kRemove;
    Text flags(flagList);
    while (!flags.IsEmpty()) {
        const int i = FindStorableFlag(flags.SplitArgument());
        if (i < 0)
            continue;
        const StorableFlag& flag = kStorableFlags[i];
        changes_.push_back({flag.bit, add ? flag.valueWhenSet : 1 - flag.valueWhenSet});
    }
}

bool FlagUpdate::Apply(HostPort& host, MessageEntry& entry, const Text& key, bool keyFits) const {
    if (form_ == StoreForm::kNone)
        return false;
    for (const BitChange& change : changes_) {
        // A key that does not fit the host's buffer would name another message, or none.
        if (keyFits)
            host.MarkMail(key.c_str(), change.bit, change.value);
        if (change.value != 0) {
            entry.status |= change.bit;
        } else {
            entry.status &= ~change.bit;
        }
    }
    return !silent_;
}

bool ReadKeptFlags(const Text& flagList, FlagList* kept) {
    kept->clear();
    Text flags(flagList);
    while (!flags.IsEmpty()) {
        const Text flag = flags.SplitArgument();
        std::string spelling;
        switch (ClassifyFlag(flag.c_str(), static_cast<size_t>(flag.Length()), &spelling)) {
            case FlagKind::kMalformed:
                return false;
            case FlagKind::kSystem:
                break;
            case FlagKind::kKept:
                *kept = AddFlags(*kept, FlagList{spelling});
                break;
        }
    }
    return true;
}

uint32_t ImportStatus(const Text& flagList) {
    uint32_t status = StatusUnread;
    Text flags(flagList);
    while (!flags.IsEmpty()) {
        const int i = FindStorableFlag(flags.SplitArgument());
        if (i < 0)
            continue;
        const StorableFlag& flag = kStorableFlags[i];
        if (flag.valueWhenSet != 0)
            status |= flag.bit;
        else
            status &= ~flag.bit;
    }
    return status;
}

bool TestCriterion(const MessageEntry& entry, const TextList& arguments, int* position) {
    (void)entry;
    const Text* criterion = arguments.At(*position);
    ++*position;
    return criterion != nullptr && criterion->CompareNoCase("ALL") == 0;
}
