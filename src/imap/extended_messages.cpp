// Extended mode: FETCH in read-only folders, STORE that replaces flags, COPY of whole sets,
// and the UIDPLUS codes of APPEND and COPY. The UIDs the new messages got are found by reading
// the destination's index before and after the host stores them.
#include <algorithm>
#include <string>
#include <vector>

#include "imap/extended_session.h"
#include "render/extended_flag_update.h"
#include "render/extended_items.h"
#include "render/items.h"
#include "store/mail_store.h"
#include "store/mailbox.h"
#include "store/name_codec.h"
#include "store/settings.h"

namespace {

using ServeFunction = void (ImapSession::*)(MessageEntry&, int);

// The UIDs of a folder's index, in ascending order.
std::vector<uint32_t> SortedUids(const Mailbox& folder) {
    std::vector<uint32_t> uids;
    const MessageIndex& index = folder.Index();
    uids.reserve(static_cast<size_t>(index.Count()));
    for (int i = 0; i < index.Count(); ++i)
        uids.push_back(index.At(i)->uid);
    std::sort(uids.begin(), uids.end());
    return uids;
}

// The UIDs the destination's index holds now that it did not hold before (sorted), in
// ascending order.
std::vector<uint32_t> NewUids(const std::vector<uint32_t>& before, const Mailbox& destination) {
    std::vector<uint32_t> added;
    for (uint32_t uid : SortedUids(destination)) {
        if (!std::binary_search(before.begin(), before.end(), uid) &&
            (added.empty() || added.back() != uid))
            added.push_back(uid);
    }
    return added;
}

// A UID list as an IMAP set in the list's own order; runs of consecutive ascending UIDs are
// written as ranges ("4:6").
void WriteUidList(Output& out, const std::vector<uint32_t>& uids) {
    size_t i = 0;
    while (i < uids.size()) {
        size_t end = i;
        while (end + 1 < uids.size() && uids[end + 1] == uids[end] + 1)
            ++end;
        if (i > 0)
            out.Write(",");
        out.WriteUnsigned(uids[i]);
        if (end > i) {
            out.Write(":");
            out.WriteUnsigned(uids[end]);
        }
        i = end + 1;
    }
}

// Whether a FETCH asks for text that marks a message as read: a BODY section without PEEK
// or RFC822.TEXT (a lone BODY is the structure here). The items follow the message set.
bool ItemsMarkSeen(const TextList& arguments) {
    for (int i = 1; i < arguments.Count(); ++i) {
        Text items(*arguments.At(i));
        items.MakeUpper();
        const std::string text(items.c_str(), static_cast<size_t>(items.Length()));
        size_t start = 0;
        while (start < text.size()) {
            size_t end = text.find_first_of(" ()", start);
            if (end == std::string::npos)
                end = text.size();
            const std::string item = text.substr(start, end - start);
            if (item.compare(0, 5, "BODY[") == 0 || item == "RFC822.TEXT")
                return true;
            start = end + 1;
        }
    }
    return false;
}

}  // namespace

void ExtendedSession::OnFetch() {
    // Nothing fetched from a folder opened with EXAMINE marks a message as read; nor does a
    // FETCH that asks for no text: clients list a folder with RFC822.SIZE, and the size alone
    // would otherwise turn every listed message read in the host's store.
    if (!RequireMessageCommand(2, 2))
        return;
    const auto serve = static_cast<ServeFunction>(&ExtendedSession::ServeFetchExtended);
    if (readOnly_ || !ItemsMarkSeen(command_.arguments)) {
        SeenMarksSuppressed quiet;
        WalkSet(*command_.arguments.At(0), serve);
        return;
    }
    WalkSet(*command_.arguments.At(0), serve);
}

// As the standard FETCH answer, with the extended writers taking their items first.
void ExtendedSession::ServeFetchExtended(MessageEntry& entry, int sequence) {
    Send("* ");
    SendNumber(sequence);
    Send(" ");
    Send(command_.word.c_str());
    Send(" (");
    RenderItems(host_, entry, selected_->MailRoot(), selected_->FolderPath(),
                *command_.arguments.At(1), command_.uid, *this, WriteExtendedItem);
    Send(")\r\n");
    selected_->NoteServed(entry);
}

void ExtendedSession::OnStore() {
    if (!RequireMessageCommand(3, 3))
        return;
    if (readOnly_) {
        SendTagged(" NO [READ-ONLY] folder is read-only\r\n");
        return;
    }
    WalkSet(*command_.arguments.At(0),
            static_cast<ServeFunction>(&ExtendedSession::ServeStoreExtended));
}

void ExtendedSession::ServeStoreExtended(MessageEntry& entry, int sequence) {
    if (!UpdateFlagsExtended(host_, entry, selected_->MailRoot(), selected_->FolderPath(),
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

void ExtendedSession::OnAppend() {
    // The flag list is optional (mbsync leaves it out for a message without flags): an empty
    // one stands in for it, so the exact handler finds the literal where it looks.
    if (command_.arguments.Count() == 2)
        command_.arguments.Insert(1, Text("()"));
    // The destination as the exact handler will find it, looked at before the message comes:
    // its lasting UIDVALIDITY and the UIDs it holds. The exact handler answers every refusal.
    Text path;
    if (state_ != NotAuthenticated && user_ != nullptr && mailStore_ != nullptr &&
        command_.arguments.Count() >= 3) {
        path = mailStore_->FindFolder(DecodeName(*command_.arguments.At(0)), UseTitles.load());
    }
    std::vector<uint32_t> before;
    uint32_t validity = 0;
    if (!path.IsEmpty()) {
        Mailbox destination(host_, user_->mailRoot, path);
        destination.OpenIndex(true);
        before = SortedUids(destination);
        validity = destination.UidValidity();
    }
    ImapSession::OnAppend();
    if (completion_ != 1 || path.IsEmpty())
        return;
    Mailbox after(host_, user_->mailRoot, path);
    after.ReadIndex();
    const std::vector<uint32_t> added = NewUids(before, after);
    // A host that has not listed the message yet gives no code, only the completion.
    if (added.empty())
        return;
    SendTagged(" OK [APPENDUID ");
    WriteUnsigned(validity);
    Send(" ");
    WriteUnsigned(added.back());
    Send("] ");
    Send(command_.word.c_str());
    Send(" complated\r\n");
}

void ExtendedSession::OnCopy() {
    if (!RequireState(Selected))
        return;
    if (command_.arguments.Count() != 2) {
        NoArguments();
        return;
    }
    const Text path = ResolveFolder(*command_.arguments.At(1));
    if (path.IsEmpty())
        return;
    std::vector<uint32_t> before;
    uint32_t validity = 0;
    {
        Mailbox destination(host_, user_->mailRoot, path);
        destination.OpenIndex(true);
        before = SortedUids(destination);
        validity = destination.UidValidity();
    }
    // Every message of the set is copied, as clients that move mail (COPY, then STORE
    // \Deleted and EXPUNGE on the same set) rely on.
    copyDestination_ = path;
    copiedUids_.clear();
    WalkSet(*command_.arguments.At(0), static_cast<ServeFunction>(&ExtendedSession::ServeCopy));
    if (copiedUids_.empty())
        return;
    Mailbox after(host_, user_->mailRoot, path);
    after.ReadIndex();
    const std::vector<uint32_t> added = NewUids(before, after);
    // The n-th copy got the n-th new UID: the host numbers new messages upwards. When the
    // counts differ (a copy the host refused, mail arriving meanwhile) the pairs are not
    // known, and no code is given.
    if (added.size() != copiedUids_.size())
        return;
    SendTagged(" OK [COPYUID ");
    WriteUnsigned(validity);
    Send(" ");
    WriteUidList(*this, copiedUids_);
    Send(" ");
    WriteUidList(*this, added);
    Send("] ");
    Send(command_.word.c_str());
    Send(" complated\r\n");
}

void ExtendedSession::ServeCopy(MessageEntry& entry, int sequence) {
    if (selected_->CopyMessage(static_cast<uint32_t>(sequence), 0, copyDestination_) != 0)
        copiedUids_.push_back(entry.uid);
}
