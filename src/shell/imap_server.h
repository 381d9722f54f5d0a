// ImapServer: the one process-wide server object. Its connections are IMAP sessions that look
// users up in the account table it fills at start-up. With a certificate in the settings it
// offers STARTTLS in extended mode and may listen on a second port that speaks TLS at once.
#ifndef ORV_SHELL_IMAP_SERVER_H_
#define ORV_SHELL_IMAP_SERVER_H_

#include <memory>

#include "net/listener.h"
#include "store/host_port.h"
#include "store/settings.h"
#include "store/user_table.h"

class TlsContext;

class ImapServer : public Listener {
  public:
    // users: the process-wide account table; host: the host whose mailbox directory holds the
    // settings, the account file and the users' mail, handed to every session (neither owned).
    ImapServer(UserTable* users, HostPort& host);
    ~ImapServer() override;

    Connection* CreateSession(Socket& accepted) override;
    // Reads the port from the settings, reads the account file into the user table (in place
    // of the users of an earlier start), sets up TLS and starts listening. 1 when listening on
    // the main port (a TLS port that cannot be opened is reported and left out). A server that
    // is already listening returns 0 at once and does not load the users again.
    int StartFromSettings();
    // Stops both ports, saying goodbye to the connections of both at the same time.
    int Stop() override;

  private:
    class TlsPort;
    // A session for an accepted socket, listed by owner; implicitTls: accepted on the TLS port.
    Connection* MakeSession(Listener* owner, Socket& accepted, bool implicitTls);
    // Builds the TLS context from the settings. A certificate or key that cannot be used is
    // reported on the standard error and leaves TLS off.
    void LoadTls(const TlsSettings& settings);

    UserTable* users_;
    HostPort& host_;
    std::unique_ptr<TlsContext> tls_;  // null: no TLS
    bool requireTls_ = false;
    std::unique_ptr<Listener> tlsPort_;
};

#endif  // ORV_SHELL_IMAP_SERVER_H_
