// STATUS: the counts of a folder that need not be selected. In extended mode the folder's
// lasting UIDs give UIDVALIDITY and UIDNEXT, so STATUS reports the values SELECT will; every
// answer, refusals included, is the exact mode's.
#include "imap/commands/commands.h"
#include "imap/session.h"
#include "store/mailbox.h"

namespace {

// The STATUS item text: each word of the client's list in its own spelling, a blank, and the
// value for the words known; an unknown word keeps its blank and gets no value.
Text StatusItems(const Text& items, const Mailbox& mailbox) {
    Text out;
    Text rest(items);
    bool first = true;
    for (;;) {
        Text word = rest.SplitToken(' ');
        if (word.IsEmpty() && rest.IsEmpty())
            break;
        if (!first)
            out.Append(' ');
        first = false;
        out.Append(word);
        out.Append(' ');
        if (word.CompareNoCase("MESSAGES") == 0) {
            out.AppendNumber(static_cast<uint32_t>(mailbox.Index().Count()));
        } else if (word.CompareNoCase("RECENT") == 0) {
            out.AppendNumber(static_cast<uint32_t>(mailbox.RecentCount()));
        } else if (word.CompareNoCase("UIDNEXT") == 0) {
            out.AppendNumber(mailbox.UidNext());
        } else if (word.CompareNoCase("UIDVALIDITY") == 0) {
            out.AppendNumber(mailbox.UidValidity());
        } else if (word.CompareNoCase("UNSEEN") == 0) {
            out.AppendNumber(static_cast<uint32_t>(mailbox.UnseenCount()));
        }
        if (rest.IsEmpty())
            break;
    }
    return out;
}

}  // namespace

void RunStatus(Session& s) {
    const Text path = s.FolderArgument(2);
    if (path.IsEmpty())
        return;
    Mailbox mailbox(s.host, s.user->mailRoot, path, s.mode);
    mailbox.OpenIndex();
    s.Send("* ");
    s.Send(s.command.word.c_str());
    s.Send(" ");
    s.Send(s.command.arguments.At(0)->c_str());
    s.Send(" (");
    s.Send(StatusItems(*s.command.arguments.At(1), mailbox).c_str());
    s.Send(")\r\n");
}
