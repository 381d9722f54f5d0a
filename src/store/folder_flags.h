// FolderFlags: the flags of the extended mode that the host's status word has no bit for,
// \Flagged and keywords ("kept flags"). The server keeps them itself, per folder, under each
// message's lasting UID (store/folder_uids.h), in the folder's "Imap4.flg" (its own file,
// replaced whole at each change). The record is read once per process and then kept, shared by
// every connection; the flags of a UID the folder no longer lists are forgotten, and a folder
// that got a new UIDVALIDITY starts with none. A record that is lost or cannot be read is an
// empty one: the kept flags are then gone, the host's flags are not touched.
#ifndef ORV_STORE_FOLDER_FLAGS_H_
#define ORV_STORE_FOLDER_FLAGS_H_

#include <cstddef>
#include <cstdint>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "base/text.h"

class HostPort;
class MessageIndex;
struct MessageEntry;

// \Flagged, as it is kept and written.
extern const char kFlaggedFlag[];
// A keyword is kept when it is at most this long ...
constexpr size_t kMaxKeywordLength = 100;
// ... and a folder's messages have at most this many different keywords between them.
constexpr size_t kMaxFolderKeywords = 256;

// A message's kept flags: \Flagged first when it has it, then its keywords in the order they
// were first set, each once (keywords compare without regard to ASCII case and keep the
// spelling they were first set in). Written as FLAGS shows them: joined by blanks.
using FlagList = std::vector<std::string>;

// What a flag of a client's list is to the plug-in.
enum class FlagKind {
    kKept,       // \Flagged (in any letter case) or a keyword: an atom without "\"
    kSystem,     // any other flag beginning with "\": the host's four, \Recent, unknown ones
    kMalformed,  // a keyword that is no atom (a quote, a bracket, a byte outside 7-bit
                 // ASCII...) or too long to keep
};
// The kind of the n bytes at flag; for a kept one *kept gets its kept spelling.
FlagKind ClassifyFlag(const char* flag, size_t n, std::string* kept);

FlagList SplitFlagText(const std::string& text);
std::string JoinFlags(const FlagList& flags);
// flags with those of added it lacks put after them (\Flagged before every keyword).
FlagList AddFlags(const FlagList& flags, const FlagList& added);
// flags without those of removed.
FlagList RemoveFlags(const FlagList& flags, const FlagList& removed);
// Whether the joined flag text, or the list, holds flag (ASCII case ignored).
bool HasFlag(const char* text, size_t n, const std::string& flag);
bool HasFlag(const FlagList& flags, const std::string& flag);

// Sets the entry's kept flags to the joined text flags (a text that stays empty has no buffer).
void SetKeptFlags(MessageEntry& entry, const std::string& flags);

// The record of one folder: the kept flags of each UID that has any, as joined text.
struct FlagRecord {
    uint32_t validity = 0;
    std::map<uint32_t, std::string> flags;
};

// The text of "Imap4.flg": a header line, "validity V count C", one line "uid flags" per UID in
// ascending order, and "end".
std::string FormatFlagRecord(const FlagRecord& record);
// Reads that text; false when it is not whole and consistent (UIDs ascending and not 0, every
// flag a kept one, each once), and *out is then unspecified.
bool ParseFlagRecord(const std::string& text, FlagRecord* out);

// How a STORE (or a copy) changes a message's kept flags.
enum class FlagChange { kAdd, kRemove, kReplace };

// One folder's kept flags as the process holds them. Every call names the folder's current
// UIDVALIDITY: a record of another one is dropped first.
class FolderFlags {
  public:
    // The record of the folder mailRoot\folderPath, read from its file at the first use in the
    // process; null when the folder's directory does not exist.
    static FolderFlags* Of(HostPort& host, const Text& mailRoot, const Text& folderPath);

    // Gives each entry of index (with its lasting UIDs) its kept flags, none when its UID has
    // none. When complete (the whole list was read), the flags of UIDs below next that the
    // index lacks are forgotten: the host removed those messages (a UID at or above next was
    // given after this index was read, and is left alone).
    void Attach(uint32_t validity, uint32_t next, MessageIndex& index, bool complete);
    // Changes the kept flags of uid as how says; returns them after the change. A keyword the
    // folder's messages have takes the spelling they have it in; one new to the folder beyond
    // kMaxFolderKeywords is not taken.
    std::string Change(uint32_t validity, uint32_t uid, FlagChange how, const FlagList& flags);
    std::string FlagsOf(uint32_t validity, uint32_t uid);
    // The keywords the folder's messages have, in ASCII order without regard to case.
    FlagList Keywords(uint32_t validity);
    // Whether giving flags to the folder's messages would bring more than kMaxFolderKeywords
    // different keywords.
    bool PassesKeywordLimit(uint32_t validity, const FlagList& flags);
    // Writes the record when it changed since it was last written. False when the write
    // failed: the flags stay in memory, and every later save tries again.
    bool Save();

  private:
    explicit FolderFlags(const std::string& directory) : directory_(directory) {}
    // Reads the file at the first use and drops a record of another UIDVALIDITY; the lock is
    // held.
    void Prepare(uint32_t validity);
    bool SaveLocked();
    // Counts the keywords of one message's flag text in (delta 1) or out (delta -1).
    void CountKeywords(const std::string& flagText, int delta);
    bool KnownKeyword(const std::string& keyword) const;

    const std::string directory_;  // with its closing separator
    std::mutex lock_;
    bool loaded_ = false;
    bool dirty_ = false;  // the file does not hold the record
    FlagRecord record_;
    // The keywords of record_, by their upper-case form: the spelling first kept and the
    // number of messages that have it.
    struct KeywordUse {
        std::string spelling;
        size_t messages;
    };
    std::map<std::string, KeywordUse> keywords_;
};

#endif  // ORV_STORE_FOLDER_FLAGS_H_
