// FolderUids: the lasting UIDs of the extended mode. The host names a new message file after
// the highest name its folder holds, so once the newest messages are deleted their names come
// back for other messages, and a UID read from the name would name two messages. Instead the
// server remembers, per folder, the UID it gave each file name and the next UID to give, in the
// folder's "Imap4.uid" (its own file, replaced whole at each change), so that under one
// UIDVALIDITY a UID names one message only and UIDNEXT never falls. When that file is lost or
// unreadable the folder gets a new UIDVALIDITY.
//
// The same record keeps the folder's modification sequences: a number that grows with every
// change of the folder the server makes or sees (a message new, removed, or with another status
// word or other kept flags), given to each message at its last change and to the folder as its
// highest, and the UIDs of the messages removed lately with the sequence of their removal, so
// that a client can ask what changed since a value it was told, across restarts of the host.
#ifndef ORV_STORE_FOLDER_UIDS_H_
#define ORV_STORE_FOLDER_UIDS_H_

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "base/text.h"

class HostPort;
class MessageIndex;

// A status word a record has not seen yet (one read from a record of the first format): taken as
// it is found, without counting as a change.
constexpr uint32_t kUnseenStatus = 0xFFFFFFFFu;

// One message as a folder's UID record keeps it.
struct UidRecord {
    uint32_t nameUid;  // the UID its file name stands for: the order of the host's index
    uint32_t uid;      // the UID the server gave it
    uint64_t tail;     // the host's record bytes after the status word (MessageEntry::recordTail)
    std::string name;  // the file name, byte for byte
    uint32_t status = kUnseenStatus;  // the host's status word when the record last saw it
    uint64_t modSeq = 1;              // the modification sequence of its last change
};

// A message removed from the folder, and the modification sequence of its removal.
struct VanishedUid {
    uint32_t uid;
    uint64_t modSeq;
};

// The UIDs a folder's messages were given, and the next one to give; the modification
// sequences.
struct UidMap {
    uint32_t validity = 0;
    uint32_t next = 1;
    uint64_t modSeq = 1;             // the highest given: the folder's
    std::vector<UidRecord> records;  // in the order of the host's index (by nameUid)
    // The removals of the last kMaxVanished changes that removed messages, in ascending modSeq;
    // those up to vanishedFloor are forgotten.
    std::vector<VanishedUid> vanished;
    uint64_t vanishedFloor = 0;
};

// How many removed UIDs a record remembers.
constexpr size_t kMaxVanished = 20000;

// What AssignUids did.
enum class UidAssignment { kUnchanged, kChanged, kExhausted };

// Gives each entry of index (read from the host's list, in its order) its UID from map. An
// entry whose file name and record tail match a record keeps that record's UID; any other
// entry is a new message and gets map.next, counting up (when initial, the UID its name stands
// for if that is higher, so a folder seen for the first time keeps the UIDs it had). A record
// that no entry matches is dropped, so its name, when the host gives it again, names a new
// message; when complete is false (the list read was shorter than the host's count) such
// records are kept instead. The index ends in ascending UID order. kExhausted when no UID is
// left below 2^32 under this UIDVALIDITY: map and index are then as they were.
// The changes found (new messages, removed ones, status words other than the record's) share
// one new modification sequence; each entry gets the modification sequence of its record.
UidAssignment AssignUids(UidMap& map, MessageIndex& index, bool initial, bool complete = true);

// The text of "Imap4.uid": a header line, "validity V next N count C modseq M", one line
// "uid tail status modseq name" (decimal, 16 hex digits, 8 hex digits, decimal, the name's bytes)
// per record, "vanished K floor F", K lines "uid modseq", and "end".
std::string FormatUidMap(const UidMap& map);
// Reads that text, or that of the first format (no modification sequences: every record then
// has modification sequence 1 and an unseen status); false when it is not whole and consistent
// (every UID below next, ascending by nameUid, no modification sequence above the folder's),
// and *out is then unspecified.
bool ParseUidMap(const std::string& text, UidMap* out);

// The UIDVALIDITY, UIDNEXT and highest modification sequence of a folder whose index got its
// lasting UIDs.
struct LastingUids {
    uint32_t validity;
    uint32_t next;
    uint64_t modSeq;
};

// Reads a folder's index from the host's list (readList: fills index with the UIDs of the
// file names, false when the list may be short) and gives its entries their lasting UIDs,
// recording any new ones in the folder's "Imap4.uid" before they can be announced. The list
// is read under the folder's lock, so two connections never match lists out of order. The
// record is read once per process and then kept (one per folder, shared by every connection,
// which it serialises); when it is missing or unreadable the folder starts a new one under a
// new UIDVALIDITY, except that a folder whose "Imap4.ini" already gives a UIDVALIDITY, and that
// never had a record, keeps that value and the UIDs of its file names. A folder whose
// directory does not exist gets no record and a new UIDVALIDITY each time.
LastingUids GiveLastingUids(HostPort& host, const Text& mailRoot, const Text& folderPath,
                            MessageIndex& index, const std::function<bool()>& readList);

// A message whose flags the server changed itself, and the host's status word it has now.
struct FlagsChanged {
    uint32_t uid;
    uint32_t status;
};

// Gives the changed messages of the folder one new modification sequence and records their
// status words, so that the next reading of the host's list sees no change in them, and writes
// the record. Returns the new value; 0 when the folder has no record in the process or one of
// another UIDVALIDITY (nothing changes then).
uint64_t RaiseModSeq(HostPort& host, const Text& mailRoot, const Text& folderPath,
                     uint32_t validity, const std::vector<FlagsChanged>& changed);

// The modification sequence the folder's record gives each of uids now (0 for a UID it does not
// list); false when the folder has no record in the process or one of another UIDVALIDITY.
bool CurrentModSeqs(HostPort& host, const Text& mailRoot, const Text& folderPath, uint32_t validity,
                    const std::vector<uint32_t>& uids, std::vector<uint64_t>* modSeqs);

// The UIDs the folder's record saw removed after modification sequence since, ascending. False
// when it no longer remembers that far back (or has no record, or another UIDVALIDITY): the
// caller must then take every UID it cannot find as removed.
bool VanishedSince(HostPort& host, const Text& mailRoot, const Text& folderPath, uint32_t validity,
                   uint64_t since, std::vector<uint32_t>* uids);

// Takes the next UIDVALIDITY from the plug-in profile's shared counter, above `above` too, and
// stores it back.
uint32_t DrawUidValidity(HostPort& host, uint32_t above = 0);

#endif  // ORV_STORE_FOLDER_UIDS_H_
