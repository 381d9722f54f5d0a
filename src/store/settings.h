// The plug-in's settings file "Imap4.ini" in the host's mailbox directory. Values are read at
// the moment they are needed; the folder-name mode is refreshed at each connection's start
// into one process-wide value.
//
// Each call reads the file in the mailbox directory that the given host reports at that
// moment (the shell hands its HostPort down at start-up); nothing is kept between calls.
#ifndef ORV_STORE_SETTINGS_H_
#define ORV_STORE_SETTINGS_H_

#include <atomic>
#include <cstdint>

#include "base/event_log.h"
#include "base/text.h"
#include "store/host_port.h"

// Folder-name mode: non-zero names folders by their titles, 0 by their directory names.
extern std::atomic<int> UseTitles;

// The settings file's path: the mailbox directory followed directly by "Imap4.ini".
Text SettingsPath(HostPort& host);
// The account file's path: the mailbox directory followed directly by "passwd".
Text PasswordFilePath(HostPort& host);
// "Server" / "PortNo", default 143; only the low 16 bits are used.
uint16_t ReadPortNo(HostPort& host);
// "Server" / "Backlog", default 5: the listening socket's queue of connections not yet
// accepted. Many clients connecting at once need more.
int ReadBacklog(HostPort& host);
// Reads "Server" / "FolderName" (default 1) into UseTitles.
void RefreshUseTitles(HostPort& host);
// "Server" / "Extended", default 0: non-zero serves a new connection in extended mode, with
// the commands today's clients need beyond the exact command set.
int ReadExtended(HostPort& host);

// Bounds on what one client can make the server hold, so nothing a client sends grows the
// host's process without limit. Each is a key of section "Server".
struct ServerLimits {
    uint32_t maxLineLength;   // "MaxLineLength": bytes of one command line, default 1 MiB
    uint32_t maxConnections;  // "MaxConnections": live connections, default 256
    uint32_t maxAppendSize;   // "MaxAppendSize": bytes of one APPEND literal, default 64 MiB
    // "LoginTimeout": seconds a connection may wait before LOGIN with nothing from its client,
    // default 60; "IdleTimeout": the same once logged in (IDLE included), default 1800. 0: none.
    uint32_t loginTimeout;
    uint32_t idleTimeout;
    // "LoginFailureDelay": milliseconds a failed LOGIN is answered late, growing with each
    // failure on the connection, default 2000 (0: off); "MaxLoginFailures": failed LOGINs after
    // which a connection is closed, default 3 (0: no limit).
    uint32_t loginFailureDelay;
    uint32_t maxLoginFailures;
    // "MessageCacheSize": bytes of what the server keeps learned about message files for all
    // connections (store/message_cache.h), default 64 MiB; 0: nothing kept.
    uint32_t messageCacheSize;
    // "ListCacheSize": bytes of the folder lists kept for all connections with the bytes they
    // were read from (store/listing_cache.h), default 128 MiB (a list of a million messages
    // takes some 51 MiB); 0: nothing kept.
    uint32_t listCacheSize;
};
ServerLimits ReadLimits(HostPort& host);

// TLS of the extended mode, keys of section "Server". Relative paths are taken from the
// mailbox directory.
struct TlsSettings {
    Text certificate;  // "TlsCert": PEM certificate chain, the server's first; empty: no TLS
    Text key;          // "TlsKey": its PEM private key; empty: looked for in the TlsCert file
    uint16_t port;     // "TlsPort": a second port speaking TLS from the first byte; 0: none
    int required;      // "RequireTls", default 0: non-zero refuses LOGIN without TLS
};
TlsSettings ReadTlsSettings(HostPort& host);

// The server's log (base/event_log.h), keys of section "Server": "Log", default 1 (0: no log);
// "LogFile", default "Imap4.log" in the mailbox directory (a relative path is taken from
// there); "LogMaxSize", bytes before the file is rotated, default 10 MiB (at least 4 KiB);
// "LogKeep", old files kept, default 3.
LogSettings ReadLogSettings(HostPort& host);

#endif  // ORV_STORE_SETTINGS_H_
