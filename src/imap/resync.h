// What the commands share that tell a client what changed since a modification sequence it was
// told (extended mode): reading the sequences and modifiers clients send, the VANISHED answer
// of UIDs removed since then, and the FETCH items that go with a change of flags.
#ifndef ORV_IMAP_RESYNC_H_
#define ORV_IMAP_RESYNC_H_

#include <cstdint>
#include <string>
#include <vector>

#include "base/text.h"
#include "imap/message_set.h"

class Session;

// A modification sequence as a client writes it: decimal, at most 2^63 - 1, and not 0 unless
// zeroAllowed (CHANGEDSINCE and UNCHANGEDSINCE take 0).
bool ReadModSeq(const Text& text, bool zeroAllowed, uint64_t* out);

// Ranges sorted by their first number, overlapping and touching ones joined.
std::vector<MessageRange> JoinRanges(std::vector<MessageRange> ranges);
// Joined ranges as a UID set: "1:3,7".
std::string UidSetText(const std::vector<MessageRange>& ranges);

// The UIDs within ranges that the selected folder lost after modification sequence since: those
// its record saw removed, or, when it does not remember that far back, every UID of ranges below
// UIDNEXT that the folder does not hold now (a client passes over those it never knew). Joined.
std::vector<MessageRange> VanishedUids(Session& s, uint64_t since,
                                       const std::vector<MessageRange>& ranges);

// "* VANISHED (EARLIER) set" for earlier, else "* VANISHED set"; nothing for no UIDs.
void SendVanished(Session& s, const std::vector<MessageRange>& uids, bool earlier);

// The items of an untagged FETCH that tells of a change of flags: FLAGS, and once the client
// enabled modification sequences UID and MODSEQ too, so it can record the change.
Text ChangedFlagItems(const Session& s);

#endif  // ORV_IMAP_RESYNC_H_
