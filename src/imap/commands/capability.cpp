// CAPABILITY. The exact mode's line is fixed. The extended mode names what its commands add
// (the words of the command table), modification sequences (CONDSTORE, QRESYNC), ENABLE and
// UTF8=ACCEPT once logged in, and, before TLS is on, STARTTLS when a certificate is loaded and
// LOGINDISABLED when LOGIN waits for TLS.
#include <set>
#include <string>

#include "imap/command_table.h"
#include "imap/commands/commands.h"
#include "imap/session.h"

void RunCapability(Session& s) {
    if (s.mode == Mode::kExact) {
        s.Send("* CAPABILITY IMAP4rev1 AUTH=\r\n");
        return;
    }
    std::set<std::string> words;
    for (const CommandSpec* spec = CommandsBegin(); spec != CommandsEnd(); ++spec) {
        if ((spec->modes & kExtendedMode) == 0 || spec->capability == nullptr)
            continue;
        Text rest(spec->capability);
        while (!rest.IsEmpty())
            words.insert(rest.SplitToken(' ').c_str());
    }
    s.Send("* CAPABILITY IMAP4rev1");
    for (const std::string& word : words) {
        s.Send(" ");
        s.Send(word.c_str());
    }
    // Non-synchronizing literals of any size are read (one past a limit is read and dropped).
    s.Send(" LITERAL+");
    // Changes since a modification sequence: FETCH CHANGEDSINCE, STORE UNCHANGEDSINCE, SELECT
    // with QRESYNC, VANISHED.
    s.Send(" CONDSTORE QRESYNC");
    // Once logged in: UTF-8 for the client that asks for it.
    if (s.state != NotAuthenticated)
        s.Send(" ENABLE UTF8=ACCEPT");
    // PLAIN wherever LOGIN is allowed.
    if (s.state == NotAuthenticated && (!s.settings.requireTls || s.channel.TlsActive()))
        s.Send(" AUTH=PLAIN");
    if (!s.channel.TlsActive()) {
        if (s.channel.TlsOffered())
            s.Send(" STARTTLS");
        if (s.settings.requireTls)
            s.Send(" LOGINDISABLED");
    }
    s.Send("\r\n");
}
