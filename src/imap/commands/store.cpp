// STORE and UID STORE: the host changes each message's status word, and the message's flags
// go out in an untagged FETCH. The extended mode also replaces flags (FLAGS without a sign),
// refuses in a folder opened with EXAMINE, and keeps \Flagged and keywords itself, in the
// folder's record of kept flags, written once the whole set is served. Each message whose flags
// changed gets a new modification sequence, and a STORE may be made conditional on a message's
// not having changed since one (UNCHANGEDSINCE); the messages that had are named in the
// completion ([MODIFIED set]) and left alone.
#include <algorithm>
#include <charconv>
#include <string>
#include <vector>

#include "imap/commands/commands.h"
#include "imap/fetch_message.h"
#include "imap/flag_update.h"
#include "imap/resync.h"
#include "imap/session.h"
#include "render/output.h"
#include "store/folder_flags.h"
#include "store/folder_uids.h"
#include "store/mailbox.h"

namespace {

// The answering FETCH of one message's flags, "* n FETCH (FLAGS (...))", formed whole in line
// (kept for the command, so the lines of a large set take no allocation each) and handed to
// the connection in one piece.
void AnswerFlags(Session& s, StringOutput& line, MessageEntry& entry, int sequence,
                 const FetchRequest& answer) {
    Mailbox& folder = *s.selected;
    line.text.assign("* ");
    char number[16];
    const std::to_chars_result written = std::to_chars(number, number + sizeof number, sequence);
    line.text.append(number, written.ptr);
    line.text.append(" FETCH (");
    ServeFetchItems(s.host, entry, folder.MailRoot(), folder.FolderPath(), answer, line);
    line.text.append(")\r\n");
    s.Send(line.text.data(), static_cast<int>(line.text.size()));
}

// Carries the update out on one message, asking the host under the message's key.
bool Update(Session& s, const FlagUpdate& update, MessageEntry& entry) {
    if (update.form() == StoreForm::kNone)
        return false;
    Mailbox& folder = *s.selected;
    bool keyFits = false;
    const Text key = MessageKey(entry, folder.MailRoot(), folder.FolderPath(), &keyFits);
    return update.Apply(s.host, entry, key, keyFits);
}

void StoreExact(Session& s) {
    const FlagUpdate update(*s.command.arguments.At(1), *s.command.arguments.At(2), s.mode);
    const FetchRequest answer(Text("FLAGS"), s.command.uid, s.mode, s.textForm);
    StringOutput line;
    s.WalkSet(*s.command.arguments.At(0), [&](MessageEntry& entry, int sequence) {
        if (Update(s, update, entry))
            AnswerFlags(s, line, entry, sequence, answer);
    });
}

// One message the extended STORE carried its update out on, for the answers sent once the
// whole set is done (they name the modification sequence that the set's changes share).
struct Stored {
    MessageEntry* entry;
    int sequence;
    bool answerDue;
    bool changed;
};

// The modifier list of STORE: "UNCHANGEDSINCE n". False for anything else.
bool ReadStoreModifiers(const Text& text, uint64_t* unchangedSince) {
    Text rest(text);
    const Text word = rest.SplitArgument();
    if (word.CompareNoCase("UNCHANGEDSINCE") != 0)
        return false;
    const Text value = rest.SplitArgument();
    return rest.IsEmpty() && ReadModSeq(value, true, unchangedSince);
}

void StoreExtended(Session& s) {
    if (s.readOnly) {
        s.SendTagged(" NO [READ-ONLY] folder is read-only\r\n");
        return;
    }
    Mailbox& folder = *s.selected;
    // STORE set [(UNCHANGEDSINCE n)] item flags
    const bool conditional = s.command.arguments.Count() == 4;
    uint64_t unchangedSince = 0;
    if (conditional) {
        if (!ReadStoreModifiers(*s.command.arguments.At(1), &unchangedSince)) {
            s.SendTagged(" BAD invalid STORE modifiers\r\n");
            return;
        }
        if (folder.HighestModSeq() == 0) {
            s.SendTagged(" BAD no modification sequences in this folder\r\n");
            return;
        }
        s.condStore = true;
    }
    const int item = conditional ? 2 : 1;
    const Text& flags = *s.command.arguments.At(item + 1);
    FlagList kept;
    if (!ReadKeptFlags(flags, &kept)) {
        s.SendTagged(" BAD invalid flag list\r\n");
        return;
    }
    const FlagUpdate update(*s.command.arguments.At(item), flags, s.mode);
    const StoreForm form = update.form();
    // \Flagged and keywords go to the folder's kept flags: all of them for FLAGS, which
    // replaces them; those listed for +FLAGS and -FLAGS.
    FolderFlags* keptFlags = nullptr;
    if (form == StoreForm::kReplace || (form != StoreForm::kNone && !kept.empty()))
        keptFlags = FolderFlags::Of(s.host, folder.MailRoot(), folder.FolderPath());
    const uint32_t validity = folder.UidValidity();
    if (keptFlags != nullptr && form != StoreForm::kRemove &&
        keptFlags->PassesKeywordLimit(validity, kept)) {
        s.SendTagged(" NO [LIMIT] too many different keywords in this folder\r\n");
        return;
    }
    const FlagChange change = form == StoreForm::kAdd      ? FlagChange::kAdd
                              : form == StoreForm::kRemove ? FlagChange::kRemove
                                                           : FlagChange::kReplace;
    std::vector<Stored> stored;
    std::vector<uint32_t> modified;  // UIDs or numbers of the messages changed since
    s.WalkSet(*s.command.arguments.At(0), [&](MessageEntry& entry, int sequence) {
        stored.push_back({&entry, sequence, false, false});
    });
    if (conditional) {
        // The folder's record says what changed since, also through other connections.
        std::vector<uint32_t> uids;
        for (const Stored& one : stored)
            uids.push_back(one.entry->uid);
        std::vector<uint64_t> now;
        CurrentModSeqs(s.host, folder.MailRoot(), folder.FolderPath(), validity, uids, &now);
        std::vector<Stored> unchanged;
        for (size_t i = 0; i < stored.size(); ++i) {
            const uint64_t modSeq = std::max(now[i], stored[i].entry->modSeq);
            if (modSeq > unchangedSince)
                modified.push_back(s.command.uid ? stored[i].entry->uid
                                                 : static_cast<uint32_t>(stored[i].sequence));
            else
                unchanged.push_back(stored[i]);
        }
        stored.swap(unchanged);
    }
    std::vector<FlagsChanged> changes;
    for (Stored& one : stored) {
        MessageEntry& entry = *one.entry;
        const uint32_t status = entry.status;
        const Text keptBefore = entry.keptFlags;
        one.answerDue = Update(s, update, entry);
        if (keptFlags != nullptr)
            SetKeptFlags(entry, keptFlags->Change(validity, entry.uid, change, kept));
        one.changed = entry.status != status || entry.keptFlags.Compare(keptBefore.c_str()) != 0;
        if (one.changed)
            changes.push_back({entry.uid, entry.status});
        if (s.Closing())
            break;
    }
    // The changes share one new modification sequence, recorded before any answer names it.
    if (!changes.empty()) {
        const uint64_t modSeq =
            RaiseModSeq(s.host, folder.MailRoot(), folder.FolderPath(), validity, changes);
        for (Stored& one : stored) {
            if (one.changed && modSeq != 0)
                one.entry->modSeq = modSeq;
        }
    }
    const FetchRequest answer(ChangedFlagItems(s), s.command.uid, s.mode, s.textForm);
    const FetchRequest silentAnswer(Text("UID MODSEQ"), s.command.uid, s.mode, s.textForm);
    StringOutput line;
    for (const Stored& one : stored) {
        // A keyword new to the folder is told of also when the change is silent.
        if (keptFlags != nullptr)
            s.AnnounceKeywords(one.entry->keptFlags);
        if (one.answerDue)
            AnswerFlags(s, line, *one.entry, one.sequence, answer);
        else if (one.changed && s.condStore)
            // Silent, but a client that follows modification sequences learns the new one.
            AnswerFlags(s, line, *one.entry, one.sequence, silentAnswer);
    }
    // The record is written once for the whole set. When that fails the flags hold until the
    // host program ends, and the client is told they may not last.
    if (keptFlags != nullptr && !keptFlags->Save()) {
        s.SendTagged(" NO \\Flagged and keywords could not be written\r\n");
        return;
    }
    if (!modified.empty()) {
        std::vector<MessageRange> ranges;
        for (uint32_t n : modified)
            ranges.push_back({n, n});
        const std::string set = UidSetText(JoinRanges(ranges));
        s.Complete(Text(("[MODIFIED " + set + "]").c_str()));
    }
}

}  // namespace

void RunStore(Session& s) {
    if (!s.ArgumentCount(3, s.mode == Mode::kExact ? 3 : 4))
        return;
    if (s.mode == Mode::kExact) {
        StoreExact(s);
        return;
    }
    StoreExtended(s);
}
