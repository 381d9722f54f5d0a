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

constexpr char kHeader[] = "Imap4.uid 2";
// The record's first format, read still: the same without modification sequences.
constexpr char kFirstHeader[] = "Imap4.uid 1";
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

// Whether the list is the one the records were made from, entry for entry (the usual case: a
// folder looked at again): the same names and record tails, statuses aside.
bool SameListing(const UidMap& map, const MessageIndex& index) {
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
    return true;
}

// Takes the status word the host gives a record's message now. A status other than the one the
// record saw is a change, and gets modSeq; true when the record changed.
bool NoteStatus(UidRecord& record, uint32_t status, uint64_t modSeq, bool* raised) {
    if (record.status == status)
        return false;
    if (record.status != kUnseenStatus) {
        record.modSeq = modSeq;
        *raised = true;
    }
    record.status = status;
    return true;
}

// Remembers the removal of uid at modSeq, forgetting the oldest beyond kMaxVanished.
void NoteVanished(UidMap& map, uint32_t uid, uint64_t modSeq) {
    map.vanished.push_back({uid, modSeq});
    if (map.vanished.size() <= kMaxVanished)
        return;
    const size_t drop = map.vanished.size() - kMaxVanished;
    // A removal is forgotten with every other of its modification sequence, so that what is
    // remembered of a value is all of it.
    size_t end = drop;
    while (end < map.vanished.size() && map.vanished[end].modSeq == map.vanished[drop - 1].modSeq)
        ++end;
    map.vanishedFloor = map.vanished[end - 1].modSeq;
    map.vanished.erase(map.vanished.begin(), map.vanished.begin() + static_cast<long>(end));
}

}  // namespace

UidAssignment AssignUids(UidMap& map, MessageIndex& index, bool initial, bool complete) {
    const uint64_t modSeq = map.modSeq + 1;
    bool raised = false;
    if (SameListing(map, index)) {
        bool changed = false;
        for (int i = 0; i < index.Count(); ++i) {
            UidRecord& record = map.records[static_cast<size_t>(i)];
            changed |= NoteStatus(record, index.StatusAt(i), modSeq, &raised);
            index.SetUidAt(i, record.uid, record.modSeq);
        }
        index.SortByUid();
        if (raised)
            map.modSeq = modSeq;
        return changed ? UidAssignment::kChanged : UidAssignment::kUnchanged;
    }
    const int count = index.Count();
    const size_t known = map.records.size();
    std::vector<bool> matched(known, false);
    std::vector<UidRecord> records;
    records.reserve(static_cast<size_t>(count));
    uint32_t next = map.next;
    bool changed = false;
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
        if (found < known) {
            matched[found] = true;
            records.push_back(map.records[found]);
            changed |= NoteStatus(records.back(), index.StatusAt(i), modSeq, &raised);
        } else {
            const uint32_t uid = initial && nameUid > next ? nameUid : next;
            if (uid == 0 || uid > kLargestUid)
                return UidAssignment::kExhausted;
            next = uid + 1;
            changed = raised = true;
            records.push_back({nameUid, uid, tail, std::string(name, static_cast<size_t>(length)),
                               index.StatusAt(i), modSeq});
        }
    }

    // The entries take their UIDs, and the index must ascend by them, which it does unless
    // the host named a new message below an older one.
    for (int i = 0; i < count; ++i) {
        const UidRecord& record = records[static_cast<size_t>(i)];
        index.SetUidAt(i, record.uid, record.modSeq);
    }
    index.SortByUid();

    // A record no entry matched is a message the host removed, unless the list was read
    // short: then it may come back, and keeps its UID.
    std::vector<uint32_t> removed;
    for (size_t k = 0; k < known; ++k) {
        if (matched[k])
            continue;
        if (complete)
            removed.push_back(map.records[k].uid);
        else
            records.push_back(map.records[k]);
    }
    if (!removed.empty()) {
        std::sort(removed.begin(), removed.end());
        for (uint32_t uid : removed)
            NoteVanished(map, uid, modSeq);
        changed = raised = true;
    }
    if (records.size() > static_cast<size_t>(count))
        std::stable_sort(
            records.begin(), records.end(),
            [](const UidRecord& a, const UidRecord& b) { return a.nameUid < b.nameUid; });
    map.records.swap(records);
    map.next = next;
    if (raised)
        map.modSeq = modSeq;
    return changed ? UidAssignment::kChanged : UidAssignment::kUnchanged;
}

std::string FormatUidMap(const UidMap& map) {
    std::string text(kHeader);
    char line[128];
    std::snprintf(
        line, sizeof line, "\nvalidity %" PRIu32 " next %" PRIu32 " count %lu modseq %" PRIu64 "\n",
        map.validity, map.next, static_cast<unsigned long>(map.records.size()), map.modSeq);
    text += line;
    text.reserve(text.size() + map.records.size() * 56 + map.vanished.size() * 20 + 48);
    for (const UidRecord& record : map.records) {
        std::snprintf(line, sizeof line, "%" PRIu32 " %016" PRIx64 " %08" PRIx32 " %" PRIu64 " ",
                      record.uid, record.tail, record.status, record.modSeq);
        text += line;
        text += record.name;
        text += '\n';
    }
    std::snprintf(line, sizeof line, "vanished %lu floor %" PRIu64 "\n",
                  static_cast<unsigned long>(map.vanished.size()), map.vanishedFloor);
    text += line;
    for (const VanishedUid& gone : map.vanished) {
        std::snprintf(line, sizeof line, "%" PRIu32 " %" PRIu64 "\n", gone.uid, gone.modSeq);
        text += line;
    }
    text += "end\n";
    return text;
}

namespace {

// count lowercase hex digits at *p followed by a blank, as a number.
bool ReadHex(const char** p, const char* end, int count, uint64_t* out) {
    const char* s = *p;
    if (end - s < count + 1 || s[count] != ' ')
        return false;
    uint64_t n = 0;
    for (int i = 0; i < count; ++i) {
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
    *p = s + count + 1;
    return true;
}

}  // namespace

bool ParseUidMap(const std::string& text, UidMap* out) {
    const char* p = text.data();
    const char* end = p + text.size();
    uint32_t count = 0;
    bool first = false;  // the first format: no modification sequences
    if (ReadStateWord(&p, end, kFirstHeader))
        first = true;
    else if (!ReadStateWord(&p, end, kHeader))
        return false;
    if (!ReadStateWord(&p, end, "\nvalidity ") || !ReadStateNumber(&p, end, ' ', &out->validity) ||
        !ReadStateWord(&p, end, "next ") || !ReadStateNumber(&p, end, ' ', &out->next) ||
        !ReadStateWord(&p, end, "count "))
        return false;
    out->modSeq = 1;
    if (first ? !ReadStateNumber(&p, end, '\n', &count)
              : !ReadStateNumber(&p, end, ' ', &count) || !ReadStateWord(&p, end, "modseq ") ||
                    !ReadStateNumber64(&p, end, '\n', &out->modSeq))
        return false;
    if (out->validity == 0 || out->next == 0 || out->modSeq == 0 || count > text.size() / 20)
        return false;
    out->records.clear();
    out->records.reserve(count);
    std::vector<uint32_t> uids;
    uids.reserve(count);
    for (uint32_t i = 0; i < count; ++i) {
        UidRecord record;
        uint64_t status = kUnseenStatus;
        if (!ReadStateNumber(&p, end, ' ', &record.uid) || !ReadHex(&p, end, 16, &record.tail))
            return false;
        if (!first &&
            (!ReadHex(&p, end, 8, &status) || !ReadStateNumber64(&p, end, ' ', &record.modSeq)))
            return false;
        record.status = static_cast<uint32_t>(status);
        const void* lf = std::memchr(p, '\n', static_cast<size_t>(end - p));
        if (lf == nullptr)
            return false;
        const char* nameEnd = static_cast<const char*>(lf);
        record.name.assign(p, static_cast<size_t>(nameEnd - p));
        p = nameEnd + 1;
        Text name;
        name.AssignCompact(record.name.data(), static_cast<int>(record.name.size()));
        record.nameUid = UidFromFileName(name);
        if (record.uid == 0 || record.uid >= out->next || record.modSeq == 0 ||
            record.modSeq > out->modSeq ||
            (!out->records.empty() && out->records.back().nameUid > record.nameUid))
            return false;
        uids.push_back(record.uid);
        out->records.push_back(std::move(record));
    }
    out->vanished.clear();
    out->vanishedFloor = 0;
    if (!first) {
        uint32_t vanished = 0;
        if (!ReadStateWord(&p, end, "vanished ") || !ReadStateNumber(&p, end, ' ', &vanished) ||
            !ReadStateWord(&p, end, "floor ") ||
            !ReadStateNumber64(&p, end, '\n', &out->vanishedFloor) || vanished > text.size() / 4 ||
            out->vanishedFloor > out->modSeq)
            return false;
        out->vanished.reserve(vanished);
        uint64_t last = out->vanishedFloor;
        for (uint32_t i = 0; i < vanished; ++i) {
            VanishedUid gone{0, 0};
            if (!ReadStateNumber(&p, end, ' ', &gone.uid) ||
                !ReadStateNumber64(&p, end, '\n', &gone.modSeq) || gone.uid == 0 ||
                gone.uid >= out->next || gone.modSeq <= out->vanishedFloor || gone.modSeq < last ||
                gone.modSeq > out->modSeq)
                return false;
            last = gone.modSeq;
            out->vanished.push_back(gone);
        }
    }
    if (!ReadStateWord(&p, end, "end\n") || p != end)
        return false;
    std::sort(uids.begin(), uids.end());
    return std::adjacent_find(uids.begin(), uids.end()) == uids.end();
}

namespace {

// The directory of the folder's record, with its closing separator; empty when the folder's
// directory does not exist, or the record's file names would not fit the platform's path limit
// (which reads as no folder). One folder, one record, however its path is spelled ("a/b" or
// "a\b", "INBOX").
Text RecordDirectory(HostPort& host, const Text& mailRoot, const Text& folderPath) {
    Text directory = FolderFilePath(host, mailRoot, NormaliseFolderPath(folderPath), "");
    if (directory.IsEmpty() ||
        !platform::DirectoryExists(directory.Left(directory.Length() - 1).c_str()) ||
        directory.Length() + static_cast<int>(sizeof kNewRecordName) > platform::kMaxPath)
        return Text("");
    return directory;
}

// Runs use on the folder's record under its lock when the process has read it and it is of
// validity; false otherwise.
bool WithRecord(HostPort& host, const Text& mailRoot, const Text& folderPath, uint32_t validity,
                const std::function<void(const Text& directory, FolderRecord&)>& use) {
    const Text directory = RecordDirectory(host, mailRoot, folderPath);
    if (directory.IsEmpty())
        return false;
    FolderRecord& folder = RecordOf(std::string(directory.c_str()));
    std::lock_guard<std::mutex> hold(folder.lock);
    if (!folder.loaded || folder.map.validity != validity)
        return false;
    use(directory, folder);
    return true;
}

}  // namespace

LastingUids GiveLastingUids(HostPort& host, const Text& mailRoot, const Text& folderPath,
                            MessageIndex& index, const std::function<bool()>& readList) {
    const Text directory = RecordDirectory(host, mailRoot, folderPath);
    if (directory.IsEmpty()) {
        readList();
        return {0, 1, 0};
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
    return {folder.map.validity, folder.map.next, folder.map.modSeq};
}

uint64_t RaiseModSeq(HostPort& host, const Text& mailRoot, const Text& folderPath,
                     uint32_t validity, const std::vector<FlagsChanged>& changed) {
    uint64_t given = 0;
    WithRecord(host, mailRoot, folderPath, validity, [&](const Text& directory, FolderRecord& f) {
        std::vector<FlagsChanged> sorted(changed);
        std::sort(sorted.begin(), sorted.end(),
                  [](const FlagsChanged& a, const FlagsChanged& b) { return a.uid < b.uid; });
        given = f.map.modSeq + 1;
        bool any = false;
        for (UidRecord& record : f.map.records) {
            auto at =
                std::lower_bound(sorted.begin(), sorted.end(), record.uid,
                                 [](const FlagsChanged& c, uint32_t uid) { return c.uid < uid; });
            if (at == sorted.end() || at->uid != record.uid)
                continue;
            record.status = at->status;
            record.modSeq = given;
            any = true;
        }
        if (!any) {
            given = f.map.modSeq;
            return;
        }
        f.map.modSeq = given;
        f.unsaved = !SaveRecord(directory, f.map);
    });
    return given;
}

bool CurrentModSeqs(HostPort& host, const Text& mailRoot, const Text& folderPath, uint32_t validity,
                    const std::vector<uint32_t>& uids, std::vector<uint64_t>* modSeqs) {
    modSeqs->assign(uids.size(), 0);
    return WithRecord(host, mailRoot, folderPath, validity, [&](const Text&, FolderRecord& f) {
        std::vector<std::pair<uint32_t, size_t>> wanted;
        wanted.reserve(uids.size());
        for (size_t i = 0; i < uids.size(); ++i)
            wanted.push_back({uids[i], i});
        std::sort(wanted.begin(), wanted.end());
        for (const UidRecord& record : f.map.records) {
            auto at = std::lower_bound(wanted.begin(), wanted.end(),
                                       std::pair<uint32_t, size_t>{record.uid, 0});
            for (; at != wanted.end() && at->first == record.uid; ++at)
                (*modSeqs)[at->second] = record.modSeq;
        }
    });
}

bool VanishedSince(HostPort& host, const Text& mailRoot, const Text& folderPath, uint32_t validity,
                   uint64_t since, std::vector<uint32_t>* uids) {
    uids->clear();
    bool known = false;
    WithRecord(host, mailRoot, folderPath, validity, [&](const Text&, FolderRecord& f) {
        if (since < f.map.vanishedFloor)
            return;
        known = true;
        for (const VanishedUid& gone : f.map.vanished) {
            if (gone.modSeq > since)
                uids->push_back(gone.uid);
        }
    });
    std::sort(uids->begin(), uids->end());
    return known;
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
