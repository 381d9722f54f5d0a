// STATUS: the counts of a folder that need not be selected. In extended mode the folder gets
// its lasting UIDVALIDITY first, so STATUS reports the value SELECT will; every answer,
// refusals included, is the exact mode's.
#include "imap/commands/commands.h"
#include "imap/session.h"
#include "store/mail_store.h"
#include "store/mailbox.h"
#include "store/name_codec.h"
#include "store/settings.h"

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

// Extended mode: writes the folder's lasting UIDVALIDITY when it has none yet.
void KeepUidValidity(Session& s) {
    if (s.command.arguments.Count() != 2)
        return;
    const Text path = s.store->FindFolder(DecodeName(*s.command.arguments.At(0)), UseTitles.load());
    if (path.IsEmpty())
        return;
    Mailbox folder(s.host, s.user->mailRoot, path);
    folder.KeepUidValidity();
}

}  // namespace

void RunStatus(Session& s) {
    if (s.mode == Mode::kExtended)
        KeepUidValidity(s);
    const Text path = s.FolderArgument(2);
    if (path.IsEmpty())
        return;
    Mailbox mailbox(s.host, s.user->mailRoot, path);
    mailbox.OpenIndex();
    s.Send("* ");
    s.Send(s.command.word.c_str());
    s.Send(" ");
    s.Send(s.command.arguments.At(0)->c_str());
    s.Send(" (");
    s.Send(StatusItems(*s.command.arguments.At(1), mailbox).c_str());
    s.Send(")\r\n");
}
