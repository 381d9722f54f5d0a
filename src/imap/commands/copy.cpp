// COPY and MOVE. The host stores each copy. The exact mode copies only the message of the set's
// leading number (a set such as 2:4 copies message 2), unread. The extended mode copies every
// message of the set, as clients that move mail (COPY, then STORE \Deleted and EXPUNGE on the
// same set) rely on, with its flags: the host's from the source's status word, \Flagged and
// keywords into the destination's kept flags once the copies' UIDs are known; it answers with
// the COPYUID code. Either answers OK only when the copies are in the destination. MOVE
// (extended mode only) copies so, then has the host delete the originals: a message is always
// in one of the two folders at least.
#include <mutex>
#include <vector>

#include "imap/commands/commands.h"
#include "imap/commands/uid_codes.h"
#include "imap/session.h"
#include "store/folder_flags.h"
#include "store/mailbox.h"

namespace {

void CopyExact(Session& s, const Text& path) {
    // The folder is held against this server's other APPENDs and COPYs until the copy shows,
    // so the new UID is this command's.
    const std::lock_guard<std::mutex> hold(FolderAddLock(s.user->mailRoot, path));
    uint32_t validity = 0;
    const std::vector<uint32_t> before = DestinationUids(s, path, &validity);
    const uint32_t number = s.command.arguments.At(0)->ToNumber();
    if (s.selected->CopyMessage(number, s.command.uid, path) == 0)
        return;
    // OK only when the copy is in the destination: the host's import says nothing, so its
    // index is read until the copy shows there.
    const std::vector<uint32_t> added =
        AwaitNewUids(before, s.host, s.user->mailRoot, path, s.mode, 1);
    if (added.empty())
        RefuseNotStored(s, path, " NO the mail client did not store every copy\r\n");
}

// The bits of the host's status word a copy takes from its source.
constexpr uint32_t kCopiedStatus = StatusUnread | StatusAnswered | StatusDraft | StatusDeleted;

// What an extended copy of a set did.
struct CopiedSet {
    uint32_t validity = 0;               // the destination's UIDVALIDITY
    std::vector<MessageEntry*> sources;  // the entries copied, in the set's order
    std::vector<uint32_t> sourceUids;
    // The copies' UIDs, the n-th of the n-th source; empty when the pairs are not known.
    std::vector<uint32_t> copyUids;
};

// Gives each copy the kept flags of its source.
void CarryKeptFlags(Session& s, const Text& path, const CopiedSet& copied) {
    Mailbox& source = *s.selected;
    FolderFlags* from = FolderFlags::Of(s.host, source.MailRoot(), source.FolderPath());
    FolderFlags* to = FolderFlags::Of(s.host, s.user->mailRoot, path);
    if (from == nullptr || to == nullptr)
        return;
    bool changed = false;
    for (size_t i = 0; i < copied.copyUids.size(); ++i) {
        const std::string flags = from->FlagsOf(source.UidValidity(), copied.sourceUids[i]);
        if (flags.empty())
            continue;
        to->Change(copied.validity, copied.copyUids[i], FlagChange::kReplace, SplitFlagText(flags));
        changed = true;
    }
    // A record that cannot be written keeps the flags while the host program runs.
    if (changed)
        to->Save();
}

// Copies the set of argument 0 into the folder path. False when the command was answered (the
// copies did not all show in the destination).
bool CopySet(Session& s, const Text& path, CopiedSet* copied) {
    // The folder is held against this server's other APPENDs and COPYs until the copies show,
    // so the new UIDs are this command's.
    const std::lock_guard<std::mutex> hold(FolderAddLock(s.user->mailRoot, path));
    const std::vector<uint32_t> before = DestinationUids(s, path, &copied->validity);
    s.WalkSet(*s.command.arguments.At(0), [&](MessageEntry& entry, int sequence) {
        if (s.selected->CopyMessage(static_cast<uint32_t>(sequence), 0, path,
                                    entry.status & kCopiedStatus) != 0) {
            copied->sources.push_back(&entry);
            copied->sourceUids.push_back(entry.uid);
        }
    });
    if (copied->sources.empty())
        return true;
    const std::vector<uint32_t> added =
        AwaitNewUids(before, s.host, s.user->mailRoot, path, s.mode, copied->sources.size());
    if (added.size() < copied->sources.size()) {
        RefuseNotStored(s, path, " NO the mail client did not store every copy\r\n");
        return false;
    }
    // The n-th copy got the n-th new UID: the host numbers new messages upwards. When the
    // counts differ (a copy the host refused, mail arriving meanwhile) the pairs are not known.
    if (added.size() == copied->sources.size()) {
        copied->copyUids = added;
        CarryKeptFlags(s, path, *copied);
    }
    return true;
}

Text CopyUidCode(const CopiedSet& copied) {
    Text code("[COPYUID ");
    code.AppendNumber(copied.validity);
    code.Append(' ');
    code.Append(UidListText(copied.sourceUids));
    code.Append(' ');
    code.Append(UidListText(copied.copyUids));
    code.Append(']');
    return code;
}

}  // namespace

void RunCopy(Session& s) {
    if (s.command.arguments.Count() != 2) {
        s.NoArguments();
        return;
    }
    const Text path = s.ResolveFolder(*s.command.arguments.At(1));
    if (path.IsEmpty())
        return;
    if (s.mode == Mode::kExact) {
        CopyExact(s, path);
        return;
    }
    CopiedSet copied;
    if (!CopySet(s, path, &copied) || copied.copyUids.empty())
        return;
    s.Complete(CopyUidCode(copied));
}

void RunMove(Session& s) {
    if (s.command.arguments.Count() != 2) {
        s.NoArguments();
        return;
    }
    if (s.readOnly) {
        s.SendTagged(" NO [READ-ONLY] folder is read-only\r\n");
        return;
    }
    const Text path = s.ResolveFolder(*s.command.arguments.At(1));
    if (path.IsEmpty())
        return;
    CopiedSet copied;
    if (!CopySet(s, path, &copied) || copied.sources.empty())
        return;
    // An original is deleted only once its copy is known to be stored.
    if (copied.copyUids.empty()) {
        s.SendTagged(" NO the copies are stored, but not known one by one: the originals stay\r\n");
        return;
    }
    s.Send("* OK ");
    s.Send(CopyUidCode(copied).c_str());
    s.Send(" copies stored\r\n");
    const std::vector<const MessageEntry*> originals(copied.sources.begin(), copied.sources.end());
    if (DeleteMessages(s, originals, true) != 0)
        s.SendTagged(" NO the mail client did not delete every original; their copies stay\r\n");
}
