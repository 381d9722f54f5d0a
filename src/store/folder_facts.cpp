// The folder's "Imap4.cache": a first line "Imap4.cache 1", then one record per file and client
// form: a line of nine decimal numbers (form, the stamp's size, write time, volume and file
// number, the client form's size, and the byte counts of the name, the envelope and the
// structure), then those three texts as they are, then a line end. Counts, not separators, end
// the texts, so any byte may be in them.
#include "store/folder_facts.h"

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <utility>

#include "base/file.h"
#include "store/state_file.h"

namespace {

constexpr char kFileName[] = "Imap4.cache";
constexpr char kNewFileName[] = "Imap4.cache.new";
constexpr char kFirstLine[] = "Imap4.cache 1\n";

using Clock = std::chrono::steady_clock;

void AppendNumber(uint64_t n, char after, std::string* out) {
    *out += std::to_string(n);
    *out += after;
}

// Reads a decimal number of up to 20 digits followed by after; false when there is none.
bool ReadNumber(const char** p, const char* end, char after, uint64_t* out) {
    const char* s = *p;
    uint64_t n = 0;
    int digits = 0;
    while (s < end && *s >= '0' && *s <= '9' && digits < 20) {
        const uint64_t next = n * 10 + static_cast<uint64_t>(*s - '0');
        if (next / 10 != n)
            return false;
        n = next;
        ++s;
        ++digits;
    }
    if (digits == 0 || s >= end || *s != after)
        return false;
    *out = n;
    *p = s + 1;
    return true;
}

// One record as it lies in the file's text.
struct RecordBytes {
    int form;
    platform::FileStamp stamp;
    uint32_t clientSize;
    const char* name;
    size_t nameLength;
    const char* envelope;
    size_t envelopeLength;
    const char* structure;
    size_t structureLength;
};

// The longest line of numbers a record starts with: nine numbers of up to 20 digits, each with
// the byte after it.
constexpr size_t kLongestNumbers = 9 * 21;
// The piece of a folder's file read at a time: the records are added from one buffer that stays
// in the processor's cache, rather than from a copy of the whole file.
constexpr uint32_t kPiece = 256u << 10;

// Calls take(record) for each record in [*at, end), the text after the file's first line, up
// to a damaged one or, unless last (end is the file's end), one that does not end within the
// text. Leaves *at at the first record not read; false when a damaged one stopped the reading.
// A name that reaches outside its folder is not one of its files, and is skipped.
template <typename Take>
bool ReadRecords(const char** at, const char* end, bool last, Take take) {
    const char* p = *at;
    while (p < end) {
        *at = p;
        if (!last &&
            std::memchr(p, '\n', std::min(static_cast<size_t>(end - p), kLongestNumbers)) ==
                nullptr)
            return static_cast<size_t>(end - p) < kLongestNumbers;
        uint64_t n[9];
        const char after[9] = {' ', ' ', ' ', ' ', ' ', ' ', ' ', ' ', '\n'};
        int read = 0;
        while (read < 9 && ReadNumber(&p, end, after[read], &n[read]))
            ++read;
        // A form the cache knows, a 32-bit size, texts of sane lengths.
        if (read < 9 || n[0] > 9 || n[5] > UINT32_MAX || n[6] == 0 || n[6] > 4096 ||
            n[7] > INT32_MAX || n[8] > INT32_MAX)
            return false;
        const uint64_t texts = n[6] + n[7] + n[8];
        if (texts + 1 > static_cast<uint64_t>(end - p))
            return !last;  // the rest is yet to be read, or the file ends short
        if (p[texts] != '\n')
            return false;
        RecordBytes r;
        r.form = static_cast<int>(n[0]);
        r.stamp.size = static_cast<int64_t>(n[1]);
        r.stamp.writeTime = static_cast<int64_t>(n[2]);
        r.stamp.volume = n[3];
        r.stamp.file = n[4];
        r.clientSize = static_cast<uint32_t>(n[5]);
        r.name = p;
        r.nameLength = static_cast<size_t>(n[6]);
        r.envelope = p + n[6];
        r.envelopeLength = static_cast<size_t>(n[7]);
        r.structure = r.envelope + n[7];
        r.structureLength = static_cast<size_t>(n[8]);
        p += texts + 1;
        if (std::memchr(r.name, '\\', r.nameLength) != nullptr ||
            std::memchr(r.name, '/', r.nameLength) != nullptr ||
            std::memchr(r.name, '\0', r.nameLength) != nullptr)
            continue;
        take(r);
    }
    *at = p;
    return true;
}

}  // namespace

struct FolderFacts::Folder {
    bool loaded = false;
    bool unsaved = false;
    bool saved = false;
    Clock::time_point lastSave;
};

struct FolderFacts::State {
    std::mutex lock;  // the map; each write of a file is made under it too, so they never meet
    std::map<std::string, Folder> folders;
};

FolderFacts::FolderFacts(MessageCache& cache) : cache_(cache), state_(new State) {}

FolderFacts::~FolderFacts() = default;

FolderFacts& FolderFacts::Shared() {
    // Never destroyed: a connection thread may still use it while the process ends.
    static FolderFacts* shared = new FolderFacts(MessageCache::Shared());
    return *shared;
}

void FolderFacts::Load(const Text& directory) {
    if (directory.IsEmpty())
        return;
    const std::string dir(directory.c_str(), static_cast<size_t>(directory.Length()));
    {
        std::lock_guard<std::mutex> hold(state_->lock);
        Folder& folder = state_->folders[dir];
        if (folder.loaded)
            return;
        folder.loaded = true;
    }
    File file;
    if (!file.Open((dir + kFileName).c_str(), platform::kAccessRead, platform::kOpenExisting))
        return;
    // Straight from the file's text into the cache, a piece at a time: one path buffer for all
    // records, and the bytes of a record the piece cut kept for the next.
    std::string path = dir;
    auto add = [&](const RecordBytes& r) {
        path.resize(dir.size());
        path.append(r.name, r.nameLength);
        cache_.Add(path.data(), static_cast<int>(path.size()), r.form, r.stamp, r.clientSize,
                   r.envelope, static_cast<int>(r.envelopeLength), r.structure,
                   static_cast<int>(r.structureLength));
    };
    size_t room = kPiece;
    std::unique_ptr<char[]> buffer(new char[room]);
    size_t held = 0;
    bool started = false;
    for (;;) {
        if (held == room) {
            // One record longer than the buffer.
            std::unique_ptr<char[]> larger(new char[room * 2]);
            std::memcpy(larger.get(), buffer.get(), held);
            buffer = std::move(larger);
            room *= 2;
        }
        const uint32_t got = file.Read(buffer.get() + held, static_cast<uint32_t>(room - held));
        held += got;
        const bool last = got == 0;
        const char* p = buffer.get();
        const char* end = p + held;
        if (!started) {
            if (held < sizeof kFirstLine - 1 && !last)
                continue;
            if (!ReadStateWord(&p, end, kFirstLine))
                return;
            started = true;
        }
        if (!ReadRecords(&p, end, last, add) || last)
            return;
        held = static_cast<size_t>(end - p);
        std::memmove(buffer.get(), p, held);
    }
}

void FolderFacts::Learned(const Text& directory, bool now) {
    if (directory.IsEmpty())
        return;
    const std::string dir(directory.c_str(), static_cast<size_t>(directory.Length()));
    std::lock_guard<std::mutex> hold(state_->lock);
    Folder& folder = state_->folders[dir];
    folder.unsaved = true;
    if (!now && folder.saved &&
        Clock::now() - folder.lastSave < std::chrono::seconds(kSaveInterval))
        return;
    Save(dir, &folder);
}

void FolderFacts::SaveAll() {
    std::lock_guard<std::mutex> hold(state_->lock);
    for (auto& [dir, folder] : state_->folders) {
        if (folder.unsaved)
            Save(dir, &folder);
    }
}

void FolderFacts::Save(const std::string& directory, Folder* folder) {
    std::vector<MessageCache::Record> records;
    cache_.Collect(Text(directory.c_str()), &records);
    if (!ReplaceStateFile(directory + kFileName, directory + kNewFileName, Format(records)))
        return;
    folder->unsaved = false;
    folder->saved = true;
    folder->lastSave = Clock::now();
}

std::string FolderFacts::Format(const std::vector<MessageCache::Record>& records) {
    std::string text(kFirstLine);
    for (const MessageCache::Record& r : records) {
        AppendNumber(static_cast<uint64_t>(r.form), ' ', &text);
        AppendNumber(static_cast<uint64_t>(r.stamp.size), ' ', &text);
        AppendNumber(static_cast<uint64_t>(r.stamp.writeTime), ' ', &text);
        AppendNumber(r.stamp.volume, ' ', &text);
        AppendNumber(r.stamp.file, ' ', &text);
        AppendNumber(r.facts.clientSize, ' ', &text);
        AppendNumber(r.name.size(), ' ', &text);
        AppendNumber(static_cast<uint64_t>(r.facts.envelope.Length()), ' ', &text);
        AppendNumber(static_cast<uint64_t>(r.facts.structure.Length()), '\n', &text);
        text += r.name;
        text.append(r.facts.envelope.c_str(), static_cast<size_t>(r.facts.envelope.Length()));
        text.append(r.facts.structure.c_str(), static_cast<size_t>(r.facts.structure.Length()));
        text += '\n';
    }
    return text;
}

std::vector<MessageCache::Record> FolderFacts::Parse(const std::string& text) {
    std::vector<MessageCache::Record> records;
    const char* p = text.data();
    const char* end = p + text.size();
    if (!ReadStateWord(&p, end, kFirstLine))
        return records;
    ReadRecords(&p, end, true, [&records](const RecordBytes& b) {
        MessageCache::Record r;
        r.form = b.form;
        r.stamp = b.stamp;
        r.facts.clientSize = b.clientSize;
        r.name.assign(b.name, b.nameLength);
        if (b.envelopeLength > 0)
            r.facts.envelope.AppendBytes(b.envelope, static_cast<int>(b.envelopeLength));
        if (b.structureLength > 0)
            r.facts.structure.AppendBytes(b.structure, static_cast<int>(b.structureLength));
        records.push_back(std::move(r));
    });
    return records;
}
