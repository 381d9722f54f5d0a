// EntrySearchSubject: one message of the selected folder as the search keys see it: flags from
// its entry, the rest read from its message file on first use. It never marks the message as
// read and never fills the entry's cached client form, so a search changes nothing.
#ifndef ORV_IMAP_SEARCH_SUBJECT_H_
#define ORV_IMAP_SEARCH_SUBJECT_H_

#include <memory>
#include <string>

#include "base/text.h"
#include "imap/search_program.h"
#include "mime/message_text.h"
#include "store/folder_flags.h"
#include "store/message_entry.h"

class EntrySearchSubject : public SearchSubject {
  public:
    // mailRoot and folderPath name the entry's folder, as its Mailbox holds them, in the
    // mailbox directory of host; all four must outlive the subject. mode: the client form
    // whose size SIZE compares.
    EntrySearchSubject(HostPort& host, MessageEntry& entry, uint32_t sequence, const Text& mailRoot,
                       const Text& folderPath, Mode mode);

    uint32_t Sequence() const override { return sequence_; }
    uint32_t Uid() const override { return entry_.uid; }
    uint32_t Status() const override { return entry_.status; }
    bool HasKeptFlag(const std::string& flag) const override {
        return HasFlag(entry_.keptFlags.c_str(), static_cast<size_t>(entry_.keptFlags.Length()),
                       flag);
    }
    bool Recent() const override { return entry_.recent == 1; }
    uint64_t ModSeq() const override { return entry_.modSeq; }
    // The client form's size: from the entry when a fetch already loaded it, else counted
    // from the file.
    uint32_t Size() override;
    // The date that INTERNALDATE shows for the message.
    int32_t InternalDate() override;
    MessageText& Content() override;

  private:
    const std::string& Raw();

    HostPort& host_;
    MessageEntry& entry_;
    uint32_t sequence_;
    const Text& mailRoot_;
    const Text& folderPath_;
    Mode mode_;
    bool rawRead_ = false;
    std::string raw_;
    std::unique_ptr<MessageText> text_;
};

#endif  // ORV_IMAP_SEARCH_SUBJECT_H_
