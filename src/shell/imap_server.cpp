#include "shell/imap_server.h"

#include "imap/imap_session.h"
#include "shell/settings.h"

Connection* ImapServer::CreateSession(Socket& accepted) {
    ImapSession* session = new ImapSession(this, accepted.Handle(), users_);
    accepted.SetHandle(platform::kInvalidSocket);
    return session;
}

int ImapServer::StartFromSettings() {
    uint16_t port = ReadPortNo();
    if (Handle() != platform::kInvalidSocket)
        return 0;
    LoadPasswordFile(PasswordFilePath().c_str(), users_);
    return StartListening(port);
}
