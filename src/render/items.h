// The FETCH data item writers. RenderItems walks a FETCH item list and hands each item to one
// of these; each writes one blank first when the entry already has an item on the line
// (itemWritten), then the item's name as the client wrote it, then its value.
#ifndef ORV_RENDER_ITEMS_H_
#define ORV_RENDER_ITEMS_H_

#include "base/text.h"
#include "render/output.h"
#include "store/message_entry.h"

struct ItemContext;

// A writer that takes an item before the standard ones: true when it wrote the item, false to
// leave it to them. The extended mode answers some items its own way through one.
using ItemOverride = bool (*)(ItemContext& c, const Text& item);

// One message being rendered: the host of its store, the entry and the directory names of its
// folder.
struct ItemContext {
    HostPort& host;
    MessageEntry& entry;
    const Text& mailRoot;
    const Text& folderPath;
    Output& out;
    ItemOverride override = nullptr;
};

// Writes the items of a FETCH item list for one message (the text between "(" and ")").
// uidFlag: the command's UID form, whose UID item comes first and only once.
void RenderItems(HostPort& host, MessageEntry& entry, const Text& mailRoot, const Text& folderPath,
                 const Text& items, int uidFlag, Output& out, ItemOverride override = nullptr);

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
// "ENVELOPE (...)" parsed from the message file's header (render/envelope.cpp).
void WriteEnvelope(ItemContext& c, const Text& name);
// "BODYSTRUCTURE (...)" from the MIME parser (render/fetch_items.cpp).
void WriteBodyStructure(ItemContext& c, const Text& name);
// Items that begin with "RFC822": RFC822, RFC822.HEADER, RFC822.TEXT and RFC822.SIZE
// (render/body_sections.cpp).
void WriteRfc822Family(ItemContext& c, const Text& name);
// Items that begin with "BODY" (other than BODYSTRUCTURE): BODY, BODY[section]<partial>,
// BODY.PEEK[...] (render/body_sections.cpp).
void WriteBodySection(ItemContext& c, const Text& name);

#endif  // ORV_RENDER_ITEMS_H_
