// Finds a body part of a message by its part number ("2.1.3") in the message's client form,
// for BODY[2.1.3], BODY[2.1.3.MIME] and the sections of an attached message. Works on the
// bytes alone (boundaries and Content-Type fields), so the ranges are exactly the bytes the
// client received for the whole message.
#ifndef ORV_MIME_PART_LOCATOR_H_
#define ORV_MIME_PART_LOCATOR_H_

#include <string>
#include <vector>

// A byte range of the message text.
struct ByteRange {
    size_t start = 0;
    size_t length = 0;
};

// One located part: its MIME header (the blank line that ends it included) and its contents.
// For an attached message (message/rfc822) the contents are the whole attached message, and
// messageHeader/messageText are its header (blank line included) and its body.
struct LocatedPart {
    ByteRange mimeHeader;
    ByteRange contents;
    bool isMessage = false;
    ByteRange messageHeader;
    ByteRange messageText;
};

// The pieces the locator and the extended BODYSTRUCTURE share.

// An entity split at the first blank line: header (the blank line included) and body. A text
// without a blank line is all header.
struct Entity {
    ByteRange header;
    ByteRange body;
};
Entity SplitEntity(const char* s, size_t start, size_t end);

// The value of the first header field called name (ASCII case ignored) in header, its
// continuation lines joined (line ends kept), without the name and colon. False when absent.
bool FieldValue(const char* s, ByteRange header, const char* name, std::string* value);

// A field value with parameters: the value before the first ";" (blanks trimmed), then each
// "name=value" (the name in lower case, a quoted value unquoted with its quoted pairs undone).
struct HeaderParam {
    std::string name;
    std::string value;
};
struct ParameterizedValue {
    std::string value;
    std::vector<HeaderParam> params;
};
ParameterizedValue ParseParameterized(const std::string& fieldValue);

// The sub-parts of a multipart body, each as the range between its separator line and the
// line end before the next boundary line (or the body's end when no terminator comes).
std::vector<ByteRange> SplitMultipart(const char* s, ByteRange body, const std::string& boundary);

// The longest part number path that can name a part (deeper parts are not looked for).
constexpr size_t kMaxPartDepth = 64;

// Locates the part that numbers names (each 1 or more) in message (header, blank line, body;
// CR LF or LF line ends). The parts of a message are the parts of its multipart body, or for a
// message that is not multipart its body alone as part 1; the parts of an attached message
// are those of that message; a multipart part's are its sub-parts. False when the message has
// no such part.
bool LocatePart(const char* message, size_t length, const std::vector<int>& numbers,
                LocatedPart* out);

// The fields of header (as a HEADER section gives it) whose names are in names (ASCII case
// ignored), or with exclude those whose names are not, each with its continuation lines, in
// header order, followed by a blank line (CR LF).
std::string SelectHeaderFields(const char* header, size_t length,
                               const std::vector<std::string>& names, bool exclude);

#endif  // ORV_MIME_PART_LOCATOR_H_
