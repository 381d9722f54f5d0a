// CLOSE and UNSELECT (extended mode) leave the selected folder; CLOSE first has the host
// delete the messages marked \Deleted (not in a folder opened with EXAMINE), silently.
#include "imap/commands/commands.h"
#include "imap/session.h"

void RunClose(Session& s) {
    if (!s.readOnly)
        ExpungeDeleted(s, false, nullptr);
    s.Deselect();
}

void RunUnselect(Session& s) {
    s.Deselect();
}
