// STORE on one message, and the exact mode's SEARCH criterion. The flag update asks the host to
// set or clear the status bits of the listed flags and changes the entry to match, so that the
// answering FETCH shows the change; the server writes no file itself.
#ifndef ORV_IMAP_FLAG_UPDATE_H_
#define ORV_IMAP_FLAG_UPDATE_H_

#include "base/mode.h"
#include "base/text.h"
#include "base/text_list.h"
#include "store/host_port.h"
#include "store/message_entry.h"

// Carries out STORE's item name (FLAGS, +FLAGS, -FLAGS, optionally .SILENT) with the flag list
// on one message. True when the handler is to answer with an untagged FETCH of the flags.
// The exact mode's FLAGS sets the listed flags like +FLAGS; the extended mode's replaces the
// storable flags, each of the four sent to the host.
bool UpdateFlags(HostPort& host, MessageEntry& entry, const Text& mailRoot, const Text& folderPath,
                 const Text& itemName, const Text& flagList, Mode mode);

// The exact mode's SEARCH: tests the criterion at *position of the arguments and moves the
// position on by one. ALL is the one criterion served; every other key, and every argument of
// a key, is a criterion of its own that no message meets.
bool TestCriterion(const MessageEntry& entry, const TextList& arguments, int* position);

#endif  // ORV_IMAP_FLAG_UPDATE_H_
