// Extended mode: NOOP, CHECK and IDLE report what the host changed in the selected folder.
// The folder's index is read again and compared with the session's snapshot; removed messages
// go out as EXPUNGE, changed status words as FETCH FLAGS, new messages as EXISTS and RECENT.
#include "imap/extended_session.h"
#include "render/items.h"
#include "store/index_changes.h"
#include "store/mailbox.h"

namespace {

// How long IDLE waits for the client before it looks at the folder again. Well below the
// few seconds a client may wait to learn about new mail.
constexpr uint32_t kIdleCheckMs = 2000;

// Writes the untagged line of each step of a snapshot update to the client, numbered as the
// update numbers it, so the client's view follows the snapshot line by line.
class UpdateWriter : public IndexChangeListener {
  public:
    UpdateWriter(ImapSession& session, const Mailbox& mailbox)
        : session_(session), mailbox_(mailbox) {}

    void Expunged(int sequence) override {
        session_.Send("* ");
        session_.SendNumber(sequence);
        session_.Send(" EXPUNGE\r\n");
    }
    void StatusChanged(int sequence, MessageEntry& entry) override {
        session_.Send("* ");
        session_.SendNumber(sequence);
        session_.Send(" FETCH (");
        // FLAGS comes from the status word alone: nothing is loaded or marked as read.
        RenderItems(mailbox_.Host(), entry, mailbox_.MailRoot(), mailbox_.FolderPath(), "FLAGS", 0,
                    session_);
        session_.Send(")\r\n");
    }
    void Grew(int count, int recent) override {
        session_.Send("* ");
        session_.SendNumber(count);
        session_.Send(" EXISTS\r\n* ");
        session_.SendNumber(recent);
        session_.Send(" RECENT\r\n");
    }

  private:
    ImapSession& session_;
    const Mailbox& mailbox_;
};

}  // namespace

void ExtendedSession::OnNoop() {
    ReportChanges();
}

void ExtendedSession::OnIdle() {
    Send("+ idling\r\n");
    // Idling ends at a line DONE (any letter case); other lines are passed over. Between the
    // client's lines the folder is looked at every few seconds, and what changed goes out at
    // once (the wait writes pending output first). A failed connection or a server stop ends
    // it as well.
    Text line;
    while (!IsClosing()) {
        const int ready = WaitForInput(kIdleCheckMs);
        if (ready < 0)
            break;
        if (ready == 0) {
            ReportChanges();
            continue;
        }
        if (!ReadInputLine(&line) || line.CompareNoCase("DONE") == 0)
            break;
    }
}

void ExtendedSession::ReportChanges() {
    if (state_ != Selected || selected_ == nullptr)
        return;
    // The folder's index as the host has it now; its UIDVALIDITY is the selected one's, so
    // none is read or drawn from the shared counter.
    Mailbox fresh(host_, selected_->MailRoot(), selected_->FolderPath());
    fresh.ReadIndex();
    const IndexChanges changes = CompareIndexes(selected_->Index(), fresh.Index());
    if (!changes.Empty()) {
        UpdateWriter writer(*this, *selected_);
        ApplyIndexChanges(selected_->Index(), fresh.Index(), changes, writer);
    }
    // UIDNEXT never goes back, even when the host removed the highest messages.
    if (fresh.UidNext() > selected_->UidNext())
        selected_->SetUidNext(fresh.UidNext());
}
