// The FETCH item ENVELOPE: the ten envelope fields read from a message file's header and their
// IMAP form. Reading, address parsing and writing are separate pure steps so that each can be
// checked on its own; WriteEnvelope (render/items.h) puts them together for one message.
#ifndef ORV_RENDER_ENVELOPE_H_
#define ORV_RENDER_ENVELOPE_H_

#include "base/file.h"
#include "base/mode.h"
#include "base/text.h"
#include "mime/extended_form.h"

// One envelope field: absent until a header field of its kind is seen.
struct EnvelopeField {
    bool present = false;
    Text value;
};

// The ten fields in the order in which they are written. Six are address lists: from, sender,
// replyTo, to, cc, bcc.
struct Envelope {
    EnvelopeField date;
    EnvelopeField subject;
    EnvelopeField from;
    EnvelopeField sender;
    EnvelopeField replyTo;
    EnvelopeField to;
    EnvelopeField cc;
    EnvelopeField bcc;
    EnvelopeField inReplyTo;
    EnvelopeField messageId;
};

// One address of a list as parsed: the display name (encoded words applied) and the address
// text, which the writer splits at its first "@" into mailbox and host.
struct EnvelopeAddress {
    Text name;
    Text address;
};

// Applies one complete header field (continuation lines joined, line ends removed) to env.
// Fields of no envelope kind are ignored. The Subject gets the encoded words of the mode's
// client form.
void ApplyEnvelopeField(const Text& field, Envelope* env, Mode mode = Mode::kExact,
                        TextForm text = TextForm::kMime);

// Reads the header of an open file, up to its first empty line or its end, into env.
void ReadEnvelope(File* file, Envelope* env, Mode mode = Mode::kExact,
                  TextForm text = TextForm::kMime);

// Parses the address of value that starts at *pos into *out and moves *pos to the start of the
// next address (value.Length() after the last one). Call only while *pos < value.Length().
void ParseAddress(const Text& value, int* pos, EnvelopeAddress* out);

// As ParseAddress, the extended mode's way: quoted pairs are undone inside quoted strings,
// comments nest, and a display name with Japanese text becomes encoded words of the charset
// its characters need (mime/extended_form.h).
void ParseAddressExtended(const Text& value, int* pos, EnvelopeAddress* out);
// As ParseAddressExtended, for a client that enabled UTF-8: a display name as UTF-8 itself.
void ParseAddressUtf8(const Text& value, int* pos, EnvelopeAddress* out);
// As ParseAddressExtended, for a header read from the client form, whose names are already in
// the client's form.
void ParseAddressClientForm(const Text& value, int* pos, EnvelopeAddress* out);

// Appends ("name" NIL "mailbox" "host") to out.
void WriteAddress(const EnvelopeAddress& address, Text* out);

// Reads one address of an address list (ParseAddress is the standard one).
using AddressParser = void (*)(const Text& value, int* pos, EnvelopeAddress* out);

// Appends " (" and the ten fields separated by blanks, then ")": the value that follows the
// item name ENVELOPE on the wire. Address lists are read with parse.
void RenderEnvelope(const Envelope& env, Text* out, AddressParser parse = ParseAddress);

#endif  // ORV_RENDER_ENVELOPE_H_
