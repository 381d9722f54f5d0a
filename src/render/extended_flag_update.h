// The flag update of STORE in extended mode: "FLAGS" replaces the flags the host can store
// (the listed ones set, the others cleared), as IMAP defines it; "+FLAGS" and "-FLAGS" work
// as in the exact mode. Every change goes to the host through the mark call.
#ifndef ORV_RENDER_EXTENDED_FLAG_UPDATE_H_
#define ORV_RENDER_EXTENDED_FLAG_UPDATE_H_

#include "base/text.h"
#include "store/message_entry.h"

// Carries out STORE's item name (FLAGS, +FLAGS, -FLAGS, optionally .SILENT) with the flag list
// on one message. True when the handler is to answer with an untagged FETCH of the flags.
bool UpdateFlagsExtended(HostPort& host, MessageEntry& entry, const Text& mailRoot,
                         const Text& folderPath, const Text& itemName, const Text& flagList);

#endif  // ORV_RENDER_EXTENDED_FLAG_UPDATE_H_
