// The socket handles a backend of the OS layer hands out: each id names an OS socket, the
// number of calls using it and whether it was closed. A close from one thread marks the id
// and shuts the connection down, so calls blocked on it return; the OS socket itself is closed
// by whoever drops the last use, so it is never taken from under a call still using it, nor
// reused for another connection while such a call runs. Shared by the POSIX and Windows
// backends, which give the OS socket type and its two calls (Ops), so this header needs no OS
// header.
#ifndef ORV_PLATFORM_SOCKET_TABLE_H_
#define ORV_PLATFORM_SOCKET_TABLE_H_

#include <cstdint>
#include <mutex>
#include <unordered_map>

#include "platform/sockets.h"

namespace platform {

// Ops: struct { using Os = ...; static Os Invalid(); static void Shutdown(Os);
//               static void Close(Os); }
template <typename Ops>
class SocketTable {
  public:
    using Os = typename Ops::Os;

    // Enters a new OS socket and returns its id. Ids come from a counter and are handed out
    // again only after it wraps, so a stale id fails instead of naming another connection.
    SocketHandle Add(Os os) {
        std::lock_guard<std::mutex> lock(mutex_);
        SocketHandle id;
        do {
            id = next_;
            next_ = next_ == INT32_MAX ? 1 : next_ + 1;
        } while (entries_.count(id) != 0);
        entries_[id] = Entry{os, 0, false};
        return id;
    }

    // Counts a use of an open id and returns its OS socket, or Ops::Invalid() when the id is
    // not open.
    Os Acquire(SocketHandle s) {
        std::lock_guard<std::mutex> lock(mutex_);
        auto it = entries_.find(s);
        if (it == entries_.end() || it->second.closed)
            return Ops::Invalid();
        ++it->second.uses;
        return it->second.os;
    }

    // Drops a use taken by Acquire; the last use of a closed id closes its OS socket.
    void Release(SocketHandle s) {
        Os os = Ops::Invalid();
        {
            std::lock_guard<std::mutex> lock(mutex_);
            auto it = entries_.find(s);
            if (it == entries_.end())
                return;
            if (--it->second.uses == 0 && it->second.closed) {
                os = it->second.os;
                entries_.erase(it);
            }
        }
        if (os != Ops::Invalid())
            Ops::Close(os);
    }

    // Whether an id on which the caller holds a use has been closed meanwhile.
    bool IsClosed(SocketHandle s) {
        std::lock_guard<std::mutex> lock(mutex_);
        auto it = entries_.find(s);
        return it == entries_.end() || it->second.closed;
    }

    // Closes an open id: later lookups fail, the connection is shut down so that calls
    // blocked on it return (and the peer sees its end at once), and the OS socket goes once
    // no call uses it. -1 when not open.
    int Close(SocketHandle s) {
        Os os = Ops::Invalid();
        {
            std::lock_guard<std::mutex> lock(mutex_);
            auto it = entries_.find(s);
            if (it == entries_.end() || it->second.closed)
                return -1;
            it->second.closed = true;
            Ops::Shutdown(it->second.os);
            if (it->second.uses == 0) {
                os = it->second.os;
                entries_.erase(it);
            }
        }
        if (os != Ops::Invalid())
            Ops::Close(os);
        return 0;
    }

  private:
    struct Entry {
        Os os;
        int uses;
        bool closed;
    };

    std::mutex mutex_;
    std::unordered_map<SocketHandle, Entry> entries_;
    SocketHandle next_ = 1;
};

}  // namespace platform

#endif  // ORV_PLATFORM_SOCKET_TABLE_H_
