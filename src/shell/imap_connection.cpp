#include "shell/imap_connection.h"

#include <string>

#include "store/settings.h"

ImapConnection::ImapConnection(Listener* owner, platform::SocketHandle handle,
                               const SessionSettings& settings, const TlsContext* tls)
    : Connection(owner, handle), channel_(*this, tls), session_(channel_, settings) {}

int ImapConnection::Start() {
    // The folder-name mode is read when each connection starts.
    RefreshUseTitles(session_.host);
    return Connection::Start();
}

uint32_t ImapConnection::LineLimit() const {
    return session_.CommandLimit();
}

void ImapConnection::Greet() {
    session_.Greet();
}

void ImapConnection::OnLine(const char* line, bool cut) {
    if (cut) {
        session_.RunOverlongLine(line);
        return;
    }
    session_.RunLine(line);
    if (IsClosing())
        Close();
}

void ImapConnection::OnInputTimeout() {
    session_.SetEndReason("timeout");
    Send(Session::kTimeoutLine);
    MarkClosing();
}

void ImapConnection::Shutdown() {
    session_.SetEndReason("stop");
    Send(Session::kStopLine);
    MarkClosing();
}

void ImapConnection::OnTlsStarted(const std::string& description) {
    session_.Log("TLS started: " + description);
}

void ImapConnection::OnEnd() {
    const char* reason = session_.endReason.load();
    session_.Log(std::string("disconnected: ") + (reason != nullptr ? reason : "client closed") +
                 "; " + std::to_string(session_.commandCount) + " commands, " +
                 std::to_string(BytesIn()) + " bytes in, " + std::to_string(BytesOut()) +
                 " bytes out");
    Connection::OnEnd();
}
