// TCP sockets over the POSIX socket API. Handles are ids in a table of this unit, so that a
// close from one thread can wake the calls other threads have in progress on the same handle
// and the descriptor outlives them all.
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <climits>
#include <mutex>
#include <unordered_map>

#include "platform/socket_table.h"
#include "platform/sockets.h"

namespace platform {
namespace {

#ifdef MSG_NOSIGNAL
constexpr int kNoSignal = MSG_NOSIGNAL;
#else
constexpr int kNoSignal = 0;  // SO_NOSIGPIPE is set on each socket instead
#endif

// The OS calls the socket table makes on a descriptor.
struct FdOps {
    using Os = int;
    static int Invalid() { return -1; }
    // Wakes a blocked recv (it returns 0) and, on a listening socket, a blocked accept (it
    // fails); the shut-down state also catches a call not yet entered.
    static void Shutdown(int fd) { shutdown(fd, SHUT_RDWR); }
    static void Close(int fd) { close(fd); }
};
using Sockets = SocketTable<FdOps>;

// Never destroyed: threads still blocked in a socket call at process exit keep using it.
Sockets& Table() {
    static Sockets* table = new Sockets;
    return *table;
}

// One use of a handle for the span of one OS call; the descriptor stays valid meanwhile.
class SocketUse {
  public:
    explicit SocketUse(SocketHandle s) : handle_(s), fd_(Table().Acquire(s)) {}
    ~SocketUse() {
        if (fd_ >= 0)
            Table().Release(handle_);
    }
    SocketUse(const SocketUse&) = delete;
    SocketUse& operator=(const SocketUse&) = delete;

    bool ok() const { return fd_ >= 0; }
    int fd() const { return fd_; }
    // True when another thread closed the handle; a call it woke must then report -1.
    bool Closed() const { return Table().IsClosed(handle_); }

  private:
    SocketHandle handle_;
    int fd_;
};

std::atomic<int> g_startups{0};

// Marks a descriptor not to be inherited by programs the host process starts, and keeps
// sends from raising a signal where the send flag for that does not exist.
void PrepareDescriptor(int fd) {
    int fdFlags = fcntl(fd, F_GETFD);
    if (fdFlags >= 0)
        fcntl(fd, F_SETFD, fdFlags | FD_CLOEXEC);
#if !defined(MSG_NOSIGNAL) && defined(SO_NOSIGPIPE)
    int one = 1;
    setsockopt(fd, SOL_SOCKET, SO_NOSIGPIPE, &one, sizeof(one));
#endif
}

int OpenStream() {
    int fd = socket(AF_INET, SOCK_STREAM, 0);
    if (fd >= 0)
        PrepareDescriptor(fd);
    return fd;
}

// Errors that accept reports for one aborted pending connection rather than for the
// listening socket; the wait goes on for the next connection.
bool IsPendingConnectionError(int err) {
    switch (err) {
        case EINTR:
        case ECONNABORTED:
        case EPROTO:
        case ENETDOWN:
        case ENOPROTOOPT:
        case EHOSTDOWN:
        case EHOSTUNREACH:
        case EOPNOTSUPP:
        case ENETUNREACH:
#ifdef ENONET
        case ENONET:
#endif
            return true;
        default:
            return false;
    }
}

// Errors that accept reports while the process or the system is out of descriptors or
// memory; they pass once some are freed.
bool IsShortageError(int err) {
    return err == EMFILE || err == ENFILE || err == ENOBUFS || err == ENOMEM;
}

// Finishes a connect that a signal interrupted: the attempt goes on in the background.
bool AwaitConnect(int fd) {
    pollfd p{fd, POLLOUT, 0};
    int r;
    do {
        r = poll(&p, 1, -1);
    } while (r < 0 && errno == EINTR);
    if (r <= 0)
        return false;
    int err = 0;
    socklen_t len = sizeof(err);
    return getsockopt(fd, SOL_SOCKET, SO_ERROR, &err, &len) == 0 && err == 0;
}

}  // namespace

int SocketsStartup(uint16_t /*version*/) {
    ++g_startups;
    return 0;
}

int SocketsCleanup() {
    int n = g_startups.load();
    while (n > 0 && !g_startups.compare_exchange_weak(n, n - 1)) {
    }
    return 0;
}

SocketHandle TcpSocket() {
    int fd = OpenStream();
    if (fd < 0)
        return kInvalidSocket;
    return Table().Add(fd);
}

int BindAny(SocketHandle s, uint16_t port) {
    SocketUse use(s);
    if (!use.ok())
        return -1;
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_ANY);
    addr.sin_port = htons(port);
    // The target platform binds a port whose old connections still linger in TIME_WAIT; Linux
    // needs SO_REUSEADDR for that, and still refuses a second socket bound or listening there.
    int on = 1;
    setsockopt(use.fd(), SOL_SOCKET, SO_REUSEADDR, &on, sizeof(on));
    return bind(use.fd(), reinterpret_cast<const sockaddr*>(&addr), sizeof(addr)) == 0 ? 0 : -1;
}

int ListenSocket(SocketHandle s, int backlog) {
    SocketUse use(s);
    if (!use.ok())
        return -1;
    return listen(use.fd(), backlog) == 0 ? 0 : -1;
}

SocketHandle AcceptSocket(SocketHandle s, AcceptFailure* failure) {
    AcceptFailure ignored;
    AcceptFailure& why = failure != nullptr ? *failure : ignored;
    why = AcceptFailure::kClosed;
    SocketUse use(s);
    if (!use.ok())
        return kInvalidSocket;
    int fd;
    int err = 0;
    do {
        fd = accept(use.fd(), nullptr, nullptr);
        err = fd < 0 ? errno : 0;
    } while (fd < 0 && IsPendingConnectionError(err) && !use.Closed());
    if (use.Closed()) {
        // The listening handle was closed while waiting: whatever woke the call, it fails.
        if (fd >= 0)
            close(fd);
        return kInvalidSocket;
    }
    if (fd < 0) {
        why = IsShortageError(err) ? AcceptFailure::kResources : AcceptFailure::kOther;
        return kInvalidSocket;
    }
    why = AcceptFailure::kNone;
    PrepareDescriptor(fd);
    // The server collects each answer and writes it in large pieces; a short last piece must
    // not wait for the acknowledgement of the one before it.
    int one = 1;
    setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof(one));
    return Table().Add(fd);
}

int RecvSocket(SocketHandle s, char* buf, int len, int flags) {
    if (len < 0 || (buf == nullptr && len > 0))
        return -1;
    SocketUse use(s);
    if (!use.ok())
        return -1;
    ssize_t n;
    do {
        n = recv(use.fd(), buf, static_cast<size_t>(len), flags);
    } while (n < 0 && errno == EINTR);
    // A close from another thread wakes the call with 0 (or an error); it reports -1, not an
    // orderly end of the peer's data.
    if (use.Closed())
        return -1;
    return n < 0 ? -1 : static_cast<int>(n);
}

int SendSocket(SocketHandle s, const char* buf, int len, int flags) {
    if (len < 0 || (buf == nullptr && len > 0))
        return -1;
    SocketUse use(s);
    if (!use.ok())
        return -1;
    ssize_t n;
    do {
        n = send(use.fd(), buf, static_cast<size_t>(len), flags | kNoSignal);
    } while (n < 0 && errno == EINTR);
    return n < 0 ? -1 : static_cast<int>(n);
}

int WaitReadable(SocketHandle s, uint32_t timeoutMs) {
    SocketUse use(s);
    if (!use.ok())
        return -1;
    pollfd p{};
    p.fd = use.fd();
    p.events = POLLIN;
    int timeout = timeoutMs > 0x7FFFFFFF ? -1 : static_cast<int>(timeoutMs);
    int n;
    do {
        n = poll(&p, 1, timeout);
    } while (n < 0 && errno == EINTR);
    if (use.Closed() || n < 0)
        return -1;
    return n > 0 ? 1 : 0;
}

int CloseSocket(SocketHandle s) {
    return Table().Close(s);
}

std::string PeerAddress(SocketHandle s) {
    SocketUse use(s);
    if (!use.ok())
        return std::string();
    sockaddr_in addr{};
    socklen_t len = sizeof(addr);
    if (getpeername(use.fd(), reinterpret_cast<sockaddr*>(&addr), &len) != 0 ||
        addr.sin_family != AF_INET)
        return std::string();
    char text[INET_ADDRSTRLEN] = {};
    if (inet_ntop(AF_INET, &addr.sin_addr, text, sizeof text) == nullptr)
        return std::string();
    return text;
}

int SocketLocalPort(SocketHandle s) {
    SocketUse use(s);
    if (!use.ok())
        return -1;
    sockaddr_in addr{};
    socklen_t len = sizeof(addr);
    if (getsockname(use.fd(), reinterpret_cast<sockaddr*>(&addr), &len) != 0)
        return -1;
    if (addr.sin_family != AF_INET)
        return -1;
    return ntohs(addr.sin_port);
}

SocketHandle ConnectLoopback(uint16_t port) {
    int fd = OpenStream();
    if (fd < 0)
        return kInvalidSocket;
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    addr.sin_port = htons(port);
    int r = connect(fd, reinterpret_cast<const sockaddr*>(&addr), sizeof(addr));
    bool connected = r == 0 || (errno == EINTR && AwaitConnect(fd));
    if (!connected) {
        close(fd);
        return kInvalidSocket;
    }
    return Table().Add(fd);
}

std::string LocalHostName() {
    char name[256];
    if (gethostname(name, sizeof name) != 0)
        return std::string();
    name[sizeof name - 1] = 0;
    return name;
}

}  // namespace platform
