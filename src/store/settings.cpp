#include "store/settings.h"

#include "platform/files.h"
#include "platform/profile.h"

std::atomic<int> UseTitles{1};

Text SettingsPath(HostPort& host) {
    Text path(host.MailboxDirectory());
    path.Append("Imap4.ini");
    return path;
}

Text PasswordFilePath(HostPort& host) {
    Text path(host.MailboxDirectory());
    path.Append("passwd");
    return path;
}

uint16_t ReadPortNo(HostPort& host) {
    return static_cast<uint16_t>(
        platform::ProfileInt("Server", "PortNo", 143, SettingsPath(host).c_str()) & 0xFFFF);
}

int ReadBacklog(HostPort& host) {
    int backlog =
        static_cast<int>(platform::ProfileInt("Server", "Backlog", 5, SettingsPath(host).c_str()));
    return backlog > 0 ? backlog : 5;
}

void RefreshUseTitles(HostPort& host) {
    UseTitles.store(static_cast<int>(
        platform::ProfileInt("Server", "FolderName", 1, SettingsPath(host).c_str())));
}

int ReadExtended(HostPort& host) {
    return static_cast<int>(
        platform::ProfileInt("Server", "Extended", 0, SettingsPath(host).c_str()));
}

ServerLimits ReadLimits(HostPort& host) {
    Text path = SettingsPath(host);
    ServerLimits limits;
    limits.maxLineLength = platform::ProfileInt("Server", "MaxLineLength", 1 << 20, path.c_str());
    limits.maxConnections = platform::ProfileInt("Server", "MaxConnections", 256, path.c_str());
    limits.maxAppendSize = platform::ProfileInt("Server", "MaxAppendSize", 64 << 20, path.c_str());
    limits.loginTimeout = platform::ProfileInt("Server", "LoginTimeout", 60, path.c_str());
    limits.idleTimeout = platform::ProfileInt("Server", "IdleTimeout", 30 * 60, path.c_str());
    limits.loginFailureDelay =
        platform::ProfileInt("Server", "LoginFailureDelay", 2000, path.c_str());
    limits.maxLoginFailures = platform::ProfileInt("Server", "MaxLoginFailures", 3, path.c_str());
    limits.messageCacheSize =
        platform::ProfileInt("Server", "MessageCacheSize", 64 << 20, path.c_str());
    limits.listCacheSize = platform::ProfileInt("Server", "ListCacheSize", 128 << 20, path.c_str());
    return limits;
}

namespace {

// A path that names its file from the root or a drive ("/...", "\\...", "C:...").
bool IsAbsolutePath(const Text& path) {
    return path[0] == '/' || path[0] == '\\' || (path.Length() > 1 && path[1] == ':');
}

// A path key of the settings file, made absolute from the mailbox directory.
Text ReadPath(HostPort& host, const char* key, const char* settings) {
    char value[platform::kMaxPath * 4];
    platform::ProfileString("Server", key, "", value, sizeof value, settings);
    Text path(value);
    if (path.IsEmpty() || IsAbsolutePath(path))
        return path;
    Text full(host.MailboxDirectory());
    full.Append(path);
    return full;
}

}  // namespace

LogSettings ReadLogSettings(HostPort& host) {
    const Text path = SettingsPath(host);
    LogSettings log;
    log.on = platform::ProfileInt("Server", "Log", 1, path.c_str()) != 0;
    Text file = ReadPath(host, "LogFile", path.c_str());
    if (file.IsEmpty()) {
        file = host.MailboxDirectory();
        file.Append("Imap4.log");
    }
    log.path = file.c_str();
    const uint32_t size = platform::ProfileInt("Server", "LogMaxSize", 10u << 20, path.c_str());
    log.maxBytes = size < 4096 ? 4096 : size;
    log.keep = static_cast<int>(platform::ProfileInt("Server", "LogKeep", 3, path.c_str()) % 100);
    return log;
}

TlsSettings ReadTlsSettings(HostPort& host) {
    Text path = SettingsPath(host);
    TlsSettings tls;
    tls.certificate = ReadPath(host, "TlsCert", path.c_str());
    tls.key = ReadPath(host, "TlsKey", path.c_str());
    tls.port =
        static_cast<uint16_t>(platform::ProfileInt("Server", "TlsPort", 0, path.c_str()) & 0xFFFF);
    tls.required = static_cast<int>(platform::ProfileInt("Server", "RequireTls", 0, path.c_str()));
    return tls;
}
