// NOOP and CHECK. The exact mode's NOOP does nothing; in extended mode both report what the
// host changed in the selected folder since the client last heard of it.
#include "imap/commands/commands.h"
#include "imap/session.h"

void RunNoop(Session& s) {
    if (s.mode == Mode::kExact)
        return;
    s.ReportChanges();
}

void RunCheck(Session& s) {
    s.ReportChanges();
}
