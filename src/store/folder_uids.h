// FolderUids: the lasting UIDs of the extended mode. The host names a new message file after
// the highest name its folder holds, so once the newest messages are deleted their names come
// back for other messages, and a UID read from the name would name two messages. Instead the
// server remembers, per folder, the UID it gave each file name and the next UID to give, in the
// folder's "Imap4.uid" (its own file, replaced whole at each change), so that under one
// UIDVALIDITY a UID names one message only and UIDNEXT never falls. When that file is lost or
// unreadable the folder gets a new UIDVALIDITY.
#ifndef ORV_STORE_FOLDER_UIDS_H_
#define ORV_STORE_FOLDER_UIDS_H_

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "base/text.h"

class HostPort;
class MessageIndex;

// One message as a folder's UID record keeps it.
struct UidRecord {
    uint32_t nameUid;  // the UID its file name stands for: the order of the host's index
    uint32_t uid;      // the UID the server gave it
    uint64_t tail;     // the host's record bytes after the status word (MessageEntry::recordTail)
    std::string name;  // the file name, byte for byte
};

// The UIDs a folder's messages were given, and the next one to give.
struct UidMap {
    uint32_t validity = 0;
    uint32_t next = 1;
    std::vector<UidRecord> records;  // in the order of the host's index (by nameUid)
};

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
UidAssignment AssignUids(UidMap& map, MessageIndex& index, bool initial, bool complete = true);

// The text of "Imap4.uid": a header line, "validity V next N count C", one line "uid tail name"
// (decimal, 16 hex digits, the name's bytes) per record, and "end".
std::string FormatUidMap(const UidMap& map);
// Reads that text; false when it is not whole and consistent (every UID below next, ascending
// by nameUid), and *out is then unspecified.
bool ParseUidMap(const std::string& text, UidMap* out);

// The UIDVALIDITY and UIDNEXT of a folder whose index got its lasting UIDs.
struct LastingUids {
    uint32_t validity;
    uint32_t next;
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

// Takes the next UIDVALIDITY from the plug-in profile's shared counter, above `above` too, and
// stores it back.
uint32_t DrawUidValidity(HostPort& host, uint32_t above = 0);

#endif  // ORV_STORE_FOLDER_UIDS_H_
