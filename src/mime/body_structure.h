// The IMAP body structure of a message, written from its MIME tree: the value of the FETCH item
// BODYSTRUCTURE. Every part that is not a multipart gets the same eleven-field form; parameter
// lists and the multipart form keep the shapes that clients of this server already rely on.
#ifndef ORV_MIME_BODY_STRUCTURE_H_
#define ORV_MIME_BODY_STRUCTURE_H_

#include "base/text.h"
#include "mime/mime_part.h"

// Appends a blank and the parenthesised form of root to out: the text that follows the item
// name BODYSTRUCTURE on the wire.
void RenderBodyStructure(const MimePart& root, Text* out);

// Appends the parenthesised form of part (multipart or not) to out.
void RenderPart(const MimePart& part, Text* out);

// Appends the body fields and extension data of a part that is not a multipart: parameters,
// Content-ID, description, transfer encoding, size, lines, MD5, disposition and language.
void RenderBodyFields(const MimePart& part, Text* out);

// Appends the parameters of Content-Type and then those of Content-Disposition with a blank on
// either side: " () " for none, one entry bare, several each in its own parentheses.
void RenderParams(const MimePart& part, Text* out);

// Appends NIL for a null text, otherwise the text as a quoted string in which a double quote
// or a backslash is preceded by a backslash. The text ends at its first NUL byte.
void QuoteOrNil(const Text* text, Text* out);

#endif  // ORV_MIME_BODY_STRUCTURE_H_
