// STORE on one message, and the exact mode's SEARCH criterion. The flag update asks the host to
// set or clear the status bits of the listed flags and changes the entry to match, so that the
// answering FETCH shows the change; the server writes no file itself.
#ifndef ORV_IMAP_FLAG_UPDATE_H_
#define ORV_IMAP_FLAG_UPDATE_H_

#include <cstdint>

#include "base/mode.h"
#include "base/text.h"
#include "base/text_list.h"
#include "store/folder_flags.h"
#include "store/host_port.h"
#include "store/message_entry.h"

// The forms of STORE's item name: FLAGS, +FLAGS, -FLAGS (any letter case), each optionally
// followed by .SILENT; kNone for anything else.
enum class StoreForm { kNone, kAdd, kRemove, kReplace };
StoreForm ReadStoreForm(const Text& itemName, bool* silent);

// Carries out STORE's item name (FLAGS, +FLAGS, -FLAGS, optionally .SILENT) with the flag list
// on one message. True when the handler is to answer with an untagged FETCH of the flags.
// The exact mode's FLAGS sets the listed flags like +FLAGS; the extended mode's replaces the
// storable flags, each of the four sent to the host.
bool UpdateFlags(HostPort& host, MessageEntry& entry, const Text& mailRoot, const Text& folderPath,
                 const Text& itemName, const Text& flagList, Mode mode);

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
