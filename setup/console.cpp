#include "setup/console.h"

#include <cstdio>

#include "platform/process.h"
#include "platform/ui.h"

namespace {

// Reads one line from standard input; false when the input ended before any byte.
bool ReadRawLine(std::string* line) {
    line->clear();
    int c;
    bool any = false;
    while ((c = std::fgetc(stdin)) != EOF) {
        any = true;
        if (c == '\n')
            break;
        *line += static_cast<char>(c);
    }
    if (!line->empty() && line->back() == '\r')
        line->pop_back();
    return any;
}

bool ReadHidden(const char* prompt, std::string* line) {
    std::fputs(prompt, stderr);
    std::fflush(stderr);
    platform::SetStdinEcho(false);
    const bool ok = ReadRawLine(line);
    platform::SetStdinEcho(true);
    std::fputs("\n", stderr);
    return ok;
}

}  // namespace

bool ReadInputLine(const char* prompt, std::string* line) {
    if (prompt != nullptr && *prompt != 0) {
        std::fputs(prompt, stdout);
        std::fflush(stdout);
    }
    const bool ok = ReadRawLine(line);
    // Piped answers are shown after their prompts, so a transcript reads like a dialogue.
    if (ok && prompt != nullptr && *prompt != 0 && !platform::StdinIsTerminal()) {
        std::fputs(line->c_str(), stdout);
        std::fputs("\n", stdout);
    }
    return ok;
}

bool ReadPassword(const char* prompt, std::string* password, std::string* error) {
    if (!platform::StdinIsTerminal()) {
        if (!ReadRawLine(password)) {
            *error = "no password on standard input";
            return false;
        }
        return true;
    }
    std::string again;
    if (!ReadHidden(prompt, password) || !ReadHidden("Retype the password: ", &again)) {
        *error = "no password given";
        return false;
    }
    if (again != *password) {
        *error = "the two passwords differ";
        return false;
    }
    return true;
}
