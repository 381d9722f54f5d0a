#include "imap/fetch_message.h"

#include <utility>

#include "base/file.h"
#include "mime/body_structure.h"
#include "mime/mime_part.h"
#include "render/envelope.h"
#include "store/message_cache.h"

namespace {

// The ENVELOPE value read from the message file's header; a missing file is created empty, as
// message files always are opened.
Text ReadEnvelopeValue(HostPort& host, const MessageEntry& entry, const Text& mailRoot,
                       const Text& folderPath, Mode mode, TextForm text) {
    Envelope env;
    const Text path = MessageFilePath(host, entry, mailRoot, folderPath);
    if (!path.IsEmpty()) {
        File file;
        if (file.Open(path.c_str(), platform::kAccessRead, platform::kOpenAlways))
            ReadEnvelope(&file, &env, mode, text);
    }
    Text value;
    RenderEnvelope(env, &value,
                   mode == Mode::kExact      ? ParseAddress
                   : text == TextForm::kUtf8 ? ParseAddressUtf8
                                             : ParseAddressExtended);
    return value;
}

// The exact BODYSTRUCTURE value, parsed from the message file apart from the client form.
Text ReadMimeStructure(HostPort& host, const MessageEntry& entry, const Text& mailRoot,
                       const Text& folderPath) {
    MimePart root;
    const Text path = MessageFilePath(host, entry, mailRoot, folderPath);
    if (!path.IsEmpty()) {
        ParseMessageFile(&root, path.c_str());
    } else if (!IsPlainFileName(entry.fileName)) {
        // Such a name stands for a missing message, which reads as an empty one: its
        // structure is parsed from a file that is not open, with no disk access.
        File none;
        ParsePart(&none, &root, nullptr, nullptr);
    }
    Text value;
    RenderBodyStructure(root, &value);
    return value;
}

// The message file as one FETCH finds it: its path and its stamp (have: false when it is
// missing or not a plain name, and then nothing comes from the cache).
struct FileCheck {
    Text path;
    platform::FileStamp stamp;
    bool have = false;
};

// A short number for a stamp, kept in the entry to see whether its file changed.
uint64_t StampKey(const platform::FileStamp& stamp) {
    uint64_t key = 0x9E3779B97F4A7C15u;
    for (uint64_t part : {static_cast<uint64_t>(stamp.size), static_cast<uint64_t>(stamp.writeTime),
                          stamp.volume, stamp.file}) {
        key ^= part + 0x9E3779B97F4A7C15u + (key << 6) + (key >> 2);
    }
    return key == 0 ? 1 : key;
}

// The cache's number for the client form a request is served in.
int CacheForm(const FetchRequest& request) {
    return request.mode() == Mode::kExact ? 0 : 1 + static_cast<int>(request.text());
}

// Stamps the message file before anything of it is served. When the host rewrote or replaced
// the file since the entry's texts, size and envelope were read, they are dropped, so every
// item of this FETCH comes from the file as it is now.
FileCheck CheckFile(HostPort& host, MessageEntry& entry, const Text& mailRoot,
                    const Text& folderPath, const FetchRequest& request,
                    platform::DirectoryStamps* directory, const TakenStamp* taken) {
    FileCheck check;
    if (!ReadsMessageFile(request))
        return check;
    if (directory != nullptr && !directory->Path().empty() && IsPlainFileName(entry.fileName)) {
        // The folder's path is known for the walk: the file's name and extension end it, as
        // MessageFilePath makes it.
        const std::string& folder = directory->Path();
        check.path.Reserve(static_cast<int>(folder.size()) + entry.fileName.Length() + 4);
        check.path.Append(folder.c_str(), static_cast<int>(folder.size()));
        check.path.Append(entry.fileName);
        check.path.Append(".orv");
        if (check.path.Length() >= platform::kMaxPath)
            check.path = Text("");
    } else {
        check.path = MessageFilePath(host, entry, mailRoot, folderPath);
    }
    if (!check.path.IsEmpty() && taken != nullptr) {
        check.have = taken->have != 0;
        check.stamp = taken->stamp;
    } else if (!check.path.IsEmpty() && directory != nullptr) {
        // The file's name within its folder ends the path.
        const int name = check.path.Length() - entry.fileName.Length() - 4;
        check.have = directory->StampOf(check.path.c_str() + name, &check.stamp) != 0;
    } else if (!check.path.IsEmpty()) {
        check.have = platform::FileStampOf(check.path.c_str(), &check.stamp) != 0;
    }
    const uint64_t key = check.have ? StampKey(check.stamp) : 0;
    // An entry never stamped keeps what it holds: it was read moments ago, for a search.
    if (entry.stampKey != 0 && entry.stampKey != key) {
        entry.headerText = Text();
        entry.bodyText = Text();
        entry.envelope = Text();
        entry.clientSize = 0;
    }
    entry.stampKey = key;
    return check;
}

// Loads what the request needs; true when the cache learned something new.
bool LoadChecked(HostPort& host, MessageEntry& entry, const Text& mailRoot, const Text& folderPath,
                 const FetchRequest& request, const FileCheck& file, FetchedMessage* m) {
    const Mode mode = request.mode();
    m->mode = mode;
    const LoadPolicy quiet{mode, false, request.text()};
    MessageCache& cache = MessageCache::Shared();
    const int form = CacheForm(request);
    MessageFacts known;
    // Only what the entry does not hold already is asked of the cache.
    const int wanted =
        (request.NeedsSize() && entry.clientSize == 0 ? MessageCache::kSize : 0) |
        (request.NeedsEnvelope() && (mode != Mode::kExact || entry.envelope.IsEmpty())
             ? MessageCache::kEnvelope
             : 0) |
        (request.NeedsMimeStructure() ? MessageCache::kStructure : 0);
    if (file.have && wanted != 0)
        cache.Find(file.path, form, file.stamp, &known, wanted);
    MessageFacts learned;

    if (request.NeedsHeaderText() && request.NeedsBodyText()) {
        LoadMessage(host, entry, mailRoot, folderPath, true, quiet);
    } else if (request.NeedsHeaderText()) {
        LoadHeader(host, entry, mailRoot, folderPath, true, quiet);
    } else if (request.NeedsBodyText()) {
        LoadBody(host, entry, mailRoot, folderPath, true, quiet);
    }
    if (request.NeedsSize()) {
        const bool knew = entry.clientSize != 0 || known.clientSize != 0;
        if (entry.clientSize == 0)
            entry.clientSize = known.clientSize;
        m->size = MessageSize(host, entry, mailRoot, folderPath, quiet);
        if (!knew)
            learned.clientSize = m->size;
    }
    if (request.NeedsEnvelope()) {
        // The exact mode keeps the value in the entry, within the folder's bound on kept text.
        Text& value = mode == Mode::kExact ? entry.envelope : m->ownEnvelope;
        if (value.IsEmpty())
            value = std::move(known.envelope);
        if (value.IsEmpty()) {
            value = ReadEnvelopeValue(host, entry, mailRoot, folderPath, mode, request.text());
            learned.envelope = value;
        }
        m->envelope = &value;
    }
    if (request.NeedsFileTime()) {
        platform::SystemTime t = {};
        if (file.have && platform::StampWriteTime(file.stamp, &t) && t.month >= 1 &&
            t.month <= 12 && t.day >= 1)
            m->fileTime = t;
        else
            m->fileTime = MessageFileTime(host, entry, mailRoot, folderPath);
    }
    if (request.NeedsMimeStructure()) {
        m->mimeStructure = std::move(known.structure);
        if (m->mimeStructure.IsEmpty()) {
            m->mimeStructure = ReadMimeStructure(host, entry, mailRoot, folderPath);
            learned.structure = m->mimeStructure;
        }
    }
    if (request.NeedsWholeMessage()) {
        const Text& header = entry.headerText;
        const Text& body = entry.bodyText;
        m->whole.reserve(static_cast<size_t>(header.Length()) + 2 +
                         static_cast<size_t>(body.Length()));
        m->whole.append(header.c_str(), static_cast<size_t>(header.Length()));
        m->whole.append("\r\n");
        m->whole.append(body.c_str(), static_cast<size_t>(body.Length()));
    }
    if (!file.have ||
        (learned.clientSize == 0 && learned.envelope.IsEmpty() && learned.structure.IsEmpty()))
        return false;
    cache.Add(file.path, form, file.stamp, learned);
    return true;
}

}  // namespace

bool ReadsMessageFile(const FetchRequest& r) {
    return r.NeedsHeaderText() || r.NeedsBodyText() || r.NeedsSize() || r.NeedsEnvelope() ||
           r.NeedsFileTime() || r.NeedsMimeStructure() || r.NeedsWholeMessage();
}

void LoadFetched(HostPort& host, MessageEntry& entry, const Text& mailRoot, const Text& folderPath,
                 const FetchRequest& request, FetchedMessage* m) {
    const FileCheck file = CheckFile(host, entry, mailRoot, folderPath, request, nullptr, nullptr);
    LoadChecked(host, entry, mailRoot, folderPath, request, file, m);
}

bool ServeFetchItems(HostPort& host, MessageEntry& entry, const Text& mailRoot,
                     const Text& folderPath, const FetchRequest& request, Output& out,
                     bool marksSeen, platform::DirectoryStamps* directory,
                     const TakenStamp* taken) {
    const FileCheck file = CheckFile(host, entry, mailRoot, folderPath, request, directory, taken);
    // Counted before loading: a header section that loads the header marks once more.
    const int marks = marksSeen ? request.SeenMarks(!entry.headerText.IsEmpty()) : 0;
    FetchedMessage m(entry);
    const bool learned = LoadChecked(host, entry, mailRoot, folderPath, request, file, &m);
    for (int i = 0; i < marks; ++i)
        MarkSeen(host, entry, mailRoot, folderPath);
    WriteFetchItems(request, m, out);
    return learned;
}

void RenderItems(HostPort& host, MessageEntry& entry, const Text& mailRoot, const Text& folderPath,
                 const Text& items, int uidFlag, Output& out, Mode mode, bool marksSeen) {
    const FetchRequest request(items, uidFlag, mode);
    ServeFetchItems(host, entry, mailRoot, folderPath, request, out, marksSeen);
}
