// TCP sockets: the few stream-socket calls the server makes, with the failure values of the
// target platform's socket API (-1 for an invalid handle and for a failed call).
//
// Handles are small positive integers owned by this layer, not OS descriptors. Closing a
// handle from one thread wakes any other thread blocked in AcceptSocket or RecvSocket on it
// (they return -1), and the OS descriptor behind it is released only when no call is still
// using it, so a descriptor number is never reused under a thread that still holds it.
// All functions are safe to call from any thread.
#ifndef ORV_PLATFORM_SOCKETS_H_
#define ORV_PLATFORM_SOCKETS_H_

#include <cstdint>
#include <string>

namespace platform {

using SocketHandle = int32_t;
constexpr SocketHandle kInvalidSocket = -1;

// Starts the socket library with the requested version word (0x0101 for version 1.1).
// Returns 0 on success. Nothing needs starting on POSIX; the call only records the start.
int SocketsStartup(uint16_t version);
// Stops the socket library again. Returns 0.
int SocketsCleanup();

// A new TCP stream socket (IPv4). kInvalidSocket on failure.
SocketHandle TcpSocket();
// Binds to the IPv4 any-address 0.0.0.0 and the given port (host byte order; 0 lets the OS
// choose). A port whose old connections linger after their close can be bound again at once,
// but not one another socket is bound to. 0 on success, -1 on failure (port in use, bad handle).
int BindAny(SocketHandle s, uint16_t port);
// Starts listening with the given backlog. 0 on success, -1 on failure.
int ListenSocket(SocketHandle s, int backlog);
// Why AcceptSocket returned no connection.
enum class AcceptFailure {
    kNone,  // a connection was accepted
    // The listening handle is closed (before or during the wait) or was never open; no later
    // call on it can succeed.
    kClosed,
    // The process or the system ran out of descriptors or memory (EMFILE, ENFILE, ENOBUFS,
    // ENOMEM; WSAEMFILE, WSAENOBUFS). The pending connection stays queued and the same call
    // succeeds once some are freed, so a caller pauses before it tries again.
    kResources,
    // Any other failure of the listening socket (not listening, a firewall's refusal...).
    kOther,
};

// Blocks until a connection arrives. Returns its handle, or kInvalidSocket on failure,
// including when the listening handle is closed (from any thread) while waiting; failure, when
// given, says why (kNone on success). A pending connection that its peer aborted before it was
// taken, or a wait a signal interrupted (ECONNABORTED, EINTR, the network errors Linux hands on
// from such a connection; WSAECONNRESET, WSAEINTR), is no failure: the wait goes on for the
// next connection. The accepted socket sends without delaying small segments (the server
// coalesces its own output).
SocketHandle AcceptSocket(SocketHandle s, AcceptFailure* failure = nullptr);
// Receives at most len bytes. Returns the count, 0 when the peer closed the connection in an
// orderly way, -1 on error or when the handle is (or gets) closed.
int RecvSocket(SocketHandle s, char* buf, int len, int flags);
// Sends up to len bytes with one OS call; a partial count is returned as it is. -1 on error.
// Never raises a signal when the peer has gone.
int SendSocket(SocketHandle s, const char* buf, int len, int flags);
// Waits up to timeoutMs for the socket to become readable (data, or the peer's close).
// 1 when readable, 0 on time-out, -1 on error or when the handle is (or gets) closed.
int WaitReadable(SocketHandle s, uint32_t timeoutMs);
// Closes the handle: shuts the connection down (waking blocked callers) and releases the
// descriptor once no call uses it. 0 on success, -1 for an unknown handle.
int CloseSocket(SocketHandle s);

// The address of the peer of a connected socket in dotted decimal ("127.0.0.1"); empty when
// unknown (the handle is closed, or the peer is not IPv4).
std::string PeerAddress(SocketHandle s);
// For tools and tests: the local port a socket is bound to, or -1.
int SocketLocalPort(SocketHandle s);
// For tools and tests: a socket connected to 127.0.0.1:port, or kInvalidSocket.
SocketHandle ConnectLoopback(uint16_t port);

// This machine's host name, as a certificate for it names it; empty when unknown. Only the
// TLS layer calls it, which the Windows build leaves out.
std::string LocalHostName();

}  // namespace platform

#endif  // ORV_PLATFORM_SOCKETS_H_
