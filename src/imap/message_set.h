// Message sets of FETCH, STORE and SEARCH-like commands: ParseRange takes one range off the
// front of a set ("2:4,7", "5:*", "*") and clamps it to the selected folder. A set that makes
// no sense gives some range by the same rules (often the whole folder, or nothing); it is never
// an error.
#ifndef ORV_IMAP_MESSAGE_SET_H_
#define ORV_IMAP_MESSAGE_SET_H_

#include <cstdint>
#include <vector>

#include "base/text.h"

struct MessageRange {
    uint32_t lo;
    uint32_t hi;  // inclusive; lo > hi selects nothing
};

// Takes the first range off *set (which keeps the rest). In UID mode the numbers are UIDs and
// "*" stands for uidNext; in sequence mode they are sequence numbers and "*" stands for count.
MessageRange ParseRange(Text* set, int uidMode, uint32_t uidNext, uint32_t count);

// Reads a UID set as IMAP writes it ("3", "2:4", "5:*", "1,7:9"; "*" stands for largest), each
// range in ascending order. False for anything else: a command that changes messages must not
// reach further than the client asked.
bool ParseUidSet(const Text& text, uint32_t largest, std::vector<MessageRange>* ranges);

#endif  // ORV_IMAP_MESSAGE_SET_H_
