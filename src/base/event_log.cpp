#include "base/event_log.h"

#include <cstdio>

#include "platform/clock.h"

EventLog::~EventLog() {
    if (file_ != platform::kInvalidFile)
        platform::CloseFile(file_);
}

EventLog& EventLog::Shared() {
    // Never destroyed: a connection thread may still write while the process ends.
    static EventLog* shared = new EventLog;
    return *shared;
}

void EventLog::Configure(const LogSettings& settings) {
    std::lock_guard<std::mutex> hold(lock_);
    if (file_ != platform::kInvalidFile)
        platform::CloseFile(file_);
    file_ = platform::kInvalidFile;
    settings_ = settings;
    if (settings_.keep < 0)
        settings_.keep = 0;
}

LogSettings EventLog::Settings() const {
    std::lock_guard<std::mutex> hold(lock_);
    return settings_;
}

std::string EventLog::Quoted(const char* bytes, size_t n) {
    std::string out("\"");
    for (size_t i = 0; i < n; ++i) {
        const unsigned char c = static_cast<unsigned char>(bytes[i]);
        if (c == '"' || c == '\\') {
            out += '\\';
            out += static_cast<char>(c);
        } else if (c >= 0x20 && c < 0x7F) {
            out += static_cast<char>(c);
        } else {
            char hex[5];
            std::snprintf(hex, sizeof hex, "\\x%02X", c);
            out += hex;
        }
    }
    out += '"';
    return out;
}

bool EventLog::OpenLocked() {
    if (file_ != platform::kInvalidFile)
        return true;
    file_ =
        platform::OpenFile(settings_.path.c_str(), platform::kAccessWrite, platform::kOpenAlways);
    if (file_ == platform::kInvalidFile)
        return false;
    const int64_t end = platform::SeekFile(file_, 0, platform::kSeekEnd);
    size_ = end > 0 ? static_cast<uint64_t>(end) : 0;
    return true;
}

void EventLog::RotateLocked() {
    platform::CloseFile(file_);
    file_ = platform::kInvalidFile;
    const std::string& path = settings_.path;
    if (settings_.keep == 0) {
        platform::DeleteFilePath(path.c_str());
        return;
    }
    platform::DeleteFilePath((path + "." + std::to_string(settings_.keep)).c_str());
    for (int i = settings_.keep - 1; i >= 1; --i) {
        platform::ReplaceByRename((path + "." + std::to_string(i)).c_str(),
                                  (path + "." + std::to_string(i + 1)).c_str());
    }
    platform::ReplaceByRename(path.c_str(), (path + ".1").c_str());
}

void EventLog::Write(uint32_t connection, const std::string& address, const std::string& text) {
    platform::LocalTime now;
    platform::LocalNow(&now);
    const int32_t zone = now.zoneMinutes < 0 ? -now.zoneMinutes : now.zoneMinutes;
    char head[64];
    std::snprintf(head, sizeof head, "%04u-%02u-%02u %02u:%02u:%02u %c%02d%02d #%u ", now.year,
                  now.month, now.day, now.hour, now.minute, now.second,
                  now.zoneMinutes < 0 ? '-' : '+', zone / 60, zone % 60, connection);
    std::string line(head);
    line += address.empty() ? "-" : address;
    line += ' ';
    line += text;
    line += "\r\n";
    std::lock_guard<std::mutex> hold(lock_);
    if (!settings_.on || settings_.path.empty())
        return;
    if (!OpenLocked())
        return;
    if (size_ > 0 && size_ + line.size() > settings_.maxBytes) {
        RotateLocked();
        if (!OpenLocked())
            return;
    }
    uint32_t done = 0;
    platform::WriteFile(file_, line.data(), static_cast<uint32_t>(line.size()), &done);
    size_ += done;
}
