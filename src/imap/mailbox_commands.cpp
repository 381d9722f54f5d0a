// The commands that work on mailboxes as a whole: SELECT, LIST, LSUB, STATUS, SUBSCRIBE and
// UNSUBSCRIBE. A client's mailbox name is decoded from modified UTF-7 and resolved against the
// folder tree read at LOGIN.
#include "imap/imap_session.h"
#include "store/mail_store.h"
#include "store/mailbox.h"
#include "store/name_codec.h"
#include "store/settings.h"

bool ImapSession::RequireLogin() {
    if (state_ != NotAuthenticated && user_ != nullptr && mailStore_ != nullptr)
        return true;
    RequireState(Authenticated);
    return false;
}

Text ImapSession::ResolveFolder(const Text& clientName) {
    Text path = mailStore_->FindFolder(DecodeName(clientName), UseTitles.load());
    if (path.IsEmpty())
        SendTagged(" NO No such folder.\r\n");
    return path;
}

void ImapSession::SendSelectData(Mailbox& mailbox) {
    Send("* ");
    SendNumber(mailbox.Index().Count());
    Send(" EXISTS\r\n* ");
    SendNumber(mailbox.RecentCount());
    Send(" RECENT\r\n* OK [UIDVALIDITY ");
    SendNumber(static_cast<int32_t>(mailbox.UidValidity()));
    Send("] UIDs valid\r\n* OK [UIDNEXT ");
    SendNumber(static_cast<int32_t>(mailbox.UidNext()));
    Send("] Predicted next UID\r\n");
    Send("* FLAGS (\\Answered \\Deleted \\Draft \\Seen)\r\n");
    Send("* OK [PERMANENTFLAGS (\\* \\Answered \\Deleted \\Draft \\Seen)] Permanent flags\r\n");
}

void ImapSession::OnSelect() {
    if (!RequireLogin())
        return;
    if (command_.arguments.Count() < 1) {
        NoArguments();
        return;
    }
    Text path = ResolveFolder(*command_.arguments.At(0));
    if (path.IsEmpty())
        return;
    delete selected_;
    selected_ = new Mailbox(host_, user_->mailRoot, path);
    selected_->OpenIndex();
    SendSelectData(*selected_);
    SendTagged(" OK [READ-WRITE] ");
    Send(command_.word.c_str());
    Send(" complated\r\n");
    state_ = Selected;
}

void ImapSession::SendListName(const Text& name) {
    Send(name.c_str());
}

void ImapSession::OnList(int lsub) {
    if (!RequireState(Authenticated))
        return;
    if (command_.arguments.Count() != 2) {
        NoArguments();
        return;
    }
    Text reference = DecodeName(*command_.arguments.At(0));
    Text pattern = DecodeName(*command_.arguments.At(1));
    if (pattern.IsEmpty()) {
        Send("* ");
        Send(command_.word.c_str());
        Send(" (\\Noselect) \"/\" \"\"\r\n");
        return;
    }
    MailStore store(host_, user_->mailRoot);
    store.Load(reference, pattern, lsub);
    int useTitles = UseTitles.load();
    for (int i = 0; i < store.Count(); ++i) {
        Send("* ");
        Send(command_.word.c_str());
        Send(" (\\Noinferiors) \"/\" ");
        SendListName(store.NameAt(i, useTitles));
        Send("\r\n");
        if (IsClosing())
            break;
    }
}

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

Text ImapSession::FolderArgument(int count) {
    if (!RequireLogin())
        return Text("");
    if (command_.arguments.Count() != count) {
        NoArguments();
        return Text("");
    }
    return ResolveFolder(*command_.arguments.At(0));
}

void ImapSession::OnStatus() {
    Text path = FolderArgument(2);
    if (path.IsEmpty())
        return;
    Mailbox mailbox(host_, user_->mailRoot, path);
    mailbox.OpenIndex();
    Send("* ");
    Send(command_.word.c_str());
    Send(" ");
    Send(command_.arguments.At(0)->c_str());
    Send(" (");
    Send(StatusItems(*command_.arguments.At(1), mailbox).c_str());
    Send(")\r\n");
}

void ImapSession::Subscribe(int on) {
    Text path = FolderArgument(1);
    if (path.IsEmpty())
        return;
    Mailbox mailbox(host_, user_->mailRoot, path);
    mailbox.SetSubscribed(on);
}

void ImapSession::OnSubscribe() {
    Subscribe(1);
}
void ImapSession::OnUnsubscribe() {
    Subscribe(0);
}
