// The command line as text: SplitArgument and SplitToken taken to the end of a line, the
// command parser (tag, UID prefix, word, arguments), and message sets taken range by range.
// Every split must consume input, or a loop that splits until nothing is left would never end.
//
// Input: one byte for the token separator and set mode, then the line (up to its first NUL,
// as a line reaches the parser).
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "base/text.h"
#include "imap/command_line.h"
#include "imap/message_set.h"

namespace {

void Require(bool condition) {
    if (!condition)
        std::abort();
}

void SplitArguments(const Text& line) {
    Text work(line);
    for (;;) {
        const int before = work.Length();
        Text argument = work.SplitArgument();
        if (argument.IsEmpty())
            break;
        Require(work.Length() < before);
        Require(argument.Length() <= before);
        Text quoted(argument);
        quoted.Unquote('"');
        quoted.Unbracket();
        quoted.Trim();
        (void)quoted.ToNumber();
    }
}

void SplitTokens(const Text& line, char separator) {
    Text work(line);
    while (!work.IsEmpty()) {
        const int before = work.Length();
        Text token = work.SplitToken(separator);
        Require(work.Length() < before);
        Require(token.Length() + work.Length() < before || token.Length() == before);
    }
}

void WalkRanges(const Text& line, int uidMode, uint32_t uidNext, uint32_t count) {
    Text set(line);
    while (!set.IsEmpty()) {
        const int before = set.Length();
        MessageRange r = ParseRange(&set, uidMode, uidNext, count);
        Require(set.Length() < before);
        // The range is clamped to the folder: never past its count or UIDNEXT.
        if (r.lo <= r.hi)
            Require(r.hi <= (uidMode != 0 ? uidNext : count));
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1)
        return 0;
    const uint8_t control = data[0];
    const std::string bytes(reinterpret_cast<const char*>(data + 1), size - 1);
    const Text line(bytes.c_str());

    CommandLine command;
    command.Parse(line.c_str());
    for (int i = 0; i < command.arguments.Count(); ++i)
        Require(command.arguments.At(i) != nullptr);
    // The same object parses the next line afresh.
    const Text rest(command.rest);
    command.Parse(rest.c_str());

    SplitArguments(line);
    SplitTokens(line, static_cast<char>(control));
    WalkRanges(line, control & 1, control >> 1, control & 0x3F);
    WalkRanges(line, 1, 0xFFFFFFFFu, 7);
    return 0;
}
