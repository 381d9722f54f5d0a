// The UIDPLUS codes of APPEND and COPY (extended mode): the UIDs the host gave the new messages
// are those the destination's index holds after the command and did not hold before.
#ifndef ORV_IMAP_COMMANDS_UID_CODES_H_
#define ORV_IMAP_COMMANDS_UID_CODES_H_

#include <cstdint>
#include <vector>

#include "base/text.h"

class Mailbox;

// The UIDs of a folder's index, in ascending order.
std::vector<uint32_t> SortedUids(const Mailbox& folder);
// The UIDs the destination's index holds now that it did not hold before (before sorted), in
// ascending order.
std::vector<uint32_t> NewUids(const std::vector<uint32_t>& before, const Mailbox& destination);
// A UID list as an IMAP set in the list's own order; runs of consecutive ascending UIDs are
// written as ranges ("4:6").
Text UidListText(const std::vector<uint32_t>& uids);

#endif  // ORV_IMAP_COMMANDS_UID_CODES_H_
