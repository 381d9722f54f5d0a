// STORE FLAGS in extended mode: the four flags the host's status word can hold are all sent
// to the host, each set when the list names it and cleared otherwise, whatever the entry
// shows (the host may have changed the message since the folder was read). The other forms
// are the exact mode's flag update.
#include "render/extended_flag_update.h"

#include <cstdint>

#include "render/flag_update.h"

namespace {

// A flag the host can store, its bit, and whether having the flag sets (1) or clears (0) it.
struct StorableFlag {
    const char* name;
    uint32_t bit;
    int valueWhenSet;
};

// \Seen is the absence of the unread bit.
constexpr StorableFlag kStorableFlags[] = {
    {"\\Seen", StatusUnread, 0},
    {"\\Answered", StatusAnswered, 1},
    {"\\Deleted", StatusDeleted, 1},
    {"\\Draft", StatusDraft, 1},
};
constexpr int kStorableCount = sizeof kStorableFlags / sizeof kStorableFlags[0];

// Which of the storable flags the list names (bit i for kStorableFlags[i]); other flags, such
// as \Flagged and keywords, cannot be stored and are passed over.
unsigned ListedFlags(const Text& flagList) {
    unsigned listed = 0;
    Text flags(flagList);
    while (!flags.IsEmpty()) {
        const Text flag = flags.SplitArgument();
        for (int i = 0; i < kStorableCount; ++i) {
            if (flag.CompareNoCase(kStorableFlags[i].name) == 0)
                listed |= 1u << i;
        }
    }
    return listed;
}

}  // namespace

bool UpdateFlagsExtended(HostPort& host, MessageEntry& entry, const Text& mailRoot,
                         const Text& folderPath, const Text& itemName, const Text& flagList) {
    Text suffix(itemName);
    const Text form = suffix.SplitToken('.');
    if (form.CompareNoCase("FLAGS") != 0)
        return UpdateFlags(host, entry, mailRoot, folderPath, itemName, flagList);
    const bool silent = !suffix.IsEmpty() && suffix.CompareNoCase("silent") == 0;

    bool keyFits = false;
    const Text key = MessageKey(entry, mailRoot, folderPath, &keyFits);
    const unsigned listed = ListedFlags(flagList);
    for (int i = 0; i < kStorableCount; ++i) {
        const StorableFlag& flag = kStorableFlags[i];
        const bool wanted = (listed & (1u << i)) != 0;
        const int value = wanted ? flag.valueWhenSet : 1 - flag.valueWhenSet;
        // A key too long for the host's buffer would name another message, or none.
        if (keyFits)
            host.MarkMail(key.c_str(), flag.bit, value);
        if (value != 0) {
            entry.status |= flag.bit;
        } else {
            entry.status &= ~flag.bit;
        }
    }
    return !silent;
}
