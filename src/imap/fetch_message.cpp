#include "imap/fetch_message.h"

#include "base/file.h"
#include "mime/body_structure.h"
#include "mime/mime_part.h"
#include "render/envelope.h"

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

}  // namespace

void LoadFetched(HostPort& host, MessageEntry& entry, const Text& mailRoot, const Text& folderPath,
                 const FetchRequest& request, FetchedMessage* m) {
    const Mode mode = request.mode();
    m->mode = mode;
    const LoadPolicy quiet{mode, false, request.text()};
    if (request.NeedsHeaderText() && request.NeedsBodyText()) {
        LoadMessage(host, entry, mailRoot, folderPath, true, quiet);
    } else if (request.NeedsHeaderText()) {
        LoadHeader(host, entry, mailRoot, folderPath, true, quiet);
    } else if (request.NeedsBodyText()) {
        LoadBody(host, entry, mailRoot, folderPath, true, quiet);
    }
    if (request.NeedsSize())
        m->size = MessageSize(host, entry, mailRoot, folderPath, quiet);
    if (request.NeedsEnvelope()) {
        if (mode == Mode::kExact) {
            // Read once per message: the host never rewrites a message file in place. The
            // value is kept in the entry, within the folder's bound on kept text.
            if (entry.envelope.IsEmpty())
                entry.envelope =
                    ReadEnvelopeValue(host, entry, mailRoot, folderPath, mode, request.text());
            m->envelope = &entry.envelope;
        } else {
            m->ownEnvelope =
                ReadEnvelopeValue(host, entry, mailRoot, folderPath, mode, request.text());
            m->envelope = &m->ownEnvelope;
        }
    }
    if (request.NeedsFileTime())
        m->fileTime = MessageFileTime(host, entry, mailRoot, folderPath);
    if (request.NeedsMimeStructure()) {
        // The message file is parsed on its own, apart from the client form.
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
        RenderBodyStructure(root, &m->mimeStructure);
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
}

void ServeFetchItems(HostPort& host, MessageEntry& entry, const Text& mailRoot,
                     const Text& folderPath, const FetchRequest& request, Output& out,
                     bool marksSeen) {
    // Counted before loading: a header section that loads the header marks once more.
    const int marks = marksSeen ? request.SeenMarks(!entry.headerText.IsEmpty()) : 0;
    FetchedMessage m(entry);
    LoadFetched(host, entry, mailRoot, folderPath, request, &m);
    for (int i = 0; i < marks; ++i)
        MarkSeen(host, entry, mailRoot, folderPath);
    WriteFetchItems(request, m, out);
}

void RenderItems(HostPort& host, MessageEntry& entry, const Text& mailRoot, const Text& folderPath,
                 const Text& items, int uidFlag, Output& out, Mode mode, bool marksSeen) {
    const FetchRequest request(items, uidFlag, mode);
    ServeFetchItems(host, entry, mailRoot, folderPath, request, out, marksSeen);
}
