// Files and directories over the Win32 API. Paths go to the OS as the system forms them
// ("\" is the native separator, "/" is accepted too); the ANSI calls read their Shift_JIS bytes
// in the system code page.
#include <windows.h>

#include <algorithm>
#include <string>
#include <vector>

#include "platform/codepage.h"
#include "platform/files.h"

namespace platform {

namespace {

HANDLE ToHandle(FileHandle f) {
    return reinterpret_cast<HANDLE>(f);
}

bool IsSeparator(char c) {
    return c == '\\' || c == '/';
}

// The position just after the last real separator of a path (0 when it has none); a 0x5C
// trail byte of a double-byte character is not one.
size_t AfterLastSeparator(const std::string& path) {
    size_t after = 0;
    for (size_t i = 0; i < path.size(); ++i) {
        const unsigned char b = static_cast<unsigned char>(path[i]);
        if (IsLeadByte(b) && i + 1 < path.size()) {
            ++i;
        } else if (IsSeparator(path[i]) || (i == 1 && path[i] == ':')) {
            after = i + 1;
        }
    }
    return after;
}

}  // namespace

FileHandle OpenFile(const char* path, uint32_t access, FileDisposition disposition) {
    if (path == nullptr)
        return kInvalidFile;
    DWORD desired;
    switch (access & kAccessReadWrite) {
        case kAccessRead:
            desired = GENERIC_READ;
            break;
        case kAccessWrite:
            desired = GENERIC_WRITE;
            break;
        case kAccessReadWrite:
            desired = GENERIC_READ | GENERIC_WRITE;
            break;
        default:
            return kInvalidFile;
    }
    DWORD creation;
    switch (disposition) {
        case kOpenAlways:
            creation = OPEN_ALWAYS;
            break;
        case kOpenExisting:
            creation = OPEN_EXISTING;
            break;
        case kCreateAlways:
            creation = CREATE_ALWAYS;
            break;
        default:
            return kInvalidFile;
    }
    // A directory cannot be opened this way (that takes FILE_FLAG_BACKUP_SEMANTICS).
    HANDLE h = CreateFileA(path, desired, FILE_SHARE_READ, nullptr, creation, FILE_ATTRIBUTE_NORMAL,
                           nullptr);
    if (h == INVALID_HANDLE_VALUE)
        return kInvalidFile;
    // Only disk files: a device name ("CON", "NUL") in the store must not hold a thread.
    if (GetFileType(h) != FILE_TYPE_DISK) {
        CloseHandle(h);
        return kInvalidFile;
    }
    return reinterpret_cast<FileHandle>(h);
}

// The file takes the access list its directory passes on; in the user's own folders that
// admits the user (and the system) alone.
FileHandle CreatePrivateFile(const char* path) {
    return OpenFile(path, kAccessWrite, kCreateAlways);
}

int ReadFile(FileHandle f, void* buf, uint32_t len, uint32_t* done) {
    if (done != nullptr)
        *done = 0;
    if (f == kInvalidFile || (buf == nullptr && len > 0))
        return 0;
    DWORD n = 0;
    const BOOL ok = ::ReadFile(ToHandle(f), buf, len, &n, nullptr);
    if (done != nullptr)
        *done = n;
    return ok ? 1 : 0;
}

int WriteFile(FileHandle f, const void* buf, uint32_t len, uint32_t* done) {
    if (done != nullptr)
        *done = 0;
    if (f == kInvalidFile || (buf == nullptr && len > 0))
        return 0;
    DWORD n = 0;
    const BOOL ok = ::WriteFile(ToHandle(f), buf, len, &n, nullptr);
    if (done != nullptr)
        *done = n;
    return ok && n == len ? 1 : 0;
}

namespace {

OVERLAPPED At(int64_t offset) {
    OVERLAPPED at = {};
    at.Offset = static_cast<DWORD>(static_cast<uint64_t>(offset));
    at.OffsetHigh = static_cast<DWORD>(static_cast<uint64_t>(offset) >> 32);
    return at;
}

}  // namespace

int ReadFileAt(FileHandle f, int64_t offset, void* buf, uint32_t len, uint32_t* done) {
    if (done != nullptr)
        *done = 0;
    if (f == kInvalidFile || offset < 0 || (buf == nullptr && len > 0))
        return 0;
    OVERLAPPED at = At(offset);
    DWORD n = 0;
    // A read starting at or past the end fails with ERROR_HANDLE_EOF: that is 0 bytes.
    const BOOL ok = ::ReadFile(ToHandle(f), buf, len, &n, &at);
    if (done != nullptr)
        *done = n;
    return ok || GetLastError() == ERROR_HANDLE_EOF ? 1 : 0;
}

int WriteFileAt(FileHandle f, int64_t offset, const void* buf, uint32_t len, uint32_t* done) {
    if (done != nullptr)
        *done = 0;
    if (f == kInvalidFile || offset < 0 || (buf == nullptr && len > 0))
        return 0;
    OVERLAPPED at = At(offset);
    DWORD n = 0;
    const BOOL ok = ::WriteFile(ToHandle(f), buf, len, &n, &at);
    if (done != nullptr)
        *done = n;
    return ok && n == len ? 1 : 0;
}

int64_t SeekFile(FileHandle f, int64_t offset, SeekOrigin origin) {
    if (f == kInvalidFile)
        return -1;
    DWORD method;
    switch (origin) {
        case kSeekBegin:
            method = FILE_BEGIN;
            break;
        case kSeekCurrent:
            method = FILE_CURRENT;
            break;
        case kSeekEnd:
            method = FILE_END;
            break;
        default:
            return -1;
    }
    LONG high = static_cast<LONG>(offset >> 32);
    SetLastError(NO_ERROR);
    const DWORD low =
        SetFilePointer(ToHandle(f), static_cast<LONG>(offset & 0xFFFFFFFF), &high, method);
    // INVALID_SET_FILE_POINTER is also a valid low half; the error code tells them apart.
    if (low == INVALID_SET_FILE_POINTER && GetLastError() != NO_ERROR)
        return -1;
    return static_cast<int64_t>((static_cast<uint64_t>(static_cast<DWORD>(high)) << 32) | low);
}

int CloseFile(FileHandle f) {
    if (f == kInvalidFile)
        return 0;
    CloseHandle(ToHandle(f));
    return 1;
}

namespace {

// A file time as a UTC calendar time.
int CalendarTime(const FILETIME& written, SystemTime* out) {
    SYSTEMTIME st;
    if (!FileTimeToSystemTime(&written, &st))
        return 0;
    out->year = st.wYear;
    out->month = st.wMonth;
    out->dayOfWeek = st.wDayOfWeek;
    out->day = st.wDay;
    out->hour = st.wHour;
    out->minute = st.wMinute;
    out->second = st.wSecond;
    out->milliseconds = st.wMilliseconds;
    return 1;
}

}  // namespace

int FileLastWriteTime(FileHandle f, SystemTime* out) {
    if (f == kInvalidFile || out == nullptr)
        return 0;
    FILETIME written;
    if (!GetFileTime(ToHandle(f), nullptr, nullptr, &written))
        return 0;
    return CalendarTime(written, out);
}

int FileStampOf(const char* path, FileStamp* out) {
    if (path == nullptr || out == nullptr)
        return 0;
    // Opened for no access at all, only to ask for the file's information: every other
    // opener, a writer or a deleter included, goes on undisturbed.
    HANDLE h = CreateFileA(path, 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                           OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE)
        return 0;
    BY_HANDLE_FILE_INFORMATION info;
    const BOOL got = GetFileInformationByHandle(h, &info);
    CloseHandle(h);
    if (!got || (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0)
        return 0;
    out->size =
        static_cast<int64_t>((static_cast<uint64_t>(info.nFileSizeHigh) << 32) | info.nFileSizeLow);
    out->writeTime =
        static_cast<int64_t>((static_cast<uint64_t>(info.ftLastWriteTime.dwHighDateTime) << 32) |
                             info.ftLastWriteTime.dwLowDateTime);
    out->volume = info.dwVolumeSerialNumber;
    out->file = (static_cast<uint64_t>(info.nFileIndexHigh) << 32) | info.nFileIndexLow;
    return 1;
}

// Windows looks each name up from the path: the directory is only remembered.
DirectoryStamps::DirectoryStamps(const char* directory) : directory_(directory) {}

DirectoryStamps::~DirectoryStamps() = default;

int DirectoryStamps::StampOf(const char* name, FileStamp* out) {
    if (name == nullptr)
        return 0;
    return FileStampOf((directory_ + name).c_str(), out);
}

bool DirectoryStamps::Unchanged(const char* name, const FileStamp& stamp) {
    (void)name;
    (void)stamp;
    return false;
}

uint64_t DirectoryStamps::ChangeCount() {
    return 0;
}

size_t DirectoryStamps::Remembered() const {
    return 0;
}

int StampWriteTime(const FileStamp& stamp, SystemTime* out) {
    if (out == nullptr)
        return 0;
    FILETIME written;
    written.dwLowDateTime = static_cast<DWORD>(static_cast<uint64_t>(stamp.writeTime));
    written.dwHighDateTime = static_cast<DWORD>(static_cast<uint64_t>(stamp.writeTime) >> 32);
    return CalendarTime(written, out);
}

int DeleteFilePath(const char* path) {
    if (path == nullptr)
        return 0;
    return DeleteFileA(path) ? 1 : 0;
}

int ReplaceByRename(const char* from, const char* to) {
    if (from == nullptr || to == nullptr)
        return 0;
    return MoveFileExA(from, to, MOVEFILE_REPLACE_EXISTING) ? 1 : 0;
}

bool DirectoryExists(const char* path) {
    if (path == nullptr)
        return false;
    const DWORD attributes = GetFileAttributesA(path);
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

int CreatePrivateDirectory(const char* path) {
    if (path == nullptr)
        return 0;
    // A directory under the user's own profile (the temporary directory) inherits its access
    // list, which admits the user alone.
    return CreateDirectoryA(path, nullptr) ? 1 : 0;
}

int RemoveEmptyDirectory(const char* path) {
    if (path == nullptr)
        return 0;
    return RemoveDirectoryA(path) ? 1 : 0;
}

std::string TempDirectory() {
    char buf[MAX_PATH + 1];
    const DWORD n = GetTempPathA(sizeof(buf), buf);
    std::string dir = n > 0 && n < sizeof(buf) ? std::string(buf, n) : std::string(".\\");
    if (!IsSeparator(dir.back()))
        dir += '\\';
    return dir;
}

std::string MakeTempFileName(const char* dir, const char* prefix) {
    if (dir == nullptr)
        return std::string();
    char name[MAX_PATH];
    // Unique number 0: the OS picks a free name and creates the file empty.
    if (GetTempFileNameA(dir, prefix != nullptr ? prefix : "", 0, name) == 0)
        return std::string();
    return name;
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

}  // namespace

// The OS matches a pattern against short (8.3) names too and lists in the order of the file
// system; the entries are filtered by the pattern's own rules and sorted, so every file system
// gives the same answer.
DirectorySearch::DirectorySearch(const char* pattern) : state_(new State) {
    if (pattern == nullptr)
        return;
    const std::string full = pattern;
    const std::string wildcard = full.substr(AfterLastSeparator(full));
    if (wildcard.empty())
        return;
    WIN32_FIND_DATAA found;
    HANDLE h = FindFirstFileA(pattern, &found);
    if (h == INVALID_HANDLE_VALUE)
        return;
    do {
        if (!WildcardMatch(wildcard.c_str(), found.cFileName))
            continue;
        const bool isDir = (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
        state_->entries.push_back(FindData{found.cFileName, isDir});
    } while (FindNextFileA(h, &found));
    FindClose(h);
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
