// The command table: every IMAP command the server knows, with the modes it exists in, the
// states it is allowed in and what it adds to CAPABILITY in extended mode. The session looks
// a command word up here, answers a command unknown in its mode as not implemented and one in
// the wrong state with "BAD State", and otherwise runs the handler. Adding a command is one
// handler file under commands/ and one line of the table; a command whose modes allow it in
// different states has one line per mode.
#ifndef ORV_IMAP_COMMAND_TABLE_H_
#define ORV_IMAP_COMMAND_TABLE_H_

#include <cstdint>

#include "base/text.h"

class Session;

// Modes a command exists in.
constexpr uint8_t kExactMode = 1;
constexpr uint8_t kExtendedMode = 2;
constexpr uint8_t kBothModes = kExactMode | kExtendedMode;

// States a command is allowed in (a command checks nothing more of the state itself).
constexpr uint8_t kNotAuthenticatedState = 1;
constexpr uint8_t kAuthenticatedState = 2;
constexpr uint8_t kSelectedState = 4;
constexpr uint8_t kLoggedIn = kAuthenticatedState | kSelectedState;
constexpr uint8_t kAnyState = kNotAuthenticatedState | kLoggedIn;

struct CommandSpec {
    const char* name;
    uint8_t modes;
    uint8_t states;
    // The extended mode's CAPABILITY words (one, or several separated by blanks), or null.
    const char* capability;
    void (*run)(Session& session);
};

// The first entry for a command word (ASCII case ignored) that exists in one of the given
// modes, or null.
const CommandSpec* FindCommand(const Text& word, uint8_t modes = kBothModes);

// The whole table, for CAPABILITY.
const CommandSpec* CommandsBegin();
const CommandSpec* CommandsEnd();

#endif  // ORV_IMAP_COMMAND_TABLE_H_
