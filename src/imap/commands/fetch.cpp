// FETCH and UID FETCH: each message of the set gets one untagged FETCH line, its items written
// by the renderers. The extended mode's writers take some items first (part sections, the
// grammar's BODYSTRUCTURE); nothing fetched there from a folder opened with EXAMINE marks a
// message as read, nor does a FETCH that asks for no text.
#include <string>

#include "imap/commands/commands.h"
#include "imap/fetch_message.h"
#include "imap/session.h"
#include "store/folder_facts.h"
#include "store/mailbox.h"

namespace {

// Whether a FETCH asks for text that marks a message as read: a BODY section without PEEK
// or RFC822.TEXT (a lone BODY is the structure here). The items follow the message set.
// Clients list a folder with RFC822.SIZE, and the size alone would otherwise turn every listed
// message read in the host's store.
bool ItemsMarkSeen(const TextList& arguments) {
    for (int i = 1; i < arguments.Count(); ++i) {
        Text items(*arguments.At(i));
        items.MakeUpper();
        const std::string text(items.c_str(), static_cast<size_t>(items.Length()));
        size_t start = 0;
        while (start < text.size()) {
            size_t end = text.find_first_of(" ()", start);
            if (end == std::string::npos)
                end = text.size();
            const std::string item = text.substr(start, end - start);
            if (item.compare(0, 5, "BODY[") == 0 || item == "RFC822.TEXT")
                return true;
            start = end + 1;
        }
    }
    return false;
}

void FetchSet(Session& s, bool marksSeen) {
    Mailbox& folder = *s.selected;
    // The items are read once for the whole set.
    const FetchRequest request(*s.command.arguments.At(1), s.command.uid, s.mode, s.textForm);
    // Each message file is stamped before it is served: the folder's directory is held open
    // for the walk, so a stamp looks up one name.
    const Text directoryPath = FolderFilePath(s.host, folder.MailRoot(), folder.FolderPath(), "");
    platform::DirectoryStamps directory(directoryPath.c_str());
    // What earlier runs of the host learned of the folder, the first time in this process.
    FolderFacts::Shared().Load(directoryPath);
    bool learned = false;
    s.WalkSet(*s.command.arguments.At(0), [&](MessageEntry& entry, int sequence) {
        s.Send("* ");
        s.SendNumber(sequence);
        s.Send(" ");
        s.Send(s.command.word.c_str());
        s.Send(" (");
        learned |= ServeFetchItems(s.host, entry, folder.MailRoot(), folder.FolderPath(), request,
                                   s, marksSeen, &directory);
        s.Send(")\r\n");
        folder.NoteServed(entry);
    });
    if (learned)
        FolderFacts::Shared().Learned(directoryPath);
}

}  // namespace

void RunFetch(Session& s) {
    if (!s.ArgumentCount(2, 2))
        return;
    if (s.mode == Mode::kExact) {
        FetchSet(s, true);
        return;
    }
    FetchSet(s, !s.readOnly && ItemsMarkSeen(s.command.arguments));
}
