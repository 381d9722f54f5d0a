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
#include <mutex>
#include <string>
#include <unordered_map>
#include <vector>

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
    // Where one line of an "Entry.lst" lies: the line, and the base64 text of its record.
    struct RecordSpot {
        uint64_t line;
        uint64_t value;
        uint32_t length;
        uint32_t status;  // the record's status word as the file holds it
    };
    // The records of one "Entry.lst" by folded file name, taken when the file had this size
    // and last-write time. The host (or a person) may rewrite an index behind this store's
    // back, so the spots are trusted only while the file keeps both, and each spot is checked
    // against the file before it is written.
    struct IndexSpots {
        uint64_t size = 0;
        int64_t time = 0;
        std::unordered_map<std::string, std::vector<RecordSpot>> byName;
    };

    void RecoverFolder(const std::string& folder);
    std::string ImportLocked(const std::string& message, const std::string& destination,
                             uint32_t status);
    // The spots of the index at path, taken anew when the file changed; null when it cannot
    // be read.
    IndexSpots* SpotsOf(const std::string& path);
    // Marks by reading and replacing the whole index: for a record whose text would change
    // its length, or a spot the file no longer matches.
    bool MarkByRewrite(const std::string& folder, const std::string& indexPath,
                       const std::string& name, uint32_t mask, int32_t value);

    std::string mailbox_;
    std::mutex lock_;
    std::unordered_map<std::string, IndexSpots> spots_;  // by index path
};

#endif  // ORV_HOST_STORE_H_
