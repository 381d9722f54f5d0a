// HostStore: the host's own side of the mail store, as this stand-in keeps it: a message
// imported into a folder, a change of a message's status bits and a deletion, written into the
// folder's message files, "Entry.lst" and "Entry.ini" in the layout the server reads. The
// plug-in's connection threads call in at any time, so one lock serialises the calls and every
// file is replaced atomically (written beside its final name, then renamed over it).
#ifndef ORV_HOST_STORE_H_
#define ORV_HOST_STORE_H_

#include <cstdint>
#include <mutex>
#include <string>

class HostStore {
  public:
    // mailbox: the host's mailbox directory, ending with its separator.
    explicit HostStore(const std::string& mailbox);
    HostStore(const HostStore&) = delete;
    HostStore& operator=(const HostStore&) = delete;

    // Stores the message held in the file at filePath into the folder destination (mail root,
    // "\", folder path, relative to the mailbox directory) with the status word: a new message
    // file named after the UID one above the folder's highest, its line in "Entry.lst", and the
    // folder's "Total" one larger. Returns the new file name (without ".orv"); empty when
    // nothing was stored (the file cannot be read, the folder does not exist or is full).
    std::string ImportFile(const char* filePath, const char* destination, uint32_t status);
    // The same for message bytes held in memory.
    std::string ImportBytes(const std::string& message, const char* destination, uint32_t status);
    // Sets (value 1) or clears (value 0) the mask in the status word of the message the key
    // names (mail root, "\", folder path, "\", file name without extension; the file name is
    // compared without regard to ASCII case). False, and nothing changed, for an unknown key.
    bool MarkMail(const char* key, uint32_t mask, int32_t value);
    // Deletes the message the key names (as for MarkMail): its lines in "Entry.lst", then
    // "Total" lowered by as many, then its message file. False, and nothing changed, for an
    // unknown key.
    bool DeleteMail(const char* key);

  private:
    std::string ImportLocked(const std::string& message, const std::string& destination,
                             uint32_t status);

    std::string mailbox_;
    std::mutex lock_;
};

#endif  // ORV_HOST_STORE_H_
