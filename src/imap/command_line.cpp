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

LiteralMarker FindLiteralMarker(const char* line, int length) {
    LiteralMarker m;
    if (length < 2 || line[length - 1] != '}')
        return m;
    int open = length - 2;
    while (open >= 0 && line[open] != '{')
        --open;
    if (open < 0)
        return m;
    m.present = true;
    m.offset = open;
    int end = length - 1;  // just past the size
    if (end > open + 1 && line[end - 1] == '+') {
        m.synchronizing = false;
        --end;
    }
    if (end == open + 1 || end - open - 1 > 10)
        return m;
    uint64_t size = 0;
    for (int i = open + 1; i < end; ++i) {
        if (line[i] < '0' || line[i] > '9')
            return m;
        size = size * 10 + static_cast<uint64_t>(line[i] - '0');
    }
    if (size > UINT32_MAX)
        return m;
    m.valid = true;
    m.size = static_cast<uint32_t>(size);
    return m;
}
