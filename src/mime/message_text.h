// MessageText: the bytes of one message file made ready for string searches: its header fields
// with continuation lines joined and values decoded to Unicode (encoded words included), and its
// body decoded from the transfer encoding and charset of each text part. All text is case
// folded (FoldCase), so callers pass needles folded the same way.
#ifndef ORV_MIME_MESSAGE_TEXT_H_
#define ORV_MIME_MESSAGE_TEXT_H_

#include <cstdint>
#include <string>
#include <vector>

#include "base/mode.h"

class MessageText {
  public:
    // raw: the message file's bytes (Shift_JIS, the host's status line included).
    explicit MessageText(std::string raw);

    // Whether a header field of this name (ASCII case ignored) holds needle in its value; an
    // empty needle asks only whether such a field exists. The host's status line is no field.
    bool FieldContains(const char* name, const std::u16string& needle) const;
    // Whether needle occurs in any header field, name or value.
    bool HeaderContains(const std::u16string& needle) const;
    // Whether needle occurs in the body's text (decoded on first use).
    bool BodyContains(const std::u16string& needle);
    // The date part of the first Date field as yyyymmdd; 0 when there is none or it cannot be
    // read.
    int32_t SentDate() const;

    // The decoded and folded body: text parts in order, each followed by a line end; parts of
    // other types (attachments) contribute nothing.
    const std::u16string& Body();

  private:
    struct Field {
        std::string name;      // as written
        std::u16string value;  // decoded, folded
    };

    std::string raw_;
    size_t bodyStart_ = 0;
    std::vector<Field> fields_;
    std::u16string header_;  // "name: value" lines, folded
    bool bodyDecoded_ = false;
    std::u16string body_;
};

// A Content-Type value: type and subtype in lower case, and its charset and boundary.
struct ContentType {
    std::string type;
    std::string subtype;
    std::string charset;
    std::string boundary;
};
ContentType ParseContentType(const std::string& value);

// Whether a line of a message file is the host's own status line ("X-Orvex-Status:", ASCII
// case ignored), which no client is shown.
bool IsHostStatusLine(const char* line, size_t n);

// The byte count of the message's client form as loading it gives: header lines without the
// host's status line, each with encoded words, then CR LF, then the body lines in ISO-2022-JP.
uint32_t ClientFormSize(const std::string& raw, Mode mode);

// The date part of an RFC 2822 date-time ("Tue, 4 Mar 2001 10:00:00 +0900") as yyyymmdd,
// in the zone it was written in; 0 when it cannot be read. Two-digit years below 50 are
// 20xx, others 19xx; three-digit years count from 1900.
int32_t ParseMessageDate(const std::u16string& value);

#endif  // ORV_MIME_MESSAGE_TEXT_H_
