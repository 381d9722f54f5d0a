// Mailbox and MessageIndex: an opened folder's UIDVALIDITY, UIDNEXT and messages in UID order,
// read from the host's "Entry.ini", the folder's "Imap4.ini" and "Entry.lst"; and the requests
// that hand messages to the host for a folder (import, copy) or change its subscription.
#include "store/mailbox.h"

#include <cstdio>
#include <cstring>

#include "base/file.h"
#include "mime/base64.h"
#include "platform/files.h"
#include "platform/profile.h"
#include "platform/threads.h"
#include "store/folder_flags.h"
#include "store/folder_uids.h"
#include "store/listing_cache.h"

namespace {

// The host's inbox title in the local code page (Shift_JIS).
constexpr char kInboxTitle[] = "\x8E\xF3\x90\x4D\x83\x67\x83\x8C\x83\x43";

uint32_t ReadFolderInt(const Text& path, const char* section, const char* key) {
    if (path.IsEmpty())
        return 0;
    return platform::ProfileInt(section, key, 0, path.c_str());
}

// The host's folder name for an import: mailRoot "\" folder directory; empty when too long.
Text ImportDestination(const Text& mailRoot, const Text& folderPath) {
    Text destination(mailRoot);
    destination.Append('\\');
    destination.Append(FolderPathForFiles(folderPath));
    if (destination.Length() >= platform::kMaxPath)
        return Text("");
    return destination;
}

// The status word of an "Entry.lst" value (the length bytes at value): the first four bytes,
// little-endian, of its first 16 characters decoded. A shorter value is filled up with "A"
// (the value 0), which decodes to the same bytes as the missing characters would; a NUL byte
// ends the value. Only the first six characters reach the four bytes.
uint32_t StatusFromValue(const char* value, int length) {
    size_t used = 0;
    while (used < 6 && static_cast<int>(used) < length && value[used] != '\0')
        ++used;
    unsigned char bytes[6] = {};
    Base64DecodeTo(value, used, bytes);
    return static_cast<uint32_t>(bytes[0]) | static_cast<uint32_t>(bytes[1]) << 8 |
           static_cast<uint32_t>(bytes[2]) << 16 | static_cast<uint32_t>(bytes[3]) << 24;
}

// The host's record bytes after the status word, as far as the first 16 characters of the
// value hold them (bytes 4 to 11), as one number: what the host keeps of a message besides its
// status (the stand-in: its size and time), which tells it from a later message under the
// same file name. A shorter value reads as filled up with "A".
// Both numbers of a value in one decoding: the status word as StatusFromValue reads it and the
// record's tail. The first six characters decide the status bytes, so they come from the same
// decoding unless a line end stops the tail's characters before the sixth.
void DecodeRecord(const char* value, int length, uint32_t* status, uint64_t* tail) {
    unsigned char bytes[12] = {};
    // The host's values are 16 characters or more.
    if (length >= 16 && Base64Decode16(value, bytes)) {
        *status = static_cast<uint32_t>(bytes[0]) | static_cast<uint32_t>(bytes[1]) << 8 |
                  static_cast<uint32_t>(bytes[2]) << 16 | static_cast<uint32_t>(bytes[3]) << 24;
        *tail = 0;
        for (int i = 11; i >= 4; --i)
            *tail = *tail << 8 | bytes[i];
        return;
    }
    size_t used = 0;
    while (used < 16 && static_cast<int>(used) < length && value[used] != '\0' &&
           value[used] != '\r' && value[used] != '\n')
        ++used;
    Base64DecodeTo(value, used, bytes);
    *tail = 0;
    for (int i = 11; i >= 4; --i)
        *tail = *tail << 8 | bytes[i];
    const bool lineEnd = static_cast<int>(used) < length && used < 6 && value[used] != '\0';
    *status = lineEnd ? StatusFromValue(value, length)
                      : static_cast<uint32_t>(bytes[0]) | static_cast<uint32_t>(bytes[1]) << 8 |
                            static_cast<uint32_t>(bytes[2]) << 16 |
                            static_cast<uint32_t>(bytes[3]) << 24;
}

// One "Entry.lst" line (the length bytes at line, line end included) as a record at the end of
// listing.
void ParseIndexLine(const char* line, int length, Listing* listing) {
    const void* found = std::memchr(line, '=', static_cast<size_t>(length));
    uint64_t tail = 0;
    uint32_t status = 0;
    int end = length;
    if (found == nullptr) {
        // Not a line the host writes: the whole line is the name and the status is 0.
        if (end > 0 && line[end - 1] == '\n')
            --end;
        if (end > 0 && line[end - 1] == '\r')
            --end;
    } else {
        // The name ends at the first "=", the value starts after the run of them.
        end = static_cast<int>(static_cast<const char*>(found) - line);
        int value = end;
        while (value < length && line[value] == '=')
            ++value;
        DecodeRecord(line + value, length - value, &status, &tail);
    }
    listing->Add(line, end, UidFromName(line, end), status, tail);
}

// The records of a whole "Entry.lst", in ascending UID order.
std::shared_ptr<Listing> ParseListing(std::shared_ptr<const std::string> bytes) {
    auto listing = std::make_shared<Listing>();
    listing->text = std::move(bytes);
    // The host's lines are some 27 bytes.
    listing->records.reserve(listing->text->size() / 24 + 1);
    const char* text = listing->text->data();
    const size_t size = listing->text->size();
    bool ascending = true;
    uint32_t lastUid = 0;
    size_t start = 0;
    while (start < size) {
        const void* lf = std::memchr(text + start, '\n', size - start);
        const size_t end =
            lf != nullptr ? static_cast<size_t>(static_cast<const char*>(lf) - text) + 1 : size;
        ParseIndexLine(text + start, static_cast<int>(end - start), listing.get());
        const Listing::Record& record = listing->records.back();
        listing->recent += (record.status & StatusUnread) != 0 ? 1 : 0;
        if (record.uid < lastUid)
            ascending = false;
        lastUid = record.uid;
        if (record.uid + 1u > listing->uidNext)
            listing->uidNext = record.uid + 1u;
        start = end;
    }
    // The host keeps its list in UID order, but the index must ascend whatever it holds.
    if (!ascending)
        listing->SortByUid();
    return listing;
}

}  // namespace

Text FolderFilePath(HostPort& host, const Text& mailRoot, const Text& folderPath,
                    const char* name) {
    Text path(host.MailboxDirectory());
    path.Append(mailRoot);
    path.Append('\\');
    path.Append(FolderPathForFiles(folderPath));
    path.Append('\\');
    path.Append(name);
    if (path.Length() >= platform::kMaxPath)
        return Text("");
    return path;
}

Text NormaliseFolderPath(const Text& folderPath) {
    Text path(folderPath);
    if (path.Compare(kInboxTitle) == 0 || path.Compare("INBOX") == 0)
        path = "inbox.box";
    path.Replace('/', '\\');
    return path;
}

Mailbox::Mailbox(HostPort& host, const Text& mailRoot, const Text& folderPath, Mode uids)
    : host_(host), uids_(uids), mailRoot_(mailRoot), folderPath_(NormaliseFolderPath(folderPath)) {}

void Mailbox::OpenIndex() {
    if (uids_ == Mode::kExact) {
        uidValidity_ = ReadFolderInt(FolderFilePath(host_, mailRoot_, folderPath_, "Imap4.ini"),
                                     "IMAP4", "UID");
        if (uidValidity_ == 0)
            uidValidity_ = DrawUidValidity(host_);
    }
    ReadIndex();
    // A folder whose directory does not exist has no lasting record.
    if (uidValidity_ == 0)
        uidValidity_ = DrawUidValidity(host_);
}

void Mailbox::ReadIndex() {
    if (uids_ == Mode::kExact) {
        ReadListing();
        return;
    }
    bool complete = false;
    const LastingUids lasting = GiveLastingUids(host_, mailRoot_, folderPath_, index_, [&] {
        complete = ReadListing();
        return complete;
    });
    if (lasting.validity != 0) {
        uidValidity_ = lasting.validity;
        FolderFlags* kept = FolderFlags::Of(host_, mailRoot_, folderPath_);
        if (kept != nullptr)
            kept->Attach(lasting.validity, lasting.next, index_, complete);
    }
    uidNext_ = lasting.next;
    highestModSeq_ = lasting.modSeq;
}

bool Mailbox::ReadListing() {
    cachedBytes_ = 0;
    recentCount_ = 0;
    const uint32_t total = ReadFolderInt(FolderFilePath(host_, mailRoot_, folderPath_, "Entry.ini"),
                                         "Property", "Total");
    index_.Clear();
    uidNext_ = 1;
    if (total == 0)
        return true;

    uidNext_ = 0;
    const Text listPath = FolderFilePath(host_, mailRoot_, folderPath_, "Entry.lst");
    // The folder's change count before the list is opened: a file renamed over it from then on
    // moves the count.
    platform::DirectoryStamps folder(FolderFilePath(host_, mailRoot_, folderPath_, "").c_str());
    const uint64_t changes = folder.ChangeCount();
    File file;
    if (listPath.IsEmpty() ||
        !file.Open(listPath.c_str(), platform::kAccessRead, platform::kOpenExisting))
        return false;
    // Parsed only when no connection read these very bytes before; not even read while the
    // system reports no change in the folder since they were.
    const std::string key(listPath.c_str());
    std::shared_ptr<const Listing> listing = ListingCache::Shared().Find(key, file, changes);
    if (listing == nullptr) {
        file.SeekTo(0);
        auto bytes = std::make_shared<std::string>();
        file.AppendRest(bytes.get());
        listing = ParseListing(std::move(bytes));
        ListingCache::Shared().Add(key, listing, changes);
    }
    file.Close();
    recentCount_ = listing->recent;
    uidNext_ = listing->uidNext;
    index_.Adopt(std::move(listing));
    // A list read while the host rewrites it can come out short.
    return static_cast<uint32_t>(index_.Count()) >= total;
}

void Mailbox::SetSubscribed(int on) {
    const Text path = FolderFilePath(host_, mailRoot_, folderPath_, "Entry.ini");
    if (!path.IsEmpty())
        platform::WriteProfileString("IMAP4", "Subscribe", on != 0 ? "1" : "0", path.c_str());
}

void Mailbox::ImportMessage(const char* filePath, uint32_t status) {
    const Text destination = ImportDestination(mailRoot_, folderPath_);
    if (!destination.IsEmpty())
        host_.ImportFile(filePath, destination.c_str(), status);
}

int Mailbox::CopyMessage(uint32_t number, int uidMode, const Text& destinationPath,
                         uint32_t status) {
    const MessageEntry* source = nullptr;
    if (uidMode != 0) {
        for (int i = 0; i < index_.Count() && source == nullptr; ++i) {
            if (index_.UidAt(i) == number)
                source = index_.At(i);
        }
    } else if (number >= 1 && number <= static_cast<uint32_t>(index_.Count())) {
        source = index_.At(static_cast<int>(number - 1));
    }
    if (source == nullptr)
        return 0;
    const Text file = MessageFilePath(host_, *source, mailRoot_, folderPath_);
    const Text destination = ImportDestination(mailRoot_, NormaliseFolderPath(destinationPath));
    if (file.IsEmpty() || destination.IsEmpty())
        return 0;
    host_.ImportFile(file.c_str(), destination.c_str(), status);
    return 1;
}

bool Mailbox::Exists() const {
    Text directory = FolderFilePath(host_, mailRoot_, folderPath_, "");
    if (directory.IsEmpty())
        return false;
    directory = directory.Left(directory.Length() - 1);  // without the closing separator
    return platform::DirectoryExists(directory.c_str());
}

int Mailbox::RecentCount() const {
    return recentCount_;
}

int Mailbox::UnseenCount() const {
    int count = 0;
    for (int i = 0; i < index_.Count(); ++i) {
        if ((index_.StatusAt(i) & StatusUnread) != 0)
            ++count;
    }
    return count;
}

void Mailbox::NoteServed(MessageEntry& entry) {
    uint32_t now = static_cast<uint32_t>(entry.headerText.Length() + entry.bodyText.Length() +
                                         entry.envelope.Length());
    if (now == entry.cachedSize)
        return;
    cachedBytes_ = cachedBytes_ - entry.cachedSize + now;
    entry.cachedSize = now;
    if (cachedBytes_ <= kMaxCachedText)
        return;
    for (int i = 0; i < index_.Count(); ++i) {
        // Only an entry that was made can hold texts.
        if (!index_.IsMade(i))
            continue;
        MessageEntry* other = index_.At(i);
        if (other == &entry || other->cachedSize == 0)
            continue;
        other->headerText = Text();
        other->bodyText = Text();
        other->envelope = Text();
        other->cachedSize = 0;
    }
    cachedBytes_ = now;
}
