// A message of the selected folder for the search keys. The message file is read once, whole,
// when a key first needs its size or text; the internal date comes from the INTERNALDATE writer
// itself, so SEARCH and FETCH always agree on a message's day.
#include "imap/search_subject.h"

#include "platform/files.h"
#include "render/items.h"
#include "render/output.h"

namespace {

const char* const kMonths[12] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                 "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};

// The file's bytes; empty when it cannot be read. A missing file is not created.
std::string ReadWholeFile(const Text& path) {
    std::string bytes;
    if (path.IsEmpty())
        return bytes;
    platform::FileHandle file =
        platform::OpenFile(path.c_str(), platform::kAccessRead, platform::kOpenExisting);
    if (file == platform::kInvalidFile)
        return bytes;
    char buffer[64 * 1024];
    uint32_t done = 0;
    while (platform::ReadFile(file, buffer, sizeof buffer, &done) && done > 0)
        bytes.append(buffer, done);
    platform::CloseFile(file);
    return bytes;
}

bool TwoDigits(const char* p, int* value) {
    if (p[0] < '0' || p[0] > '9' || p[1] < '0' || p[1] > '9')
        return false;
    *value = (p[0] - '0') * 10 + (p[1] - '0');
    return true;
}

}  // namespace

int32_t InternalDateDay(const char* text) {
    while (*text == ' ' || *text == '"')
        ++text;
    int day = 0;
    int century = 0;
    int year = 0;
    if (!TwoDigits(text, &day) || text[2] != '-' || text[6] != '-' ||
        !TwoDigits(text + 7, &century) || !TwoDigits(text + 9, &year) || day < 1) {
        return 0;
    }
    for (int m = 0; m < 12; ++m) {
        if (text[3] == kMonths[m][0] && text[4] == kMonths[m][1] && text[5] == kMonths[m][2])
            return (century * 100 + year) * 10000 + (m + 1) * 100 + day;
    }
    return 0;
}

EntrySearchSubject::EntrySearchSubject(HostPort& host, MessageEntry& entry, uint32_t sequence,
                                       const Text& mailRoot, const Text& folderPath, Mode mode)
    : host_(host),
      entry_(entry),
      sequence_(sequence),
      mailRoot_(mailRoot),
      folderPath_(folderPath),
      mode_(mode) {}

const std::string& EntrySearchSubject::Raw() {
    if (!rawRead_) {
        rawRead_ = true;
        raw_ = ReadWholeFile(MessageFilePath(host_, entry_, mailRoot_, folderPath_));
    }
    return raw_;
}

uint32_t EntrySearchSubject::Size() {
    if (!entry_.headerText.IsEmpty() && !entry_.bodyText.IsEmpty()) {
        return static_cast<uint32_t>(entry_.headerText.Length()) + 2u +
               static_cast<uint32_t>(entry_.bodyText.Length());
    }
    return ClientFormSize(Raw(), mode_);
}

int32_t EntrySearchSubject::InternalDate() {
    StringOutput out;
    ItemContext context{host_, entry_, mailRoot_, folderPath_, out};
    // The writer puts a separator first on a line that has items already; none is wanted.
    const int32_t itemWritten = entry_.itemWritten;
    entry_.itemWritten = 0;
    WriteInternalDate(context, Text(""));
    entry_.itemWritten = itemWritten;
    return InternalDateDay(out.text.c_str());
}

MessageText& EntrySearchSubject::Content() {
    if (!text_)
        text_.reset(new MessageText(Raw()));
    return *text_;
}
