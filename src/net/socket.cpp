#include "net/socket.h"

#include <cstring>

Socket::~Socket() {
    Socket::Close();
}

int Socket::Close() {
    platform::SocketHandle h = handle_.exchange(platform::kInvalidSocket);
    if (h == platform::kInvalidSocket)
        return 0;
    return platform::CloseSocket(h);
}

int Socket::Send(const char* data, int len, int flags) {
    if (data == nullptr)
        return 0;
    if (len < 0)
        len = static_cast<int>(std::strlen(data));
    platform::SocketHandle h = handle_.load();
    if (h == platform::kInvalidSocket)
        return -1;
    int sent = platform::SendSocket(h, data, len, flags);
    if (sent == -1) {
        // A dead connection: every later call fails at once and the connection thread ends
        // at its next receive. The descriptor is released rather than leaked.
        if (handle_.compare_exchange_strong(h, platform::kInvalidSocket))
            platform::CloseSocket(h);
    }
    return sent;
}

int Socket::Receive(char* buf, int size, int flags) {
    platform::SocketHandle h = handle_.load();
    if (h == platform::kInvalidSocket)
        return -1;
    return platform::RecvSocket(h, buf, size, flags);
}

int Socket::Listen(int backlog) {
    return platform::ListenSocket(handle_.load(), backlog) == 0 ? 1 : 0;
}

int Socket::Accept(Socket& target) {
    platform::SocketHandle h = platform::AcceptSocket(handle_.load());
    target.SetHandle(h);
    return h == platform::kInvalidSocket ? 0 : 1;
}
