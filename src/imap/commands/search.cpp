// SEARCH and UID SEARCH. The exact mode knows the criteria of its own small test (a leading
// CHARSET is passed over, and every criterion is tested, also after one has failed). The
// extended mode reads the search keys of IMAP4rev1 from the raw argument text (literals arrive
// there as quoted strings) and tests each message with its file read only as far as its keys
// need, never marking it as read. A search by modification sequence (MODSEQ) names the highest
// of the messages found at the end of the answer.
#include "imap/commands/commands.h"
#include "imap/flag_update.h"
#include "imap/search_program.h"
#include "imap/search_subject.h"
#include "imap/session.h"
#include "store/mailbox.h"

namespace {

void SendMatch(Session& s, const MessageEntry& entry, int sequence) {
    s.Send(" ");
    if (s.command.uid) {
        s.WriteUnsigned(entry.uid);
    } else {
        s.SendNumber(sequence);
    }
}

void SearchExact(Session& s) {
    const TextList& arguments = s.command.arguments;
    s.Send("* ");
    s.Send(s.command.word.c_str());
    const int first = arguments.At(0)->CompareNoCase("CHARSET") == 0 ? 2 : 0;
    if (first < arguments.Count()) {
        MessageIndex& index = s.selected->Index();
        for (int i = 0; i < index.Count(); ++i) {
            MessageEntry* entry = index.At(i);
            bool match = true;
            int position = first;
            while (position < arguments.Count()) {
                if (!TestCriterion(*entry, arguments, &position))
                    match = false;
            }
            if (match)
                SendMatch(s, *entry, i + 1);
            if (s.Closing())
                break;
        }
    }
    s.Send("\r\n");
}

}  // namespace

void RunSearch(Session& s) {
    if (!s.ArgumentCount(1, -1))
        return;
    if (s.mode == Mode::kExact) {
        SearchExact(s);
        return;
    }
    const Text& rest = s.command.rest;
    SearchProgram program;
    switch (program.Parse(rest.c_str(), static_cast<size_t>(rest.Length()))) {
        case SearchProgram::kBadSyntax:
            s.SendTagged(" BAD invalid search criteria\r\n");
            return;
        case SearchProgram::kBadCharset:
            s.SendTagged(
                " NO [BADCHARSET (US-ASCII UTF-8 ISO-2022-JP SHIFT_JIS)] unsupported charset\r\n");
            return;
        case SearchProgram::kOk:
            break;
    }
    Mailbox& folder = *s.selected;
    if (program.UsesModSeq()) {
        if (folder.HighestModSeq() == 0) {
            s.SendTagged(" BAD no modification sequences in this folder\r\n");
            return;
        }
        s.condStore = true;
    }
    MessageIndex& index = folder.Index();
    program.Bind(static_cast<uint32_t>(index.Count()), folder.UidNext());
    s.Send("* ");
    s.Send(s.command.word.c_str());
    uint64_t highest = 0;
    for (int i = 0; i < index.Count(); ++i) {
        MessageEntry* entry = index.At(i);
        if (entry == nullptr)
            continue;
        EntrySearchSubject subject(s.host, *entry, static_cast<uint32_t>(i + 1), folder.MailRoot(),
                                   folder.FolderPath(), s.mode);
        if (program.Matches(subject)) {
            SendMatch(s, *entry, i + 1);
            highest = entry->modSeq > highest ? entry->modSeq : highest;
        }
        if (s.Closing())
            break;
    }
    if (program.UsesModSeq() && highest != 0) {
        s.Send(" (MODSEQ ");
        s.WriteUnsigned64(highest);
        s.Send(")");
    }
    s.Send("\r\n");
}
