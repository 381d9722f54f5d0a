// SELECT and EXAMINE. The exact mode has SELECT only, opens the folder read-write and offers
// "\*" among the permanent flags. The extended mode keeps each folder's UIDVALIDITY from one
// open to the next, opens it read-only for EXAMINE, and names \Flagged and the folder's keywords
// among the flags, with "\*": it keeps them itself (store/folder_flags.h).
#include "imap/commands/commands.h"
#include "imap/session.h"
#include "store/folder_flags.h"
#include "store/mailbox.h"

namespace {

// The six untagged lines of a successful open.
void SendSelectData(Session& s, Mailbox& mailbox) {
    s.Send("* ");
    s.SendNumber(mailbox.Index().Count());
    s.Send(" EXISTS\r\n* ");
    s.SendNumber(mailbox.RecentCount());
    s.Send(" RECENT\r\n* OK [UIDVALIDITY ");
    s.SendNumber(static_cast<int32_t>(mailbox.UidValidity()));
    s.Send("] UIDs valid\r\n* OK [UIDNEXT ");
    s.SendNumber(static_cast<int32_t>(mailbox.UidNext()));
    s.Send("] Predicted next UID\r\n");
    if (s.mode == Mode::kExact) {
        s.Send("* FLAGS (\\Answered \\Deleted \\Draft \\Seen)\r\n");
        s.Send(
            "* OK [PERMANENTFLAGS (\\* \\Answered \\Deleted \\Draft \\Seen)] Permanent flags\r\n");
        return;
    }
    s.keywords.clear();
    FolderFlags* kept = FolderFlags::Of(s.host, mailbox.MailRoot(), mailbox.FolderPath());
    if (kept != nullptr)
        s.keywords = kept->Keywords(mailbox.UidValidity());
    const Text names = s.FlagNames();
    s.Send("* FLAGS (");
    s.Send(names.c_str());
    s.Send(")\r\n* OK [PERMANENTFLAGS (\\* ");
    s.Send(names.c_str());
    s.Send(")] Permanent flags\r\n");
}

void Open(Session& s, bool readOnly) {
    if (s.command.arguments.Count() < 1) {
        s.NoArguments();
        return;
    }
    const Text path = s.ResolveFolder(*s.command.arguments.At(0));
    if (path.IsEmpty())
        return;
    s.selected.reset(new Mailbox(s.host, s.user->mailRoot, path, s.mode));
    s.selected->OpenIndex();
    if (s.mode == Mode::kExtended)
        s.readOnly = readOnly;
    SendSelectData(s, *s.selected);
    s.Complete(Text(readOnly ? "[READ-ONLY]" : "[READ-WRITE]"));
    s.state = Selected;
}

}  // namespace

void RunSelect(Session& s) {
    Open(s, false);
}

void RunExamine(Session& s) {
    Open(s, true);
}
