// STORE and UID STORE: the host changes each message's status word, and the message's flags
// go out in an untagged FETCH. The extended mode also replaces flags (FLAGS without a sign),
// refuses in a folder opened with EXAMINE, and keeps \Flagged and keywords itself, in the
// folder's record of kept flags, written once the whole set is served.
#include "imap/commands/commands.h"
#include "imap/fetch_message.h"
#include "imap/flag_update.h"
#include "imap/session.h"
#include "store/folder_flags.h"
#include "store/mailbox.h"

namespace {

void AnswerFlags(Session& s, MessageEntry& entry, int sequence, const FetchRequest& answer) {
    Mailbox& folder = *s.selected;
    s.Send("* ");
    s.SendNumber(sequence);
    s.Send(" FETCH (");
    ServeFetchItems(s.host, entry, folder.MailRoot(), folder.FolderPath(), answer, s);
    s.Send(")\r\n");
}

void StoreExact(Session& s) {
    Mailbox& folder = *s.selected;
    const Text& item = *s.command.arguments.At(1);
    const Text& flags = *s.command.arguments.At(2);
    const FetchRequest answer(Text("FLAGS"), s.command.uid, s.mode, s.textForm);
    s.WalkSet(*s.command.arguments.At(0), [&](MessageEntry& entry, int sequence) {
        if (UpdateFlags(s.host, entry, folder.MailRoot(), folder.FolderPath(), item, flags, s.mode))
            AnswerFlags(s, entry, sequence, answer);
    });
}

void StoreExtended(Session& s) {
    if (s.readOnly) {
        s.SendTagged(" NO [READ-ONLY] folder is read-only\r\n");
        return;
    }
    Mailbox& folder = *s.selected;
    const Text& item = *s.command.arguments.At(1);
    const Text& flags = *s.command.arguments.At(2);
    FlagList kept;
    if (!ReadKeptFlags(flags, &kept)) {
        s.SendTagged(" BAD invalid flag list\r\n");
        return;
    }
    bool silent = false;
    const StoreForm form = ReadStoreForm(item, &silent);
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
    const FetchRequest answer(Text("FLAGS"), s.command.uid, s.mode, s.textForm);
    s.WalkSet(*s.command.arguments.At(0), [&](MessageEntry& entry, int sequence) {
        const bool answerDue =
            UpdateFlags(s.host, entry, folder.MailRoot(), folder.FolderPath(), item, flags, s.mode);
        if (keptFlags != nullptr) {
            SetKeptFlags(entry, keptFlags->Change(validity, entry.uid, change, kept));
            // A keyword new to the folder is told of also when the change is silent.
            s.AnnounceKeywords(entry.keptFlags);
        }
        if (answerDue)
            AnswerFlags(s, entry, sequence, answer);
    });
    // The record is written once for the whole set. When that fails the flags hold until the
    // host program ends, and the client is told they may not last.
    if (keptFlags != nullptr && !keptFlags->Save())
        s.SendTagged(" NO \\Flagged and keywords could not be written\r\n");
}

}  // namespace

void RunStore(Session& s) {
    if (!s.ArgumentCount(3, 3))
        return;
    if (s.mode == Mode::kExact) {
        StoreExact(s);
        return;
    }
    StoreExtended(s);
}
