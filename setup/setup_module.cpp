// The setup module OrImapSt: the plug-in's setup command loads it and calls SetUpImap4 with the
// mailbox directory. It shows a dialog, or on a terminal a small menu, over the same settings
// and accounts code as the orimapst tool, and tells the plug-in whether anything changed.
#include <cstdio>
#include <string>

#include "platform/modules.h"
#include "platform/ui.h"
#include "setup/console.h"
#include "setup/setup_dialog.h"
#include "setup/setup_store.h"
#include "setup/show.h"

namespace {

// Prints a failure of one menu step; the menu goes on.
void Report(const std::string& error) {
    std::printf("  error: %s\n", error.c_str());
}

void Done(const char* what) {
    std::printf("  %s\n", what);
}

// The menu's steps; each returns true when it changed a setting or an account.
bool SetPort(SetupStore& store) {
    std::string value, error;
    if (!ReadInputLine("Port number (1-65535): ", &value))
        return false;
    if (!store.SetPortNo(value, &error)) {
        Report(error);
        return false;
    }
    Done("port number changed");
    return true;
}

bool SetFolderNames(SetupStore& store) {
    std::string value, error;
    if (!ReadInputLine("Mailbox names from folder titles (1) or directory names (0): ", &value))
        return false;
    if (!store.SetFolderName(value, &error)) {
        Report(error);
        return false;
    }
    Done("folder names changed");
    return true;
}

bool AddUser(SetupStore& store) {
    std::string mailRoot, name, password, error;
    if (!ReadInputLine("Mail root (a folder of the mailbox directory): ", &mailRoot))
        return false;
    if (!CheckAccountField("mail root", mailRoot, &error)) {
        Report(error);
        return false;
    }
    if (!ReadInputLine("User name: ", &name))
        return false;
    if (!CheckAccountField("user name", name, &error)) {
        Report(error);
        return false;
    }
    if (!ReadPassword("Password: ", &password, &error) ||
        !store.AddUser(mailRoot, name, password, &error)) {
        Report(error);
        return false;
    }
    Done("user added");
    return true;
}

bool ChangePassword(SetupStore& store) {
    std::string name, password, error;
    if (!ReadInputLine("User name: ", &name))
        return false;
    if (!ReadPassword("New password: ", &password, &error) ||
        !store.ChangePassword(name, password, &error)) {
        Report(error);
        return false;
    }
    Done("password changed");
    return true;
}

bool RemoveUser(SetupStore& store) {
    std::string name, error;
    int removed = 0;
    if (!ReadInputLine("User name: ", &name))
        return false;
    if (!store.RemoveUser(name, &removed, &error)) {
        Report(error);
        return false;
    }
    Done("user removed");
    return true;
}

void PrintMenu(const SetupStore& store) {
    std::printf(
        "\nOrImapSt: IMAP server settings in %s\n"
        "  1  port number (now %u)\n"
        "  2  mailbox names (now %s)\n"
        "  3  add a user\n"
        "  4  change a password\n"
        "  5  remove a user\n"
        "  6  show the settings and users\n"
        "  0  done\n",
        store.Directory().c_str(), store.PortNo(),
        store.FolderName() != 0 ? "folder titles" : "directory names");
}

}  // namespace

// Where dialogs are windows (inside the host there is no terminal), runs the setup dialog for
// the mailbox directory; elsewhere the setup menu, until the user chooses "done" or the input
// ends. Returns 1 when a setting or an account was changed, else 0.
extern "C" __attribute__((visibility("default"))) int SetUpImap4(const char* mailboxRoot) {
    if (mailboxRoot == nullptr || *mailboxRoot == 0)
        return 0;
    if (platform::DialogsAreWindows()) {
        // The dialog's template is a resource of this module.
        const platform::ModuleHandle self =
            platform::ModuleOf(reinterpret_cast<const void*>(&SetUpImap4));
        return setup_dialog::Run(self, mailboxRoot) == 1 ? 1 : 0;
    }
    SetupStore store(mailboxRoot);
    bool changed = false;
    for (;;) {
        PrintMenu(store);
        std::string choice, error;
        if (!ReadInputLine("Choice: ", &choice))
            break;
        if (choice == "0")
            break;
        if (choice == "1") {
            changed |= SetPort(store);
        } else if (choice == "2") {
            changed |= SetFolderNames(store);
        } else if (choice == "3") {
            changed |= AddUser(store);
        } else if (choice == "4") {
            changed |= ChangePassword(store);
        } else if (choice == "5") {
            changed |= RemoveUser(store);
        } else if (choice == "6") {
            if (!ShowStore(store, &error))
                Report(error);
        } else {
            Report("choose one of 0 to 6");
        }
    }
    std::printf("\n");
    std::fflush(stdout);
    return changed ? 1 : 0;
}
