// CommandLine: one client command split into tag, optional UID prefix, command word and
// arguments. One object per connection, reused for every line.
#ifndef ORV_IMAP_COMMAND_LINE_H_
#define ORV_IMAP_COMMAND_LINE_H_

#include <cstdint>

#include "base/text.h"
#include "base/text_list.h"

class CommandLine {
  public:
    virtual ~CommandLine() = default;

    // Splits a line (without its CR LF) into the fields below. Every argument is freed of one
    // enclosing pair of double quotes, then of one enclosing pair of (), [] or {}.
    void Parse(const char* line);

    Text tag;
    int uid = 0;
    Text word;  // as the client typed it
    TextList arguments;
    // The text after the command word as it came, for commands that read their arguments
    // with a grammar of their own.
    Text rest;
};

// A literal marker at the end of a command line: "{n}", after which the client waits for a
// continuation, or "{n+}", after which it sends the n bytes at once. A line that ends with "}"
// and holds a "{" before it ends with one (no atom may hold "{"); its size is valid only as one
// to ten digits that fit 32 bits.
struct LiteralMarker {
    bool present = false;
    bool valid = false;
    bool synchronizing = true;
    uint32_t size = 0;
    int offset = 0;  // where the "{" stands
};
LiteralMarker FindLiteralMarker(const char* line, int length);

#endif  // ORV_IMAP_COMMAND_LINE_H_
