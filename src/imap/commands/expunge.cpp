// EXPUNGE and UID EXPUNGE (extended mode): the host deletes the selected folder's messages
// marked \Deleted (UID EXPUNGE: only those of its UID set), and each goes out as an untagged
// EXPUNGE with the sequence number it has at that moment (once the client enabled QRESYNC, all in
// one VANISHED line by UID).
#include <cstring>
#include <set>
#include <string>
#include <vector>

#include "imap/commands/commands.h"
#include "imap/message_set.h"
#include "imap/resync.h"
#include "imap/session.h"
#include "platform/threads.h"
#include "store/index_changes.h"
#include "store/mailbox.h"

namespace {

// Takes the changes of a snapshot update without telling the client: CLOSE brings the
// snapshot up to date before it expunges, and answers with its completion line only.
class SilentChanges : public IndexChangeListener {
  public:
    void Expunged(int, uint32_t) override {}
    void StatusChanged(int, MessageEntry&) override {}
    void Grew(int, int) override {}
};

bool InRanges(uint32_t uid, const std::vector<MessageRange>& ranges) {
    for (const MessageRange& range : ranges) {
        if (uid >= range.lo && uid <= range.hi)
            return true;
    }
    return false;
}

// The names of asked that the folder's index no longer lists, once all are gone or a few
// seconds have passed; *modSeq: the folder's highest modification sequence then.
std::set<std::string> AwaitRemoved(Session& s, const std::set<std::string>& asked,
                                   uint64_t* modSeq) {
    constexpr uint32_t kStoreWaitMs = 3000;
    constexpr uint32_t kStep = 20;
    for (uint32_t waited = 0;; waited += kStep) {
        Mailbox fresh(s.host, s.selected->MailRoot(), s.selected->FolderPath(), s.mode);
        fresh.ReadIndex();
        std::set<std::string> gone(asked);
        const MessageIndex& listed = fresh.Index();
        for (int i = 0; i < listed.Count(); ++i) {
            const char* name = nullptr;
            int length = 0;
            listed.NameAt(i, &name, &length);
            // As the names asked were taken: up to a NUL.
            gone.erase(std::string(name, strnlen(name, static_cast<size_t>(length))));
        }
        if (gone.size() == asked.size() || waited >= kStoreWaitMs) {
            *modSeq = fresh.HighestModSeq();
            return gone;
        }
        platform::SleepMs(kStep);
    }
}

}  // namespace

void ExpungeDeleted(Session& s, bool report, const Text* uidSet) {
    if (s.selected == nullptr)
        return;
    // The deleted bits are the host's as they are now: the snapshot is brought up to date
    // first (EXPUNGE tells the client of those changes, CLOSE does not).
    MessageIndex& index = s.selected->Index();
    if (report) {
        s.ReportChanges();
    } else {
        Mailbox fresh(s.host, s.selected->MailRoot(), s.selected->FolderPath(), s.mode);
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
    std::vector<const MessageEntry*> chosen;
    for (int i = 0; i < index.Count(); ++i) {
        if ((index.StatusAt(i) & StatusDeleted) != 0 &&
            (uidSet == nullptr || InRanges(index.UidAt(i), ranges)))
            chosen.push_back(index.At(i));
    }
    DeleteMessages(s, chosen, report);
}

size_t DeleteMessages(Session& s, const std::vector<const MessageEntry*>& chosen, bool report) {
    // The host is asked to delete each chosen message; a key too long for the host's buffer
    // would name another message, or none: such a message stays.
    std::set<std::string> asked;
    for (const MessageEntry* entry : chosen) {
        bool fits = false;
        const Text key =
            MessageKey(*entry, s.selected->MailRoot(), s.selected->FolderPath(), &fits);
        if (!fits)
            continue;
        s.host.DeleteMail(key.c_str());
        asked.insert(std::string(entry->fileName.c_str()));
    }
    if (asked.empty())
        return chosen.size();
    // Only what the host really removed is expunged: its index is read until the messages are
    // gone from it, for a few seconds at most.
    uint64_t modSeq = 0;
    const std::set<std::string> gone = AwaitRemoved(s, asked, &modSeq);
    if (modSeq > s.selected->HighestModSeq())
        s.selected->SetHighestModSeq(modSeq);
    std::vector<MessageRange> vanished;
    // Each message goes with the sequence number it has at that moment, so the client's
    // numbers follow when it applies the lines in order.
    MessageIndex& index = s.selected->Index();
    size_t removed = 0;
    int i = 0;
    while (i < index.Count()) {
        MessageEntry* entry = index.At(i);
        if (gone.count(std::string(entry->fileName.c_str())) == 0) {
            ++i;
            continue;
        }
        const uint32_t uid = entry->uid;
        index.Remove(i);
        delete entry;
        ++removed;
        if (report && s.qresync) {
            vanished.push_back({uid, uid});
        } else if (report) {
            s.Send("* ");
            s.SendNumber(i + 1);
            s.Send(" EXPUNGE\r\n");
        }
    }
    SendVanished(s, JoinRanges(vanished), false);
    return removed < chosen.size() ? chosen.size() - removed : 0;
}

void RunExpunge(Session& s) {
    const Text* uidSet = nullptr;
    if (s.command.uid) {
        if (s.command.arguments.Count() != 1) {
            s.NoArguments();
            return;
        }
        uidSet = s.command.arguments.At(0);
        std::vector<MessageRange> ranges;
        if (!ParseUidSet(*uidSet, 0, &ranges)) {
            s.SendTagged(" BAD invalid UID set\r\n");
            return;
        }
    }
    if (s.readOnly) {
        s.SendTagged(" NO [READ-ONLY] folder is read-only\r\n");
        return;
    }
    ExpungeDeleted(s, true, uidSet);
    // A client that follows modification sequences learns the one the removals took.
    if (s.condStore && s.selected->HighestModSeq() != 0) {
        const std::string code =
            "[HIGHESTMODSEQ " + std::to_string(s.selected->HighestModSeq()) + "]";
        s.Complete(Text(code.c_str()));
    }
}
