// LOGOUT: the goodbye, then the connection ends once the completion is out.
#include "imap/commands/commands.h"
#include "imap/session.h"

void RunLogout(Session& s) {
    s.Send("* BYE Orvex IMAP4rev1 Server logging out\r\n");
    s.SetEndReason("logout");
    s.channel.EndAfterAnswer();
    s.state = NotAuthenticated;
}
