// Extended mode: SEARCH and UID SEARCH with the search keys of IMAP4rev1. The criteria are read
// from the raw argument text (literals arrive there as quoted strings); each message of the
// selected folder is then tested with its file read only as far as its keys need, never
// marking it as read.
#include "imap/extended_session.h"
#include "imap/search_program.h"
#include "imap/search_subject.h"
#include "store/mailbox.h"

void ExtendedSession::OnSearch() {
    if (!RequireMessageCommand(1, -1))
        return;
    SearchProgram program;
    switch (program.Parse(command_.rest.c_str(), static_cast<size_t>(command_.rest.Length()))) {
        case SearchProgram::kBadSyntax:
            SendTagged(" BAD invalid search criteria\r\n");
            return;
        case SearchProgram::kBadCharset:
            SendTagged(
                " NO [BADCHARSET (US-ASCII UTF-8 ISO-2022-JP SHIFT_JIS)] unsupported charset\r\n");
            return;
        case SearchProgram::kOk:
            break;
    }
    MessageIndex& index = selected_->Index();
    program.Bind(static_cast<uint32_t>(index.Count()), selected_->UidNext());
    Send("* ");
    Send(command_.word.c_str());
    for (int i = 0; i < index.Count(); ++i) {
        MessageEntry* entry = index.At(i);
        if (entry == nullptr)
            continue;
        EntrySearchSubject subject(host_, *entry, static_cast<uint32_t>(i + 1),
                                   selected_->MailRoot(), selected_->FolderPath());
        if (program.Matches(subject)) {
            Send(" ");
            if (command_.uid) {
                WriteUnsigned(entry->uid);
            } else {
                SendNumber(i + 1);
            }
        }
        if (IsClosing())
            break;
    }
    Send("\r\n");
}
