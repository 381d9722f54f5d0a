#include "bench/loopback.h"

#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

#include "platform/sockets.h"

namespace {

using Clock = std::chrono::steady_clock;

// The sending side: accepts one connection and sends blocks until the time is up.
void Sender(platform::SocketHandle listener, double seconds, int blockSize,
            std::atomic<bool>* failed) {
    const platform::SocketHandle s = platform::AcceptSocket(listener);
    if (s == platform::kInvalidSocket) {
        *failed = true;
        return;
    }
    std::vector<char> block(static_cast<size_t>(blockSize), 'x');
    const Clock::time_point end = Clock::now() + std::chrono::duration_cast<Clock::duration>(
                                                     std::chrono::duration<double>(seconds));
    while (Clock::now() < end) {
        int offset = 0;
        while (offset < blockSize) {
            const int n = platform::SendSocket(s, block.data() + offset, blockSize - offset, 0);
            if (n <= 0) {
                *failed = true;
                platform::CloseSocket(s);
                return;
            }
            offset += n;
        }
    }
    platform::CloseSocket(s);
}

}  // namespace

LoopbackResult MeasureLoopback(double seconds, int blockSize) {
    LoopbackResult result;
    const platform::SocketHandle listener = platform::TcpSocket();
    if (listener == platform::kInvalidSocket || platform::BindAny(listener, 0) != 0 ||
        platform::ListenSocket(listener, 1) != 0) {
        platform::CloseSocket(listener);
        return result;
    }
    const int port = platform::SocketLocalPort(listener);
    std::atomic<bool> failed(false);
    std::thread sender(Sender, listener, seconds, blockSize, &failed);
    const platform::SocketHandle s = platform::ConnectLoopback(static_cast<uint16_t>(port));
    if (s == platform::kInvalidSocket) {
        platform::CloseSocket(listener);  // wakes the sender's accept
        sender.join();
        return result;
    }
    std::vector<char> buffer(256 * 1024);
    const Clock::time_point start = Clock::now();
    for (;;) {
        const int n = platform::RecvSocket(s, buffer.data(), static_cast<int>(buffer.size()), 0);
        if (n <= 0)
            break;
        result.bytes += static_cast<uint64_t>(n);
    }
    result.seconds = std::chrono::duration<double>(Clock::now() - start).count();
    platform::CloseSocket(s);
    sender.join();
    platform::CloseSocket(listener);
    result.ok = !failed && result.bytes > 0;
    return result;
}
