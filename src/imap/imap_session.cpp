#include "imap/imap_session.h"

#include "store/mail_store.h"
#include "store/mailbox.h"
#include "store/settings.h"

ImapSession::ImapSession(Listener* owner, platform::SocketHandle handle, const UserTable* users,
                         HostPort& host)
    : Connection(owner, handle), users_(users), host_(host) {}

ImapSession::~ImapSession() {
    delete selected_;
    delete mailStore_;
}

void ImapSession::ParseLine(const char* line) {
    command_.Parse(line);
}

void ImapSession::Dispatch() {
    completion_ = 1;
    switch (command_.id) {
        case kCapability:
            OnCapability();
            break;
        case kLogout:
            OnLogout();
            break;
        case kNoop:
            OnNoop();
            break;
        case kLogin:
            OnLogin();
            break;
        case kAuthenticate:
            OnAuthenticate();
            break;
        case kSelect:
            OnSelect();
            break;
        case kExamine:
            OnExamine();
            break;
        case kCreate:
            OnCreate();
            break;
        case kDelete:
            OnDelete();
            break;
        case kRename:
            OnRename();
            break;
        case kSubscribe:
            OnSubscribe();
            break;
        case kUnsubscribe:
            OnUnsubscribe();
            break;
        case kList:
            OnList(0);
            break;
        case kLsub:
            OnList(1);
            break;
        case kStatus:
            OnStatus();
            break;
        case kAppend:
            OnAppend();
            break;
        case kStore:
            OnStore();
            break;
        case kExpunge:
            OnExpunge();
            break;
        case kSearch:
            OnSearch();
            break;
        case kFetch:
            OnFetch();
            break;
        case kCopy:
            OnCopy();
            break;
        case kUid:
            OnUid();
            break;
        case kCheck:
            OnCheck();
            break;
        case kClose:
            OnClose();
            break;
        case kIdle:
            OnIdle();
            break;
        default:
            NotImplemented();
            break;
    }
    if (completion_ == 1) {
        Send(command_.tag.c_str());
        Send(" OK ");
        Send(command_.word.c_str());
        Send(" complated\r\n");
    }
    if (IsClosing())
        Close();
}

void ImapSession::NotImplemented() {
    Send(command_.tag.c_str());
    Send(" BAD Command Not impremented ");
    Send(command_.word.c_str());
    Send("\r\n");
    completion_ = 0;
}

int ImapSession::RequireState(SessionState required) {
    if (state_ == required)
        return 1;
    Send(command_.tag.c_str());
    Send(" BAD State ");
    Send(command_.word.c_str());
    Send("\r\n");
    completion_ = 0;
    return 0;
}

void ImapSession::SendTagged(const char* text) {
    Send(command_.tag.c_str());
    Send(text);
    completion_ = 0;
}

void ImapSession::NoArguments() {
    SendTagged(" NO please give arguments\r\n");
}

void ImapSession::Greet() {
    Send("* OK Orvex IMAP4rev1 server ready\r\n");
}

void ImapSession::Shutdown() {
    Send("* BYE IMAP4rev1 Server logging out\r\n");
    closing_.store(1);
}

int ImapSession::Start() {
    RefreshUseTitles(host_);
    return Connection::Start();
}

// Commands without a handler of their own.
void ImapSession::OnAuthenticate() {
    NotImplemented();
}
void ImapSession::OnExamine() {
    NotImplemented();
}
void ImapSession::OnCreate() {
    NotImplemented();
}
void ImapSession::OnDelete() {
    NotImplemented();
}
void ImapSession::OnRename() {
    NotImplemented();
}
void ImapSession::OnExpunge() {
    NotImplemented();
}
void ImapSession::OnUid() {
    NotImplemented();
}
void ImapSession::OnCheck() {
    NotImplemented();
}
void ImapSession::OnClose() {
    NotImplemented();
}
