// Message files: where a message's ".orv" file lies, how its Shift_JIS lines become the client
// form (encoded-word header without the host's status line, ISO-2022-JP body), and the
// mark-as-seen request to the host.
#include "store/message_entry.h"

#include "base/file.h"
#include "mime/client_form.h"
#include "mime/jis_text.h"
#include "platform/codepage.h"
#include "platform/files.h"
#include "shell/host_api.h"

namespace {

// The host's own header line, never shown to a client.
constexpr char kStatusField[] = "X-Orvex-Status:";
constexpr int kStatusFieldLength = sizeof kStatusField - 1;

char AsciiLower(char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

bool IsStatusLine(const Text& line) {
    if (line.Length() < kStatusFieldLength)
        return false;
    for (int i = 0; i < kStatusFieldLength; ++i) {
        if (AsciiLower(line[i]) != AsciiLower(kStatusField[i]))
            return false;
    }
    return true;
}

// The line that separates header and body: exactly CR LF or exactly LF.
bool IsSeparatorLine(const Text& line) {
    return (line.Length() == 1 && line[0] == '\n') ||
           (line.Length() == 2 && line[0] == '\r' && line[1] == '\n');
}

// How many SeenMarksSuppressed objects live on this thread (each connection has its own).
thread_local int tSeenMarksSuppressed = 0;

// Reads what is needed of the message file into the entry's client form. A missing file is
// created empty by the open and reads as empty, as does one that cannot be opened.
void ReadMessageFile(MessageEntry& entry, const Text& mailRoot, const Text& folderPath,
                     bool needHeader, bool needBody) {
    if (!needHeader && !needBody)
        return;
    const Text path = MessageFilePath(entry, mailRoot, folderPath);
    if (path.IsEmpty())
        return;
    File file;
    if (!file.Open(path.c_str(), platform::kAccessRead, platform::kOpenAlways))
        return;
    ClientFormConverter form;
    Text line;
    bool inHeader = true;
    while (file.ReadLine(&line, File::kRaw) > 0) {
        if (inHeader) {
            if (IsSeparatorLine(line)) {
                if (!needBody)
                    break;
                inHeader = false;
            } else if (!IsStatusLine(line)) {
                if (needHeader) {
                    JisText converted;
                    converted.Assign(line);
                    form.HeaderLine(&converted);
                    entry.headerText.Append(converted);
                } else {
                    form.SkipHeaderLine(line);
                }
            }
        } else {
            JisText converted;
            converted.Assign(line);
            form.BodyLine(&converted);
            entry.bodyText.Append(converted);
        }
    }
}

}  // namespace

Text FolderPathForFiles(const Text& folderPath) {
    if (folderPath.CompareNoCase("INBOX") == 0)
        return Text("inbox.box");
    return folderPath;
}

Text MessageFilePath(const MessageEntry& entry, const Text& mailRoot, const Text& folderPath) {
    Text path(HostGetMailbox());
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

void LoadMessage(MessageEntry& entry, const Text& mailRoot, const Text& folderPath, bool peek) {
    ReadMessageFile(entry, mailRoot, folderPath, entry.headerText.IsEmpty(),
                    entry.bodyText.IsEmpty());
    if (!peek)
        MarkSeen(entry, mailRoot, folderPath);
}

void LoadHeader(MessageEntry& entry, const Text& mailRoot, const Text& folderPath, bool peek) {
    if (!entry.headerText.IsEmpty())
        return;
    ReadMessageFile(entry, mailRoot, folderPath, true, false);
    if (!peek)
        MarkSeen(entry, mailRoot, folderPath);
}

void LoadBody(MessageEntry& entry, const Text& mailRoot, const Text& folderPath, bool peek) {
    ReadMessageFile(entry, mailRoot, folderPath, false, entry.bodyText.IsEmpty());
    if (!peek)
        MarkSeen(entry, mailRoot, folderPath);
}

uint32_t MessageSize(MessageEntry& entry, const Text& mailRoot, const Text& folderPath) {
    LoadMessage(entry, mailRoot, folderPath, false);
    return static_cast<uint32_t>(entry.headerText.Length()) + 2u +
           static_cast<uint32_t>(entry.bodyText.Length());
}

SeenMarksSuppressed::SeenMarksSuppressed() {
    ++tSeenMarksSuppressed;
}
SeenMarksSuppressed::~SeenMarksSuppressed() {
    --tSeenMarksSuppressed;
}

void MarkSeen(const MessageEntry& entry, const Text& mailRoot, const Text& folderPath) {
    if (tSeenMarksSuppressed > 0)
        return;
    bool fits = false;
    const Text key = MessageKey(entry, mailRoot, folderPath, &fits);
    // A key the host's buffer cannot hold would name another message, or none.
    if (fits)
        HostMarkMail(key.c_str(), StatusUnread, 0);
}

uint32_t UidFromFileName(const Text& fileName) {
    Text upper(fileName);
    upper.MakeUpper();
    // Four letters read as a base-26 number, "A" = 0; the bytes count as signed values, as the
    // host's names are plain letters and anything else only has to give a stable number.
    uint32_t letters = 0;
    for (int i = 0; i < 4; ++i) {
        const char c = i < upper.Length() ? upper[i] : 'A';
        const int32_t digit = static_cast<int32_t>(static_cast<signed char>(c)) - 'A';
        letters = letters * 26u + static_cast<uint32_t>(digit);
    }
    return letters * 10000u + fileName.Mid(4).ToNumber();
}
