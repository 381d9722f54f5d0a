// CREATE, DELETE and RENAME (extended mode): folders are the host's, and it offers no function
// to make, remove or rename one, so each is refused with the code that says so.
#include "imap/commands/commands.h"
#include "imap/session.h"

namespace {

void RefuseFolderChange(Session& s) {
    s.SendTagged(" NO [CANNOT] folders are managed by the mail client\r\n");
}

}  // namespace

void RunCreate(Session& s) {
    RefuseFolderChange(s);
}
void RunDelete(Session& s) {
    RefuseFolderChange(s);
}
void RunRename(Session& s) {
    RefuseFolderChange(s);
}
