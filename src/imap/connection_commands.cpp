// The commands that concern the connection rather than a mailbox: CAPABILITY, NOOP, LOGOUT,
// LOGIN and IDLE.
#include "imap/imap_session.h"
#include "store/mail_store.h"
#include "store/password.h"

void ImapSession::OnCapability() {
    Send("* CAPABILITY IMAP4rev1 AUTH=\r\n");
}

void ImapSession::OnNoop() {}

void ImapSession::OnLogout() {
    Send("* BYE Orvex IMAP4rev1 Server logging out\r\n");
    closing_.store(1);
    state_ = NotAuthenticated;
}

void ImapSession::OnLogin() {
    if (command_.arguments.Count() != 2) {
        SendTagged(" BAD invalid username\r\n");
        return;
    }
    const Text& name = *command_.arguments.At(0);
    const Text& password = *command_.arguments.At(1);
    const UserRecord* user = users_ != nullptr ? FindUser(*users_, name) : nullptr;
    if (user == nullptr || !VerifyPassword(*user, password)) {
        SendTagged(" NO username or password is incorrect\r\n");
        return;
    }
    delete mailStore_;
    mailStore_ = new MailStore(host_, user->mailRoot);
    mailStore_->Load(Text(""), Text("*"), 0);
    user_ = user;
    state_ = Authenticated;
}

void ImapSession::OnIdle() {
    Send("+ idling\r\n");
    // Idling ends at a line DONE (any letter case); whatever follows it is assembled as the
    // next commands. A failed connection ends it as well.
    Text line;
    while (ReadInputLine(&line)) {
        if (line.CompareNoCase("DONE") == 0)
            break;
    }
}
