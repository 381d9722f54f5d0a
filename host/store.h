// HostStore: the host's own side of the mail store, as this stand-in keeps it: a message
// imported into a folder, a change of a message's status bits and a deletion, written into the
// folder's message files, "Entry.lst" and "Entry.ini" in the layout the server reads. The
// plug-in's connection threads call in at any time, so one lock serialises the calls and every
// file is replaced atomically (written beside its final name, then renamed over it). A message
// added or removed changes two files, "Entry.lst" and the "Total" of "Entry.ini", in the order
// that never shows Total below the number of index lines; a marker file lies in the folder
// between the two writes, so that a start after a crash (Recover) sets Total from the index.
// A mark rewrites no more than its record and changes no line count, so it needs no marker.
#ifndef ORV_HOST_STORE_H_
#define ORV_HOST_STORE_H_

#include <cstdint>
#include <filesystem>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "platform/files.h"

class HostStore {
  public:
    // mailbox: the host's mailbox directory, ending with its separator.
    explicit HostStore(const std::string& mailbox);
    HostStore(const HostStore&) = delete;
    HostStore& operator=(const HostStore&) = delete;

    // Stores the message held in the file at filePath into the folder destination (mail root,
    // "\", folder path, relative to the mailbox directory) with the status word: a new message
    // file named after the UID one above the folder's highest, the folder's "Total" one larger,
    // and its line in "Entry.lst". Returns the new file name (without ".orv"); empty when
    // nothing was stored (the file cannot be read, the folder does not exist or is full).
    std::string ImportFile(const char* filePath, const char* destination, uint32_t status);
    // The same for message bytes held in memory.
    std::string ImportBytes(const std::string& message, const char* destination, uint32_t status);
    // Sets (value 1) or clears (value 0) the mask in the status word of the message the key
    // names (mail root, "\", folder path, "\", file name without extension; the file name is
    // compared without regard to ASCII case). False, and nothing changed, for an unknown key.
    // Writes nothing when the bits already have the asked value, and otherwise only the
    // message's record, in place, so a call costs the same whatever the size of the folder.
    bool MarkMail(const char* key, uint32_t mask, int32_t value);
    // Deletes the message the key names (as for MarkMail): its lines in "Entry.lst", then
    // "Total" lowered by as many, then its message file. False, and nothing changed, for an
    // unknown key.
    bool DeleteMail(const char* key);
    // At start-up, before any call: removes the temporary files that a process ended in the
    // middle of a change left in the folders of the mailbox directory, and where that change
    // was one of a folder's index and Total, sets Total to the number of index lines.
    void Recover();

  private:
    // One line of an "Entry.lst": its file name folded, where the line and the base64 text of
    // its record lie, the first line of the name and the next one (kNoLine when none; a store
    // written by hand may list a name twice), and its record's status word as last read or
    // written.
    static constexpr uint32_t kNoLine = UINT32_MAX;
    struct LineSpot {
        std::string folded;
        uint64_t line;
        uint64_t value;
        uint32_t length;
        uint32_t first;
        uint32_t sameName;
        uint32_t status;
    };
    // A folder's "Entry.lst", kept open between marks, and where its lines were when it was
    // last read. The host (or a person) may change the index behind this store's back, so
    // nothing here is trusted as it stands: the handle is opened again unless the folder's
    // directory still has the last-write time it had at the last mark, a time already settled
    // then (a file renamed over the index, or deleted, changes it), and each line is read back
    // through the handle before its record is written; a line no longer where it was, or a
    // name not found in an index that changed since it was read, sends the store back to the
    // file. Where the system reports changes to a directory's files, the look at the folder's
    // time is skipped while no change to the index's name, nor a move of the folder, has been
    // reported since the index was opened.
    struct OpenIndex {
        OpenIndex() = default;
        OpenIndex(const OpenIndex&) = delete;
        OpenIndex& operator=(const OpenIndex&) = delete;
        ~OpenIndex();

        platform::FileHandle file = platform::kInvalidFile;
        std::filesystem::path folder;                // the folder's directory, in the OS form
        std::filesystem::file_time_type folderTime;  // its last-write time at the last mark
        bool folderSettled = false;  // whether that time was settled then (kSettleTime)
        // The folder's directory, watched for changes, and the index's stamp taken there just
        // before the handle was opened (have: whether there is one).
        std::unique_ptr<platform::DirectoryStamps> watch;
        platform::FileStamp opened;
        bool haveOpened = false;
        // Whether the last mark wrote the index: its own write is reported as a change, so
        // the next mark looks at the folder's time without stamping (a STORE writes every one).
        bool wrote = false;
        bool read = false;  // whether the lines below were taken
        // Whether the lines' status words are the file's: taken with the lines, and every look
        // since found no change to the index reported. A mark that changes nothing then
        // reads nothing.
        bool statusKnown = false;
        // The index's size and last-write time when the lines were taken, and whether that
        // time was settled then.
        uint64_t size = 0;
        int64_t time = 0;
        bool stampSettled = false;
        std::vector<LineSpot> lines;  // in the file's order
        // The first line of each name (views of the names in lines).
        std::unordered_map<std::string_view, uint32_t> byName;
        // The line after the last one marked: a STORE over a set marks in the index's order,
        // so the next name is looked for there first.
        size_t next = 0;
    };

    void RecoverFolder(const std::string& folder);
    std::string ImportLocked(const std::string& message, const std::string& destination,
                             uint32_t status);
    // The open index of a folder, its handle checked to be the file the path names now; null
    // when the index cannot be opened. The spots are taken at the first use.
    OpenIndex* IndexOf(const std::string& folder, const std::string& path);
    // Takes the spots of an open index anew, from the file; false when it cannot be read.
    bool ReadSpots(OpenIndex& index, const std::string& path);
    // What marking the lines of one name came to: done (or nothing to change), the name not in
    // the index, a line not where its spot says, a record whose text would change its length
    // (the index is then written anew), or a read or write that failed.
    enum class MarkOutcome { kDone, kUnknown, kMoved, kRewrite, kFailed };
    // Marks every line of the name in an open index, each read back first.
    MarkOutcome MarkAtSpots(OpenIndex& index, const std::string& indexPath,
                            const std::string& folded, uint32_t mask, int32_t value);
    // The first line of a name in an open index; kNoLine when the lines lack it.
    static uint32_t FindLine(const OpenIndex& index, const std::string& folded);
    // Marks the lines of a name from its first, and moves the index's next past them.
    static MarkOutcome MarkLines(OpenIndex& index, uint32_t first, const std::string& folded,
                                 uint32_t mask, int32_t value);
    // Drops a folder's open index (closing its file): before the index is replaced, and after
    // any failure.
    void Forget(const std::string& path) { indexes_.erase(path); }
    // Marks by reading and replacing the whole index: for a record whose text would change
    // its length, or a spot the file no longer matches.
    bool MarkByRewrite(const std::string& folder, const std::string& indexPath,
                       const std::string& name, uint32_t mask, int32_t value);

    std::string mailbox_;
    std::mutex lock_;
    std::unordered_map<std::string, std::unique_ptr<OpenIndex>> indexes_;  // by index path
    // The folder of the last mark: its part of the key, its directory and its index's path
    // (empty before the first mark).
    std::string markFolderKey_;
    std::string markFolder_;
    std::string markIndexPath_;
};

#endif  // ORV_HOST_STORE_H_
