// CommandLine: one client command split into tag, optional UID prefix, command word and
// arguments, with the command word looked up in the command table. One object per connection,
// reused for every line.
#ifndef ORV_IMAP_COMMAND_LINE_H_
#define ORV_IMAP_COMMAND_LINE_H_

#include "base/text.h"
#include "base/text_list.h"

enum CommandId {
    kCapability = 0,
    kLogout = 1,
    kNoop = 2,
    kLogin = 3,
    kAuthenticate = 4,
    kSelect = 5,
    kExamine = 6,
    kCreate = 7,
    kDelete = 8,
    kRename = 9,
    kSubscribe = 10,
    kUnsubscribe = 11,
    kList = 12,
    kLsub = 13,
    kStatus = 14,
    kAppend = 15,
    kStore = 16,
    kExpunge = 17,
    kSearch = 18,
    kFetch = 19,
    kCopy = 20,
    kUid = 21,
    kCheck = 22,
    kClose = 23,
    kIdle = 24,
    kUnknown = 25,  // the table's end mark, never matched
};

// The command id for a word (ASCII case ignored); kUnknown when it is not in the table.
CommandId LookupCommand(const Text& word);

class CommandLine {
  public:
    virtual ~CommandLine() = default;

    // Splits a line (without its CR LF) into the fields below. Every argument is freed of one
    // enclosing pair of double quotes, then of one enclosing pair of (), [] or {}.
    void Parse(const char* line);

    Text tag;
    int uid = 0;
    Text word;  // as the client typed it
    CommandId id = kUnknown;
    TextList arguments;
    // The text after the command word as it came, for commands that read their arguments
    // with a grammar of their own.
    Text rest;
};

#endif  // ORV_IMAP_COMMAND_LINE_H_
