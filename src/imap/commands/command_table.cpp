// The table itself: one line per command. The order is that of the command words' lookup;
// CAPABILITY lists the extended words in alphabetical order.
#include "imap/command_table.h"

#include <iterator>

#include "imap/commands/commands.h"

namespace {

const CommandSpec kCommands[] = {
    // name          modes           states          capability  handler
    {"CAPABILITY", kBothModes, kAnyState, nullptr, RunCapability},
    {"LOGOUT", kBothModes, kAnyState, nullptr, RunLogout},
    {"NOOP", kBothModes, kAnyState, nullptr, RunNoop},
    {"LOGIN", kBothModes, kAnyState, nullptr, RunLogin},
    {"STARTTLS", kExtendedMode, kAnyState, nullptr, RunStartTls},
    {"SELECT", kBothModes, kLoggedIn, nullptr, RunSelect},
    {"EXAMINE", kExtendedMode, kLoggedIn, nullptr, RunExamine},
    {"CREATE", kExtendedMode, kAnyState, nullptr, RunCreate},
    {"DELETE", kExtendedMode, kAnyState, nullptr, RunDelete},
    {"RENAME", kExtendedMode, kAnyState, nullptr, RunRename},
    {"SUBSCRIBE", kBothModes, kLoggedIn, nullptr, RunSubscribe},
    {"UNSUBSCRIBE", kBothModes, kLoggedIn, nullptr, RunUnsubscribe},
    // The exact mode lists folders only outside a selected one.
    {"LIST", kExactMode, kAuthenticatedState, nullptr, RunList},
    {"LIST", kExtendedMode, kLoggedIn, "CHILDREN LIST-EXTENDED LIST-STATUS", RunList},
    {"LSUB", kExactMode, kAuthenticatedState, nullptr, RunLsub},
    {"LSUB", kExtendedMode, kLoggedIn, nullptr, RunLsub},
    {"STATUS", kBothModes, kLoggedIn, nullptr, RunStatus},
    {"APPEND", kBothModes, kLoggedIn, "UIDPLUS", RunAppend},
    {"STORE", kBothModes, kSelectedState, nullptr, RunStore},
    {"EXPUNGE", kExtendedMode, kSelectedState, nullptr, RunExpunge},
    {"SEARCH", kBothModes, kSelectedState, nullptr, RunSearch},
    {"FETCH", kBothModes, kSelectedState, nullptr, RunFetch},
    {"COPY", kBothModes, kSelectedState, "UIDPLUS", RunCopy},
    {"MOVE", kExtendedMode, kSelectedState, "MOVE", RunMove},
    {"CHECK", kExtendedMode, kSelectedState, nullptr, RunCheck},
    {"CLOSE", kExtendedMode, kSelectedState, nullptr, RunClose},
    {"UNSELECT", kExtendedMode, kSelectedState, "UNSELECT", RunUnselect},
    {"IDLE", kBothModes, kAnyState, "IDLE", RunIdle},
    {"ENABLE", kExtendedMode, kAuthenticatedState, nullptr, RunEnable},
    {"AUTHENTICATE", kExtendedMode, kNotAuthenticatedState, "SASL-IR", RunAuthenticate},
    {"ID", kExtendedMode, kAnyState, "ID", RunId},
    {"NAMESPACE", kExtendedMode, kLoggedIn, "NAMESPACE", RunNamespace},
};

}  // namespace

const CommandSpec* FindCommand(const Text& word, uint8_t modes) {
    for (const CommandSpec& spec : kCommands) {
        if ((spec.modes & modes) != 0 && word.CompareNoCase(spec.name) == 0)
            return &spec;
    }
    return nullptr;
}

const CommandSpec* CommandsBegin() {
    return std::begin(kCommands);
}

const CommandSpec* CommandsEnd() {
    return std::end(kCommands);
}
