// SELECT and EXAMINE. The exact mode has SELECT only, opens the folder read-write and offers
// "\*" among the permanent flags. The extended mode keeps each folder's UIDVALIDITY from one
// open to the next, opens it read-only for EXAMINE, and names \Flagged and the folder's keywords
// among the flags, with "\*": it keeps them itself (store/folder_flags.h). There a client may
// ask for modification sequences (CONDSTORE) and, having enabled QRESYNC, tell what it knew of
// the folder, to be answered with what changed since: the UIDs removed (VANISHED) and the
// flags of the messages changed or new.
#include <string>
#include <vector>

#include "imap/commands/commands.h"
#include "imap/fetch_message.h"
#include "imap/resync.h"
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
    if (!s.condStore)
        return;
    if (mailbox.HighestModSeq() == 0) {
        s.Send("* OK [NOMODSEQ] No modification sequences here\r\n");
        return;
    }
    s.Send("* OK [HIGHESTMODSEQ ");
    s.WriteUnsigned64(mailbox.HighestModSeq());
    s.Send("] Highest\r\n");
}

// What a client knew of a folder, as SELECT's QRESYNC parameter tells it: its UIDVALIDITY, its
// modification sequence, and optionally the UIDs it knows (the rest, message numbers matched
// with UIDs, only helps a server that forgets removals: it is read and passed over).
struct KnownState {
    uint32_t validity = 0;
    uint64_t modSeq = 0;
    std::vector<MessageRange> uids;
};

// Reads the parameter list of SELECT and EXAMINE after the name: "CONDSTORE" or
// "QRESYNC (validity modseq [uids [(numbers uids)]])". False for anything else.
bool ReadSelectParameters(Session& s, bool* condStore, bool* qresync, KnownState* known) {
    for (int i = 1; i < s.command.arguments.Count(); ++i) {
        Text rest(*s.command.arguments.At(i));
        while (!rest.IsEmpty()) {
            const Text word = rest.SplitArgument();
            if (word.CompareNoCase("CONDSTORE") == 0) {
                *condStore = true;
                continue;
            }
            if (word.CompareNoCase("QRESYNC") != 0 || !s.qresync)
                return false;
            Text list = rest.SplitArgument();
            list.Unbracket();
            const Text validity = list.SplitArgument();
            const Text modSeq = list.SplitArgument();
            const Text uids = list.SplitArgument();
            uint64_t value = 0;
            if (!ReadModSeq(validity, false, &value) || value > UINT32_MAX ||
                !ReadModSeq(modSeq, false, &known->modSeq))
                return false;
            known->validity = static_cast<uint32_t>(value);
            if (uids.IsEmpty())
                known->uids = {{1, UINT32_MAX - 1}};
            else if (!ParseUidSet(uids, UINT32_MAX - 1, &known->uids))
                return false;
            *qresync = true;
        }
    }
    return true;
}

// After a SELECT with QRESYNC of a folder whose UIDVALIDITY the client knew: the UIDs it knew
// that were removed since, then UID, flags and modification sequence of each message changed or
// new since.
void SendChangesSince(Session& s, const KnownState& known) {
    Mailbox& folder = *s.selected;
    if (known.validity != folder.UidValidity() || folder.HighestModSeq() == 0)
        return;
    SendVanished(s, VanishedUids(s, known.modSeq, known.uids), true);
    const FetchRequest items(Text("UID FLAGS MODSEQ"), 0, s.mode, s.textForm);
    MessageIndex& index = folder.Index();
    MessageEntry peeked;
    for (int i = 0; i < index.Count() && !s.Closing(); ++i) {
        if (index.ModSeqAt(i) <= known.modSeq)
            continue;
        // Flags and the modification sequence need no entry: a made one holds kept flags.
        MessageEntry* entry = index.IsMade(i) ? index.At(i) : &peeked;
        if (entry == &peeked)
            index.Peek(i, &peeked);
        s.Send("* ");
        s.SendNumber(i + 1);
        s.Send(" FETCH (");
        FetchedMessage m(*entry);
        WriteFetchItems(items, m, s);
        s.Send(")\r\n");
    }
}

void Open(Session& s, bool readOnly) {
    if (s.command.arguments.Count() < 1) {
        s.NoArguments();
        return;
    }
    bool condStore = false;
    bool qresync = false;
    KnownState known;
    if (s.mode == Mode::kExtended && !ReadSelectParameters(s, &condStore, &qresync, &known)) {
        s.SendTagged(" BAD invalid SELECT parameters\r\n");
        return;
    }
    // A client that resynchronises learns here that the folder it had open is closed: what
    // follows is of the new one.
    if (s.qresync && s.state == Selected)
        s.Send("* OK [CLOSED] Previous folder closed\r\n");
    const Text path = s.ResolveFolder(*s.command.arguments.At(0));
    if (path.IsEmpty())
        return;
    s.condStore = s.condStore || condStore;
    s.selected.reset(new Mailbox(s.host, s.user->mailRoot, path, s.mode));
    s.selected->OpenIndex();
    if (s.mode == Mode::kExtended)
        s.readOnly = readOnly;
    SendSelectData(s, *s.selected);
    if (qresync)
        SendChangesSince(s, known);
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
