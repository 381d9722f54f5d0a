// The FETCH item walker: takes the items of a list one at a time, expands the macros ALL, FAST
// and FULL into their members, writes the UID item first in the UID forms of the commands
// (an explicit UID item then writes nothing), and hands every other item to its writer. Items
// are answered under the name the client typed, macro members under their names in capitals.
#include "render/items.h"

namespace {

constexpr char kAllMembers[] = "FLAGS INTERNALDATE RFC822.SIZE ENVELOPE";
constexpr char kFastMembers[] = "FLAGS INTERNALDATE RFC822.SIZE";
constexpr char kFullMembers[] = "FLAGS INTERNALDATE RFC822.SIZE ENVELOPE BODY";

// uidUsed: the UID form of the command already wrote the UID item first on this line, so an
// explicit UID item writes nothing.
void WalkItems(ItemContext& c, const Text& items, bool uidUsed);

// Writes one item. False when the item is not one that this server knows; it then writes
// nothing, so no separator is owed before the next item.
bool RenderItem(ItemContext& c, const Text& item, bool uidUsed) {
    // The order of the tests matters: every RFC822 name goes to the RFC822 family, and
    // BODYSTRUCTURE is tested before the BODY sections that it begins like. In extended mode a
    // lone BODY is the structure without extension data.
    if (item.CompareNoCase("ALL") == 0) {
        WalkItems(c, kAllMembers, uidUsed);
    } else if (item.CompareNoCase("RFC822", 6) == 0) {
        WriteRfc822Family(c, item);
    } else if (item.CompareNoCase("BODYSTRUCTURE") == 0 ||
               (c.mode == Mode::kExtended && item.CompareNoCase("BODY") == 0)) {
        WriteBodyStructure(c, item);
    } else if (item.CompareNoCase("BODY", 4) == 0) {
        WriteBodySection(c, item);
    } else if (item.CompareNoCase("ENVELOPE") == 0) {
        WriteEnvelope(c, item);
    } else if (item.CompareNoCase("FAST") == 0) {
        WalkItems(c, kFastMembers, uidUsed);
    } else if (item.CompareNoCase("FULL") == 0) {
        WalkItems(c, kFullMembers, uidUsed);
    } else if (item.CompareNoCase("INTERNALDATE") == 0) {
        WriteInternalDate(c, item);
    } else if (item.CompareNoCase("UID") == 0) {
        if (!uidUsed)
            WriteUidItem(c, item);
    } else if (item.CompareNoCase("FLAGS") == 0) {
        WriteFlags(c, item);
    } else {
        return false;
    }
    return true;
}

void WalkItems(ItemContext& c, const Text& items, bool uidUsed) {
    Text rest(items);
    while (!rest.IsEmpty()) {
        // One argument at a time, so a section with blanks inside stays one item.
        const Text item = rest.SplitArgument();
        if (RenderItem(c, item, uidUsed))
            c.entry.itemWritten = 1;
    }
}

}  // namespace

void RenderItems(HostPort& host, MessageEntry& entry, const Text& mailRoot, const Text& folderPath,
                 const Text& items, int uidFlag, Output& out, Mode mode, bool marksSeen) {
    ItemContext c{host, entry, mailRoot, folderPath, out, mode, marksSeen};
    entry.itemWritten = 0;
    if (uidFlag != 0) {
        WriteUidItem(c, "UID");
        entry.itemWritten = 1;
    }
    WalkItems(c, items, uidFlag != 0);
}

void WriteSeparator(ItemContext& c) {
    if (c.entry.itemWritten == 1)
        c.out.Write(" ", 1);
}

void WriteUidItem(ItemContext& c, const Text& name) {
    WriteSeparator(c);
    c.out.Write(name.c_str(), name.Length());
    c.out.Write(" ", 1);
    c.out.WriteUnsigned(c.entry.uid);
}
