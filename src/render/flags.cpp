// FLAGS and RFC822.SIZE: the two items answered from the entry and the size of its client form
// rather than from the message's text. FLAGS shows the status word as read at SELECT (changed only
// by STORE), so a mark that the host set since then is not seen until the folder is selected again
// or, in extended mode, reported; the flags the extended mode keeps itself (\Flagged, keywords)
// come after those of the status word.
#include <cstring>

#include "render/items.h"

void WriteFlags(const FetchItem& item, const FetchedMessage& m, Output& out) {
    out.Write(item.name.c_str(), item.name.Length());
    const MessageEntry& e = m.entry;
    // Built on the stack: " (\Seen \Answered \Deleted \Draft \Recent)" is the longest.
    char flags[64];
    int length = 0;
    auto append = [&flags, &length](const char* text) {
        const size_t n = std::strlen(text);
        std::memcpy(flags + length, text, n);
        length += static_cast<int>(n);
    };
    const char* separator = "";
    auto add = [&append, &separator](bool on, const char* flag) {
        if (!on)
            return;
        append(separator);
        append(flag);
        separator = " ";
    };
    append(" (");
    add((e.status & StatusUnread) == 0, "\\Seen");
    add((e.status & StatusAnswered) != 0, "\\Answered");
    add((e.status & StatusDeleted) != 0, "\\Deleted");
    add((e.status & StatusDraft) != 0, "\\Draft");
    if (!e.keptFlags.IsEmpty()) {
        // The flags the server keeps itself (extended mode) go between, as they are kept.
        append(separator);
        out.Write(flags, length);
        out.Write(e.keptFlags.c_str(), e.keptFlags.Length());
        length = 0;
        separator = " ";
    }
    add(e.recent == 1, "\\Recent");
    append(")");
    out.Write(flags, length);
}

void WriteRfc822Size(const FetchItem& item, const FetchedMessage& m, Output& out) {
    out.Write(item.name.c_str(), item.name.Length());
    out.Write(" ");
    out.WriteUnsigned(m.size);
}
