#include "shell/imap_server.h"

#include "imap/extended_session.h"
#include "imap/imap_session.h"
#include "net/connection.h"
#include "shell/settings.h"

Connection* ImapServer::CreateSession(Socket& accepted) {
    ServerLimits limits = ReadLimits();
    if (limits.maxConnections != 0 &&
        static_cast<uint32_t>(LiveConnectionCount.load()) >= limits.maxConnections) {
        // One connection too many: told goodbye and closed at once.
        accepted.Send("* BYE IMAP4rev1 Server logging out\r\n");
        accepted.Close();
        return nullptr;
    }
    // The mode is read when the connection starts, like the folder-name mode.
    ImapSession* session = ReadExtended() != 0
                               ? new ExtendedSession(this, accepted.Handle(), users_)
                               : new ImapSession(this, accepted.Handle(), users_);
    accepted.SetHandle(platform::kInvalidSocket);
    session->SetMaxLineLength(limits.maxLineLength);
    session->SetMaxAppendSize(limits.maxAppendSize);
    return session;
}

int ImapServer::StartFromSettings() {
    uint16_t port = ReadPortNo();
    if (Handle() != platform::kInvalidSocket)
        return 0;
    LoadPasswordFile(PasswordFilePath().c_str(), users_);
    return StartListening(port, ReadBacklog());
}
