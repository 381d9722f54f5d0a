// TCP sockets over Windows Sockets 1.1 (wsock32). Handles are ids in a table of this unit, so
// that a stale id fails instead of naming a newer connection, and an OS socket is closed only
// once no call is using it.
//
// Winsock wakes a call blocked on a socket only by closing that socket, which would free the
// OS handle under the waiting thread. So no call here blocks inside Winsock for long: accept
// and receive first wait for readiness with select in short slices and look between slices
// whether the handle was closed; close shuts the connection down, and the OS socket goes with
// the last call that still uses it.
#include <windows.h>
#include <winsock.h>

#include <cstdint>
#include <mutex>
#include <string>
#include <unordered_map>

#include "platform/socket_table.h"
#include "platform/sockets.h"

namespace platform {
namespace {

// How long one wait slice of a blocking call lasts: the longest a call stays blocked after
// its handle was closed from another thread.
constexpr DWORD kSliceMs = 50;

// The OS calls the socket table makes on a Winsock socket.
struct WinsockOps {
    using Os = SOCKET;
    static SOCKET Invalid() { return INVALID_SOCKET; }
    // Fails harmlessly on a listening or unconnected socket.
    static void Shutdown(SOCKET os) { shutdown(os, 2); }  // SD_BOTH
    static void Close(SOCKET os) { closesocket(os); }
};
using Sockets = SocketTable<WinsockOps>;

// Never destroyed: threads still in a socket call at process exit keep using it.
Sockets& Table() {
    static Sockets* table = new Sockets;
    return *table;
}

// One use of a handle for the span of one call; the OS socket stays valid meanwhile.
class SocketUse {
  public:
    explicit SocketUse(SocketHandle s) : handle_(s), os_(Table().Acquire(s)) {}
    ~SocketUse() {
        if (os_ != INVALID_SOCKET)
            Table().Release(handle_);
    }
    SocketUse(const SocketUse&) = delete;
    SocketUse& operator=(const SocketUse&) = delete;

    bool ok() const { return os_ != INVALID_SOCKET; }
    SOCKET os() const { return os_; }
    bool Closed() const { return Table().IsClosed(handle_); }

  private:
    SocketHandle handle_;
    SOCKET os_;
};

// Waits up to ms (INFINITE: no limit) for the socket to be readable, in slices, giving up
// when the handle is closed. 1 readable, 0 time-out, -1 error or closed.
int WaitForReadable(const SocketUse& use, DWORD ms) {
    DWORD waited = 0;
    for (;;) {
        if (use.Closed())
            return -1;
        DWORD slice = kSliceMs;
        if (ms != INFINITE && ms - waited < slice)
            slice = ms - waited;
        fd_set readable;
        FD_ZERO(&readable);
        FD_SET(use.os(), &readable);
        timeval tv;
        tv.tv_sec = static_cast<long>(slice / 1000);
        tv.tv_usec = static_cast<long>((slice % 1000) * 1000);
        const int n = select(0, &readable, nullptr, nullptr, &tv);
        if (use.Closed() || n == SOCKET_ERROR)
            return -1;
        if (n > 0)
            return 1;
        waited += slice;
        if (ms != INFINITE && waited >= ms)
            return 0;
    }
}

// Keeps a socket out of the programs the host process starts.
void PrepareSocket(SOCKET os) {
    SetHandleInformation(reinterpret_cast<HANDLE>(os), HANDLE_FLAG_INHERIT, 0);
}

SOCKET OpenStream() {
    SOCKET os = socket(AF_INET, SOCK_STREAM, 0);
    if (os != INVALID_SOCKET)
        PrepareSocket(os);
    return os;
}

}  // namespace

int SocketsStartup(uint16_t version) {
    WSADATA data;
    return WSAStartup(version, &data);
}

int SocketsCleanup() {
    WSACleanup();
    return 0;
}

SocketHandle TcpSocket() {
    SOCKET os = OpenStream();
    if (os == INVALID_SOCKET)
        return kInvalidSocket;
    return Table().Add(os);
}

int BindAny(SocketHandle s, uint16_t port) {
    SocketUse use(s);
    if (!use.ok())
        return -1;
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_ANY);
    addr.sin_port = htons(port);
    // No SO_REUSEADDR: here it would let a second socket take a port in use. Windows binds a
    // port whose old connections linger without it.
    return bind(use.os(), reinterpret_cast<const sockaddr*>(&addr), sizeof(addr)) == 0 ? 0 : -1;
}

int ListenSocket(SocketHandle s, int backlog) {
    SocketUse use(s);
    if (!use.ok())
        return -1;
    return listen(use.os(), backlog) == 0 ? 0 : -1;
}

SocketHandle AcceptSocket(SocketHandle s, AcceptFailure* failure) {
    AcceptFailure ignored;
    AcceptFailure& why = failure != nullptr ? *failure : ignored;
    why = AcceptFailure::kClosed;
    SocketUse use(s);
    if (!use.ok())
        return kInvalidSocket;
    for (;;) {
        if (WaitForReadable(use, INFINITE) != 1) {
            if (!use.Closed())
                why = AcceptFailure::kOther;
            return kInvalidSocket;
        }
        SOCKET os = accept(use.os(), nullptr, nullptr);
        if (use.Closed()) {
            if (os != INVALID_SOCKET)
                closesocket(os);
            return kInvalidSocket;
        }
        if (os != INVALID_SOCKET) {
            why = AcceptFailure::kNone;
            PrepareSocket(os);
            // Answers go out in large pieces; a short last piece must not wait for the
            // acknowledgement of the one before it.
            BOOL one = TRUE;
            setsockopt(os, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&one),
                       sizeof(one));
            return Table().Add(os);
        }
        // A pending connection that the peer reset before it was taken: wait for the next.
        const int err = WSAGetLastError();
        if (err == WSAECONNRESET || err == WSAEWOULDBLOCK || err == WSAEINTR)
            continue;
        // Out of sockets or buffer space: the connection stays queued until some are freed.
        why = err == WSAEMFILE || err == WSAENOBUFS ? AcceptFailure::kResources
                                                    : AcceptFailure::kOther;
        return kInvalidSocket;
    }
}

int RecvSocket(SocketHandle s, char* buf, int len, int flags) {
    if (len < 0 || (buf == nullptr && len > 0))
        return -1;
    SocketUse use(s);
    if (!use.ok())
        return -1;
    if (WaitForReadable(use, INFINITE) != 1)
        return -1;
    const int n = recv(use.os(), buf, len, flags);
    // A close from another thread reports -1, not an orderly end of the peer's data.
    if (use.Closed())
        return -1;
    return n == SOCKET_ERROR ? -1 : n;
}

int SendSocket(SocketHandle s, const char* buf, int len, int flags) {
    if (len < 0 || (buf == nullptr && len > 0))
        return -1;
    SocketUse use(s);
    if (!use.ok())
        return -1;
    const int n = send(use.os(), buf, len, flags);
    return n == SOCKET_ERROR ? -1 : n;
}

int WaitReadable(SocketHandle s, uint32_t timeoutMs) {
    SocketUse use(s);
    if (!use.ok())
        return -1;
    return WaitForReadable(use, timeoutMs > 0x7FFFFFFF ? INFINITE : timeoutMs);
}

int CloseSocket(SocketHandle s) {
    return Table().Close(s);
}

std::string PeerAddress(SocketHandle s) {
    SocketUse use(s);
    if (!use.ok())
        return std::string();
    sockaddr_in addr{};
    int len = sizeof(addr);
    if (getpeername(use.os(), reinterpret_cast<sockaddr*>(&addr), &len) != 0 ||
        addr.sin_family != AF_INET)
        return std::string();
    const char* text = inet_ntoa(addr.sin_addr);
    return text != nullptr ? std::string(text) : std::string();
}

int SocketLocalPort(SocketHandle s) {
    SocketUse use(s);
    if (!use.ok())
        return -1;
    sockaddr_in addr{};
    int len = sizeof(addr);
    if (getsockname(use.os(), reinterpret_cast<sockaddr*>(&addr), &len) != 0)
        return -1;
    if (addr.sin_family != AF_INET)
        return -1;
    return ntohs(addr.sin_port);
}

SocketHandle ConnectLoopback(uint16_t port) {
    SOCKET os = OpenStream();
    if (os == INVALID_SOCKET)
        return kInvalidSocket;
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    addr.sin_port = htons(port);
    if (connect(os, reinterpret_cast<const sockaddr*>(&addr), sizeof(addr)) != 0) {
        closesocket(os);
        return kInvalidSocket;
    }
    return Table().Add(os);
}

std::string LocalHostName() {
    char name[256];
    if (gethostname(name, sizeof name) != 0)
        return std::string();
    name[sizeof name - 1] = 0;
    return name;
}

}  // namespace platform
