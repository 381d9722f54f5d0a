// EventLog: the server's log, a file a person reads and a tool such as fail2ban watches: one line
// per event (a connection accepted or refused, a login or a failed one, TLS started, a
// disconnect with its reason and counts, the server's start and stop, an error it survived),
// each with the local time and zone, the connection's number and the client's address:
//
//   2026-12-09 13:17:37 +0900 #12 192.0.2.7 login failed: user "bob": wrong password
//
// Every thread writes through the one process-wide log; a line goes to the file whole, in one
// write under the log's lock, so lines never tear. Only the texts the server makes reach it:
// what a client sent (a user name) goes through Quoted, so no control byte from the network can
// start a line of its own. Bounded: once the file would pass its size, it is renamed to ".1"
// (".1" to ".2"..., the oldest dropped) and a new one started.
#ifndef ORV_BASE_EVENT_LOG_H_
#define ORV_BASE_EVENT_LOG_H_

#include <cstdint>
#include <mutex>
#include <string>

#include "platform/files.h"

struct LogSettings {
    bool on = true;
    std::string path;               // the file, in the system's path form
    uint64_t maxBytes = 10u << 20;  // the file is rotated before it would pass this
    int keep = 3;                   // old files kept: path.1 (newest) to path.keep
};

class EventLog {
  public:
    EventLog() = default;
    ~EventLog();
    EventLog(const EventLog&) = delete;
    EventLog& operator=(const EventLog&) = delete;

    // The process's log, which every connection writes to; off until configured.
    static EventLog& Shared();

    // Takes the settings, closing the file of earlier ones; the file is opened (created when
    // missing, appended to) at the first line.
    void Configure(const LogSettings& settings);
    LogSettings Settings() const;

    // Writes one line: the local time and zone, "#" and the connection's number (0 for the
    // server itself), the client's address ("-" when there is none) and text, which must hold
    // no line end. Nothing when the log is off; a line that cannot be written is dropped.
    void Write(uint32_t connection, const std::string& address, const std::string& text);

    // A client's bytes for a line, in double quotes: printable ASCII as it is (a quote and a
    // backslash escaped with a backslash), every other byte as \xNN.
    static std::string Quoted(const char* bytes, size_t n);
    static std::string Quoted(const std::string& text) { return Quoted(text.data(), text.size()); }

  private:
    // Opens the file when it is not open; false when it cannot be. The lock is held.
    bool OpenLocked();
    // Renames the full file away and starts a new one. The lock is held.
    void RotateLocked();

    mutable std::mutex lock_;
    LogSettings settings_{false, "", 10u << 20, 3};
    platform::FileHandle file_ = platform::kInvalidFile;
    uint64_t size_ = 0;
};

#endif  // ORV_BASE_EVENT_LOG_H_
