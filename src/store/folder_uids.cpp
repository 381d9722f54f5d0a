// The lasting UIDs of the extended mode: matching the host's list against a folder's UID record,
// the record's text, and the process-wide records, one per folder, kept in "Imap4.uid".
#include "store/folder_uids.h"

#include <algorithm>
#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <functional>
#include <map>
#include <memory>
#include <mutex>

#include "platform/files.h"
#include "platform/profile.h"
#include "platform/threads.h"
#include "store/mailbox.h"
#include "store/settings.h"
#include "store/state_file.h"

namespace {

constexpr char kHeader[] = "Imap4.uid 1";
constexpr char kRecordName[] = "Imap4.uid";
// The name the record is written under before it replaces the old one; one writer per folder
// at a time (the record's lock), so one name serves.
constexpr char kNewRecordName[] = "Imap4.uid.new";
// The key of the folder's "Imap4.ini" that says the folder has had a record: a folder that has
// the key but no readable record lost it.
constexpr char kHadRecordKey[] = "UIDRecord";
// A UID is at most this: UIDNEXT must still be a 32-bit number above it.
constexpr uint32_t kLargestUid = 0xFFFFFFFEu;

bool SameName(const std::string& a, const char* name, int length) {
    return a.size() == static_cast<size_t>(length) && std::memcmp(a.data(), name, a.size()) == 0;
}

// Guards the read-increment-write of the plug-in profile's UIDVALIDITY counter, so two
// connections drawing at the same moment never get the same value.
platform::CriticalSection& CounterLock() {
    static platform::CriticalSection lock;
    return lock;
}

// One folder's record as the process keeps it: read from its file at the first use, then the
// authority; every change is written back before the UIDs it gives are used.
struct FolderRecord {
    std::mutex lock;
    bool loaded = false;
    bool unsaved = false;  // the file does not hold the map (a write failed): write at next use
    UidMap map;
};

FolderRecord& RecordOf(const std::string& path) {
    // Made once and never freed: connection threads may still hold a record when the process
    // ends. One entry per folder directory that exists.
    static std::mutex* tableLock = new std::mutex;
    static auto* table = new std::map<std::string, std::unique_ptr<FolderRecord>>;
    std::lock_guard<std::mutex> hold(*tableLock);
    std::unique_ptr<FolderRecord>& record = (*table)[path];
    if (!record)
        record.reset(new FolderRecord);
    return *record;
}

// Replaces the folder's record with the map's text. On failure the old record is removed, so
// that a later process, not finding it, never trusts UIDs it does not know all of.
bool SaveRecord(const Text& directory, const UidMap& map) {
    const std::string path = std::string(directory.c_str()) + kRecordName;
    if (ReplaceStateFile(path, std::string(directory.c_str()) + kNewRecordName, FormatUidMap(map)))
        return true;
    platform::DeleteFilePath(path.c_str());
    return false;
}

void WriteFolderValidity(const Text& profile, uint32_t validity) {
    char number[16];
    std::snprintf(number, sizeof number, "%d", static_cast<int32_t>(validity));
    platform::WriteProfileString("IMAP4", "UID", number, profile.c_str());
    platform::WriteProfileString("IMAP4", kHadRecordKey, "1", profile.c_str());
}

// Reads the folder's record into *map. True when the folder starts a new one (the map then
// holds only its UIDVALIDITY), false when the record was read.
bool LoadRecord(HostPort& host, const Text& directory, UidMap* map) {
    Text path(directory);
    path.Append(kRecordName);
    Text profile(directory);
    profile.Append("Imap4.ini");
    const uint32_t folderValidity = platform::ProfileInt("IMAP4", "UID", 0, profile.c_str());
    std::string text;
    const bool existed = ReadStateFile(std::string(path.c_str()), &text);
    if (existed && ParseUidMap(text, map)) {
        // The folder's own setting reports the same value to the exact mode.
        if (folderValidity != map->validity)
            WriteFolderValidity(profile, map->validity);
        return false;
    }
    // A folder that never had a record keeps the UIDVALIDITY it has: its UIDs so far were
    // those of its file names, and the new record starts from them. One that lost its record
    // cannot know which UIDs it gave, and takes a new value.
    const bool hadRecord =
        existed || platform::ProfileInt("IMAP4", kHadRecordKey, 0, profile.c_str()) != 0;
    uint32_t validity = folderValidity;
    if (validity == 0 || hadRecord)
        validity = DrawUidValidity(host, folderValidity);
    *map = UidMap();
    map->validity = validity;
    WriteFolderValidity(profile, validity);
    return true;
}

}  // namespace

namespace {

// Gives the entries the UIDs of the records, one for one, when the list is the one the records
// were made from (the usual case: a folder looked at again); false, touching nothing, when not.
bool SameListing(const UidMap& map, MessageIndex& index) {
    const int count = index.Count();
    if (map.records.size() != static_cast<size_t>(count))
        return false;
    for (int i = 0; i < count; ++i) {
        const UidRecord& record = map.records[static_cast<size_t>(i)];
        const char* name = nullptr;
        int length = 0;
        index.NameAt(i, &name, &length);
        if (record.nameUid != index.UidAt(i) || record.tail != index.TailAt(i) ||
            !SameName(record.name, name, length))
            return false;
    }
    for (int i = 0; i < count; ++i)
        index.SetUidAt(i, map.records[static_cast<size_t>(i)].uid);
    return true;
}

}  // namespace

UidAssignment AssignUids(UidMap& map, MessageIndex& index, bool initial, bool complete) {
    if (SameListing(map, index)) {
        index.SortByUid();
        return UidAssignment::kUnchanged;
    }
    const int count = index.Count();
    const size_t known = map.records.size();
    std::vector<bool> matched(known, false);
    std::vector<UidRecord> records;
    records.reserve(static_cast<size_t>(count));
    uint32_t next = map.next;
    bool added = false;
    size_t group = 0;
    for (int i = 0; i < count; ++i) {
        const uint32_t nameUid = index.UidAt(i);  // as read from the list: the name's UID
        const uint64_t tail = index.TailAt(i);
        const char* name = nullptr;
        int length = 0;
        index.NameAt(i, &name, &length);
        // Both run in ascending name UID order, so this entry's records start at or after
        // those of the entry before it.
        while (group < known && map.records[group].nameUid < nameUid)
            ++group;
        size_t found = known;
        for (size_t k = group; k < known && map.records[k].nameUid == nameUid; ++k) {
            // The same name with another record tail is another message under a reused name.
            if (!matched[k] && map.records[k].tail == tail &&
                SameName(map.records[k].name, name, length)) {
                found = k;
                break;
            }
        }
        uint32_t uid;
        if (found < known) {
            matched[found] = true;
            uid = map.records[found].uid;
        } else {
            uid = initial && nameUid > next ? nameUid : next;
            if (uid == 0 || uid > kLargestUid)
                return UidAssignment::kExhausted;
            next = uid + 1;
            added = true;
        }
        records.push_back({nameUid, uid, tail, std::string(name, static_cast<size_t>(length))});
    }

    // The entries take their UIDs, and the index must ascend by them, which it does unless
    // the host named a new message below an older one.
    for (int i = 0; i < count; ++i)
        index.SetUidAt(i, records[static_cast<size_t>(i)].uid);
    index.SortByUid();

    // A record no entry matched is a message the host removed, unless the list was read
    // short: then it may come back, and keeps its UID.
    bool dropped = false;
    for (size_t k = 0; k < known; ++k) {
        if (matched[k])
            continue;
        if (complete)
            dropped = true;
        else
            records.push_back(map.records[k]);
    }
    if (records.size() > static_cast<size_t>(count))
        std::stable_sort(
            records.begin(), records.end(),
            [](const UidRecord& a, const UidRecord& b) { return a.nameUid < b.nameUid; });
    map.records.swap(records);
    map.next = next;
    return added || dropped ? UidAssignment::kChanged : UidAssignment::kUnchanged;
}

std::string FormatUidMap(const UidMap& map) {
    std::string text(kHeader);
    char line[96];
    std::snprintf(line, sizeof line, "\nvalidity %" PRIu32 " next %" PRIu32 " count %lu\n",
                  map.validity, map.next, static_cast<unsigned long>(map.records.size()));
    text += line;
    text.reserve(text.size() + map.records.size() * 40 + 8);
    for (const UidRecord& record : map.records) {
        std::snprintf(line, sizeof line, "%" PRIu32 " %016" PRIx64 " ", record.uid, record.tail);
        text += line;
        text += record.name;
        text += '\n';
    }
    text += "end\n";
    return text;
}

namespace {

bool ReadTail(const char** p, const char* end, uint64_t* out) {
    const char* s = *p;
    if (end - s < 17 || s[16] != ' ')
        return false;
    uint64_t n = 0;
    for (int i = 0; i < 16; ++i) {
        const char c = s[i];
        int v;
        if (c >= '0' && c <= '9')
            v = c - '0';
        else if (c >= 'a' && c <= 'f')
            v = c - 'a' + 10;
        else
            return false;
        n = n << 4 | static_cast<uint64_t>(v);
    }
    *out = n;
    *p = s + 17;
    return true;
}

}  // namespace

bool ParseUidMap(const std::string& text, UidMap* out) {
    const char* p = text.data();
    const char* end = p + text.size();
    uint32_t count = 0;
    if (!ReadStateWord(&p, end, kHeader) || !ReadStateWord(&p, end, "\nvalidity ") ||
        !ReadStateNumber(&p, end, ' ', &out->validity) || !ReadStateWord(&p, end, "next ") ||
        !ReadStateNumber(&p, end, ' ', &out->next) || !ReadStateWord(&p, end, "count ") ||
        !ReadStateNumber(&p, end, '\n', &count))
        return false;
    if (out->validity == 0 || out->next == 0 || count > text.size() / 20)
        return false;
    out->records.clear();
    out->records.reserve(count);
    std::vector<uint32_t> uids;
    uids.reserve(count);
    for (uint32_t i = 0; i < count; ++i) {
        UidRecord record;
        if (!ReadStateNumber(&p, end, ' ', &record.uid) || !ReadTail(&p, end, &record.tail))
            return false;
        const void* lf = std::memchr(p, '\n', static_cast<size_t>(end - p));
        if (lf == nullptr)
            return false;
        const char* nameEnd = static_cast<const char*>(lf);
        record.name.assign(p, static_cast<size_t>(nameEnd - p));
        p = nameEnd + 1;
        Text name;
        name.AssignCompact(record.name.data(), static_cast<int>(record.name.size()));
        record.nameUid = UidFromFileName(name);
        if (record.uid == 0 || record.uid >= out->next ||
            (!out->records.empty() && out->records.back().nameUid > record.nameUid))
            return false;
        uids.push_back(record.uid);
        out->records.push_back(std::move(record));
    }
    if (!ReadStateWord(&p, end, "end\n") || p != end)
        return false;
    std::sort(uids.begin(), uids.end());
    return std::adjacent_find(uids.begin(), uids.end()) == uids.end();
}

LastingUids GiveLastingUids(HostPort& host, const Text& mailRoot, const Text& folderPath,
                            MessageIndex& index, const std::function<bool()>& readList) {
    // One folder, one record, however its path is spelled ("a/b" or "a\b", "INBOX").
    Text directory = FolderFilePath(host, mailRoot, NormaliseFolderPath(folderPath), "");
    // The record's file names are longer than the separator: one that would not fit the
    // platform's path limit reads as no folder.
    if (directory.IsEmpty() ||
        !platform::DirectoryExists(directory.Left(directory.Length() - 1).c_str()) ||
        directory.Length() + static_cast<int>(sizeof kNewRecordName) > platform::kMaxPath) {
        readList();
        return {0, 1};
    }
    FolderRecord& folder = RecordOf(std::string(directory.c_str()));
    // The list is read under the record's lock: a list read before another connection's
    // reading, but matched after it, would miss a message that one gave a UID, and drop it.
    std::lock_guard<std::mutex> hold(folder.lock);
    const bool complete = readList();
    bool initial = false;
    if (!folder.loaded) {
        initial = LoadRecord(host, directory, &folder.map);
        folder.loaded = true;
        folder.unsaved = initial;
    }
    UidAssignment done = AssignUids(folder.map, index, initial, complete);
    if (done == UidAssignment::kExhausted) {
        // No UID is left under this UIDVALIDITY: the folder starts again under a new one.
        Text profile(directory);
        profile.Append("Imap4.ini");
        const uint32_t old = folder.map.validity;
        folder.map = UidMap();
        folder.map.validity = DrawUidValidity(host, old);
        WriteFolderValidity(profile, folder.map.validity);
        done = AssignUids(folder.map, index, true, complete);
        folder.unsaved = true;
    }
    if (done == UidAssignment::kChanged || folder.unsaved)
        folder.unsaved = !SaveRecord(directory, folder.map);
    return {folder.map.validity, folder.map.next};
}

uint32_t DrawUidValidity(HostPort& host, uint32_t above) {
    platform::CriticalSectionLock hold(CounterLock());
    const Text settings = SettingsPath(host);
    uint32_t value = platform::ProfileInt("IMAP4", "UID", 0, settings.c_str()) + 1u;
    if (value <= above)
        value = above + 1u;
    char number[16];
    std::snprintf(number, sizeof number, "%d", static_cast<int32_t>(value));
    platform::WriteProfileString("IMAP4", "UID", number, settings.c_str());
    return value;
}
