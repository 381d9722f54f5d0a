// ImapServer: the one process-wide server object. Its connections are IMAP sessions that look
// users up in the account table it fills at start-up.
#ifndef ORV_SHELL_IMAP_SERVER_H_
#define ORV_SHELL_IMAP_SERVER_H_

#include "net/listener.h"
#include "shell/user_table.h"

class ImapServer : public Listener {
  public:
    // users: the process-wide account table (not owned).
    explicit ImapServer(UserTable* users) : users_(users) {}

    Connection* CreateSession(Socket& accepted) override;
    // Reads the port from the settings, loads the account file into the user table and starts
    // listening. 1 when listening. A server that is already listening returns 0 at once and
    // does not load the users again.
    int StartFromSettings();

  private:
    UserTable* users_;
};

#endif  // ORV_SHELL_IMAP_SERVER_H_
