// The per-message work of STORE and SEARCH: the flag update asks the host to set or clear the
// status bits of the listed flags (and changes the entry to match); the criterion test serves
// one SEARCH criterion.
#ifndef ORV_RENDER_FLAG_UPDATE_H_
#define ORV_RENDER_FLAG_UPDATE_H_

#include "base/text.h"
#include "base/text_list.h"
#include "store/message_entry.h"

// Carries out STORE's item name (FLAGS, +FLAGS, -FLAGS, optionally .SILENT) with the flag list
// on one message. True when the handler is to answer with an untagged FETCH of the flags.
bool UpdateFlags(HostPort& host, MessageEntry& entry, const Text& mailRoot, const Text& folderPath,
                 const Text& itemName, const Text& flagList);

// Tests the criterion at *position of the SEARCH arguments and moves the position on by one.
bool TestCriterion(const MessageEntry& entry, const TextList& arguments, int* position);

#endif  // ORV_RENDER_FLAG_UPDATE_H_
