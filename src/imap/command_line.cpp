#include "imap/command_line.h"

namespace {
const char* const kCommandWords[] = {
    "CAPABILITY", "LOGOUT", "NOOP",   "LOGIN",     "AUTHENTICATE", "SELECT", "EXAMINE",
    "CREATE",     "DELETE", "RENAME", "SUBSCRIBE", "UNSUBSCRIBE",  "LIST",   "LSUB",
    "STATUS",     "APPEND", "STORE",  "EXPUNGE",   "SEARCH",       "FETCH",  "COPY",
    "UID",        "CHECK",  "CLOSE",  "IDLE",
};
// Removes one pair of enclosing double quotes and, inside them, the backslashes that escape
// the next byte.
void UnquoteArgument(Text* argument) {
    int n = argument->Length();
    if (n < 2 || (*argument)[0] != '"' || (*argument)[n - 1] != '"') return;
    const char* p = argument->c_str();
    Text inner;
    inner.Assign("");
    for (int i = 1; i < n - 1; ++i) {
        if (p[i] == '\\' && i + 1 < n - 1) ++i;
        inner.Append(p[i]);
    }
    *argument = inner;
}

}  // namespace

CommandId LookupCommand(const Text& word) {
    for (int id = 0; id < kUnknown; ++id) {
        if (word.CompareNoCase(kCommandWords[id]) == 0)
            return static_cast<CommandId>(id);
    }
    return kUnknown;
}

void CommandLine::Parse(const char* line) {
    arguments.Clear();
    id = kUnknown;
    // A line without a tag or without a command word is answered as not implemented with its
    // own (empty) tag and word, never with an earlier line's.
    tag.Assign("");
    word.Assign("");
    rest.Assign("");
    uid = 0;

    Text work(line);
    Text head = work.SplitArgument();
    if (head.IsEmpty())
        return;
    tag = head;
    head = work.SplitArgument();
    if (head.IsEmpty())
        return;
    if (head.CompareNoCase("uid") == 0) {
        uid = 1;
        head = work.SplitArgument();
        if (head.IsEmpty())
            return;
    }
    word = head;
    id = LookupCommand(word);
    rest = work;
    for (;;) {
        Text argument = work.SplitArgument();
        if (argument.IsEmpty())
            break;
        UnquoteArgument(&argument);
        argument.Unbracket();
        arguments.Append(argument);
    }
}
