// File: one platform file handle, invalid until opened and closed by the destructor. Opened
// files always share reads with other openers.
//
// Reads go through a read-ahead buffer (4 KiB, or larger blocks for a reader that wants the
// whole file); the bytes yielded are exactly those of one platform read per byte. Lines are
// found by scanning the buffer, never byte by byte. Writes go straight to the platform.
#ifndef ORV_BASE_FILE_H_
#define ORV_BASE_FILE_H_

#include <cstdint>
#include <string>

#include "base/text.h"
#include "platform/files.h"

class File {
  public:
    // How ReadLine treats line ends.
    enum LineMode {
        kLine,  // every CR dropped; LF ends the line and is not stored
        kRaw,   // every byte stored, CR and LF included; LF ends the line
    };

    File() = default;
    virtual ~File();
    File(const File&) = delete;
    File& operator=(const File&) = delete;

    // Opens path (system form, "\" separators) with an access mode of platform::FileAccess and
    // a disposition. Closes a file opened before. True on success.
    bool Open(const char* path, uint32_t access, platform::FileDisposition disposition);
    bool IsOpen() const { return handle_ != platform::kInvalidFile; }
    void Close();

    // Reads one line into *line (replacing its contents) and returns the number of bytes
    // stored: in line mode an empty line reads like the end of the file (0).
    int ReadLine(Text* line, LineMode mode = kLine);
    // The next raw line (LF included when it has one) as a view that stays valid until the
    // next read from this file: stores its start in *line and returns its length, 0 at the end
    // of the file.
    int NextLine(const char** line);
    // As many whole raw lines as the read-ahead holds, at least one (the file's last line
    // may lack its LF), as one view like NextLine's; 0 at the end of the file.
    int NextLines(const char** lines);
    // Reads up to n bytes into data, read-ahead bytes first; returns the count (0 at the end
    // of the file or on failure).
    uint32_t Read(void* data, uint32_t n);
    // The bytes read ahead and not yet taken, as a view like NextLine's: stores their start in
    // *bytes and returns their count (0 when there are none); they count as read. Never reads
    // from the platform, so a reader can go on with Read straight into its own memory.
    uint32_t TakeReadAhead(const char** bytes);
    // Moves the read position back over the last n bytes read, so they are read again (the
    // read-ahead is dropped). False when the platform could not seek.
    bool Unread(uint32_t n);
    // Appends the rest of the file to *out, from the read position to the end, however far the
    // file has grown since its size was asked.
    void AppendRest(std::string* out);
    // The file's size in bytes, or -1; the read position is kept.
    int64_t Size();
    // From now on reads ahead in blocks of this many bytes (at least 4 KiB, at most 1 MiB): a
    // reader of the whole file sets about its size, so it arrives in few platform reads.
    void SetReadAhead(uint32_t bytes);
    // The next byte (0-255) and moves past it; -1 at the end of the file or on failure.
    int ReadByte();
    // The next byte without moving past it; -1 at the end of the file.
    int PeekByte();
    // True when no byte is left to read.
    bool AtEnd() { return PeekByte() < 0; }
    // Writes one byte / n bytes. True when all were written.
    bool WriteByte(char c);
    bool Write(const char* data, uint32_t n);
    // Moves to an absolute position; returns it, or -1.
    int64_t SeekTo(int64_t position);
    // The last-write time in UTC. True on success.
    bool LastWriteTime(platform::SystemTime* out);

    static constexpr uint32_t kSmallBuffer = 4096;
    static constexpr uint32_t kMaxReadAhead = 1u << 20;

  private:
    bool Fill();
    // Completes a line that runs past the read-ahead in spill_: its first part is what is
    // left of the buffer. Returns its length, its start in *line.
    int SpillLine(const char** line);

    platform::FileHandle handle_ = platform::kInvalidFile;
    char* buffer_ = small_;  // small_ or a heap block of capacity_ bytes
    uint32_t capacity_ = kSmallBuffer;
    uint32_t pos_ = 0;
    uint32_t end_ = 0;
    Text spill_;  // a line longer than what the read-ahead held
    char small_[kSmallBuffer];
};

// TempFile: a File named at construction in the platform's temporary directory with the prefix
// "imp", opened for reading and writing; its destructor closes and deletes it.
class TempFile : public File {
  public:
    TempFile();
    ~TempFile() override;
    // The full path in system form; empty when no name could be made.
    const Text& Path() const { return path_; }

  private:
    Text path_;
};

#endif  // ORV_BASE_FILE_H_
