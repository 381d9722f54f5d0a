// The MIME structure of one message file, read line by line into a tree of parts: for each part
// its Content-Type, Content-ID, Content-Transfer-Encoding and Content-Disposition fields, the
// size and line count of its body as the client receives it (ISO-2022-JP, CR LF line ends) and,
// for a multipart part, its sub-parts in file order. The tree serves BODYSTRUCTURE only.
#ifndef ORV_MIME_MIME_PART_H_
#define ORV_MIME_MIME_PART_H_

#include <cstdint>

#include "base/file.h"
#include "base/locked_list.h"
#include "base/text.h"

// MimeParam: one parameter of a header field, name and value as the field gave them (quotes
// around the value removed, "filename" renamed "NAME", a leading "/" of the value dropped).
struct MimeParam {
    Text name;
    Text value;
};

// MimeField: one parsed header field split into the value before its first slash, the value
// after it and the parameters. Absent (never parsed) fields render as NIL.
struct MimeField {
    bool present = false;  // set once the field was parsed, even from an empty value
    Text type;             // the value up to the first slash (the whole value without one)
    Text subtype;          // after the first slash, up to the first semicolon
    LockedList<MimeParam> params;
};

// MimePart: one node of a message's MIME tree. A part owns its parameters and children, so
// destroying the root destroys the whole tree.
struct MimePart {
    uint32_t size = 0;   // body bytes in client form (ISO-2022-JP, CR LF line ends)
    uint32_t lines = 0;  // body lines
    MimeField contentType;
    MimeField contentId;
    MimeField transferEncoding;
    MimeField disposition;
    LockedList<MimePart> children;  // filled for a part whose type begins with "multipart"
};

// How ParsePart ended a part.
enum PartEnd {
    AtSeparator,   // a separator line of the enclosing multipart ended it
    AtTerminator,  // a terminator line ended its body
    AtEndOfFile,   // the file ended
    NoPart,        // a terminator line came while its header was read: there is no part
};

// Multipart parts nested deeper than this are read as leaves (their lines counted), so a
// hostile message cannot exhaust the stack.
constexpr int kMaxMultipartDepth = 32;

// Opens the message file at path (system form) for reading, creating it empty when it does
// not exist, and fills root from it. False when the file cannot be opened; root is unchanged.
bool ParseMessageFile(MimePart* root, const char* path);

// Fills part from the file's current position. separator and terminator are the boundary
// lines of the enclosing multipart, null for the root; depth is the number of multipart parts
// enclosing this one.
PartEnd ParsePart(File* file, MimePart* part, const Text* separator, const Text* terminator,
                  int depth = 0);

// Fills field from one complete header field (name, colon, value, continuation lines joined).
// Any earlier contents of field are replaced.
void ParseField(const Text& fieldText, MimeField* field);

// The value of the first parameter whose name equals name without regard to ASCII case; empty
// when there is none.
Text FindParam(const MimeField& field, const char* name);

#endif  // ORV_MIME_MIME_PART_H_
