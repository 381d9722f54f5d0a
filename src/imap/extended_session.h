// ExtendedSession: the IMAP session of a connection served in extended mode (the "Extended"
// setting): the exact command set plus what today's clients need (EXAMINE, CHECK, CLOSE,
// UNSELECT, EXPUNGE, full SEARCH, UIDPLUS codes, change reports, literals in command lines).
// The exact mode's handlers stay untouched in ImapSession; only the overrides here differ.
#ifndef ORV_IMAP_EXTENDED_SESSION_H_
#define ORV_IMAP_EXTENDED_SESSION_H_

#include <cstdint>
#include <vector>

#include "imap/imap_session.h"

class TlsContext;

class ExtendedSession : public ImapSession {
  public:
    ExtendedSession(Listener* owner, platform::SocketHandle handle, const UserTable* users,
                    HostPort& host);
    ~ExtendedSession() override;

    // Reads the literals of a command line ("{n}" at a line's end) into the line, so every
    // command may take them; APPEND reads its message literal itself.
    void ParseLine(const char* line) override;
    void Dispatch() override;
    // UNSELECT and STARTTLS are not in the command table; they arrive here.
    void NotImplemented() override;

    // TLS for this connection: context null means no STARTTLS; required refuses LOGIN until
    // TLS is on. The context outlives the session.
    void UseTls(const TlsContext* context, bool required) {
        tlsContext_ = context;
        requireTls_ = required;
    }

    void OnCapability() override;
    void OnLogin() override;
    void OnNoop() override;
    void OnIdle() override;
    void OnSelect() override;
    void OnExamine() override;
    void OnStatus() override;
    void OnCreate() override;
    void OnDelete() override;
    void OnRename() override;
    void OnAppend() override;
    void OnCopy() override;
    void OnStore() override;
    void OnFetch() override;
    void OnSearch() override;
    void OnExpunge() override;
    void OnCheck() override;
    void OnClose() override;
    virtual void OnUnselect();
    virtual void OnStartTls();

  protected:
    void SendListName(const Text& name) override;
    // Opens the folder named by argument 0 for SELECT (readOnly false) or EXAMINE (true).
    void OpenSelected(bool readOnly);
    // Reports what the host changed in the selected folder since it was opened or last
    // reported: EXISTS/RECENT for new messages, EXPUNGE for removed ones, FETCH FLAGS for
    // changed status words.
    void ReportChanges();
    // Removes the selected folder's messages marked deleted through the host; with untagged
    // EXPUNGE lines when report is true. uidSet, when given, limits it to those UIDs.
    void ExpungeDeleted(bool report, const Text* uidSet);

    // The per-message work of STORE and COPY for WalkSet.
    void ServeFetchExtended(MessageEntry& entry, int sequence);
    void ServeStoreExtended(MessageEntry& entry, int sequence);
    void ServeCopy(MessageEntry& entry, int sequence);

    bool readOnly_ = false;
    // During COPY: the destination folder path and the UIDs of the messages handed to the
    // host, in order.
    Text copyDestination_;
    std::vector<uint32_t> copiedUids_;

    const TlsContext* tlsContext_ = nullptr;
    bool requireTls_ = false;
};

#endif  // ORV_IMAP_EXTENDED_SESSION_H_
