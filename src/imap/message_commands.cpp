// FETCH, STORE and SEARCH and their UID forms: the commands that work on the messages of the
// selected folder. The set is walked range by range; each message's items are written by the
// renderers.
#include "imap/imap_session.h"
#include "imap/message_set.h"
#include "render/flag_update.h"
#include "render/items.h"
#include "store/mailbox.h"

bool ImapSession::RequireMessageCommand(int minimum, int maximum) {
    if (!RequireState(Selected))
        return false;
    int count = command_.arguments.Count();
    if (count < minimum || (maximum >= 0 && count > maximum)) {
        NoArguments();
        return false;
    }
    return true;
}

void ImapSession::WalkSet(const Text& setText, void (ImapSession::*serve)(MessageEntry&, int)) {
    MessageIndex& index = selected_->Index();
    uint32_t count = static_cast<uint32_t>(index.Count());
    Text set(setText);
    while (!set.IsEmpty()) {
        MessageRange r = ParseRange(&set, command_.uid, selected_->UidNext(), count);
        if (command_.uid) {
            for (int i = 0; i < index.Count(); ++i) {
                MessageEntry* entry = index.At(i);
                if (entry->uid >= r.lo && entry->uid <= r.hi) {
                    (this->*serve)(*entry, i + 1);
                    if (IsClosing())
                        return;
                }
            }
        } else {
            for (uint64_t n = r.lo; n <= r.hi; ++n) {
                MessageEntry* entry = index.At(static_cast<int>(n - 1));
                if (entry != nullptr)
                    (this->*serve)(*entry, static_cast<int>(n));
                if (IsClosing())
                    return;
            }
        }
        if (IsClosing())
            return;
    }
}

void ImapSession::ServeFetch(MessageEntry& entry, int sequence) {
    Send("* ");
    SendNumber(sequence);
    Send(" ");
    Send(command_.word.c_str());
    Send(" (");
    RenderItems(host_, entry, selected_->MailRoot(), selected_->FolderPath(),
                *command_.arguments.At(1), command_.uid, *this);
    Send(")\r\n");
    selected_->NoteServed(entry);
}

void ImapSession::ServeStore(MessageEntry& entry, int sequence) {
    if (!UpdateFlags(host_, entry, selected_->MailRoot(), selected_->FolderPath(),
                     *command_.arguments.At(1), *command_.arguments.At(2))) {
        return;
    }
    Send("* ");
    SendNumber(sequence);
    Send(" FETCH (");
    RenderItems(host_, entry, selected_->MailRoot(), selected_->FolderPath(), Text("FLAGS"),
                command_.uid, *this);
    Send(")\r\n");
}

void ImapSession::OnFetch() {
    if (!RequireMessageCommand(2, 2))
        return;
    WalkSet(*command_.arguments.At(0), &ImapSession::ServeFetch);
}

void ImapSession::OnStore() {
    if (!RequireMessageCommand(3, 3))
        return;
    WalkSet(*command_.arguments.At(0), &ImapSession::ServeStore);
}

void ImapSession::OnSearch() {
    if (!RequireMessageCommand(1, -1))
        return;
    const TextList& arguments = command_.arguments;
    Send("* ");
    Send(command_.word.c_str());
    // A leading CHARSET and its name are passed over.
    int first = arguments.At(0)->CompareNoCase("CHARSET") == 0 ? 2 : 0;
    if (first < arguments.Count()) {
        MessageIndex& index = selected_->Index();
        for (int i = 0; i < index.Count(); ++i) {
            MessageEntry* entry = index.At(i);
            bool match = true;
            int position = first;
            // Every criterion is tested, also after one has failed.
            while (position < arguments.Count()) {
                if (!TestCriterion(*entry, arguments, &position))
                    match = false;
            }
            if (match) {
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
    }
    Send("\r\n");
}
