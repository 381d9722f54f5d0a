// Console input for the setup tool and module: prompted lines, and passwords typed without echo
// when standard input is a terminal (piped in as one plain line otherwise).
#ifndef ORV_SETUP_CONSOLE_H_
#define ORV_SETUP_CONSOLE_H_

#include <string>

// Shows the prompt (when not empty) and reads one line from standard input, without its line
// end (LF, or CR LF). False at the end of the input with nothing read.
bool ReadInputLine(const char* prompt, std::string* line);

// Reads a password: on a terminal prompted on standard error, typed without echo and asked a
// second time for confirmation; otherwise one line of standard input, without a prompt. False
// (with the reason in *error) at the end of the input or when the two entries differ.
bool ReadPassword(const char* prompt, std::string* password, std::string* error);

#endif  // ORV_SETUP_CONSOLE_H_
