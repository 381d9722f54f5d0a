// ID and NAMESPACE (extended mode): what clients ask of a server they meet. ID names this
// server whatever the client tells of itself; NAMESPACE has one personal namespace, the
// user's folder tree, with "/" between names, and no others.
#include "imap/commands/commands.h"
#include "imap/session.h"

void RunId(Session& s) {
    if (s.command.arguments.Count() != 1) {
        s.NoArguments();
        return;
    }
    s.Send("* ID (\"name\" \"OrvImapS\")\r\n");
}

void RunNamespace(Session& s) {
    if (s.command.arguments.Count() != 0) {
        s.NoArguments();
        return;
    }
    s.Send("* NAMESPACE ((\"\" \"/\")) NIL NIL\r\n");
}
