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
