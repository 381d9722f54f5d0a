// orimapst: the command-line tool for the IMAP server's settings and users in a mailbox
// directory. It changes the same files, through the same code, as the setup module.
#include <cstdio>
#include <string>
#include <vector>

#include "platform/codepage.h"
#include "platform/files.h"
#include "setup/console.h"
#include "setup/setup_store.h"
#include "setup/show.h"

namespace {

const char kUsage[] =
    "usage: orimapst --mailbox DIR COMMAND\n"
    "\n"
    "Commands (the server reads every change at its next start):\n"
    "  show                      the settings and the users\n"
    "  set PortNo N              the TCP port the server listens on (1-65535)\n"
    "  set FolderName 0|1        mailbox names from folder titles (1) or directory names (0)\n"
    "  set Extended 0|1          the commands today's clients need (1) or the exact set (0)\n"
    "  set TlsPort N             a second port speaking TLS at once, e.g. 993 (0: none)\n"
    "  set RequireTls 0|1        LOGIN only over TLS (1) or also without it (0)\n"
    "  set TlsCert FILE          a PEM certificate of your own, in DIR or a full path\n"
    "  set TlsKey FILE           its PEM private key (empty: in the TlsCert file)\n"
    "  make-cert [HOSTNAME]      a self-signed certificate for HOSTNAME (default: this\n"
    "                            machine's name) and its key, in DIR, set as TlsCert and\n"
    "                            TlsKey: extended mode then offers STARTTLS\n"
    "  add-user MAILROOT NAME    add a user whose folders are in DIR/MAILROOT\n"
    "  passwd NAME               set a user's password\n"
    "  remove-user NAME          remove a user\n"
    "\n"
    "add-user and passwd read the password from standard input (one line); on a terminal it\n"
    "is typed without echo.\n";

int Fail(const std::string& message) {
    std::fprintf(stderr, "orimapst: %s\n", message.c_str());
    return 1;
}

// RequireTls belongs to the extended mode: in the exact mode there is no TLS, and LOGIN goes on
// in the clear whatever the setting says.
void WarnRequireTlsWithoutExtended(const SetupStore& store) {
    if (store.RequireTls() != 0 && store.Extended() == 0)
        std::printf(
            "note: RequireTls has no effect until Extended is 1 (the exact mode has no "
            "TLS, so LOGIN goes on in the clear)\n");
}

int Usage(const std::string& message) {
    std::fprintf(stderr, "orimapst: %s\n%s", message.c_str(), kUsage);
    return 2;
}

int Set(SetupStore& store, const std::string& key, const std::string& value) {
    std::string error;
    if (platform::lstrcmpiA(key.c_str(), "PortNo") == 0) {
        if (!store.SetPortNo(value, &error))
            return Fail(error);
        std::printf("PortNo set to %u\n", store.PortNo());
    } else if (platform::lstrcmpiA(key.c_str(), "FolderName") == 0) {
        if (!store.SetFolderName(value, &error))
            return Fail(error);
        std::printf("FolderName set to %d\n", store.FolderName());
    } else if (platform::lstrcmpiA(key.c_str(), "Extended") == 0) {
        if (!store.SetExtended(value, &error))
            return Fail(error);
        std::printf("Extended set to %d\n", store.Extended());
        WarnRequireTlsWithoutExtended(store);
    } else if (platform::lstrcmpiA(key.c_str(), "TlsPort") == 0) {
        if (!store.SetTlsPort(value, &error))
            return Fail(error);
        std::printf("TlsPort set to %u\n", store.TlsPort());
    } else if (platform::lstrcmpiA(key.c_str(), "RequireTls") == 0) {
        if (!store.SetRequireTls(value, &error))
            return Fail(error);
        std::printf("RequireTls set to %d\n", store.RequireTls());
        WarnRequireTlsWithoutExtended(store);
    } else if (platform::lstrcmpiA(key.c_str(), "TlsCert") == 0 ||
               platform::lstrcmpiA(key.c_str(), "TlsKey") == 0) {
        const char* name = platform::lstrcmpiA(key.c_str(), "TlsCert") == 0 ? "TlsCert" : "TlsKey";
        if (!store.SetTlsFile(name, value, &error))
            return Fail(error);
        std::printf("%s set to '%s'\n", name, value.c_str());
    } else {
        return Usage("unknown setting '" + key +
                     "' (PortNo, FolderName, Extended, TlsPort, RequireTls, TlsCert or TlsKey)");
    }
    return 0;
}

int AddUser(SetupStore& store, const std::string& mailRoot, const std::string& name) {
    std::string error;
    // Refuse bad names before asking for a password.
    if (!CheckAccountField("mail root", mailRoot, &error) ||
        !CheckAccountField("user name", name, &error)) {
        return Fail(error);
    }
    std::string password;
    if (!ReadPassword("Password: ", &password, &error) ||
        !store.AddUser(mailRoot, name, password, &error)) {
        return Fail(error);
    }
    std::printf("user %s added\n", name.c_str());
    return 0;
}

int ChangePassword(SetupStore& store, const std::string& name) {
    std::string error;
    if (!CheckAccountField("user name", name, &error))
        return Fail(error);
    std::string password;
    if (!ReadPassword("New password: ", &password, &error) ||
        !store.ChangePassword(name, password, &error)) {
        return Fail(error);
    }
    std::printf("password of %s changed\n", name.c_str());
    return 0;
}

int MakeCertificate(SetupStore& store, const std::string& hostName) {
    std::string error, usedName;
    if (!store.MakeCertificate(hostName, &usedName, &error))
        return Fail(error);
    std::printf(
        "certificate for %s written to %s%s, its key to %s%s (owner only)\n"
        "TlsCert and TlsKey set\n",
        usedName.c_str(), store.Directory().c_str(), SetupStore::kCertificateFile,
        store.Directory().c_str(), SetupStore::kKeyFile);
    return 0;
}

int RemoveUser(SetupStore& store, const std::string& name) {
    std::string error;
    int removed = 0;
    if (!store.RemoveUser(name, &removed, &error))
        return Fail(error);
    std::printf("user %s removed (%d line%s)\n", name.c_str(), removed, removed == 1 ? "" : "s");
    return 0;
}

int Run(const std::string& directory, const std::vector<std::string>& command) {
    if (!platform::DirectoryExists(directory.c_str()))
        return Fail("the mailbox directory " + directory + " does not exist");
    SetupStore store(directory);
    const std::string& verb = command[0];
    const size_t n = command.size();
    std::string error;
    if (verb == "show" && n == 1)
        return ShowStore(store, &error) ? 0 : Fail(error);
    if (verb == "set" && n == 3)
        return Set(store, command[1], command[2]);
    if (verb == "add-user" && n == 3)
        return AddUser(store, command[1], command[2]);
    if (verb == "passwd" && n == 2)
        return ChangePassword(store, command[1]);
    if (verb == "remove-user" && n == 2)
        return RemoveUser(store, command[1]);
    if (verb == "make-cert" && n <= 2)
        return MakeCertificate(store, n == 2 ? command[1] : std::string());
    return Usage("unknown command or wrong number of arguments: " + verb);
}

}  // namespace

int main(int argc, char** argv) {
    std::string directory;
    std::vector<std::string> command;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (command.empty() && (arg == "--help" || arg == "-h")) {
            std::fputs(kUsage, stdout);
            return 0;
        }
        if (command.empty() && arg == "--mailbox") {
            if (i + 1 >= argc)
                return Usage("--mailbox needs a directory");
            directory = argv[++i];
            continue;
        }
        command.push_back(arg);
    }
    if (directory.empty())
        return Usage("--mailbox DIR is required");
    if (command.empty())
        return Usage("no command given");
    return Run(directory, command);
}
