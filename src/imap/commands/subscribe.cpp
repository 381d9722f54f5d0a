// SUBSCRIBE and UNSUBSCRIBE: the folder's mark in its own settings, which LSUB reads.
#include "imap/commands/commands.h"
#include "imap/session.h"
#include "store/mailbox.h"

namespace {

void Subscribe(Session& s, int on) {
    const Text path = s.FolderArgument(1);
    if (path.IsEmpty())
        return;
    Mailbox mailbox(s.host, s.user->mailRoot, path);
    mailbox.SetSubscribed(on);
}

}  // namespace

void RunSubscribe(Session& s) {
    Subscribe(s, 1);
}
void RunUnsubscribe(Session& s) {
    Subscribe(s, 0);
}
