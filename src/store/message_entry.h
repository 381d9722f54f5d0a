// MessageEntry: one message of an opened folder, with its file name, UID, status word and the
// client form of its header and body, loaded from the ".orv" file on first use. The server never
// writes a message file; a change of status goes to the host (MarkSeen).
#ifndef ORV_STORE_MESSAGE_ENTRY_H_
#define ORV_STORE_MESSAGE_ENTRY_H_

#include <cstddef>
#include <cstdint>

#include "base/mode.h"
#include "base/text.h"
#include "mime/extended_form.h"
#include "platform/files.h"
#include "store/host_port.h"

// Bits of the host's status word.
constexpr uint32_t StatusUnread = 0x40000000;  // IMAP \Seen is its absence
constexpr uint32_t StatusAnswered = 0x20000000;
constexpr uint32_t StatusDraft = 0x01000000;
constexpr uint32_t StatusDeleted = 0x00020000;

class EntryBatch;

struct MessageEntry {
    Text fileName;    // base name of the message file, without extension
    Text headerText;  // client form; empty until loaded
    Text bodyText;    // client form; empty until loaded
    // The value of the ENVELOPE item once written (render/envelope.cpp): read from the file
    // once, kept like the texts and dropped with them.
    Text envelope;
    // Extended mode: the flags the server keeps itself beside the host's status word
    // (\Flagged and keywords, store/folder_flags.h), joined by blanks; empty for most.
    Text keptFlags;
    uint32_t uid = 0;
    uint32_t status = 0;
    // The host's record bytes after the status word (store/folder_uids.h).
    uint64_t recordTail = 0;
    // Extended mode: the modification sequence of the message's last change (store/folder_uids.h).
    uint64_t modSeq = 0;
    int32_t recent = 0;
    // Bytes of headerText, bodyText and envelope counted in the folder's cache
    // (Mailbox::NoteServed).
    uint32_t cachedSize = 0;
    // The byte count of the client form once MessageSize has measured it (0: not yet). It
    // holds after the texts are dropped, until the file's stamp changes (stampKey).
    uint32_t clientSize = 0;
    // The stamp of the message file (a short number of it) when its texts, size and envelope
    // were last served; 0 before. A FETCH that finds another drops them (imap/fetch_message.cpp).
    uint64_t stampKey = 0;

    // Entries are made in great numbers (every message of a folder at each SELECT): those made
    // with "new (batch) MessageEntry" share the batch's pooled blocks, all others come from the
    // heap. Either kind is deleted the same way, on any thread.
    static void* operator new(size_t size);
    static void* operator new(size_t size, EntryBatch& batch);
    static void operator delete(void* p) noexcept;
    // Only for a constructor that throws after the batch gave its room.
    static void operator delete(void* p, EntryBatch& batch) noexcept;
};

// The MessageEntry objects made with a batch are carved from blocks of a process-wide pool; a
// block goes back to the pool when its last entry is deleted. Reading a folder's index so costs
// no heap allocation per entry, and the memory of one session's index serves the next instead
// of being returned to the system and faulted in again.
class EntryBatch {
  public:
    EntryBatch();
    ~EntryBatch();
    EntryBatch(const EntryBatch&) = delete;
    EntryBatch& operator=(const EntryBatch&) = delete;

    // Room for one entry from the batch's current block, taking a new block when it is full.
    void* Take();

    // One pooled block of entries (message_entry.cpp).
    struct Block;

  private:
    Block* block_ = nullptr;
    int used_ = 0;
};

// Sets the entry's file name: an entry made with a batch keeps a short name in its own slot,
// without an allocation; any other name, or entry, gets a buffer of its own.
void SetEntryFileName(MessageEntry* entry, const char* name, int n);

// The folder path as it names a directory: a path equal to "INBOX" in any letter case is the
// inbox directory "inbox.box"; every other path is unchanged.
Text FolderPathForFiles(const Text& folderPath);

// The calls below that take a HostPort form the message file's path in the mailbox directory
// the host reports, and ask the host to mark the message as seen.

// Whether a file name from "Entry.lst" names a file inside its folder: no NUL, no "/", ":" or
// "\" (a "\" that is the second byte of a double-byte character is part of the name), and
// neither "." nor "..". The empty name is plain (the file ".orv" of the folder).
bool IsPlainFileName(const Text& fileName);

// The full path of the message file: mailbox directory, mailRoot, "\", folderPath, "\",
// fileName, ".orv". Empty when it would be longer than the platform's path limit (259 bytes),
// or when the file name is not plain: such an entry reads as a missing message, and no file
// is opened or created for it.
Text MessageFilePath(HostPort& host, const MessageEntry& entry, const Text& mailRoot,
                     const Text& folderPath);
// The host's name for the message: mailRoot "\" folderPath "\" fileName (at most 259 bytes;
// when it would be longer, or the file name is not plain, the result is empty and *fits is
// false, and no host call may be made for the message).
Text MessageKey(const MessageEntry& entry, const Text& mailRoot, const Text& folderPath,
                bool* fits = nullptr);

// How a session loads messages: the client form of its mode, and whether loading text may mark
// a message as read (not in a folder opened read-only, nor for an extended FETCH that asks for
// no text). The entry keeps the texts of one form: a folder is served by one session.
struct LoadPolicy {
    Mode form = Mode::kExact;
    bool marksSeen = true;
    TextForm text = TextForm::kMime;  // the extended form's non-ASCII text
};

// Make sure header and body are loaded; mark as seen unless peek.
void LoadMessage(HostPort& host, MessageEntry& entry, const Text& mailRoot, const Text& folderPath,
                 bool peek, const LoadPolicy& policy = LoadPolicy());
// When headerText is empty: load it and mark as seen unless peek. Otherwise nothing.
void LoadHeader(HostPort& host, MessageEntry& entry, const Text& mailRoot, const Text& folderPath,
                bool peek, const LoadPolicy& policy = LoadPolicy());
// Make sure the body is loaded; mark as seen unless peek (also when already loaded).
void LoadBody(HostPort& host, MessageEntry& entry, const Text& mailRoot, const Text& folderPath,
              bool peek, const LoadPolicy& policy = LoadPolicy());
// The byte count of the message's client form (header, CR LF, body), and asks the host to
// mark it as seen. Taken from the loaded texts, or else measured from the file without keeping
// the text; either way once per entry (clientSize).
uint32_t MessageSize(HostPort& host, MessageEntry& entry, const Text& mailRoot,
                     const Text& folderPath, const LoadPolicy& policy = LoadPolicy());
// The message file's last-write time in UTC; 1 January 1970 00:00:00 when there is none.
// Opened as message files always are: a missing one is created empty.
platform::SystemTime MessageFileTime(HostPort& host, const MessageEntry& entry,
                                     const Text& mailRoot, const Text& folderPath);
// Asks the host to clear the unread bit of the message.
void MarkSeen(HostPort& host, const MessageEntry& entry, const Text& mailRoot,
              const Text& folderPath);

// The UID the host's file name stands for: four letters as a base-26 number (A = 0) times
// 10000 plus the decimal number after them, in wrapping 32-bit arithmetic.
uint32_t UidFromFileName(const Text& fileName);
// The same of the length bytes at name (not NUL-terminated).
uint32_t UidFromName(const char* name, int length);

#endif  // ORV_STORE_MESSAGE_ENTRY_H_
