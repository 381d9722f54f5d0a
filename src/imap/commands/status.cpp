// STATUS: the counts of a folder that need not be selected. In extended mode the folder's
// lasting UIDs give UIDVALIDITY and UIDNEXT, so STATUS reports the values SELECT will; the
// name is echoed as a quoted string when it is no atom, and an item the server does not know
// is refused, so every line follows the grammar. Other answers are the exact mode's.
#include <cstring>
#include <string>

#include "imap/commands/commands.h"
#include "imap/session.h"
#include "store/mailbox.h"

namespace {

const char* const kItems[] = {"MESSAGES",    "RECENT", "UIDNEXT",
                              "UIDVALIDITY", "UNSEEN", "HIGHESTMODSEQ"};

}  // namespace

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
        } else if (word.CompareNoCase("HIGHESTMODSEQ") == 0 &&
                   mailbox.UidMode() == Mode::kExtended) {
            // 0 for a folder without modification sequences.
            out.Append(std::to_string(mailbox.HighestModSeq()).c_str());
        }
        if (rest.IsEmpty())
            break;
    }
    return out;
}

bool KnownStatusItems(const Text& items) {
    Text rest(items);
    bool any = false;
    while (!rest.IsEmpty()) {
        const Text word = rest.SplitToken(' ');
        bool known = false;
        for (const char* item : kItems)
            known = known || word.CompareNoCase(item) == 0;
        if (!known)
            return false;
        any = true;
    }
    return any;
}

namespace {

// "* STATUS name (items)" for the folder at path, the name as the client gave it.
void SendStatus(Session& s, const Text& path) {
    Mailbox mailbox(s.host, s.user->mailRoot, path, s.mode);
    mailbox.OpenIndex();
    s.Send("* ");
    s.Send(s.command.word.c_str());
    s.Send(" ");
    if (s.mode == Mode::kExact)
        s.Send(s.command.arguments.At(0)->c_str());
    else
        s.SendMailboxName(*s.command.arguments.At(0));
    s.Send(" (");
    s.Send(StatusItems(*s.command.arguments.At(1), mailbox).c_str());
    s.Send(")\r\n");
}

}  // namespace

void RunStatus(Session& s) {
    if (s.mode == Mode::kExact) {
        const Text path = s.FolderArgument(2);
        if (!path.IsEmpty())
            SendStatus(s, path);
        return;
    }
    // An item not known is refused before the folder is looked at.
    if (s.command.arguments.Count() == 2 && !KnownStatusItems(*s.command.arguments.At(1))) {
        s.SendTagged(" BAD unknown STATUS item\r\n");
        return;
    }
    const Text path = s.FolderArgument(2);
    if (path.IsEmpty())
        return;
    // Asking for HIGHESTMODSEQ turns modification sequences on.
    Text items(*s.command.arguments.At(1));
    items.MakeUpper();
    if (std::strstr(items.c_str(), "HIGHESTMODSEQ") != nullptr)
        s.condStore = true;
    SendStatus(s, path);
}
