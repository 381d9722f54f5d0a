// The setup dialog of the setup module: the server's settings and its users in one window, for
// the host's setup command where there is no terminal. Every change is made at once to copies
// of the settings and account files, through the same checks and writing as the orimapst tool,
// so a bad value is refused when it is entered; OK puts the changed copies in place, Cancel
// leaves the mailbox directory as it was.
#ifndef ORV_SETUP_SETUP_DIALOG_H_
#define ORV_SETUP_SETUP_DIALOG_H_

#include <string>

#include "platform/modules.h"
#include "platform/ui.h"

namespace setup_dialog {

// The dialog's resource and its controls (the module's resource file has the same).
constexpr int kTemplate = 200;
enum Control {
    kPort = 1101,
    kFolderTitles = 1102,
    kExtended = 1103,
    kTlsCert = 1104,
    kTlsKey = 1105,
    kTlsPort = 1106,
    kRequireTls = 1107,
    kLogFile = 1108,  // where the server's log is (shown, not edited)
    kUsers = 1110,
    kMailRoot = 1111,
    kUserName = 1112,
    kPassword = 1113,
    kPasswordAgain = 1114,
    kAdd = 1120,
    kChangePassword = 1121,
    kRemove = 1122,
};

// The caption of the dialog and of its message boxes.
extern const char kCaption[];

// Runs the dialog from module's resources for the mailbox directory, owned by owner. 1 when
// OK put a changed setting or account in place; 0 when nothing changed (Cancel, or OK without
// a change); -1 when the dialog could not run or the changes could not be put in place.
int Run(platform::ModuleHandle module, const std::string& directory,
        platform::WindowHandle owner = nullptr);

// The dialog's template, as the resource file has it, for dialogs drawn from registered
// templates.
platform::DialogTemplate Template();

}  // namespace setup_dialog

#endif  // ORV_SETUP_SETUP_DIALOG_H_
