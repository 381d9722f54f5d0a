// STORE and UID STORE: the host changes each message's status word, and the message's flags
// go out in an untagged FETCH. The extended mode also replaces flags (FLAGS without a sign)
// and refuses in a folder opened with EXAMINE.
#include "imap/commands/commands.h"
#include "imap/fetch_message.h"
#include "imap/flag_update.h"
#include "imap/session.h"
#include "store/mailbox.h"

void RunStore(Session& s) {
    if (!s.ArgumentCount(3, 3))
        return;
    if (s.mode == Mode::kExtended && s.readOnly) {
        s.SendTagged(" NO [READ-ONLY] folder is read-only\r\n");
        return;
    }
    Mailbox& folder = *s.selected;
    const Text& item = *s.command.arguments.At(1);
    const Text& flags = *s.command.arguments.At(2);
    const FetchRequest answer(Text("FLAGS"), s.command.uid, s.mode, s.textForm);
    s.WalkSet(*s.command.arguments.At(0), [&](MessageEntry& entry, int sequence) {
        const bool changed =
            UpdateFlags(s.host, entry, folder.MailRoot(), folder.FolderPath(), item, flags, s.mode);
        if (!changed)
            return;
        s.Send("* ");
        s.SendNumber(sequence);
        s.Send(" FETCH (");
        ServeFetchItems(s.host, entry, folder.MailRoot(), folder.FolderPath(), answer, s);
        s.Send(")\r\n");
    });
}
