#include "host/store.h"

#include <chrono>
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

// At most this many folders keep their index open, with its spots (a 10,000-message folder's
// take about a megabyte).
constexpr size_t kSpotFolders = 8;

// How long a change in a folder takes to show in its directory's last-write time for certain:
// the clock the file system stamps times from moves in ticks (of a few milliseconds, or of
// seconds on some file systems), so a second change within one tick of the first leaves the
// time as it was. A directory changed more recently than this is not trusted to show the next
// change.
constexpr std::chrono::seconds kSettleTime{2};

// The name of a folder's index within its directory.
constexpr char kIndexName[] = "Entry.lst";

// Whether an index stays open between marks. Not on Windows, whose open file keeps others from
// writing it and the plug-in from reading it; there each mark opens it again.
#if defined(_WIN32)
constexpr bool kKeepIndexOpen = false;
#else
constexpr bool kKeepIndexOpen = true;
#endif

// The whole content of an open file, from its start.
bool ReadAll(platform::FileHandle f, std::string* out) {
    out->clear();
    if (platform::SeekFile(f, 0, platform::kSeekBegin) < 0)
        return false;
    // On the heap: the calls come on the plug-in's threads, whose stacks may be small.
    std::vector<char> block(64 * 1024);
    uint32_t done = 0;
    bool ok = true;
    while ((ok = platform::ReadFile(f, block.data(), static_cast<uint32_t>(block.size()), &done) !=
                 0) &&
           done > 0) {
        out->append(block.data(), done);
    }
    return ok;
}

// The whole content of a file; false when it cannot be opened or read.
bool ReadWholeFile(const std::string& path, std::string* out) {
    const platform::FileHandle f =
        platform::OpenFile(path.c_str(), platform::kAccessRead, platform::kOpenExisting);
    if (f == platform::kInvalidFile)
        return false;
    const bool ok = ReadAll(f, out);
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

// A message key split at its last separator (as Components splits): the folder's part and
// the file name. False for a key without a separator.
bool SplitKey(const char* key, std::string* folder, std::string* name) {
    size_t last = std::string::npos;
    size_t i = 0;
    for (; key[i] != '\0'; ++i) {
        const unsigned char b = static_cast<unsigned char>(key[i]);
        if (platform::IsLeadByte(b) && key[i + 1] != '\0')
            ++i;
        else if (b == '\\' || b == '/')
            last = i;
    }
    if (last == std::string::npos)
        return false;
    folder->assign(key, last);
    name->assign(key + last + 1, i - last - 1);
    return true;
}

// Whether one component of a path names an entry of its directory: not empty (a leading or
// doubled separator), not "." or "..".
bool NamesEntry(const std::string& part) {
    return !part.empty() && part != "." && part != "..";
}

// Whether a folder named by the plug-in lies inside the mailbox directory: not empty, every
// component naming an entry.
bool InsideMailbox(const std::vector<std::string>& parts) {
    for (const std::string& part : parts) {
        if (!NamesEntry(part))
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
    uint32_t done = 0;
    if (!platform::ReadFileAt(f, static_cast<int64_t>(offset), &(*out)[0],
                              static_cast<uint32_t>(len), &done))
        return false;
    out->resize(done);
    return true;
}

bool WriteAt(platform::FileHandle f, uint64_t offset, const std::string& bytes) {
    uint32_t done = 0;
    return platform::WriteFileAt(f, static_cast<int64_t>(offset), bytes.data(),
                                 static_cast<uint32_t>(bytes.size()), &done) != 0 &&
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
    Forget(indexPath);
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

HostStore::OpenIndex::~OpenIndex() {
    if (file != platform::kInvalidFile)
        platform::CloseFile(file);
}

HostStore::OpenIndex* HostStore::IndexOf(const std::string& folder, const std::string& path) {
    std::unique_ptr<OpenIndex>& slot = indexes_[path];
    if (slot == nullptr) {
        if (indexes_.size() > kSpotFolders) {
            indexes_.clear();
            return IndexOf(folder, path);
        }
        slot.reset(new OpenIndex);
        slot->folder = platform::MapPath(folder.c_str());
    }
    OpenIndex& index = *slot;
    // The index opened is still the file under its name, and unchanged: nothing to look at.
    if (index.file != platform::kInvalidFile && index.read && index.haveOpened && !index.wrote &&
        index.watch->Unchanged(kIndexName, index.opened))
        return &index;
    // The index's stamp, taken before the folder's time is looked at: the handle kept or
    // opened below is the file of that stamp, or a report of a change to it follows.
    if (index.watch == nullptr)
        index.watch.reset(new platform::DirectoryStamps((folder + "/").c_str()));
    platform::FileStamp stamp;
    const bool stamped = !index.wrote && index.watch->StampOf(kIndexName, &stamp) != 0;
    index.statusKnown = false;
    // The directory's time is read before the index is opened, so a rename over the index
    // from then on changes it. The clock first: a time that was already older than the settle
    // time then cannot be the time of a change made after this look.
    const std::filesystem::file_time_type now = std::filesystem::file_time_type::clock::now();
    std::error_code failure;
    const std::filesystem::file_time_type folderTime =
        std::filesystem::last_write_time(index.folder, failure);
    if (failure) {
        Forget(path);
        return nullptr;
    }
    if (index.file == platform::kInvalidFile || !index.folderSettled ||
        folderTime != index.folderTime) {
        if (index.file != platform::kInvalidFile)
            platform::CloseFile(index.file);
        index.file =
            platform::OpenFile(path.c_str(), platform::kAccessReadWrite, platform::kOpenExisting);
        if (index.file == platform::kInvalidFile) {
            Forget(path);
            return nullptr;
        }
    }
    index.folderTime = folderTime;
    index.folderSettled = folderTime < now - kSettleTime;
    index.opened = stamp;
    index.haveOpened = stamped && index.folderSettled;
    if (!index.read && !ReadSpots(index, path)) {
        Forget(path);
        return nullptr;
    }
    return &index;
}

bool HostStore::ReadSpots(OpenIndex& index, const std::string& path) {
    // Stamped before reading: a change made in between shows at the next look, unless it
    // falls within the tick of a time not yet settled.
    const std::filesystem::file_time_type now = std::filesystem::file_time_type::clock::now();
    if (!FileStamp(path, &index.size, &index.time))
        return false;
    index.stampSettled = index.time < (now - kSettleTime).time_since_epoch().count();
    std::string content;
    if (!ReadAll(index.file, &content))
        return false;
    index.lines.clear();
    index.byName.clear();
    index.next = 0;
    uint64_t offset = 0;
    for (const IndexLine& line : ParseIndex(content)) {
        const uint64_t end = offset + line.raw.size() - line.lineEnd.size();
        // The status word is the record's first four bytes: the first eight letters hold them.
        const uint32_t status = RecordStatus(Base64Decode(line.value.substr(0, 8)));
        index.lines.push_back({FoldedName(line.name), offset, end - line.value.size(),
                               static_cast<uint32_t>(line.value.size()), kNoLine, kNoLine, status});
        offset += line.raw.size();
    }
    // The names are viewed in place once every line is in: the vector no longer moves them.
    for (uint32_t i = 0; i < index.lines.size(); ++i) {
        LineSpot& spot = index.lines[i];
        const auto known = index.byName.emplace(spot.folded, i);
        spot.first = known.first->second;
        if (known.second)
            continue;
        uint32_t before = spot.first;
        while (index.lines[before].sameName != kNoLine)
            before = index.lines[before].sameName;
        index.lines[before].sameName = i;
    }
    index.read = true;
    index.statusKnown = true;
    return true;
}

bool HostStore::MarkMail(const char* key, uint32_t mask, int32_t value) {
    if (key == nullptr)
        return false;
    std::string folderKey;
    std::string name;
    if (!SplitKey(key, &folderKey, &name) || !NamesEntry(name))
        return false;
    const std::string folded = FoldedName(name);

    std::lock_guard<std::mutex> hold(lock_);
    // Marks come in runs on one folder (a STORE over a set): its paths are formed once a run.
    if (markFolder_.empty() || folderKey != markFolderKey_) {
        const std::vector<std::string> parts = Components(folderKey);
        if (!InsideMailbox(parts))
            return false;
        markFolderKey_ = folderKey;
        markFolder_ = mailbox_ + Join(parts, parts.size());
        markIndexPath_ = markFolder_ + "/Entry.lst";
    }
    const std::string& folder = markFolder_;
    const std::string& indexPath = markIndexPath_;
    OpenIndex* index = IndexOf(folder, indexPath);
    if (index == nullptr)
        return false;
    index->wrote = false;
    const MarkOutcome outcome = MarkAtSpots(*index, indexPath, folded, mask, value);
    if (outcome != MarkOutcome::kDone && outcome != MarkOutcome::kUnknown) {
        Forget(indexPath);
    } else if (!kKeepIndexOpen) {
        platform::CloseFile(index->file);
        index->file = platform::kInvalidFile;
    }
    if (outcome == MarkOutcome::kRewrite)
        return MarkByRewrite(folder, indexPath, name, mask, value);
    return outcome == MarkOutcome::kDone;
}

uint32_t HostStore::FindLine(const OpenIndex& index, const std::string& folded) {
    if (index.next < index.lines.size() && index.lines[index.next].folded == folded)
        return index.lines[index.next].first;
    const auto found = index.byName.find(folded);
    return found == index.byName.end() ? kNoLine : found->second;
}

HostStore::MarkOutcome HostStore::MarkAtSpots(OpenIndex& index, const std::string& indexPath,
                                              const std::string& folded, uint32_t mask,
                                              int32_t value) {
    uint32_t first = FindLine(index, folded);
    bool fresh = false;
    if (first == kNoLine) {
        // A name the lines lack is looked for again only in an index that changed since.
        uint64_t size = 0;
        int64_t time = 0;
        if (!FileStamp(indexPath, &size, &time))
            return MarkOutcome::kFailed;
        if (index.stampSettled && size == index.size && time == index.time)
            return MarkOutcome::kUnknown;
        if (!ReadSpots(index, indexPath))
            return MarkOutcome::kFailed;
        fresh = true;
        first = FindLine(index, folded);
        if (first == kNoLine)
            return MarkOutcome::kUnknown;
    }
    MarkOutcome outcome = MarkLines(index, first, folded, mask, value);
    if (outcome != MarkOutcome::kMoved)
        return outcome;
    // A line is no longer where it was: the lines are taken anew, once. Those already marked
    // hold the bits, so they are not written twice.
    if (fresh || !ReadSpots(index, indexPath))
        return fresh ? MarkOutcome::kRewrite : MarkOutcome::kFailed;
    first = FindLine(index, folded);
    if (first == kNoLine)
        return MarkOutcome::kUnknown;
    outcome = MarkLines(index, first, folded, mask, value);
    return outcome == MarkOutcome::kMoved ? MarkOutcome::kRewrite : outcome;
}

HostStore::MarkOutcome HostStore::MarkLines(OpenIndex& index, uint32_t first,
                                            const std::string& folded, uint32_t mask,
                                            int32_t value) {
    // Every line of the message changes.
    for (uint32_t i = first; i != kNoLine; i = index.lines[i].sameName) {
        LineSpot& spot = index.lines[i];
        if (index.statusKnown &&
            (value != 0 ? (spot.status | mask) : (spot.status & ~mask)) == spot.status) {
            index.next = i + 1;
            continue;
        }
        const size_t prefix = static_cast<size_t>(spot.value - spot.line);
        std::string line;
        if (!ReadAt(index.file, spot.line, prefix + spot.length + 1, &line))
            return MarkOutcome::kFailed;
        if (!SpotHolds(line, folded, prefix, spot.length))
            return MarkOutcome::kMoved;
        const std::string record = Base64Decode(line.substr(prefix, spot.length));
        const uint32_t before = RecordStatus(record);
        const uint32_t after = value != 0 ? (before | mask) : (before & ~mask);
        index.next = i + 1;
        spot.status = before;
        if (after == before)
            continue;
        const std::string text = Base64Encode(WithRecordStatus(record, after));
        if (text.size() != spot.length)
            return MarkOutcome::kRewrite;
        if (!WriteAt(index.file, spot.value, text))
            return MarkOutcome::kFailed;
        spot.status = after;
        index.wrote = true;
    }
    return MarkOutcome::kDone;
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
        Forget(indexPath);
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
