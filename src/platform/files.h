// Files, directories and paths.
//
// Paths are given as the rest of the system forms them: Shift_JIS bytes with "\" between
// components (a mailbox root from the host may use "/" too). Before a path reaches the OS,
// MapPath turns every real separator "\" into "/"; a 0x5C byte that is the trail byte of a
// double-byte character (表 is 0x95 0x5C) is part of a name and stays as it is.
#ifndef ORV_PLATFORM_FILES_H_
#define ORV_PLATFORM_FILES_H_

#include <atomic>
#include <cstdint>
#include <string>

namespace platform {

// The path limit of the target platform, including the terminating NUL.
constexpr int kMaxPath = 260;

// The OS form of a system path: real "\" separators become "/". Pure; no OS call.
std::string MapPath(const char* path);

using FileHandle = intptr_t;
constexpr FileHandle kInvalidFile = -1;

enum FileAccess : uint32_t { kAccessRead = 1, kAccessWrite = 2, kAccessReadWrite = 3 };
enum FileDisposition {
    kOpenAlways,    // open; create empty when missing
    kOpenExisting,  // open; fail when missing
    kCreateAlways,  // create, or truncate an existing file to zero length
};
enum SeekOrigin { kSeekBegin = 0, kSeekCurrent = 1, kSeekEnd = 2 };

// Opens a file. Other openers may always read it at the same time. kInvalidFile on failure
// (missing with kOpenExisting, a directory, no permission).
FileHandle OpenFile(const char* path, uint32_t access, FileDisposition disposition);
// Reads up to len bytes into buf and stores the count in *done (0 at the end of the file).
// 1 on success, 0 on failure.
int ReadFile(FileHandle f, void* buf, uint32_t len, uint32_t* done);
// Writes len bytes and stores the count written in *done. 1 on success, 0 on failure.
int WriteFile(FileHandle f, const void* buf, uint32_t len, uint32_t* done);
// As ReadFile and WriteFile at the byte offset, in one call each; the file position after
// them is unspecified. For files changed in place at known spots.
int ReadFileAt(FileHandle f, int64_t offset, void* buf, uint32_t len, uint32_t* done);
int WriteFileAt(FileHandle f, int64_t offset, const void* buf, uint32_t len, uint32_t* done);
// Moves the file position. Returns the new position, or -1 on failure.
int64_t SeekFile(FileHandle f, int64_t offset, SeekOrigin origin);
// Closes the handle. 1 on success, 0 for an invalid handle.
int CloseFile(FileHandle f);
// Creates a file for writing, or empties an existing one, that only its owner may read or
// write (mode 0600 on POSIX, also for a file that existed), for a secret such as a private
// key. kInvalidFile on failure (a directory, a link, no permission). Only the TLS layer
// calls it, which the Windows build leaves out.
FileHandle CreatePrivateFile(const char* path);

// A calendar time in UTC, as the target platform's system time structure holds it.
struct SystemTime {
    uint16_t year;
    uint16_t month;      // 1-12
    uint16_t dayOfWeek;  // 0 = Sunday
    uint16_t day;        // 1-31
    uint16_t hour;
    uint16_t minute;
    uint16_t second;
    uint16_t milliseconds;
};
// The file's last-write time in UTC. 1 on success, 0 on failure.
int FileLastWriteTime(FileHandle f, SystemTime* out);

// One version of a file: its size, its last-write time in the platform's finest unit, and
// its identity in the file system (volume and file number). A file rewritten, replaced by
// another under its name, or deleted and made again gets another stamp; the last-write time's
// granularity (a few milliseconds on some file systems) is the limit of that promise.
struct FileStamp {
    int64_t size = 0;
    int64_t writeTime = 0;
    uint64_t volume = 0;
    uint64_t file = 0;

    bool operator==(const FileStamp& o) const {
        return size == o.size && writeTime == o.writeTime && volume == o.volume && file == o.file;
    }
    bool operator!=(const FileStamp& o) const { return !(*this == o); }
};
// The stamp of the file at path, without reading it (any thread). 1 on success; 0 when there
// is no such file, it is a directory, or the system cannot tell.
int FileStampOf(const char* path, FileStamp* out);
namespace notices {
struct Watched;
}
// The stamps of many files of one directory, for a walk over a folder's messages: where the
// platform allows, the directory is held open, so each stamp looks up one name instead of the
// whole path. Only for the walk's duration: a directory replaced meanwhile is not followed.
// Where the system reports every change to the directory's files (local file systems on
// Linux), a stamp looked up once is given again by later walks, from any thread, without a
// lookup until a change to its file is reported. Reports are taken when a walk begins and
// every kTakeEvery stamps, so a stamp is at most that many stamps old, never older than the
// walk. Safe to call from two threads at once.
class DirectoryStamps {
  public:
    // directory: the directory's path, ending with its separator.
    explicit DirectoryStamps(const char* directory);
    ~DirectoryStamps();
    DirectoryStamps(const DirectoryStamps&) = delete;
    DirectoryStamps& operator=(const DirectoryStamps&) = delete;
    // As FileStampOf for the file name (no separators) in the directory.
    int StampOf(const char* name, FileStamp* out);
    // Whether stamp is the stamp of name remembered now, after the reports pending so far
    // were taken: no change to the file, nor a move or removal of the directory, was reported
    // since it was looked up. A check without a lookup, for a file held open and used again
    // and again; false where the directory is not watched, so the caller then looks.
    bool Unchanged(const char* name, const FileStamp& stamp);
    // A number that changes whenever a change to any file of the directory, or to the
    // directory itself, is reported: read after the reports pending so far were taken, so
    // while it stays the same nothing in the directory changed since it was read. 0 where the
    // directory is not watched, and nothing can be told from it.
    uint64_t ChangeCount();
    // The directory's path as given.
    const std::string& Path() const { return directory_; }
    // How many stamps of the directory's files are remembered from earlier walks (0 when the
    // directory is not watched): a walk over fewer needs mostly lookups.
    size_t Remembered() const;

    static constexpr uint32_t kTakeEvery = 256;

  private:
    std::string directory_;
    intptr_t handle_ = -1;
    notices::Watched* watched_ = nullptr;
    std::atomic<uint32_t> stamped_{0};
};
// The stamp's last-write time in UTC, as FileLastWriteTime gives it. 1 on success, 0 on
// failure. Pure.
int StampWriteTime(const FileStamp& stamp, SystemTime* out);

// Deletes a file. 1 on success, 0 on failure.
int DeleteFilePath(const char* path);
// Renames a file to a new path in the same directory, replacing a file that exists there, so
// a reader finds either the old or the new file. 1 on success, 0 on failure.
int ReplaceByRename(const char* from, const char* to);
// Whether a directory exists at the path.
bool DirectoryExists(const char* path);
// Makes a directory that only its owner may enter (mode 0700 on POSIX). 1 on success; 0 when
// something exists at the path or its parent does not.
int CreatePrivateDirectory(const char* path);
// Removes an empty directory. 1 on success, 0 on failure.
int RemoveEmptyDirectory(const char* path);

// The directory for temporary files, ending with a separator ("/tmp/" unless TMPDIR says
// otherwise).
std::string TempDirectory();
// Makes a unique file name in dir ("dir" + prefix (first three bytes) + hex digits + ".tmp"),
// creates the file empty so the name stays taken, and returns the full name; empty on failure.
std::string MakeTempFileName(const char* dir, const char* prefix);

// One directory entry found by a search.
struct FindData {
    std::string name;  // the entry's name, without its directory
    bool directory;    // the directory attribute
};
// Searches a directory. The pattern's last component may hold the wildcards "*" (any run of
// bytes) and "?" (any one byte), matched without regard to ASCII case; "*.*" matches every
// name. "." and ".." are found like other entries (not in the file system root). Entries come
// in the order of their names compared without regard to ASCII case, so the order is stable.
class DirectorySearch {
  public:
    // Starts a search; Next then yields the first entry.
    explicit DirectorySearch(const char* pattern);
    ~DirectorySearch();
    DirectorySearch(const DirectorySearch&) = delete;
    DirectorySearch& operator=(const DirectorySearch&) = delete;
    // Stores the next matching entry in *out and returns true; false when none is left
    // (including when the directory does not exist).
    bool Next(FindData* out);

  private:
    struct State;
    State* state_;
};

// Whether name matches a wildcard pattern ("*", "?", ASCII case ignored). Pure.
bool WildcardMatch(const char* pattern, const char* name);

}  // namespace platform

#endif  // ORV_PLATFORM_FILES_H_
