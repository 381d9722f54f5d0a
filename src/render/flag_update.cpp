// STORE on one message: each listed system flag that the host's status word can hold is sent
// to the host as a set or clear of its bit, and the entry's status word is changed the same
// way so that the answering FETCH shows the change.
#include "render/flag_update.h"

#include <cstdint>

namespace {

// A flag the host can store, its bit, and whether adding the flag sets (1) or clears (0) it.
struct StorableFlag {
    const char* name;
    uint32_t bit;
    int valueWhenAdded;
};

// \Seen is the absence of the unread bit, so adding it clears the bit.
constexpr StorableFlag kStorableFlags[] = {
    {"\\Seen", StatusUnread, 0},
    {"\\Answered", StatusAnswered, 1},
    {"\\Deleted", StatusDeleted, 1},
    {"\\Draft", StatusDraft, 1},
};

const StorableFlag* FindStorableFlag(const Text& flag) {
    for (const StorableFlag& candidate : kStorableFlags) {
        if (flag.CompareNoCase(candidate.name) == 0)
            return &candidate;
    }
    return nullptr;
}

}  // namespace

bool UpdateFlags(HostPort& host, MessageEntry& entry, const Text& mailRoot, const Text& folderPath,
                 const Text& itemName, const Text& flagList) {
    Text suffix(itemName);
    const Text form = suffix.SplitToken('.');
    const bool silent = !suffix.IsEmpty() && suffix.CompareNoCase("silent") == 0;

    bool add;
    if (form.CompareNoCase("FLAGS") == 0 || form.CompareNoCase("+FLAGS") == 0) {
        // FLAGS replaces nothing: it sets the listed flags like +FLAGS.
        add = true;
    } else if (form.CompareNoCase("-FLAGS") == 0) {
        add = false;
    } else {
        return false;
    }

    bool keyFits = false;
    const Text key = MessageKey(entry, mailRoot, folderPath, &keyFits);
    Text flags(flagList);
    while (!flags.IsEmpty()) {
        const StorableFlag* flag = FindStorableFlag(flags.SplitArgument());
        if (flag == nullptr)
            continue;  // \Recent, \Flagged and keywords cannot be stored
        const int value = add ? flag->valueWhenAdded : 1 - flag->valueWhenAdded;
        // A key too long for the host's buffer would name another message, or none.
        if (keyFits)
            host.MarkMail(key.c_str(), flag->bit, value);
        if (value != 0) {
            entry.status |= flag->bit;
        } else {
            entry.status &= ~flag->bit;
        }
    }
    return !silent;
}
