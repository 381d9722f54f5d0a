// ImapSession: the IMAP side of one connection: its parsed command line, state, logged-in
// user, mail store and selected folder, and one handler per command of the command table.
// Handlers write their untagged lines piecewise; Dispatch ends each command with the tagged
// completion line unless the handler wrote its own.
#ifndef ORV_IMAP_IMAP_SESSION_H_
#define ORV_IMAP_IMAP_SESSION_H_

#include "imap/command_line.h"
#include "net/connection.h"
#include "render/output.h"
#include "store/user_table.h"

class HostPort;
class Mailbox;
class MailStore;
struct MessageEntry;

enum SessionState { NotAuthenticated = 0, Authenticated = 1, Selected = 2 };

class ImapSession : public Connection, public Output {
  public:
    // users: the account table LOGIN looks names up in; host: the host of the user's store
    // (neither owned).
    ImapSession(Listener* owner, platform::SocketHandle handle, const UserTable* users,
                HostPort& host);
    ~ImapSession() override;

    void ParseLine(const char* line) override;
    void Dispatch() override;
    void Greet() override;
    void NotImplemented() override;
    int Start() override;
    void Shutdown() override;

    // 1 when the state is required; else answers "BAD State" and returns 0.
    int RequireState(SessionState required);
    // The answer for a missing or wrong number of arguments.
    void NoArguments();
    // Sends the tag followed by text (which ends with CR LF) and clears the completion flag.
    void SendTagged(const char* text);

    virtual void OnCapability();
    virtual void OnLogout();
    virtual void OnNoop();
    virtual void OnLogin();
    virtual void OnAuthenticate();
    virtual void OnSelect();
    virtual void OnExamine();
    virtual void OnCreate();
    virtual void OnDelete();
    virtual void OnRename();
    virtual void OnSubscribe();
    virtual void OnUnsubscribe();
    virtual void OnList(int lsub);
    virtual void OnStatus();
    virtual void OnAppend();
    virtual void OnStore();
    virtual void OnExpunge();
    virtual void OnSearch();
    virtual void OnFetch();
    virtual void OnCopy();
    virtual void OnUid();
    virtual void OnCheck();
    virtual void OnClose();
    virtual void OnIdle();

    SessionState State() const { return state_; }

    // The renderers write through the session's output.
    void Write(const char* data, int len = -1) override { Send(data, len, 0); }
    bool Closing() const override { return IsClosing() != 0; }

    // The largest APPEND literal accepted; 0: no limit.
    void SetMaxAppendSize(uint32_t bytes) { maxAppendSize_ = bytes; }

    // APPEND's literal is received in blocks of this size.
    static constexpr int kAppendBlock = 64 * 1024;

  protected:
    // Mailbox commands need a logged-in user; before LOGIN they answer "BAD State".
    bool RequireLogin();
    // The folder path for a client's mailbox name; answers "NO No such folder." and yields
    // an empty path when the name matches no folder.
    Text ResolveFolder(const Text& clientName);
    // For STATUS, SUBSCRIBE and UNSUBSCRIBE: the login and argument-count checks, then the
    // folder of argument 0. Empty when a check failed (and was answered).
    Text FolderArgument(int count);
    // Writes a folder's name in a LIST or LSUB line: as it is, even when empty or holding a
    // blank (the extended mode quotes such names).
    virtual void SendListName(const Text& name);
    // The six untagged lines of a successful SELECT.
    void SendSelectData(Mailbox& mailbox);
    // SUBSCRIBE (on 1) and UNSUBSCRIBE (on 0).
    void Subscribe(int on);
    // The state and argument-count checks of FETCH, STORE and SEARCH (maximum -1: no limit).
    bool RequireMessageCommand(int minimum, int maximum);
    // Serves every message of a set, in the set's order, until the connection is closing.
    void WalkSet(const Text& set, void (ImapSession::*serve)(MessageEntry&, int));
    void ServeFetch(MessageEntry& entry, int sequence);
    void ServeStore(MessageEntry& entry, int sequence);

    CommandLine command_;
    SessionState state_ = NotAuthenticated;
    int completion_ = 0;
    const UserRecord* user_ = nullptr;
    Mailbox* selected_ = nullptr;
    MailStore* mailStore_ = nullptr;
    const UserTable* users_;
    HostPort& host_;
    uint32_t maxAppendSize_ = 0;
};

#endif  // ORV_IMAP_IMAP_SESSION_H_
