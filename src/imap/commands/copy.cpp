// COPY. The host stores each copy. The exact mode copies only the message of the set's leading
// number (a set such as 2:4 copies message 2); the extended mode copies every message of the
// set, as clients that move mail (COPY, then STORE \Deleted and EXPUNGE on the same set) rely
// on, and answers with the COPYUID code. Either answers OK only when the copies are in the
// destination.
#include <mutex>
#include <vector>

#include "imap/commands/commands.h"
#include "imap/commands/uid_codes.h"
#include "imap/session.h"
#include "store/mailbox.h"

void RunCopy(Session& s) {
    if (s.command.arguments.Count() != 2) {
        s.NoArguments();
        return;
    }
    const Text path = s.ResolveFolder(*s.command.arguments.At(1));
    if (path.IsEmpty())
        return;
    // The folder is held against this server's other APPENDs and COPYs until the copies show,
    // so the new UIDs are this command's.
    const std::lock_guard<std::mutex> hold(FolderAddLock(s.user->mailRoot, path));
    uint32_t validity = 0;
    const std::vector<uint32_t> before = DestinationUids(s, path, &validity);
    std::vector<uint32_t> copied;
    if (s.mode == Mode::kExact) {
        const uint32_t number = s.command.arguments.At(0)->ToNumber();
        if (s.selected->CopyMessage(number, s.command.uid, path) != 0)
            copied.push_back(number);
    } else {
        s.WalkSet(*s.command.arguments.At(0), [&](MessageEntry& entry, int sequence) {
            if (s.selected->CopyMessage(static_cast<uint32_t>(sequence), 0, path) != 0)
                copied.push_back(entry.uid);
        });
    }
    if (copied.empty())
        return;
    // OK only when every copy is in the destination: the host's import says nothing, so its
    // index is read until the copies show there.
    const std::vector<uint32_t> added =
        AwaitNewUids(before, s.host, s.user->mailRoot, path, s.mode, copied.size());
    if (added.size() < copied.size()) {
        RefuseNotStored(s, path, " NO the mail client did not store every copy\r\n");
        return;
    }
    if (s.mode == Mode::kExact)
        return;
    // The n-th copy got the n-th new UID: the host numbers new messages upwards. When the
    // counts differ (a copy the host refused, mail arriving meanwhile) the pairs are not
    // known, and no code is given.
    if (added.size() != copied.size())
        return;
    Text code("[COPYUID ");
    code.AppendNumber(validity);
    code.Append(' ');
    code.Append(UidListText(copied));
    code.Append(' ');
    code.Append(UidListText(added));
    code.Append(']');
    s.Complete(code);
}
