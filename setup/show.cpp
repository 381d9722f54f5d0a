#include "setup/show.h"

#include <cstdio>
#include <vector>

bool ShowStore(const SetupStore& store, std::string* error) {
    std::vector<Account> users;
    int ignored = 0;
    if (!store.ListUsers(&users, &ignored, error))
        return false;
    std::printf("Settings (%s):\n", store.SettingsPath().c_str());
    std::printf("  PortNo      %u%s\n", store.PortNo(),
                store.HasSetting("PortNo") ? "" : " (default)");
    std::printf("  FolderName  %d (%s)%s\n", store.FolderName(),
                store.FolderName() != 0 ? "folder titles" : "directory names",
                store.HasSetting("FolderName") ? "" : " (default)");
    std::printf("  Extended    %d (%s)%s\n", store.Extended(),
                store.Extended() != 0 ? "extended mode" : "exact command set",
                store.HasSetting("Extended") ? "" : " (default)");
    const std::string cert = store.TlsCert();
    std::printf("  TlsCert     %s\n", cert.empty() ? "(none: no TLS)" : cert.c_str());
    if (!cert.empty()) {
        const std::string key = store.TlsKey();
        std::printf("  TlsKey      %s\n", key.empty() ? "(in the TlsCert file)" : key.c_str());
        std::printf("  TlsPort     %u%s\n", store.TlsPort(),
                    store.TlsPort() == 0 ? " (none; STARTTLS only)" : "");
    }
    std::printf("  RequireTls  %d%s\n", store.RequireTls(),
                store.RequireTls() == 0 ? ""
                : store.Extended() != 0
                    ? " (LOGIN over TLS only)"
                    : " (no effect: it needs Extended 1, the exact mode has no TLS)");
    const std::string log = store.LogFile();
    std::printf("  Log         %s\n", log.empty() ? "(off)" : log.c_str());
    std::printf("Users (%s):\n", store.PasswordPath().c_str());
    if (users.empty())
        std::printf("  (none)\n");
    for (const Account& user : users)
        std::printf("  %s  mail root %s\n", user.userName.c_str(), user.mailRoot.c_str());
    if (ignored > 0) {
        std::printf("  (%d line(s) after an empty line are never read by the server)\n", ignored);
    }
    std::fflush(stdout);
    return true;
}
