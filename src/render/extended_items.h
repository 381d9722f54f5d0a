// The extended mode's own answers to some FETCH items, given to RenderItems as its override:
// body part sections (BODY[1], BODY[2.MIME], BODY[3.HEADER] ...), BODYSTRUCTURE and BODY in
// the grammar's own form (Japanese parameter values as encoded words), and an ENVELOPE whose
// display names are read with their quoted pairs and encoded whole. Every other item, and every
// section without a part number, is written by the standard writers.
#ifndef ORV_RENDER_EXTENDED_ITEMS_H_
#define ORV_RENDER_EXTENDED_ITEMS_H_

#include <string>

#include "render/envelope.h"
#include "render/items.h"

// The whole message in client form (header, CR LF, body), loaded first; marked as read unless
// peek (render/part_sections.cpp).
std::string LoadedMessage(ItemContext& c, bool peek);

// The override: true when it wrote item.
bool WriteExtendedItem(ItemContext& c, const Text& item);

// "BODY[n...]" and "BODY.PEEK[n...]" with a part number (render/part_sections.cpp).
void WritePartSection(ItemContext& c, const Text& name);

// ENVELOPE with extended address reading (render/extended_envelope.cpp).
void WriteEnvelopeExtended(ItemContext& c, const Text& name);

// Reads one address like ParseAddress, but with quoted pairs undone inside quoted strings and
// comments nested; a display name with Japanese text becomes one encoded word.
void ParseAddressExtended(const Text& value, int* pos, EnvelopeAddress* out);

// BODYSTRUCTURE, or BODY without extension data, in the grammar's own form, read from the
// client form of the message (render/extended_body_structure.cpp).
void WriteBodyStructureExtended(ItemContext& c, const Text& name);

#endif  // ORV_RENDER_EXTENDED_ITEMS_H_
