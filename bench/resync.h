// The timed part of the benchmark's resynchronisation line (RFC 7162): a client that saw a
// folder before comes back with what it kept of it, UIDVALIDITY and HIGHESTMODSEQ. In one new
// connection it logs in, sends ENABLE QRESYNC and SELECT folder (QRESYNC (uidvalidity modseq)),
// so the server tells only what changed since, and then UID FETCH (FLAGS ENVELOPE) of the new
// messages the SELECT reported. What each command brought back is kept, with the UIDs of the
// FETCH responses, for the runner to check against the changes it made.
#ifndef ORV_BENCH_RESYNC_H_
#define ORV_BENCH_RESYNC_H_

#include <cstdint>
#include <string>
#include <vector>

#include "bench/imap_client.h"

struct ResyncOptions {
    uint16_t port = 0;
    std::string user;
    std::string password;
    std::string mailbox;
    uint32_t uidValidity = 0;  // what the client kept from its last session
    uint64_t modSeq = 0;
    uint32_t uidNext = 0;  // new messages have this UID or a higher one
    double limit = 900;    // seconds allowed to each command
};

// One command of the session and what came back for it.
struct ResyncStep {
    std::string command;
    Reply reply;
    std::vector<uint32_t> uids;  // of its FETCH responses, in order (0: a FETCH without UID)
};

struct ResyncResult {
    bool connected = false;
    Reply greeting;
    std::vector<ResyncStep> steps;  // LOGIN, ENABLE, SELECT, then the UID FETCH when sent
    bool enabled = false;           // an untagged ENABLED named QRESYNC
    uint64_t highestModSeq = 0;     // the SELECT's HIGHESTMODSEQ, 0 when it named none
    uint32_t uidNext = 0;           // the SELECT's UIDNEXT, 0 when it named none
    uint64_t vanished = 0;          // VANISHED responses to the SELECT
    double seconds = 0;             // from before the connection to the last tagged line
    uint64_t bytes = 0;             // every byte received in that time
    bool ok = false;                // every command answered OK
};

ResyncResult RunResync(const ResyncOptions& options);

// The UID of a FETCH response's text ("* 12 FETCH (FLAGS (\Seen) UID 40 ...)"): the number
// after the item name UID at the list's top level, strings and literals passed over. False
// when the response is no FETCH or names no UID.
bool FetchUid(const std::string& text, uint32_t* uid);

// The number of a response code in an untagged OK ("* OK [HIGHESTMODSEQ 715] ..."), when the
// text is one with that code.
bool CodeNumber(const std::string& text, const char* code, uint64_t* number);

// The UIDs as an IMAP sequence set, runs of consecutive ones as ranges ("3,7:9"); the UIDs
// must be in ascending order.
std::string UidSet(const std::vector<uint32_t>& uids);

#endif  // ORV_BENCH_RESYNC_H_
