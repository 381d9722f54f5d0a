// STARTTLS, and LOGIN refused on a connection without TLS when the server requires it.
#include "imap/extended_session.h"

void ExtendedSession::OnStartTls() {
    // Without a certificate the command stays unknown, as it always was.
    if (tlsContext_ == nullptr) {
        ImapSession::NotImplemented();
        return;
    }
    if (TlsActive()) {
        SendTagged(" BAD TLS is already on\r\n");
        return;
    }
    if (!RequireState(NotAuthenticated))
        return;
    SendTagged(" OK Begin TLS negotiation now\r\n");
    // A failed handshake leaves nothing to talk over: the connection ends.
    if (!StartTls(*tlsContext_))
        closing_.store(1);
}

void ExtendedSession::OnLogin() {
    if (requireTls_ && !TlsActive()) {
        SendTagged(" NO [PRIVACYREQUIRED] LOGIN is allowed over TLS only\r\n");
        return;
    }
    ImapSession::OnLogin();
}
