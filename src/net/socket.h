// Socket: one TCP socket handle with the few calls the server makes on it. The handle is -1
// when there is none; it may be closed from another thread (the stop of the server) while the
// owning thread is blocked in a receive, which then fails.
#ifndef ORV_NET_SOCKET_H_
#define ORV_NET_SOCKET_H_

#include <atomic>

#include "platform/sockets.h"

class Socket {
  public:
    Socket() = default;
    explicit Socket(platform::SocketHandle handle) : handle_(handle) {}
    virtual ~Socket();
    Socket(const Socket&) = delete;
    Socket& operator=(const Socket&) = delete;

    // Closes the handle. The platform's close result, or 0 when there was none; the handle
    // is -1 afterwards in every case.
    virtual int Close();
    // Sends len bytes (a negative len: up to the terminating NUL) with one platform call. A
    // partial count is returned unchanged; -1 marks the socket dead (closed, handle -1).
    virtual int Send(const char* data, int len = -1, int flags = 0);
    // The platform's receive result: bytes, 0, or -1 (also when there is no handle).
    virtual int Receive(char* buf, int size, int flags);
    // 1 when listening with the given backlog, else 0.
    virtual int Listen(int backlog);
    // Accepts a connection into target (which takes the handle, or -1). 1 when accepted.
    virtual int Accept(Socket& target);

    platform::SocketHandle Handle() const { return handle_.load(); }
    // Takes the handle over from another socket, which is left with -1.
    void TakeHandle(Socket& from) {
        handle_.store(from.handle_.exchange(platform::kInvalidSocket));
    }
    void SetHandle(platform::SocketHandle h) { handle_.store(h); }

  protected:
    std::atomic<platform::SocketHandle> handle_{platform::kInvalidSocket};
};

#endif  // ORV_NET_SOCKET_H_
