// Files and directories on POSIX: descriptors stand in for file handles, readdir with a sorted
// result stands in for the target platform's directory search. Every path goes through MapPath.
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "platform/codepage.h"
#include "platform/files.h"
#include "platform/stamp_notices.h"

namespace platform {

namespace {

int ToFd(FileHandle f) {
    return static_cast<int>(f);
}

}  // namespace

FileHandle OpenFile(const char* path, uint32_t access, FileDisposition disposition) {
    if (path == nullptr)
        return kInvalidFile;
    int flags = O_CLOEXEC;
    switch (access & kAccessReadWrite) {
        case kAccessRead:
            flags |= O_RDONLY;
            break;
        case kAccessWrite:
            flags |= O_WRONLY;
            break;
        case kAccessReadWrite:
            flags |= O_RDWR;
            break;
        default:
            return kInvalidFile;
    }
    switch (disposition) {
        case kOpenAlways:
            flags |= O_CREAT;
            break;
        case kOpenExisting:
            break;
        case kCreateAlways:
            flags |= O_CREAT | O_TRUNC;
            break;
        default:
            return kInvalidFile;
    }
    const std::string os = MapPath(path);
    int fd;
    // Opened without blocking, so a named pipe or device in the store cannot hold a connection
    // thread (and with it the server's stop) in open() for ever; only regular files are kept.
    do {
        fd = open(os.c_str(), flags | O_NONBLOCK, 0666);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0)
        return kInvalidFile;
    // A directory opens for reading on POSIX; the target platform refuses it as a file.
    struct stat st;
    if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        close(fd);
        return kInvalidFile;
    }
    fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    return static_cast<FileHandle>(fd);
}

namespace {

// Repeats a read or a write (step: the bytes done so far to the call's result) until len bytes
// are done, the call fails, or a read meets the end of the file: a file read returns short
// only at the end of the file, as on the target platform. *done gets the count. 1 on success.
template <typename Step>
int Repeat(uint32_t len, uint32_t* done, bool reading, Step step) {
    uint32_t total = 0;
    int ok = 1;
    while (total < len) {
        const ssize_t n = step(total);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 || (n == 0 && !reading)) {
            ok = 0;
            break;
        }
        if (n == 0)
            break;
        total += static_cast<uint32_t>(n);
    }
    if (done != nullptr)
        *done = total;
    return ok;
}

}  // namespace

int ReadFile(FileHandle f, void* buf, uint32_t len, uint32_t* done) {
    if (done != nullptr)
        *done = 0;
    if (f < 0 || (buf == nullptr && len > 0))
        return 0;
    char* bytes = static_cast<char*>(buf);
    return Repeat(len, done, true,
                  [&](uint32_t at) { return read(ToFd(f), bytes + at, len - at); });
}

int WriteFile(FileHandle f, const void* buf, uint32_t len, uint32_t* done) {
    if (done != nullptr)
        *done = 0;
    if (f < 0 || (buf == nullptr && len > 0))
        return 0;
    const char* bytes = static_cast<const char*>(buf);
    return Repeat(len, done, false,
                  [&](uint32_t at) { return write(ToFd(f), bytes + at, len - at); });
}

int ReadFileAt(FileHandle f, int64_t offset, void* buf, uint32_t len, uint32_t* done) {
    if (done != nullptr)
        *done = 0;
    if (f < 0 || offset < 0 || (buf == nullptr && len > 0))
        return 0;
    char* bytes = static_cast<char*>(buf);
    return Repeat(len, done, true, [&](uint32_t at) {
        return pread(ToFd(f), bytes + at, len - at, static_cast<off_t>(offset + at));
    });
}

int WriteFileAt(FileHandle f, int64_t offset, const void* buf, uint32_t len, uint32_t* done) {
    if (done != nullptr)
        *done = 0;
    if (f < 0 || offset < 0 || (buf == nullptr && len > 0))
        return 0;
    const char* bytes = static_cast<const char*>(buf);
    return Repeat(len, done, false, [&](uint32_t at) {
        return pwrite(ToFd(f), bytes + at, len - at, static_cast<off_t>(offset + at));
    });
}

int64_t SeekFile(FileHandle f, int64_t offset, SeekOrigin origin) {
    if (f < 0)
        return -1;
    int whence;
    switch (origin) {
        case kSeekBegin:
            whence = SEEK_SET;
            break;
        case kSeekCurrent:
            whence = SEEK_CUR;
            break;
        case kSeekEnd:
            whence = SEEK_END;
            break;
        default:
            return -1;
    }
    off_t pos = lseek(ToFd(f), static_cast<off_t>(offset), whence);
    return pos < 0 ? -1 : static_cast<int64_t>(pos);
}

int CloseFile(FileHandle f) {
    if (f < 0)
        return 0;
    // The descriptor is released even when close reports EINTR; retrying could close another.
    close(ToFd(f));
    return 1;
}

namespace {

// A UTC calendar time from seconds and nanoseconds since 1970.
int CalendarTime(time_t seconds, long nanoseconds, SystemTime* out) {
    struct tm tm;
    if (gmtime_r(&seconds, &tm) == nullptr)
        return 0;
    out->year = static_cast<uint16_t>(tm.tm_year + 1900);
    out->month = static_cast<uint16_t>(tm.tm_mon + 1);
    out->dayOfWeek = static_cast<uint16_t>(tm.tm_wday);
    out->day = static_cast<uint16_t>(tm.tm_mday);
    out->hour = static_cast<uint16_t>(tm.tm_hour);
    out->minute = static_cast<uint16_t>(tm.tm_min);
    out->second = static_cast<uint16_t>(tm.tm_sec);
    out->milliseconds = static_cast<uint16_t>(nanoseconds / 1000000);
    return 1;
}

// The stamp of a file's status; 0 for a directory.
int StampOfStat(const struct stat& st, FileStamp* out) {
    if (S_ISDIR(st.st_mode))
        return 0;
    out->size = static_cast<int64_t>(st.st_size);
    out->writeTime = static_cast<int64_t>(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
    out->volume = static_cast<uint64_t>(st.st_dev);
    out->file = static_cast<uint64_t>(st.st_ino);
    return 1;
}

}  // namespace

int FileLastWriteTime(FileHandle f, SystemTime* out) {
    if (f < 0 || out == nullptr)
        return 0;
    struct stat st;
    if (fstat(ToFd(f), &st) != 0)
        return 0;
    return CalendarTime(st.st_mtim.tv_sec, st.st_mtim.tv_nsec, out);
}

int FileStampOf(const char* path, FileStamp* out) {
    if (path == nullptr || out == nullptr)
        return 0;
    struct stat st;
    if (stat(MapPath(path).c_str(), &st) != 0)
        return 0;
    return StampOfStat(st, out);
}

DirectoryStamps::DirectoryStamps(const char* directory) : directory_(directory) {
    handle_ = open(MapPath(directory).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (handle_ >= 0)
        watched_ = notices::Watch(directory_, static_cast<int>(handle_));
}

DirectoryStamps::~DirectoryStamps() {
    if (handle_ >= 0)
        close(static_cast<int>(handle_));
}

int DirectoryStamps::StampOf(const char* name, FileStamp* out) {
    if (handle_ < 0)
        return FileStampOf((directory_ + name).c_str(), out);
    if (name == nullptr || out == nullptr)
        return 0;
    if (watched_ == nullptr) {
        struct stat st;
        if (fstatat(static_cast<int>(handle_), name, &st, 0) != 0)
            return 0;
        return StampOfStat(st, out);
    }
    if (stamped_.fetch_add(1, std::memory_order_relaxed) % kTakeEvery == kTakeEvery - 1)
        notices::Take();
    if (notices::Recall(watched_, name, out))
        return 1;
    // Counted before the lookup: a change reported meanwhile keeps the stamp from being kept.
    const uint64_t count = notices::Count(watched_);
    struct stat st;
    if (fstatat(static_cast<int>(handle_), name, &st, 0) != 0 || !StampOfStat(st, out))
        return 0;
    notices::Remember(watched_, name, *out, count);
    return 1;
}

bool DirectoryStamps::Unchanged(const char* name, const FileStamp& stamp) {
    if (watched_ == nullptr || name == nullptr)
        return false;
    notices::Take();
    FileStamp kept;
    return notices::Recall(watched_, name, &kept) && kept == stamp;
}

uint64_t DirectoryStamps::ChangeCount() {
    if (watched_ == nullptr)
        return 0;
    notices::Take();
    return notices::Changes(watched_);
}

size_t DirectoryStamps::Remembered() const {
    return watched_ != nullptr ? notices::Size(watched_) : 0;
}

int StampWriteTime(const FileStamp& stamp, SystemTime* out) {
    if (out == nullptr)
        return 0;
    int64_t seconds = stamp.writeTime / 1000000000;
    int64_t nanoseconds = stamp.writeTime % 1000000000;
    if (nanoseconds < 0) {
        nanoseconds += 1000000000;
        --seconds;
    }
    return CalendarTime(static_cast<time_t>(seconds), static_cast<long>(nanoseconds), out);
}

int DeleteFilePath(const char* path) {
    if (path == nullptr)
        return 0;
    return unlink(MapPath(path).c_str()) == 0 ? 1 : 0;
}

FileHandle CreatePrivateFile(const char* path) {
    if (path == nullptr)
        return kInvalidFile;
    const std::string os = MapPath(path);
    int fd;
    do {
        fd = open(os.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOFOLLOW, 0600);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0)
        return kInvalidFile;
    // An existing file keeps its mode at open: it is narrowed here before anything is written.
    struct stat st;
    if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || fchmod(fd, 0600) != 0) {
        close(fd);
        return kInvalidFile;
    }
    return static_cast<FileHandle>(fd);
}

int ReplaceByRename(const char* from, const char* to) {
    if (from == nullptr || to == nullptr)
        return 0;
    return std::rename(MapPath(from).c_str(), MapPath(to).c_str()) == 0 ? 1 : 0;
}

bool DirectoryExists(const char* path) {
    if (path == nullptr)
        return false;
    struct stat st;
    return stat(MapPath(path).c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

int CreatePrivateDirectory(const char* path) {
    if (path == nullptr)
        return 0;
    return mkdir(MapPath(path).c_str(), 0700) == 0 ? 1 : 0;
}

int RemoveEmptyDirectory(const char* path) {
    if (path == nullptr)
        return 0;
    return rmdir(MapPath(path).c_str()) == 0 ? 1 : 0;
}

std::string TempDirectory() {
    const char* env = std::getenv("TMPDIR");
    std::string dir = (env != nullptr && *env != 0) ? env : "/tmp";
    if (dir.back() != '/')
        dir += '/';
    return dir;
}

std::string MakeTempFileName(const char* dir, const char* prefix) {
    if (dir == nullptr)
        return std::string();
    std::string base = dir;
    const std::string mapped = MapPath(dir);
    if (!mapped.empty() && mapped.back() != '/')
        base += '/';
    if (prefix != nullptr) {
        for (int i = 0; i < 3 && prefix[i] != 0; ++i)
            base += prefix[i];
    }
    // Names are tried from a per-process counter seeded from the pid and the clock; O_EXCL
    // decides, so two threads or processes never get the same name.
    static std::atomic<uint32_t> counter{static_cast<uint32_t>(getpid()) * 2654435761u ^
                                         static_cast<uint32_t>(time(nullptr))};
    for (int attempt = 0; attempt < 0x10000; ++attempt) {
        uint32_t unique = counter.fetch_add(1) & 0xFFFF;
        if (unique == 0)
            continue;
        char hex[8];
        std::snprintf(hex, sizeof hex, "%X", unique);
        std::string name = base + hex + ".tmp";
        int fd = open(MapPath(name.c_str()).c_str(), O_CREAT | O_EXCL | O_WRONLY | O_CLOEXEC, 0600);
        if (fd >= 0) {
            close(fd);
            return name;
        }
        if (errno != EEXIST && errno != EINTR)
            return std::string();
    }
    return std::string();
}

struct DirectorySearch::State {
    std::vector<FindData> entries;
    size_t next = 0;
};

namespace {

// Names in the order of a compare with ASCII case folded; names that differ only in case keep
// a fixed order by their bytes.
bool NameBefore(const FindData& a, const FindData& b) {
    int c = lstrcmpiA(a.name.c_str(), b.name.c_str());
    if (c != 0)
        return c < 0;
    return lstrcmpA(a.name.c_str(), b.name.c_str()) < 0;
}

// The root has no parent: its ".." is itself. The target platform lists no "." or ".." there.
bool IsRootDirectory(int dirFd) {
    struct stat self;
    struct stat parent;
    return fstatat(dirFd, ".", &self, 0) == 0 && fstatat(dirFd, "..", &parent, 0) == 0 &&
           self.st_dev == parent.st_dev && self.st_ino == parent.st_ino;
}

}  // namespace

DirectorySearch::DirectorySearch(const char* pattern) : state_(new State) {
    const std::string os = MapPath(pattern);
    const size_t slash = os.rfind('/');
    const std::string dir = slash == std::string::npos ? "." : os.substr(0, slash + 1);
    const std::string wildcard = slash == std::string::npos ? os : os.substr(slash + 1);
    if (wildcard.empty())
        return;

    DIR* d = opendir(dir.c_str());
    if (d == nullptr)
        return;
    const int fd = dirfd(d);
    const bool root = IsRootDirectory(fd);
    while (struct dirent* e = readdir(d)) {
        const std::string name = e->d_name;
        if (root && (name == "." || name == ".."))
            continue;
        if (!WildcardMatch(wildcard.c_str(), name.c_str()))
            continue;
        struct stat st;
        const bool isDir = fstatat(fd, e->d_name, &st, 0) == 0 && S_ISDIR(st.st_mode);
        state_->entries.push_back(FindData{name, isDir});
    }
    closedir(d);
    std::sort(state_->entries.begin(), state_->entries.end(), NameBefore);
}

DirectorySearch::~DirectorySearch() {
    delete state_;
}

bool DirectorySearch::Next(FindData* out) {
    if (state_->next >= state_->entries.size())
        return false;
    if (out != nullptr)
        *out = state_->entries[state_->next];
    ++state_->next;
    return true;
}

}  // namespace platform
