// The FETCH data item writers. RenderItems walks a FETCH item list and hands each item to one
// of these; each writes one blank first when the entry already has an item on the line
// (itemWritten), then the item's name as the client wrote it, then its value.
#ifndef ORV_RENDER_ITEMS_H_
#define ORV_RENDER_ITEMS_H_

#include <string>

#include "base/mode.h"
#include "base/text.h"
#include "render/output.h"
#include "store/message_entry.h"

// One message being rendered: the host of its store, the entry, the directory names of its
// folder, and the mode, in which some items take their own form.
struct ItemContext {
    HostPort& host;
    MessageEntry& entry;
    const Text& mailRoot;
    const Text& folderPath;
    Output& out;
    Mode mode = Mode::kExact;
    // False when nothing written may mark the message as read (see LoadPolicy).
    bool marksSeen = true;
};

// How the writers load the message: the mode's client form, and whether they may mark it.
inline LoadPolicy Policy(const ItemContext& c) {
    return LoadPolicy{c.mode, c.marksSeen};
}

// Writes the items of a FETCH item list for one message (the text between "(" and ")").
// uidFlag: the command's UID form, whose UID item comes first and only once.
void RenderItems(HostPort& host, MessageEntry& entry, const Text& mailRoot, const Text& folderPath,
                 const Text& items, int uidFlag, Output& out, Mode mode = Mode::kExact,
                 bool marksSeen = true);

// Writes the blank that separates an item from the one before it on the line.
void WriteSeparator(ItemContext& c);

// "UID n" (render/fetch_items.cpp).
void WriteUidItem(ItemContext& c, const Text& name);
// "FLAGS (...)" from the entry's status word and recent marker (render/flags.cpp).
void WriteFlags(ItemContext& c, const Text& name);
// "RFC822.SIZE n": the size of the client form; marks the message as read (render/flags.cpp).
void WriteRfc822Size(ItemContext& c, const Text& name);
// "INTERNALDATE "dd-Mon-yyyy hh:mm:ss +0900"" from the file's last-write time
// (render/internal_date.cpp).
void WriteInternalDate(ItemContext& c, const Text& name);
// "ENVELOPE (...)" parsed from the message file's header; the extended mode reads addresses
// with their quoted pairs and encodes a Japanese display name whole (render/envelope.cpp).
void WriteEnvelope(ItemContext& c, const Text& name);
// "BODYSTRUCTURE (...)" from the MIME parser; in extended mode also a lone "BODY", both in the
// grammar's own form, read from the client form (render/body_structure.cpp).
void WriteBodyStructure(ItemContext& c, const Text& name);
// Items that begin with "RFC822": RFC822, RFC822.HEADER, RFC822.TEXT and RFC822.SIZE
// (render/body_sections.cpp).
void WriteRfc822Family(ItemContext& c, const Text& name);
// Items that begin with "BODY" (other than BODYSTRUCTURE): BODY, BODY[section]<partial>,
// BODY.PEEK[...] (render/body_sections.cpp). In extended mode a section that starts with a
// part number goes to WritePartSection.
void WriteBodySection(ItemContext& c, const Text& name);
// "BODY[n...]" and "BODY.PEEK[n...]" with a part number, cut from the client form of the
// whole message (render/part_sections.cpp).
void WritePartSection(ItemContext& c, const Text& name);

// The whole message in client form (header, CR LF, body), loaded first; marked as read unless
// peek (render/part_sections.cpp).
std::string LoadedMessage(ItemContext& c, bool peek);

#endif  // ORV_RENDER_ITEMS_H_
