// Extended mode: opening and closing folders (SELECT, EXAMINE, STATUS, CHECK, CLOSE,
// UNSELECT) and EXPUNGE. Folders keep their UIDVALIDITY from one open to the next; a folder
// opened with EXAMINE is read-only; EXPUNGE and CLOSE ask the host to delete the messages
// marked \Deleted.
#include <vector>

#include "imap/extended_session.h"
#include "imap/message_set.h"
#include "store/index_changes.h"
#include "store/mail_store.h"
#include "store/mailbox.h"
#include "store/name_codec.h"
#include "store/settings.h"

namespace {

// Takes the changes of a snapshot update without telling the client: CLOSE brings the
// snapshot up to date before it expunges, and answers with its completion line only.
class SilentChanges : public IndexChangeListener {
  public:
    void Expunged(int) override {}
    void StatusChanged(int, MessageEntry&) override {}
    void Grew(int, int) override {}
};

// One number of a UID set: decimal digits without a leading zero, or "*" (the largest UID
// of the folder). Moves *p past it; false when there is none or it overflows.
bool ReadUidSetNumber(const char** p, uint32_t largest, uint32_t* value) {
    const char* s = *p;
    if (*s == '*') {
        *value = largest;
        *p = s + 1;
        return true;
    }
    if (*s < '1' || *s > '9')
        return false;
    uint64_t n = 0;
    while (*s >= '0' && *s <= '9') {
        n = n * 10 + static_cast<uint64_t>(*s - '0');
        if (n > UINT32_MAX)
            return false;
        ++s;
    }
    *value = static_cast<uint32_t>(n);
    *p = s;
    return true;
}

// Reads a UID set as IMAP writes it ("3", "2:4", "5:*", "1,7:9"), each range in ascending
// order. False for anything else: an expunge must not reach further than the client asked.
bool ParseUidSet(const Text& text, uint32_t largest, std::vector<MessageRange>* ranges) {
    ranges->clear();
    const char* p = text.c_str();
    for (;;) {
        MessageRange range{0, 0};
        if (!ReadUidSetNumber(&p, largest, &range.lo))
            return false;
        range.hi = range.lo;
        if (*p == ':') {
            ++p;
            if (!ReadUidSetNumber(&p, largest, &range.hi))
                return false;
            if (range.lo > range.hi) {
                const uint32_t low = range.hi;
                range.hi = range.lo;
                range.lo = low;
            }
        }
        ranges->push_back(range);
        if (*p == '\0')
            return true;
        if (*p != ',')
            return false;
        ++p;
    }
}

bool InRanges(uint32_t uid, const std::vector<MessageRange>& ranges) {
    for (const MessageRange& range : ranges) {
        if (uid >= range.lo && uid <= range.hi)
            return true;
    }
    return false;
}

}  // namespace

void ExtendedSession::OpenSelected(bool readOnly) {
    if (!RequireLogin())
        return;
    if (command_.arguments.Count() < 1) {
        NoArguments();
        return;
    }
    const Text path = ResolveFolder(*command_.arguments.At(0));
    if (path.IsEmpty())
        return;
    delete selected_;
    selected_ = new Mailbox(host_, user_->mailRoot, path);
    selected_->OpenIndex(true);
    readOnly_ = readOnly;

    Send("* ");
    SendNumber(selected_->Index().Count());
    Send(" EXISTS\r\n* ");
    SendNumber(selected_->RecentCount());
    Send(" RECENT\r\n* OK [UIDVALIDITY ");
    SendNumber(static_cast<int32_t>(selected_->UidValidity()));
    Send("] UIDs valid\r\n* OK [UIDNEXT ");
    SendNumber(static_cast<int32_t>(selected_->UidNext()));
    Send("] Predicted next UID\r\n");
    Send("* FLAGS (\\Answered \\Deleted \\Draft \\Seen)\r\n");
    // Keywords cannot be stored, so no "\*".
    Send("* OK [PERMANENTFLAGS (\\Answered \\Deleted \\Draft \\Seen)] Permanent flags\r\n");
    SendTagged(readOnly ? " OK [READ-ONLY] " : " OK [READ-WRITE] ");
    Send(command_.word.c_str());
    Send(" complated\r\n");
    state_ = Selected;
}

void ExtendedSession::OnSelect() {
    OpenSelected(false);
}

void ExtendedSession::OnExamine() {
    OpenSelected(true);
}

void ExtendedSession::OnStatus() {
    // The folder gets its lasting UIDVALIDITY first, so STATUS reports the value SELECT will.
    // Every answer, refusals included, is the exact handler's.
    if (state_ != NotAuthenticated && user_ != nullptr && mailStore_ != nullptr &&
        command_.arguments.Count() == 2) {
        const Text path =
            mailStore_->FindFolder(DecodeName(*command_.arguments.At(0)), UseTitles.load());
        if (!path.IsEmpty()) {
            Mailbox folder(host_, user_->mailRoot, path);
            folder.KeepUidValidity();
        }
    }
    ImapSession::OnStatus();
}

void ExtendedSession::OnCheck() {
    if (!RequireState(Selected))
        return;
    ReportChanges();
}

void ExtendedSession::OnClose() {
    if (!RequireState(Selected))
        return;
    if (!readOnly_)
        ExpungeDeleted(false, nullptr);
    delete selected_;
    selected_ = nullptr;
    readOnly_ = false;
    state_ = Authenticated;
}

void ExtendedSession::OnUnselect() {
    if (!RequireState(Selected))
        return;
    delete selected_;
    selected_ = nullptr;
    readOnly_ = false;
    state_ = Authenticated;
}

void ExtendedSession::OnExpunge() {
    if (!RequireState(Selected))
        return;
    const Text* uidSet = nullptr;
    if (command_.uid) {
        if (command_.arguments.Count() != 1) {
            NoArguments();
            return;
        }
        uidSet = command_.arguments.At(0);
        std::vector<MessageRange> ranges;
        if (!ParseUidSet(*uidSet, 0, &ranges)) {
            SendTagged(" BAD invalid UID set\r\n");
            return;
        }
    }
    if (readOnly_) {
        SendTagged(" NO [READ-ONLY] folder is read-only\r\n");
        return;
    }
    ExpungeDeleted(true, uidSet);
}

void ExtendedSession::ExpungeDeleted(bool report, const Text* uidSet) {
    if (selected_ == nullptr)
        return;
    // The deleted bits are the host's as they are now: the snapshot is brought up to date
    // first (EXPUNGE tells the client of those changes, CLOSE does not).
    MessageIndex& index = selected_->Index();
    if (report) {
        ReportChanges();
    } else {
        Mailbox fresh(host_, selected_->MailRoot(), selected_->FolderPath());
        fresh.ReadIndex();
        SilentChanges silent;
        ApplyIndexChanges(index, fresh.Index(), CompareIndexes(index, fresh.Index()), silent);
    }

    std::vector<MessageRange> ranges;
    if (uidSet != nullptr) {
        const MessageEntry* last = index.Last();
        if (!ParseUidSet(*uidSet, last != nullptr ? last->uid : 0, &ranges))
            return;
    }
    // Each message goes with the sequence number it has at that moment, so the client's
    // numbers follow when it applies the lines in order.
    int i = 0;
    while (i < index.Count()) {
        MessageEntry* entry = index.At(i);
        const bool chosen = (entry->status & StatusDeleted) != 0 &&
                            (uidSet == nullptr || InRanges(entry->uid, ranges));
        bool fits = false;
        Text key;
        if (chosen)
            key = MessageKey(*entry, selected_->MailRoot(), selected_->FolderPath(), &fits);
        // A key too long for the host's buffer would name another message, or none: such a
        // message stays.
        if (!fits) {
            ++i;
            continue;
        }
        host_.DeleteMail(key.c_str());
        index.Remove(i);
        delete entry;
        if (report) {
            Send("* ");
            SendNumber(i + 1);
            Send(" EXPUNGE\r\n");
        }
    }
}

// A name that is not an atom (empty, or with a blank, a quote or another special byte, as a
// folder title may be) goes out as a quoted string, which every client can read.
void ExtendedSession::SendListName(const Text& name) {
    bool atom = !name.IsEmpty();
    for (int i = 0; atom && i < name.Length(); ++i) {
        const unsigned char c = static_cast<unsigned char>(name[i]);
        atom = c > ' ' && c < 0x7F && c != '"' && c != '\\' && c != '(' && c != ')' && c != '{' &&
               c != '%' && c != '*' && c != ']';
    }
    if (atom) {
        Send(name.c_str());
        return;
    }
    Text quoted("\"");
    for (int i = 0; i < name.Length(); ++i) {
        if (name[i] == '"' || name[i] == '\\')
            quoted.Append('\\');
        quoted.Append(name[i]);
    }
    quoted.Append('"');
    Send(quoted.c_str());
}
