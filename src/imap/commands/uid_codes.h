// The UIDPLUS codes of APPEND and COPY (extended mode): the UIDs the host gave the new messages
// are those the destination's index holds after the command and did not hold before.
#ifndef ORV_IMAP_COMMANDS_UID_CODES_H_
#define ORV_IMAP_COMMANDS_UID_CODES_H_

#include <cstddef>
#include <cstdint>
#include <mutex>
#include <vector>

#include "base/mode.h"
#include "base/text.h"

class HostPort;
class Mailbox;
class Session;

// The UIDs of a folder's index, in ascending order.
std::vector<uint32_t> SortedUids(const Mailbox& folder);
// The UIDs the destination's index holds now that it did not hold before (before sorted), in
// ascending order.
std::vector<uint32_t> NewUids(const std::vector<uint32_t>& before, const Mailbox& destination);
// The lock of a folder that APPEND and COPY hold from their look at the destination until their
// messages show there, so that what shows is theirs and not another connection's (mail the host
// stores on its own may still come in between). One per folder, for the process's life.
std::mutex& FolderAddLock(const Text& mailRoot, const Text& folderPath);
// The UIDs a destination folder holds before a command adds to it (sorted). In extended mode
// the folder gets its lasting UIDVALIDITY first, and *validity is set to it.
std::vector<uint32_t> DestinationUids(Session& s, const Text& folderPath, uint32_t* validity);
// The UIDs the destination holds that it did not hold before, once at least wanted of them
// are there: the host stores what it is handed in its own time, so the index is read again for
// up to a few seconds before what it holds is taken as the answer.
std::vector<uint32_t> AwaitNewUids(const std::vector<uint32_t>& before, HostPort& host,
                                   const Text& mailRoot, const Text& folderPath, Mode mode,
                                   size_t wanted);
// Answers a command whose message did not reach the destination folder: a folder that does
// not exist is named so (extended mode: with TRYCREATE), else text is the answer.
void RefuseNotStored(Session& s, const Text& folderPath, const char* text);
// A UID list as an IMAP set in the list's own order; runs of consecutive ascending UIDs are
// written as ranges ("4:6").
Text UidListText(const std::vector<uint32_t>& uids);

#endif  // ORV_IMAP_COMMANDS_UID_CODES_H_
