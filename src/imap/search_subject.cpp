// A message of the selected folder for the search keys. The message file is read once, whole,
// when a key first needs its size or text; the internal date is the one INTERNALDATE shows,
// from the same zone function, so SEARCH and FETCH always agree on a message's day.
#include "imap/search_subject.h"

#include "base/file.h"
#include "platform/files.h"
#include "render/internal_date.h"

namespace {

// The file's bytes; empty when it cannot be read. A missing file is not created.
std::string ReadWholeFile(const Text& path) {
    std::string bytes;
    if (path.IsEmpty())
        return bytes;
    File file;
    if (file.Open(path.c_str(), platform::kAccessRead, platform::kOpenExisting))
        file.AppendRest(&bytes);
    return bytes;
}

}  // namespace

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
    return DayNumber(InternalDateZone(MessageFileTime(host_, entry_, mailRoot_, folderPath_)));
}

MessageText& EntrySearchSubject::Content() {
    if (!text_)
        text_.reset(new MessageText(Raw()));
    return *text_;
}
