// STORE and UID STORE: the host changes each message's status word, and the message's flags
// go out in an untagged FETCH. The extended mode also replaces flags (FLAGS without a sign),
// refuses in a folder opened with EXAMINE, and keeps \Flagged and keywords itself, in the
// folder's record of kept flags, written once the whole set is served.
#include <charconv>

#include "imap/commands/commands.h"
#include "imap/fetch_message.h"
#include "imap/flag_update.h"
#include "imap/session.h"
#include "render/output.h"
#include "store/folder_flags.h"
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

void StoreExtended(Session& s) {
    if (s.readOnly) {
        s.SendTagged(" NO [READ-ONLY] folder is read-only\r\n");
        return;
    }
    Mailbox& folder = *s.selected;
    const Text& flags = *s.command.arguments.At(2);
    FlagList kept;
    if (!ReadKeptFlags(flags, &kept)) {
        s.SendTagged(" BAD invalid flag list\r\n");
        return;
    }
    const FlagUpdate update(*s.command.arguments.At(1), flags, s.mode);
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
    const FetchRequest answer(Text("FLAGS"), s.command.uid, s.mode, s.textForm);
    StringOutput line;
    s.WalkSet(*s.command.arguments.At(0), [&](MessageEntry& entry, int sequence) {
        const bool answerDue = Update(s, update, entry);
        if (keptFlags != nullptr) {
            SetKeptFlags(entry, keptFlags->Change(validity, entry.uid, change, kept));
            // A keyword new to the folder is told of also when the change is silent.
            s.AnnounceKeywords(entry.keptFlags);
        }
        if (answerDue)
            AnswerFlags(s, line, entry, sequence, answer);
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
