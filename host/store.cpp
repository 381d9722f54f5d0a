#include "host/store.h"

#include <cstdio>
#include <ctime>
#include <filesystem>
#include <system_error>
#include <vector>

#include "host/import_form.h"
#include "host/store_format.h"
#include "platform/codepage.h"
#include "platform/files.h"
#include "platform/profile.h"

namespace {

// At most this many folders keep the spots of their index (a 10,000-message folder's take
// about a megabyte).
constexpr size_t kSpotFolders = 8;

// The whole content of a file; false when it cannot be opened or read.
bool ReadWholeFile(const std::string& path, std::string* out) {
    const platform::FileHandle f =
        platform::OpenFile(path.c_str(), platform::kAccessRead, platform::kOpenExisting);
    if (f == platform::kInvalidFile)
        return false;
    out->clear();
    // On the heap: the calls come on the plug-in's threads, whose stacks may be small.
    std::vector<char> block(64 * 1024);
    uint32_t done = 0;
    bool ok = true;
    while ((ok = platform::ReadFile(f, block.data(), static_cast<uint32_t>(block.size()), &done) !=
                 0) &&
           done > 0) {
        out->append(block.data(), done);
    }
    platform::CloseFile(f);
    return ok;
}

// Writes content to a new file in directory and renames it to path, so a reader sees either
// the old file or the whole new one.
bool ReplaceFile(const std::string& directory, const std::string& path,
                 const std::string& content) {
    const std::string temp = platform::MakeTempFileName(directory.c_str(), "orv");
    if (temp.empty())
        return false;
    const platform::FileHandle f =
        platform::OpenFile(temp.c_str(), platform::kAccessWrite, platform::kCreateAlways);
    bool ok = f != platform::kInvalidFile;
    uint32_t done = 0;
    if (ok && !content.empty()) {
        ok = platform::WriteFile(f, content.data(), static_cast<uint32_t>(content.size()), &done) !=
                 0 &&
             done == content.size();
    }
    if (f != platform::kInvalidFile && platform::CloseFile(f) == 0)
        ok = false;
    if (ok) {
        ok = platform::ReplaceByRename(temp.c_str(), path.c_str()) != 0;
    }
    if (!ok)
        platform::DeleteFilePath(temp.c_str());
    return ok;
}

// The name prefix of a folder's change marker: an empty file that lies in the folder while its
// "Entry.lst" and its "Total" are changed one after the other. Found at start-up, it tells that
// the host stopped between the two, and the folder's Total is set from its index again.
constexpr char kChangeMarker[] = "chg";

// Whether a file name is one this store, or a profile write, leaves behind when the process
// ends in the middle: a change marker, a file written before it is renamed into place
// (ReplaceFile), a profile written before it replaces its file.
bool IsLeftover(const std::string& name) {
    return platform::WildcardMatch("chg*.tmp", name.c_str()) ||
           platform::WildcardMatch("orv*.tmp", name.c_str()) ||
           platform::WildcardMatch("*.ini.*.tmp", name.c_str());
}

bool FileExists(const std::string& path) {
    std::error_code failure;
    return std::filesystem::is_regular_file(platform::MapPath(path.c_str()), failure);
}

// Holds a change marker in a folder for its lifetime; a crash in between leaves it.
class ChangeMarker {
  public:
    explicit ChangeMarker(const std::string& folder)
        : path_(platform::MakeTempFileName(folder.c_str(), kChangeMarker)) {}
    ~ChangeMarker() {
        if (!path_.empty())
            platform::DeleteFilePath(path_.c_str());
    }
    ChangeMarker(const ChangeMarker&) = delete;
    ChangeMarker& operator=(const ChangeMarker&) = delete;

  private:
    std::string path_;
};

// The components of a path relative to the mailbox directory, split at every "\" or "/" that
// is not the second byte of a double-byte character.
std::vector<std::string> Components(const std::string& path) {
    std::vector<std::string> parts(1);
    for (size_t i = 0; i < path.size(); ++i) {
        const unsigned char b = static_cast<unsigned char>(path[i]);
        if (platform::IsLeadByte(b) && i + 1 < path.size()) {
            parts.back() += path[i];
            parts.back() += path[++i];
        } else if (b == '\\' || b == '/') {
            parts.emplace_back();
        } else {
            parts.back() += path[i];
        }
    }
    return parts;
}

// Whether a folder named by the plug-in lies inside the mailbox directory: not empty, no
// empty component (a leading separator), no "." or ".." component.
bool InsideMailbox(const std::vector<std::string>& parts) {
    for (const std::string& part : parts) {
        if (part.empty() || part == "." || part == "..")
            return false;
    }
    return !parts.empty();
}

std::string Join(const std::vector<std::string>& parts, size_t count) {
    std::string out;
    for (size_t i = 0; i < count; ++i) {
        if (i > 0)
            out += '/';
        out += parts[i];
    }
    return out;
}

// One line of "Entry.lst" as it is (raw, line end included), and its parts: the file name
// before the first "=", the value after the run of "=" that follows it, and the line end.
struct IndexLine {
    std::string raw;
    std::string name;
    std::string value;
    std::string lineEnd;
};

std::vector<IndexLine> ParseIndex(const std::string& content) {
    std::vector<IndexLine> lines;
    size_t start = 0;
    while (start < content.size()) {
        size_t next = content.find('\n', start);
        next = next == std::string::npos ? content.size() : next + 1;
        IndexLine line;
        line.raw = content.substr(start, next - start);
        start = next;
        std::string text = line.raw;
        while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) {
            line.lineEnd.insert(line.lineEnd.begin(), text.back());
            text.pop_back();
        }
        const size_t eq = text.find('=');
        line.name = text.substr(0, eq);
        if (eq != std::string::npos) {
            const size_t value = text.find_first_not_of('=', eq);
            line.value = value == std::string::npos ? std::string() : text.substr(value);
        }
        lines.push_back(line);
    }
    return lines;
}

// A file name as lstrcmpiA compares it: ASCII letters in lower case, except a byte that is the
// second byte of a double-byte character.
std::string FoldedName(const std::string& name) {
    std::string out = name;
    bool trail = false;
    for (char& c : out) {
        const unsigned char b = static_cast<unsigned char>(c);
        if (!trail && b >= 'A' && b <= 'Z')
            c = static_cast<char>(b + 0x20);
        trail = !trail && platform::IsLeadByte(b);
    }
    return out;
}

// Whether the bytes read at a spot, from the start of its line through the byte after its
// record, still are that line: the name, its run of "=", the record with no line end in it,
// then a line end or the end of the file.
bool SpotHolds(const std::string& bytes, const std::string& folded, size_t prefix, size_t length) {
    const size_t end = prefix + length;
    if (bytes.size() < end || FoldedName(bytes.substr(0, folded.size())) != folded)
        return false;
    if (bytes.find_first_not_of('=', folded.size()) < prefix)
        return false;
    if (bytes.find_first_of("\r\n") < end)
        return false;
    return bytes.size() == end || bytes[end] == '\r' || bytes[end] == '\n';
}

// The size and last-write time of a file; false when it cannot be examined.
bool FileStamp(const std::string& path, uint64_t* size, int64_t* time) {
    const std::filesystem::path os = platform::MapPath(path.c_str());
    std::error_code failure;
    const uintmax_t bytes = std::filesystem::file_size(os, failure);
    if (failure)
        return false;
    const std::filesystem::file_time_type written = std::filesystem::last_write_time(os, failure);
    if (failure)
        return false;
    *size = bytes;
    *time = static_cast<int64_t>(written.time_since_epoch().count());
    return true;
}

// Up to len bytes of an open file from offset (fewer at its end).
bool ReadAt(platform::FileHandle f, uint64_t offset, size_t len, std::string* out) {
    out->assign(len, '\0');
    if (platform::SeekFile(f, static_cast<int64_t>(offset), platform::kSeekBegin) < 0)
        return false;
    size_t got = 0;
    uint32_t done = 0;
    while (got < len &&
           platform::ReadFile(f, &(*out)[got], static_cast<uint32_t>(len - got), &done) != 0 &&
           done > 0) {
        got += done;
    }
    out->resize(got);
    return true;
}

bool WriteAt(platform::FileHandle f, uint64_t offset, const std::string& bytes) {
    uint32_t done = 0;
    return platform::SeekFile(f, static_cast<int64_t>(offset), platform::kSeekBegin) >= 0 &&
           platform::WriteFile(f, bytes.data(), static_cast<uint32_t>(bytes.size()), &done) != 0 &&
           done == bytes.size();
}

// The highest UID of a folder: over the names in its "Entry.lst" and the message files in its
// directory, so an unlisted file is never overwritten. 0 for an empty folder.
uint64_t HighestUid(const std::string& folder, const std::string& index) {
    uint64_t highest = 0;
    uint64_t uid = 0;
    for (const IndexLine& line : ParseIndex(index)) {
        if (UidOfName(line.name, &uid) && uid > highest)
            highest = uid;
    }
    platform::DirectorySearch search((folder + "/*.orv").c_str());
    platform::FindData found;
    while (search.Next(&found)) {
        if (!found.directory && UidOfName(found.name, &uid) && uid > highest)
            highest = uid;
    }
    return highest;
}

}  // namespace

HostStore::HostStore(const std::string& mailbox) : mailbox_(mailbox) {}

std::string HostStore::ImportFile(const char* filePath, const char* destination, uint32_t status) {
    if (filePath == nullptr || destination == nullptr)
        return std::string();
    std::lock_guard<std::mutex> hold(lock_);
    std::string message;
    if (!ReadWholeFile(filePath, &message))
        return std::string();
    // A client's message is kept in the host's form: decoded headers, Shift_JIS text.
    return ImportLocked(HostFormOf(message), destination, status);
}

std::string HostStore::ImportBytes(const std::string& message, const char* destination,
                                   uint32_t status) {
    if (destination == nullptr)
        return std::string();
    std::lock_guard<std::mutex> hold(lock_);
    return ImportLocked(message, destination, status);
}

std::string HostStore::ImportLocked(const std::string& message, const std::string& destination,
                                    uint32_t status) {
    const std::vector<std::string> parts = Components(destination);
    if (!InsideMailbox(parts))
        return std::string();
    const std::string folder = mailbox_ + Join(parts, parts.size());
    if (!platform::DirectoryExists(folder.c_str()))
        return std::string();

    const std::string indexPath = folder + "/Entry.lst";
    std::string index;
    ReadWholeFile(indexPath, &index);  // a folder without one is empty
    const std::string name = NameOfUid(HighestUid(folder, index) + 1);
    if (name.empty())
        return std::string();

    const std::string file = StatusLine(status) + WithCrLf(message);
    if (!ReplaceFile(folder, folder + "/" + name + ".orv", file))
        return std::string();

    if (!index.empty() && index.back() != '\n')
        index += "\r\n";
    const std::string record = IndexRecord(status, static_cast<uint32_t>(file.size()),
                                           static_cast<uint32_t>(std::time(nullptr)));
    index += name + "=" + Base64Encode(record) + "\r\n";

    // Total first, then the index, each replaced whole: a reader never finds more lines than
    // Total (the server reads no line of a folder whose Total is 0), and a crash between the
    // two leaves the marker, by which the next start sets Total from the index.
    const ChangeMarker marker(folder);
    const std::string ini = folder + "/Entry.ini";
    const bool hadIni = FileExists(ini);
    const uint32_t total = platform::ProfileInt("Property", "Total", 0, ini.c_str());
    platform::WriteProfileString("Property", "Total", std::to_string(total + 1).c_str(),
                                 ini.c_str());
    spots_.erase(indexPath);
    if (!ReplaceFile(folder, indexPath, index)) {
        if (hadIni)
            platform::WriteProfileString("Property", "Total", std::to_string(total).c_str(),
                                         ini.c_str());
        else
            platform::DeleteFilePath(ini.c_str());
        platform::DeleteFilePath((folder + "/" + name + ".orv").c_str());
        return std::string();
    }
    return name;
}

HostStore::IndexSpots* HostStore::SpotsOf(const std::string& path) {
    uint64_t size = 0;
    int64_t time = 0;
    if (!FileStamp(path, &size, &time)) {
        spots_.erase(path);
        return nullptr;
    }
    auto known = spots_.find(path);
    if (known != spots_.end() && known->second.size == size && known->second.time == time)
        return &known->second;
    // Stamped before reading: a change made in between shows at the next call.
    std::string content;
    if (!ReadWholeFile(path, &content)) {
        spots_.erase(path);
        return nullptr;
    }
    if (known == spots_.end() && spots_.size() >= kSpotFolders)
        spots_.clear();
    IndexSpots& spots = spots_[path];
    spots = IndexSpots();
    spots.size = size;
    spots.time = time;
    uint64_t offset = 0;
    for (const IndexLine& line : ParseIndex(content)) {
        const uint64_t end = offset + line.raw.size() - line.lineEnd.size();
        spots.byName[FoldedName(line.name)].push_back({offset, end - line.value.size(),
                                                       static_cast<uint32_t>(line.value.size()),
                                                       RecordStatus(Base64Decode(line.value))});
        offset += line.raw.size();
    }
    return &spots;
}

bool HostStore::MarkMail(const char* key, uint32_t mask, int32_t value) {
    if (key == nullptr)
        return false;
    const std::vector<std::string> parts = Components(key);
    if (parts.size() < 2 || !InsideMailbox(parts))
        return false;
    const std::string& name = parts.back();
    const std::string folder = mailbox_ + Join(parts, parts.size() - 1);
    const std::string indexPath = folder + "/Entry.lst";
    const std::string folded = FoldedName(name);

    std::lock_guard<std::mutex> hold(lock_);
    IndexSpots* spots = SpotsOf(indexPath);
    if (spots == nullptr)
        return false;
    const auto found = spots->byName.find(folded);
    if (found == spots->byName.end())
        return false;
    // A mark that changes nothing the unchanged file holds costs no file access at all: a
    // client that lists a folder of read mail asks for one per message.
    bool changes = false;
    for (const RecordSpot& spot : found->second) {
        const uint32_t after = value != 0 ? (spot.status | mask) : (spot.status & ~mask);
        changes = changes || after != spot.status;
    }
    if (!changes)
        return true;
    // Every line of the message changes (a store written by hand may list a name twice).
    platform::FileHandle f = platform::kInvalidFile;
    bool rewrite = false;
    bool wrote = false;
    for (RecordSpot& spot : found->second) {
        if (f == platform::kInvalidFile) {
            f = platform::OpenFile(indexPath.c_str(), platform::kAccessReadWrite,
                                   platform::kOpenExisting);
        }
        const size_t prefix = static_cast<size_t>(spot.value - spot.line);
        std::string line;
        if (f == platform::kInvalidFile || !ReadAt(f, spot.line, prefix + spot.length + 1, &line) ||
            !SpotHolds(line, folded, prefix, spot.length)) {
            rewrite = true;
            break;
        }
        const std::string record = Base64Decode(line.substr(prefix, spot.length));
        const uint32_t before = RecordStatus(record);
        const uint32_t after = value != 0 ? (before | mask) : (before & ~mask);
        spot.status = before;
        if (after == before)
            continue;
        const std::string text = Base64Encode(WithRecordStatus(record, after));
        if (text.size() != spot.length) {
            rewrite = true;
            break;
        }
        if (!WriteAt(f, spot.value, text)) {
            platform::CloseFile(f);
            spots_.erase(indexPath);
            return false;
        }
        spot.status = after;
        wrote = true;
    }
    if (f != platform::kInvalidFile)
        platform::CloseFile(f);
    if (rewrite) {
        spots_.erase(indexPath);
        return MarkByRewrite(folder, indexPath, name, mask, value);
    }
    // Our own write is no change behind our back: the spots stay, with the new stamp.
    if (wrote && !FileStamp(indexPath, &spots->size, &spots->time))
        spots_.erase(indexPath);
    return true;
}

bool HostStore::MarkByRewrite(const std::string& folder, const std::string& indexPath,
                              const std::string& name, uint32_t mask, int32_t value) {
    std::string content;
    if (!ReadWholeFile(indexPath, &content))
        return false;
    bool found = false;
    bool changed = false;
    std::string out;
    for (IndexLine& line : ParseIndex(content)) {
        if (platform::lstrcmpiA(line.name.c_str(), name.c_str()) == 0) {
            found = true;
            const std::string record = Base64Decode(line.value);
            const uint32_t before = RecordStatus(record);
            const uint32_t after = value != 0 ? (before | mask) : (before & ~mask);
            if (after != before) {
                line.raw =
                    line.name + "=" + Base64Encode(WithRecordStatus(record, after)) + line.lineEnd;
                changed = true;
            }
        }
        out += line.raw;
    }
    if (changed && !ReplaceFile(folder, indexPath, out))
        return false;
    return found;
}

bool HostStore::DeleteMail(const char* key) {
    if (key == nullptr)
        return false;
    const std::vector<std::string> parts = Components(key);
    if (parts.size() < 2 || !InsideMailbox(parts))
        return false;
    const std::string& name = parts.back();
    const std::string folder = mailbox_ + Join(parts, parts.size() - 1);
    const std::string indexPath = folder + "/Entry.lst";

    std::lock_guard<std::mutex> hold(lock_);
    std::string content;
    if (!ReadWholeFile(indexPath, &content))
        return false;
    // Every line of the message goes (a store written by hand may list a name twice); the
    // file is the one the index names, in the index's spelling.
    std::string fileName;
    uint32_t removed = 0;
    std::string out;
    for (const IndexLine& line : ParseIndex(content)) {
        if (platform::lstrcmpiA(line.name.c_str(), name.c_str()) == 0) {
            fileName = line.name;
            ++removed;
        } else {
            out += line.raw;
        }
    }
    if (removed == 0)
        return false;
    // The index first, so no reader finds a line whose file is gone, nor more lines than
    // Total; the marker covers a crash before Total follows.
    {
        const ChangeMarker marker(folder);
        spots_.erase(indexPath);
        if (!ReplaceFile(folder, indexPath, out))
            return false;
        const std::string ini = folder + "/Entry.ini";
        const uint32_t total = platform::ProfileInt("Property", "Total", 0, ini.c_str());
        const std::string text = std::to_string(total > removed ? total - removed : 0);
        platform::WriteProfileString("Property", "Total", text.c_str(), ini.c_str());
    }
    platform::DeleteFilePath((folder + "/" + fileName + ".orv").c_str());
    return true;
}

void HostStore::Recover() {
    std::lock_guard<std::mutex> hold(lock_);
    std::error_code failure;
    const std::filesystem::path top = platform::MapPath(mailbox_.c_str());
    std::vector<std::filesystem::path> folders{top};
    // Directory links are not followed: every folder is reached once.
    for (std::filesystem::recursive_directory_iterator
             it(top, std::filesystem::directory_options::skip_permission_denied, failure),
         end;
         !failure && it != end; it.increment(failure)) {
        std::error_code unreadable;
        if (it->is_directory(unreadable) && !it->is_symlink(unreadable))
            folders.push_back(it->path());
    }
    for (const std::filesystem::path& folder : folders)
        RecoverFolder(folder.string());
}

void HostStore::RecoverFolder(const std::string& folder) {
    std::vector<std::string> leftovers;
    bool interrupted = false;
    platform::DirectorySearch search((folder + "/*.tmp").c_str());
    platform::FindData found;
    while (search.Next(&found)) {
        if (found.directory || !IsLeftover(found.name))
            continue;
        leftovers.push_back(folder + "/" + found.name);
        interrupted = interrupted || platform::WildcardMatch("chg*.tmp", found.name.c_str());
    }
    if (interrupted) {
        // The index was written whole, or not at all: Total follows it.
        const std::string indexPath = folder + "/Entry.lst";
        const std::string ini = folder + "/Entry.ini";
        std::string index;
        const bool listed = ReadWholeFile(indexPath, &index);
        const uint32_t lines = static_cast<uint32_t>(ParseIndex(index).size());
        const bool hasIni = FileExists(ini);
        if ((hasIni || (listed && lines > 0)) &&
            (!hasIni || platform::ProfileInt("Property", "Total", -1, ini.c_str()) != lines)) {
            platform::WriteProfileString("Property", "Total", std::to_string(lines).c_str(),
                                         ini.c_str());
        }
    }
    for (const std::string& path : leftovers)
        platform::DeleteFilePath(path.c_str());
}
