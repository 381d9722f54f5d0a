// Message files: where a message's ".orv" file lies, how its Shift_JIS lines become the client
// form (encoded-word header without the host's status line, ISO-2022-JP body), and the
// mark-as-seen request to the host.
#include "store/message_entry.h"

#include <atomic>
#include <cstring>
#include <mutex>
#include <new>

#include "base/file.h"
#include "mime/extended_form.h"
#include "mime/jis_text.h"
#include "mime/message_text.h"
#include "platform/codepage.h"
#include "platform/files.h"

namespace {

// The line that separates header and body: exactly CR LF or exactly LF.
bool IsSeparatorLine(const char* line, int length) {
    return (length == 1 && line[0] == '\n') || (length == 2 && line[0] == '\r' && line[1] == '\n');
}

// A whole message file is read in blocks of up to this size: large enough that a platform
// read costs nothing per byte, small enough to stay in the processor's cache while its lines
// are converted.
constexpr uint32_t kWholeFileBlock = 256u << 10;

// How much of a message file its reader takes.
enum ReadExtent {
    kHeaderOnly,  // the header: the small default read-ahead
    kKeepAll,     // the whole file, its text kept: the size is asked for to reserve the text
    kMeasureAll,  // the whole file, only counted: large blocks, no size needed
};

// The read-ahead of a reader that only counts: most messages arrive in one platform read.
constexpr uint32_t kMeasureBlock = 64u << 10;

// Opens the message file as every reader of it does: a missing file is created empty by the
// open. *size gets the file's size for kKeepAll, else -1.
bool OpenMessageFile(HostPort& host, File* file, const MessageEntry& entry, const Text& mailRoot,
                     const Text& folderPath, ReadExtent extent, int64_t* size) {
    *size = -1;
    const Text path = MessageFilePath(host, entry, mailRoot, folderPath);
    if (path.IsEmpty())
        return false;
    if (!file->Open(path.c_str(), platform::kAccessRead, platform::kOpenAlways))
        return false;
    if (extent == kMeasureAll) {
        file->SetReadAhead(kMeasureBlock);
    } else if (extent == kKeepAll) {
        *size = file->Size();
        if (*size > 0)
            file->SetReadAhead(
                static_cast<uint32_t>(*size < kWholeFileBlock ? *size + 1 : kWholeFileBlock));
    }
    return true;
}

// Reads the header lines of an open message file up to the separator line: each one that is
// not the status line goes to out in the default client form (null: skipped). False
// when the file ended first.
bool ReadHeaderLines(File* file, Text* out) {
    const char* line = nullptr;
    for (int n = file->NextLine(&line); n > 0; n = file->NextLine(&line)) {
        if (IsSeparatorLine(line, n))
            return true;
        if (IsHostStatusLine(line, static_cast<size_t>(n)))
            continue;
        if (out != nullptr)
            AppendHeaderWords(line, n, out);
    }
    return false;
}

// Reads a message file's bytes into *raw: the header up to and with its empty line, and the
// rest unless headerOnly. False when it cannot be opened.
bool ReadRaw(HostPort& host, const MessageEntry& entry, const Text& mailRoot,
             const Text& folderPath, bool headerOnly, std::string* raw, File* file) {
    int64_t size = -1;
    if (!OpenMessageFile(host, file, entry, mailRoot, folderPath,
                         headerOnly ? kHeaderOnly : kKeepAll, &size))
        return false;
    if (size > 0 && size < (int64_t{1} << 30))
        raw->reserve(static_cast<size_t>(size));
    const char* line = nullptr;
    for (int n = file->NextLine(&line); n > 0; n = file->NextLine(&line)) {
        raw->append(line, static_cast<size_t>(n));
        if (IsSeparatorLine(line, n))
            break;
    }
    if (!headerOnly)
        file->AppendRest(raw);
    return true;
}

// The extended client form of the message file (body null: its header only). The label of a
// message's one text part depends on all of its text, so such a header needs the whole file;
// any other header is read alone. False when the file cannot be opened.
bool ReadExtendedForm(HostPort& host, const MessageEntry& entry, const Text& mailRoot,
                      const Text& folderPath, TextForm text, Text* header, Text* body) {
    File file;
    std::string raw;
    if (!ReadRaw(host, entry, mailRoot, folderPath, body == nullptr, &raw, &file))
        return false;
    if (body == nullptr && ExtendedHeaderNeedsBody(raw.data(), raw.size()))
        file.AppendRest(&raw);
    ExtendedClientForm(raw.data(), raw.size(), text, header, body);
    return true;
}

// Blocks read straight into a message text start at this size and double while they hold
// plain bytes only, up to kWholeFileBlock; the rest of a block from its first NUL or high byte
// on is read again through the converter, so the first blocks, where a text part usually lies
// before the attachments, are kept small, and so is a block after double-byte text.
constexpr uint32_t kFirstBodyBlock = 16u << 10;

// Reads the rest of an open message file into *body in the default client form. Plain stretches
// (all of an attachment's base64) are read in blocks straight into the text's spare room and
// stay there as they were read. From a block's first NUL or high byte on the file is read again
// in small pieces that go through the converter, until a piece is plain once more. Nothing is
// allocated but the text, so the text's memory is what the allocator hands out next time.
void ReadBodyInPlace(File* file, Text* body) {
    JisLineStream stream;
    const char* ahead = nullptr;
    const uint32_t buffered = file->TakeReadAhead(&ahead);
    bool inPlace = stream.UnchangedLength(ahead, buffered) == buffered;
    stream.Append(ahead, buffered, body);
    char piece[8192];
    uint32_t block = kFirstBodyBlock;
    for (;;) {
        const int spare = body->Spare();
        if (!inPlace || spare < static_cast<int>(sizeof piece)) {
            // Through the converter, which also grows a full text when the file goes on.
            const uint32_t n = file->Read(piece, sizeof piece);
            if (n == 0)
                break;
            inPlace = stream.UnchangedLength(piece, n) == n;
            stream.Append(piece, n, body);
            block = kFirstBodyBlock;
            continue;
        }
        const uint32_t want =
            static_cast<uint32_t>(spare) < block ? static_cast<uint32_t>(spare) : block;
        const uint32_t n = file->Read(body->SpareBytes(), want);
        if (n == 0)
            break;
        const size_t same = stream.UnchangedLength(body->SpareBytes(), n);
        body->Extend(static_cast<int>(same));
        if (same < n) {
            inPlace = false;
            if (!file->Unread(static_cast<uint32_t>(n - same)))
                break;
        } else if (block < kWholeFileBlock) {
            block *= 2;
        }
    }
    stream.Finish(body);
}

// Reads what is needed of the message file into the entry's client form. A missing file is
// created empty by the open and reads as empty, as does one that cannot be opened.
void ReadMessageFile(HostPort& host, MessageEntry& entry, const Text& mailRoot,
                     const Text& folderPath, bool needHeader, bool needBody,
                     const LoadPolicy& policy) {
    const Mode form = policy.form;
    if (!needHeader && !needBody)
        return;
    if (form == Mode::kExtended) {
        Text header;
        ReadExtendedForm(host, entry, mailRoot, folderPath, policy.text,
                         needHeader ? &entry.headerText : &header,
                         needBody ? &entry.bodyText : nullptr);
        return;
    }
    // The header comes through the small read-ahead, the body straight into its text.
    File file;
    int64_t size = -1;
    if (!OpenMessageFile(host, &file, entry, mailRoot, folderPath, kHeaderOnly, &size))
        return;
    if (!ReadHeaderLines(&file, needHeader ? &entry.headerText : nullptr) || !needBody)
        return;
    // The body's client form is about as long as its bytes in the file (ISO-2022-JP adds six
    // bytes per run of double-byte characters): one allocation for most messages.
    size = file.Size();
    const int64_t rest = size - static_cast<int64_t>(entry.headerText.Length());
    if (rest > 0 && rest < (int64_t{1} << 30) && entry.bodyText.IsEmpty())
        entry.bodyText.Reserve(static_cast<int>(rest + rest / 16));
    ReadBodyInPlace(&file, &entry.bodyText);
}

// The byte count of the message's client form, read from its file without keeping the text:
// the header's lines are converted into one scratch text, the body's only counted.
uint32_t MeasureMessageFile(HostPort& host, const MessageEntry& entry, const Text& mailRoot,
                            const Text& folderPath, const LoadPolicy& policy) {
    const Mode mode = policy.form;
    uint32_t total = 2;  // the CR LF between header and body
    if (mode == Mode::kExtended) {
        File file;
        std::string raw;
        if (!ReadRaw(host, entry, mailRoot, folderPath, false, &raw, &file))
            return total;
        return ExtendedClientFormSize(raw.data(), raw.size(), policy.text);
    }
    File file;
    int64_t size = -1;
    if (!OpenMessageFile(host, &file, entry, mailRoot, folderPath, kMeasureAll, &size))
        return total;
    Text scratch;
    const bool body = ReadHeaderLines(&file, &scratch);
    total += static_cast<uint32_t>(scratch.Length());
    if (!body)
        return total;
    const char* line = nullptr;
    for (int n = file.NextLines(&line); n > 0; n = file.NextLines(&line))
        total += static_cast<uint32_t>(JisLinesLength(line, n));
    return total;
}

}  // namespace

Text FolderPathForFiles(const Text& folderPath) {
    if (folderPath.CompareNoCase("INBOX") == 0)
        return Text("inbox.box");
    return folderPath;
}

bool IsPlainFileName(const Text& fileName) {
    const char* name = fileName.c_str();
    const int length = fileName.Length();
    if ((length == 1 && name[0] == '.') || (length == 2 && name[0] == '.' && name[1] == '.'))
        return false;
    for (int i = 0; i < length; ++i) {
        const unsigned char b = static_cast<unsigned char>(name[i]);
        if (b == '\0' || b == '/' || b == '\\' || b == ':')
            return false;
        if (b < 0x80)
            continue;  // never a lead byte: the names the host gives are all such bytes
        // A lead byte takes a trail byte with it, as paths are mapped: a trail byte 0x5C is
        // no separator. "/", ":" and NUL are never trail bytes, so they are still seen.
        if (platform::IsLeadByte(b) && i + 1 < length &&
            platform::IsTrailByte(static_cast<unsigned char>(name[i + 1])))
            ++i;
    }
    return true;
}

Text MessageFilePath(HostPort& host, const MessageEntry& entry, const Text& mailRoot,
                     const Text& folderPath) {
    // A name that reaches outside the folder is never opened (a message file is opened so
    // that a missing one is created).
    if (!IsPlainFileName(entry.fileName))
        return Text("");
    Text path(host.MailboxDirectory());
    path.Append(mailRoot);
    path.Append('\\');
    path.Append(FolderPathForFiles(folderPath));
    path.Append('\\');
    path.Append(entry.fileName);
    path.Append(".orv");
    if (path.Length() >= platform::kMaxPath)
        return Text("");
    return path;
}

Text MessageKey(const MessageEntry& entry, const Text& mailRoot, const Text& folderPath,
                bool* fits) {
    // The host would take such a name for another message, or a folder.
    if (!IsPlainFileName(entry.fileName)) {
        if (fits != nullptr)
            *fits = false;
        return Text("");
    }
    Text key(mailRoot);
    key.Append('\\');
    key.Append(FolderPathForFiles(folderPath));
    key.Append('\\');
    key.Append(entry.fileName);
    const bool inLimit = key.Length() < platform::kMaxPath;
    if (fits != nullptr)
        *fits = inLimit;
    return inLimit ? key : Text("");
}

void LoadMessage(HostPort& host, MessageEntry& entry, const Text& mailRoot, const Text& folderPath,
                 bool peek, const LoadPolicy& policy) {
    ReadMessageFile(host, entry, mailRoot, folderPath, entry.headerText.IsEmpty(),
                    entry.bodyText.IsEmpty(), policy);
    if (!peek && policy.marksSeen)
        MarkSeen(host, entry, mailRoot, folderPath);
}

void LoadHeader(HostPort& host, MessageEntry& entry, const Text& mailRoot, const Text& folderPath,
                bool peek, const LoadPolicy& policy) {
    if (!entry.headerText.IsEmpty())
        return;
    ReadMessageFile(host, entry, mailRoot, folderPath, true, false, policy);
    if (!peek && policy.marksSeen)
        MarkSeen(host, entry, mailRoot, folderPath);
}

void LoadBody(HostPort& host, MessageEntry& entry, const Text& mailRoot, const Text& folderPath,
              bool peek, const LoadPolicy& policy) {
    ReadMessageFile(host, entry, mailRoot, folderPath, false, entry.bodyText.IsEmpty(), policy);
    if (!peek && policy.marksSeen)
        MarkSeen(host, entry, mailRoot, folderPath);
}

uint32_t MessageSize(HostPort& host, MessageEntry& entry, const Text& mailRoot,
                     const Text& folderPath, const LoadPolicy& policy) {
    // Measured once: the texts loaded give it at no cost; otherwise the file is converted
    // block by block without keeping the text, which a size alone does not need.
    if (entry.clientSize == 0) {
        if (!entry.headerText.IsEmpty() && !entry.bodyText.IsEmpty())
            entry.clientSize = static_cast<uint32_t>(entry.headerText.Length()) + 2u +
                               static_cast<uint32_t>(entry.bodyText.Length());
        else
            entry.clientSize = MeasureMessageFile(host, entry, mailRoot, folderPath, policy);
    }
    if (policy.marksSeen)
        MarkSeen(host, entry, mailRoot, folderPath);
    return entry.clientSize;
}

platform::SystemTime MessageFileTime(HostPort& host, const MessageEntry& entry,
                                     const Text& mailRoot, const Text& folderPath) {
    platform::SystemTime t = {1970, 1, 4, 1, 0, 0, 0, 0};
    const Text path = MessageFilePath(host, entry, mailRoot, folderPath);
    if (path.IsEmpty())
        return t;
    File file;
    platform::SystemTime found = {};
    if (file.Open(path.c_str(), platform::kAccessRead, platform::kOpenAlways) &&
        file.LastWriteTime(&found) && found.month >= 1 && found.month <= 12 && found.day >= 1)
        t = found;
    return t;
}

void MarkSeen(HostPort& host, const MessageEntry& entry, const Text& mailRoot,
              const Text& folderPath) {
    bool fits = false;
    const Text key = MessageKey(entry, mailRoot, folderPath, &fits);
    // A key the host's buffer cannot hold would name another message, or none.
    if (fits)
        host.MarkMail(key.c_str(), StatusUnread, 0);
}

// --- Pooled entries -----------------------------------------------------------------------
//
// Every entry is preceded by one word naming the block it was carved from, or null for one
// from the heap. A block counts its live entries plus one while a batch may still carve from
// it; at zero it returns to the pool, which keeps up to kPoolBlocks blocks for later batches.

namespace {

constexpr size_t kHeader = sizeof(void*);
constexpr size_t kBlockBytes = 64u << 10;
constexpr size_t kPoolBlocks = 256;  // 16 MiB kept at most: the index of 100,000 messages
// The room after a pooled entry for its file name: the host's names ("AAAA0001") fit.
constexpr int kNameRoom = 16;

// A slot: the header word, the entry and its name's room, at the alignment of a pointer.
constexpr size_t kSlotBytes = (kHeader + sizeof(MessageEntry) + kNameRoom + alignof(void*) - 1) /
                              alignof(void*) * alignof(void*);

}  // namespace

struct EntryBatch::Block {
    std::atomic<int> refs{0};
    Block* next = nullptr;
};

namespace {

constexpr size_t kFirstSlot =
    (sizeof(EntryBatch::Block) + alignof(void*) - 1) / alignof(void*) * alignof(void*);
constexpr int kSlots = static_cast<int>((kBlockBytes - kFirstSlot) / kSlotBytes);

class BlockPool {
  public:
    EntryBatch::Block* Get() {
        {
            std::lock_guard<std::mutex> hold(lock_);
            if (free_ != nullptr) {
                EntryBatch::Block* block = free_;
                free_ = block->next;
                --count_;
                return block;
            }
        }
        return new (::operator new(kBlockBytes)) EntryBatch::Block;
    }
    void Put(EntryBatch::Block* block) {
        {
            std::lock_guard<std::mutex> hold(lock_);
            if (count_ < kPoolBlocks) {
                block->next = free_;
                free_ = block;
                ++count_;
                return;
            }
        }
        block->~Block();
        ::operator delete(block);
    }

  private:
    std::mutex lock_;
    EntryBatch::Block* free_ = nullptr;
    size_t count_ = 0;
};

// Never destroyed, so an entry deleted while the process ends still finds it.
BlockPool& Pool() {
    static BlockPool* pool = new BlockPool;
    return *pool;
}

// The last reference returns the block to the pool.
void ReleaseBlock(EntryBatch::Block* block) {
    if (block->refs.fetch_sub(1, std::memory_order_acq_rel) == 1)
        Pool().Put(block);
}

}  // namespace

void* MessageEntry::operator new(size_t size, EntryBatch& batch) {
    if (size == sizeof(MessageEntry))
        return batch.Take();
    return operator new(size);
}

void MessageEntry::operator delete(void* p, EntryBatch&) noexcept {
    operator delete(p);
}

void* MessageEntry::operator new(size_t size) {
    char* base = static_cast<char*>(::operator new(size + kHeader));
    std::memset(base, 0, kHeader);
    return base + kHeader;
}

void MessageEntry::operator delete(void* p) noexcept {
    if (p == nullptr)
        return;
    char* base = static_cast<char*>(p) - kHeader;
    EntryBatch::Block* owner = nullptr;
    std::memcpy(&owner, base, sizeof owner);
    if (owner == nullptr)
        ::operator delete(base);
    else
        ReleaseBlock(owner);
}

void SetEntryFileName(MessageEntry* entry, const char* name, int n) {
    EntryBatch::Block* owner = nullptr;
    std::memcpy(&owner, reinterpret_cast<char*>(entry) - kHeader, sizeof owner);
    if (owner == nullptr) {
        entry->fileName.AssignCompact(name, n);
        return;
    }
    entry->fileName.AssignInRoom(reinterpret_cast<char*>(entry) + sizeof(MessageEntry), kNameRoom,
                                 name, n);
}

EntryBatch::EntryBatch() = default;

EntryBatch::~EntryBatch() {
    if (block_ != nullptr)
        ReleaseBlock(block_);
}

void* EntryBatch::Take() {
    if (block_ == nullptr || used_ == kSlots) {
        if (block_ != nullptr)
            ReleaseBlock(block_);
        block_ = Pool().Get();
        block_->refs.store(1, std::memory_order_relaxed);
        used_ = 0;
    }
    char* slot =
        reinterpret_cast<char*>(block_) + kFirstSlot + static_cast<size_t>(used_) * kSlotBytes;
    ++used_;
    block_->refs.fetch_add(1, std::memory_order_relaxed);
    std::memcpy(slot, &block_, sizeof block_);
    return slot + kHeader;
}

uint32_t UidFromFileName(const Text& fileName) {
    return UidFromName(fileName.c_str(), fileName.Length());
}

namespace {

// The letters part of UidFromName for any name.
uint32_t NameLetters(const char* name, int length) {
    // Upper-cased as the platform does it, which stops at a NUL and never changes a trail
    // byte; only the first four bytes are used, and the fifth decides whether the fourth
    // leads a double-byte character.
    char upper[6] = {0, 0, 0, 0, 0, 0};
    std::memcpy(upper, name, static_cast<size_t>(length < 5 ? length : 5));
    bool ascii = true;
    for (int i = 0; i < 4; ++i)
        ascii = ascii && static_cast<unsigned char>(upper[i]) < 0x80;
    if (ascii) {
        // The host's names: no lead byte among the four, so only ASCII letters change (up
        // to a NUL, where the platform stops).
        for (int i = 0; i < 4 && upper[i] != 0; ++i) {
            if (upper[i] >= 'a' && upper[i] <= 'z')
                upper[i] = static_cast<char>(upper[i] - 0x20);
        }
    } else {
        platform::CharUpperA(upper);
    }
    // Four letters read as a base-26 number, "A" = 0; the bytes count as signed values, as the
    // host's names are plain letters and anything else only has to give a stable number.
    uint32_t letters = 0;
    for (int i = 0; i < 4; ++i) {
        const char c = i < length ? upper[i] : 'A';
        const int32_t digit = static_cast<int32_t>(static_cast<signed char>(c)) - 'A';
        letters = letters * 26u + static_cast<uint32_t>(digit);
    }
    return letters;
}

}  // namespace

uint32_t UidFromName(const char* name, int length) {
    uint32_t letters = 0;
    if (length >= 4 && name[0] >= 'A' && name[0] <= 'Z' && name[1] >= 'A' && name[1] <= 'Z' &&
        name[2] >= 'A' && name[2] <= 'Z' && name[3] >= 'A' && name[3] <= 'Z') {
        // The host's names: four capitals, which no upper-casing changes.
        for (int i = 0; i < 4; ++i)
            letters = letters * 26u + static_cast<uint32_t>(name[i] - 'A');
    } else {
        letters = NameLetters(name, length);
    }
    // The decimal number that follows the letters, wrapping.
    uint32_t number = 0;
    for (int i = 4; i < length && name[i] >= '0' && name[i] <= '9'; ++i)
        number = number * 10u + static_cast<uint32_t>(name[i] - '0');
    return letters * 10000u + number;
}
