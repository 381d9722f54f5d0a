// Mailbox: one opened folder: its mail root and folder path, UIDVALIDITY, UIDNEXT and the
// MessageIndex, the folder's messages in ascending UID order read from the host's "Entry.lst".
// The index is a snapshot taken by OpenIndex; sequence number = position + 1.
#ifndef ORV_STORE_MAILBOX_H_
#define ORV_STORE_MAILBOX_H_

#include <cstdint>

#include "base/mode.h"
#include "base/text.h"
#include "store/host_port.h"
#include "store/message_entry.h"
#include "store/message_index.h"

class Mailbox {
  public:
    // host: the host whose mailbox directory holds the folder, and which imports into it (not
    // owned). folderPath "受信トレイ" or "INBOX" becomes "inbox.box", and every "/" becomes "\".
    // uids: how messages get their UIDs: in the exact mode from their file names, in the
    // extended mode from the folder's lasting record (store/folder_uids.h).
    Mailbox(HostPort& host, const Text& mailRoot, const Text& folderPath, Mode uids = Mode::kExact);
    virtual ~Mailbox() = default;

    // Reads UIDVALIDITY, the index and UIDNEXT from the folder's files. In the exact mode a
    // folder without its own UIDVALIDITY takes the shared counter's next value each time; in
    // the extended mode the folder's record gives both values.
    void OpenIndex();
    // The index and UIDNEXT only, for a session that looks at its folder again and must not
    // draw a new UIDVALIDITY. In the extended mode new messages get their lasting UIDs here,
    // and those the host removed are forgotten; every entry gets its kept flags
    // (store/folder_flags.h).
    void ReadIndex();
    // Writes the folder's "Subscribe" key: "1" when on, else "0".
    void SetSubscribed(int on);
    // Hands a file holding one message to the host for this folder, with the status word the
    // host is to store it with (unread unless told otherwise).
    void ImportMessage(const char* filePath, uint32_t status = StatusUnread);
    // Hands the message number (a UID when uidMode, else a sequence number) to the host for the
    // folder destinationPath (normalised like an opened folder's path), with the status word
    // status. 0 when there is no such message, else 1: the host's own answer is not passed on.
    int CopyMessage(uint32_t number, int uidMode, const Text& destinationPath,
                    uint32_t status = StatusUnread);

    // Whether the folder's directory exists.
    bool Exists() const;

    // The messages marked recent, counted as the index was last read (a message's mark never
    // changes; messages added or removed since are not counted), and those now unread.
    int RecentCount() const;
    int UnseenCount() const;

    HostPort& Host() const { return host_; }
    // How the folder's messages get their UIDs: the mode it was opened in.
    Mode UidMode() const { return uids_; }
    const Text& MailRoot() const { return mailRoot_; }
    const Text& FolderPath() const { return folderPath_; }
    uint32_t UidNext() const { return uidNext_; }
    // A session that learns of new messages after OpenIndex moves UIDNEXT on.
    void SetUidNext(uint32_t uidNext) { uidNext_ = uidNext; }
    uint32_t UidValidity() const { return uidValidity_; }
    // Extended mode: the folder's highest modification sequence as the index was last read
    // (store/folder_uids.h); 0 in the exact mode and for a folder without a record.
    uint64_t HighestModSeq() const { return highestModSeq_; }
    // A session that learns of later changes moves it on.
    void SetHighestModSeq(uint64_t modSeq) { highestModSeq_ = modSeq; }
    MessageIndex& Index() { return index_; }
    const MessageIndex& Index() const { return index_; }

    // The client forms (and ENVELOPE values) a selected folder keeps are bounded: once they
    // pass this many bytes, the texts of the other messages are dropped and read again when
    // next needed, so downloading a big folder does not grow the host's process by the
    // folder's size. Small, so the texts let go at a time stay below what the allocator hands
    // back to the system: a download then reuses the same memory instead of faulting in fresh
    // pages. Sizes, envelopes and structures live on in the shared cache.
    static constexpr uint64_t kMaxCachedText = 4u << 20;
    // Counts the cached text of a message just served and trims the cache when it is over
    // the bound (keeping the message's own text).
    void NoteServed(MessageEntry& entry);

  private:
    // Reads the host's list into the index, with the UIDs of the file names. False when the
    // list may be short: missing, or fewer lines than the host's count.
    bool ReadListing();

    HostPort& host_;
    Mode uids_;
    Text mailRoot_;
    Text folderPath_;
    MessageIndex index_;
    uint32_t uidNext_ = 0;
    uint32_t uidValidity_ = 0;
    uint64_t highestModSeq_ = 0;
    uint64_t cachedBytes_ = 0;
    int recentCount_ = 0;
};

// The path of a file in a folder's directory: mailbox directory + mailRoot + "\" + folder
// directory + "\" + name (with name "", the directory and its closing separator). Empty when it
// would not fit the platform's path limit, which then reads as a missing file.
Text FolderFilePath(HostPort& host, const Text& mailRoot, const Text& folderPath, const char* name);

// The normalised folder path of an opened folder ("INBOX"/"受信トレイ" -> "inbox.box", "/" ->
// "\").
Text NormaliseFolderPath(const Text& folderPath);

#endif  // ORV_STORE_MAILBOX_H_
