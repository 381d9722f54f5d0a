// ImapConnection: an accepted client served by an IMAP session. The connection (transport:
// thread, line assembly, output buffer, TLS) hands each command line to the session, and the
// session reaches the client through the connection's channel.
#ifndef ORV_SHELL_IMAP_CONNECTION_H_
#define ORV_SHELL_IMAP_CONNECTION_H_

#include <string>

#include "imap/client_channel.h"
#include "imap/session.h"
#include "net/connection.h"

class TlsContext;

class ImapConnection : public Connection {
  public:
    // tls: the context STARTTLS uses (null: no STARTTLS); it outlives the connection.
    ImapConnection(Listener* owner, platform::SocketHandle handle, const SessionSettings& settings,
                   const TlsContext* tls);

    int Start() override;
    // The session's limit for its state (a line before LOGIN is held to a small one).
    uint32_t LineLimit() const override;
    void Greet() override;
    void OnLine(const char* line, bool cut) override;
    void OnAnswered() override { session_.RunAfterAnswer(); }
    uint32_t InputTimeoutMs() const override { return session_.InputTimeoutMs(); }
    void OnInputTimeout() override;
    // The server's stop: the goodbye line, after the answer being written.
    void Shutdown() override;
    // The log's lines of TLS started and of the end, with its reason and counts.
    void OnTlsStarted(const std::string& description) override;
    void OnEnd() override;

    Session& session() { return session_; }

  private:
    // The session's view of this connection.
    class Channel : public ClientChannel {
      public:
        Channel(ImapConnection& connection, const TlsContext* tls)
            : connection_(connection), tls_(tls) {}
        int Queue(const char* data, int len) override { return connection_.Send(data, len); }
        int ReadInput(char* buf, int size) override { return connection_.ReadInput(buf, size); }
        bool ReadInputLine(Text* line, uint32_t limit, bool* cut, Text* tail) override {
            return connection_.ReadInputLine(line, limit, cut, tail);
        }
        int WaitForInput(uint32_t timeoutMs) override {
            return connection_.WaitForInput(timeoutMs);
        }
        bool Closing() const override { return connection_.IsClosing() != 0; }
        void EndAfterAnswer() override { connection_.MarkClosing(); }
        bool TlsOffered() const override { return tls_ != nullptr; }
        bool TlsActive() const override { return connection_.TlsActive(); }
        bool StartTls() override { return tls_ != nullptr && connection_.StartTls(*tls_); }

      private:
        ImapConnection& connection_;
        const TlsContext* tls_;
    };

    Channel channel_;
    Session session_;
};

#endif  // ORV_SHELL_IMAP_CONNECTION_H_
