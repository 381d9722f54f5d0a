#include "shell/settings.h"

#include "platform/profile.h"
#include "shell/host_api.h"

std::atomic<int> UseTitles{1};

Text SettingsPath() {
    Text path(HostGetMailbox());
    path.Append("Imap4.ini");
    return path;
}

Text PasswordFilePath() {
    Text path(HostGetMailbox());
    path.Append("passwd");
    return path;
}

uint16_t ReadPortNo() {
    return static_cast<uint16_t>(
        platform::ProfileInt("Server", "PortNo", 143, SettingsPath().c_str()) & 0xFFFF);
}

void RefreshUseTitles() {
    UseTitles.store(
        static_cast<int>(platform::ProfileInt("Server", "FolderName", 1, SettingsPath().c_str())));
}
