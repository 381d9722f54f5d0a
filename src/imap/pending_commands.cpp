// Mailbox and message commands whose handlers are not built yet: each answers as not
// implemented, except that those which need a logged-in user first refuse the wrong state.
#include "imap/imap_session.h"

namespace {
bool NeedsLogin(ImapSession* session) {
    return session->State() == NotAuthenticated ? !session->RequireState(Authenticated) : false;
}
}  // namespace

void ImapSession::OnSelect() {
    if (!NeedsLogin(this))
        NotImplemented();
}
void ImapSession::OnSubscribe() {
    if (!NeedsLogin(this))
        NotImplemented();
}
void ImapSession::OnUnsubscribe() {
    if (!NeedsLogin(this))
        NotImplemented();
}
void ImapSession::OnStatus() {
    if (!NeedsLogin(this))
        NotImplemented();
}
void ImapSession::OnAppend() {
    if (!NeedsLogin(this))
        NotImplemented();
}
void ImapSession::OnList(int lsub) {
    (void)lsub;
    NotImplemented();
}
void ImapSession::OnCopy() {
    NotImplemented();
}
void ImapSession::OnStore() {
    NotImplemented();
}
void ImapSession::OnSearch() {
    NotImplemented();
}
void ImapSession::OnFetch() {
    NotImplemented();
}
