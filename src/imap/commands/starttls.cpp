// STARTTLS (extended mode): the completion goes out in the clear, then the handshake. Without
// a certificate the command stays unknown, as it always was, so it checks its state itself.
#include "imap/commands/commands.h"
#include "imap/session.h"

void RunStartTls(Session& s) {
    if (!s.channel.TlsOffered()) {
        s.NotImplemented();
        return;
    }
    if (s.channel.TlsActive()) {
        s.SendTagged(" BAD TLS is already on\r\n");
        return;
    }
    if (s.state != NotAuthenticated) {
        s.SendTagged(" BAD State ");
        s.Send(s.command.word.c_str());
        s.Send("\r\n");
        return;
    }
    s.SendTagged(" OK Begin TLS negotiation now\r\n");
    // A failed handshake leaves nothing to talk over: the connection ends.
    if (!s.channel.StartTls()) {
        s.SetEndReason("TLS handshake failed");
        s.channel.EndAfterAnswer();
    }
}
