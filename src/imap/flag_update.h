// STORE's flag update, and the exact mode's SEARCH criterion. The flag update asks the host to
// set or clear the status bits of the listed flags and changes the entry to match, so that the
// answering FETCH shows the change; the server writes no file itself.
#ifndef ORV_IMAP_FLAG_UPDATE_H_
#define ORV_IMAP_FLAG_UPDATE_H_

#include <cstdint>
#include <vector>

#include "base/mode.h"
#include "base/text.h"
#include "base/text_list.h"
#include "store/folder_flags.h"
#include "store/host_port.h"
#include "store/message_entry.h"

// The forms of STORE's item name: FLAGS, +FLAGS, -FLAGS (any letter case), each optionally
// followed by .SILENT; kNone for anything else.
enum class StoreForm { kNone, kAdd, kRemove, kReplace };

// STORE's item name (FLAGS, +FLAGS, -FLAGS, optionally .SILENT) and flag list, read once for
// the whole message set: the status bits each message has set or cleared, in the order of the
// host calls. The exact mode's FLAGS sets the listed flags like +FLAGS, one call per flag in
// the list's order; the extended mode's replaces the storable flags, each of the four sent to
// the host.
class FlagUpdate {
  public:
    FlagUpdate(const Text& itemName, const Text& flagList, Mode mode);

    StoreForm form() const { return form_; }
    bool silent() const { return silent_; }
    // Carries the update out on one message whose key is given (MessageKey): asks the host
    // for each change, unless the key does not fit, and changes the entry to match. True when
    // the handler is to answer with an untagged FETCH of the flags.
    bool Apply(HostPort& host, MessageEntry& entry, const Text& key, bool keyFits) const;

  private:
    struct BitChange {
        uint32_t bit;
        int value;  // 1 sets the bit, 0 clears it
    };
    StoreForm form_ = StoreForm::kNone;
    bool silent_ = false;
    std::vector<BitChange> changes_;
};

// Extended mode: the flags of a STORE or APPEND flag list that the server keeps itself
// (\Flagged and keywords, store/folder_flags.h), in the list's order, each once. False when the
// list holds a flag that is no atom, or a keyword too long to keep: such a list is refused.
bool ReadKeptFlags(const Text& flagList, FlagList* kept);

// Extended APPEND: the status word the host is to store a message of the flag list with:
// unread unless the list has \Seen, with the bits of \Answered, \Draft and \Deleted it has.
uint32_t ImportStatus(const Text& flagList);

// The exact mode's SEARCH: tests the criterion at *position of the arguments and moves the
// position on by one. ALL is the one criterion served; every other key, and every argument of
// a key, is a criterion of its own that no message meets.
bool TestCriterion(const MessageEntry& entry, const TextList& arguments, int* position);

#endif  // ORV_IMAP_FLAG_UPDATE_H_
