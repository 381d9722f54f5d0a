#include "imap/command_line.h"

namespace {
// Removes one pair of enclosing double quotes and, inside them, the backslashes that escape
// the next byte.
void UnquoteArgument(Text* argument) {
    int n = argument->Length();
    if (n < 2 || (*argument)[0] != '"' || (*argument)[n - 1] != '"')
        return;
    const char* p = argument->c_str();
    Text inner;
    inner.Assign("");
    for (int i = 1; i < n - 1; ++i) {
        if (p[i] == '\\' && i + 1 < n - 1)
            ++i;
        inner.Append(p[i]);
    }
    *argument = inner;
}

}  // namespace

void CommandLine::Parse(const char* line) {
    arguments.Clear();
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
