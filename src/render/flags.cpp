// FLAGS and RFC822.SIZE: the two items answered from the entry and its client form rather than
// from the message file. FLAGS shows the status word as read at SELECT (changed only by STORE),
// so a mark that the host set since then is not seen until the folder is selected again.
#include "render/items.h"

void WriteFlags(ItemContext& c, const Text& name) {
    WriteSeparator(c);
    c.out.Write(name.c_str(), name.Length());
    const MessageEntry& e = c.entry;
    Text flags(" (");
    const char* separator = "";
    auto add = [&flags, &separator](bool on, const char* flag) {
        if (!on)
            return;
        flags.Append(separator);
        flags.Append(flag);
        separator = " ";
    };
    add((e.status & StatusUnread) == 0, "\\Seen");
    add((e.status & StatusAnswered) != 0, "\\Answered");
    add((e.status & StatusDeleted) != 0, "\\Deleted");
    add((e.status & StatusDraft) != 0, "\\Draft");
    add(e.recent == 1, "\\Recent");
    flags.Append(')');
    c.out.Write(flags.c_str(), flags.Length());
}

void WriteRfc822Size(ItemContext& c, const Text& name) {
    WriteSeparator(c);
    c.out.Write(name.c_str(), name.Length());
    c.out.Write(" ");
    // Loads the client form and asks the host to mark the message as read.
    c.out.WriteUnsigned(MessageSize(c.entry, c.mailRoot, c.folderPath));
}
