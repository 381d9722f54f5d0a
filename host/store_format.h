// The pieces of the host's store format that the stand-in writes: message file names made
// from UIDs, the status line of a message file, the line ends of stored messages and the
// base64 records of "Entry.lst". Pure functions, no file access.
#ifndef ORV_HOST_STORE_FORMAT_H_
#define ORV_HOST_STORE_FORMAT_H_

#include <cstdint>
#include <string>

// The largest UID a message file name can hold: "ZZZZ9999".
constexpr uint64_t kLargestUid = 26ull * 26 * 26 * 26 * 10000 - 1;

// The UID a file name stands for: its first four bytes ASCII letters (either case, A = 0, read
// as a base-26 number L), then the decimal digits after them (N, none giving 0): L * 10000 + N.
// False for a name that does not begin with four letters, or whose digits overflow.
bool UidOfName(const std::string& name, uint64_t* uid);
// The file name of a UID: four upper-case letters and four digits (1 -> "AAAA0001"). Empty
// above kLargestUid.
std::string NameOfUid(uint64_t uid);

// The first line of a stored message: "X-Orvex-Status: " and the status word in eight
// upper-case hex digits, then CR LF.
std::string StatusLine(uint32_t status);
// The bytes with every LF that does not follow a CR turned into CR LF.
std::string WithCrLf(const std::string& bytes);

// Standard base64 (with "=" padding, no line breaks).
std::string Base64Encode(const std::string& bytes);
// Decodes standard base64 up to the first byte outside its alphabet (a "=" pad, a line end);
// a final incomplete group gives the bytes it fully holds.
std::string Base64Decode(const std::string& text);

// The record of an "Entry.lst" line: status, size and Unix time, each a 32-bit little-endian
// word.
std::string IndexRecord(uint32_t status, uint32_t size, uint32_t time);
// The status word of a record: its first four bytes, little-endian (missing bytes are 0).
uint32_t RecordStatus(const std::string& record);
// The record with its status word replaced; a record shorter than the three words is filled
// up with zero bytes first.
std::string WithRecordStatus(const std::string& record, uint32_t status);

#endif  // ORV_HOST_STORE_FORMAT_H_
