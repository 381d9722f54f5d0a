// TCP sockets: blocked calls woken by a close from another thread, binding, loopback
// transfers, the ends of a connection, closed handles, and many connections opened and
// closed at once without one connection's bytes reaching another.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/sockets.h"
#include "platform/threads.h"

namespace {

using platform::kInvalidSocket;
using platform::SocketHandle;
using platform::ThreadHandle;

constexpr uint32_t kBound = 10000;  // ms; a wait this long means a call never returned

uint32_t RunJob(void* param) {
    std::unique_ptr<std::function<void()>> job(static_cast<std::function<void()>*>(param));
    (*job)();
    return 0;
}

// Runs job on a new platform thread. The job owns what it captures, so a thread that a
// failed test leaves blocked never touches the test's stack.
ThreadHandle Spawn(std::function<void()> job) {
    auto* heapJob = new std::function<void()>(std::move(job));
    ThreadHandle h = platform::StartThread(RunJob, heapJob, nullptr);
    if (h == nullptr)
        delete heapJob;
    return h;
}

// Waits for a spawned thread and releases its handle; false when it did not end in time.
bool Join(ThreadHandle h) {
    bool ended = platform::WaitForThread(h, kBound) == platform::kWaitObject0;
    platform::ReleaseThread(h);
    return ended;
}

// Sends all of data, however the OS splits it.
bool SendAll(SocketHandle s, const std::string& data) {
    size_t off = 0;
    while (off < data.size()) {
        int n = platform::SendSocket(s, data.data() + off, static_cast<int>(data.size() - off), 0);
        if (n <= 0)
            return false;
        off += static_cast<size_t>(n);
    }
    return true;
}

// Receives exactly n bytes; fewer when the connection ends first.
std::string RecvExactly(SocketHandle s, size_t n) {
    std::string out;
    char buf[4096];
    while (out.size() < n) {
        int want = static_cast<int>(std::min(sizeof(buf), n - out.size()));
        int got = platform::RecvSocket(s, buf, want, 0);
        if (got <= 0)
            break;
        out.append(buf, static_cast<size_t>(got));
    }
    return out;
}

class SocketsTest : public ::testing::Test {
  protected:
    void SetUp() override { ASSERT_EQ(platform::SocketsStartup(0x0101), 0); }
    void TearDown() override { EXPECT_EQ(platform::SocketsCleanup(), 0); }

    // A socket listening on a port the OS chose; the port goes to *port.
    static SocketHandle Listen(uint16_t* port) {
        SocketHandle s = platform::TcpSocket();
        if (s == kInvalidSocket)
            return kInvalidSocket;
        int p = -1;
        if (platform::BindAny(s, 0) != 0 || platform::ListenSocket(s, 16) != 0 ||
            (p = platform::SocketLocalPort(s)) <= 0) {
            platform::CloseSocket(s);
            return kInvalidSocket;
        }
        *port = static_cast<uint16_t>(p);
        return s;
    }

    // A connected pair over loopback: *client from ConnectLoopback, *server from accept.
    static bool Pair(SocketHandle listener, uint16_t port, SocketHandle* client,
                     SocketHandle* server) {
        *client = platform::ConnectLoopback(port);
        if (*client == kInvalidSocket)
            return false;
        *server = platform::AcceptSocket(listener);
        return *server != kInvalidSocket;
    }
};

TEST_F(SocketsTest, CloseWakesABlockedAcceptWithMinusOneAndReleasesThePort) {
    // Bound to a port given by number: such a port stays taken until the descriptor is
    // closed, even after the shutdown, which shows when the close really happened.
    uint16_t port = 0;
    SocketHandle probe = Listen(&port);
    ASSERT_NE(probe, kInvalidSocket);
    ASSERT_EQ(platform::CloseSocket(probe), 0);
    SocketHandle listener = platform::TcpSocket();
    ASSERT_NE(listener, kInvalidSocket);
    EXPECT_GT(listener, 0);
    ASSERT_EQ(platform::BindAny(listener, port), 0);
    ASSERT_EQ(platform::ListenSocket(listener, 5), 0);

    auto result = std::make_shared<std::atomic<int>>(12345);
    ThreadHandle t = Spawn([listener, result] { *result = platform::AcceptSocket(listener); });
    ASSERT_NE(t, nullptr);
    // Still blocked: nothing connected, so accept must not have returned on its own.
    EXPECT_EQ(platform::WaitForThread(t, 100), platform::kWaitTimeout);

    EXPECT_EQ(platform::CloseSocket(listener), 0);
    ASSERT_TRUE(Join(t)) << "a close did not wake the blocked accept";
    EXPECT_EQ(result->load(), -1);

    // Once the woken accept has let go, the descriptor is closed and the port free again.
    SocketHandle again = platform::TcpSocket();
    ASSERT_NE(again, kInvalidSocket);
    EXPECT_NE(again, listener);
    EXPECT_EQ(platform::BindAny(again, port), 0);
    EXPECT_EQ(platform::CloseSocket(again), 0);
}

TEST_F(SocketsTest, CloseWakesABlockedRecvWithMinusOneAndTheLinkShutsDown) {
    uint16_t port = 0;
    SocketHandle listener = Listen(&port);
    ASSERT_NE(listener, kInvalidSocket);
    SocketHandle client, server;
    ASSERT_TRUE(Pair(listener, port, &client, &server));

    auto result = std::make_shared<std::atomic<int>>(12345);
    ThreadHandle t = Spawn([server, result] {
        char buf[16];
        *result = platform::RecvSocket(server, buf, sizeof(buf), 0);
    });
    ASSERT_NE(t, nullptr);
    EXPECT_EQ(platform::WaitForThread(t, 100), platform::kWaitTimeout);

    EXPECT_EQ(platform::CloseSocket(server), 0);
    ASSERT_TRUE(Join(t)) << "a close did not wake the blocked recv";
    EXPECT_EQ(result->load(), -1) << "a woken recv must fail, not report an orderly end";

    // The peer sees the connection end.
    char buf[16];
    EXPECT_EQ(platform::RecvSocket(client, buf, sizeof(buf), 0), 0);
    EXPECT_EQ(platform::CloseSocket(client), 0);
    EXPECT_EQ(platform::CloseSocket(listener), 0);
}

TEST_F(SocketsTest, BindingAPortInUseFails) {
    uint16_t port = 0;
    SocketHandle listener = Listen(&port);
    ASSERT_NE(listener, kInvalidSocket);

    SocketHandle second = platform::TcpSocket();
    ASSERT_NE(second, kInvalidSocket);
    EXPECT_EQ(platform::BindAny(second, port), -1);
    // The failed socket is still usable for another port.
    EXPECT_EQ(platform::BindAny(second, 0), 0);
    EXPECT_GT(platform::SocketLocalPort(second), 0);
    EXPECT_NE(platform::SocketLocalPort(second), port);

    EXPECT_EQ(platform::CloseSocket(second), 0);
    EXPECT_EQ(platform::CloseSocket(listener), 0);
}

TEST_F(SocketsTest, BytesCrossLoopbackWholeAndInPieces) {
    uint16_t port = 0;
    SocketHandle listener = Listen(&port);
    ASSERT_NE(listener, kInvalidSocket);
    SocketHandle client, server;
    ASSERT_TRUE(Pair(listener, port, &client, &server));
    EXPECT_NE(client, server);

    // A receive smaller than what arrived takes a part; the rest waits for the next one.
    const char hello[] = "a1 NOOP\r\n";
    ASSERT_EQ(platform::SendSocket(client, hello, 9, 0), 9);
    char buf[16] = {};
    ASSERT_EQ(platform::RecvSocket(server, buf, 4, 0), 4);
    EXPECT_EQ(std::string(buf, 4), "a1 N");
    EXPECT_EQ(RecvExactly(server, 5), "OOP\r\n");

    // A large answer from the other side arrives complete and in order, while a second
    // thread sends it (the OS buffers cannot be relied on to hold it all).
    std::string big(300000, '\0');
    for (size_t i = 0; i < big.size(); ++i)
        big[i] = static_cast<char>('a' + (i * 7) % 26);
    auto sent = std::make_shared<std::atomic<bool>>(false);
    ThreadHandle t = Spawn([server, big, sent] { *sent = SendAll(server, big); });
    ASSERT_NE(t, nullptr);
    std::string got = RecvExactly(client, big.size());
    ASSERT_TRUE(Join(t));
    EXPECT_TRUE(sent->load());
    EXPECT_EQ(got.size(), big.size());
    EXPECT_TRUE(got == big) << "bytes reordered or changed";

    // A zero-length send is not an error.
    EXPECT_EQ(platform::SendSocket(client, buf, 0, 0), 0);

    EXPECT_EQ(platform::CloseSocket(client), 0);
    EXPECT_EQ(platform::CloseSocket(server), 0);
    EXPECT_EQ(platform::CloseSocket(listener), 0);
}

TEST_F(SocketsTest, PeerCloseGivesDataThenZero) {
    uint16_t port = 0;
    SocketHandle listener = Listen(&port);
    ASSERT_NE(listener, kInvalidSocket);
    SocketHandle client, server;
    ASSERT_TRUE(Pair(listener, port, &client, &server));

    ASSERT_EQ(platform::SendSocket(client, "bye", 3, 0), 3);
    EXPECT_EQ(platform::CloseSocket(client), 0);
    EXPECT_EQ(RecvExactly(server, 3), "bye");
    char buf[8];
    EXPECT_EQ(platform::RecvSocket(server, buf, sizeof(buf), 0), 0);
    EXPECT_EQ(platform::RecvSocket(server, buf, sizeof(buf), 0), 0);  // and stays at the end

    EXPECT_EQ(platform::CloseSocket(server), 0);
    EXPECT_EQ(platform::CloseSocket(listener), 0);
}

TEST_F(SocketsTest, SendingToAGonePeerFailsWithoutASignal) {
    uint16_t port = 0;
    SocketHandle listener = Listen(&port);
    ASSERT_NE(listener, kInvalidSocket);
    SocketHandle client, server;
    ASSERT_TRUE(Pair(listener, port, &client, &server));
    EXPECT_EQ(platform::CloseSocket(server), 0);

    // The first sends may still be taken; the peer's reset then makes them fail. A signal
    // would end the whole test program here.
    int result = 0;
    for (int i = 0; i < 2000 && result != -1; ++i) {
        result = platform::SendSocket(client, "data", 4, 0);
        if (result != -1)
            platform::SleepMs(1);
    }
    EXPECT_EQ(result, -1);

    EXPECT_EQ(platform::CloseSocket(client), 0);
    EXPECT_EQ(platform::CloseSocket(listener), 0);
}

TEST_F(SocketsTest, ClosedAndUnknownHandlesFailEveryCall) {
    uint16_t port = 0;
    SocketHandle listener = Listen(&port);
    ASSERT_NE(listener, kInvalidSocket);
    SocketHandle client, server;
    ASSERT_TRUE(Pair(listener, port, &client, &server));
    SocketHandle fresh = platform::TcpSocket();
    ASSERT_NE(fresh, kInvalidSocket);

    for (SocketHandle s : {listener, client, server, fresh}) {
        ASSERT_EQ(platform::CloseSocket(s), 0);
    }
    // A new socket does not take over a handle just closed.
    SocketHandle next = platform::TcpSocket();
    ASSERT_NE(next, kInvalidSocket);

    char buf[8] = {};
    for (SocketHandle s : {listener, client, server, fresh, SocketHandle{0}, SocketHandle{-1},
                           SocketHandle{-7}, SocketHandle{0x7FFFFFF0}}) {
        SCOPED_TRACE(s);
        EXPECT_NE(s, next);
        EXPECT_EQ(platform::BindAny(s, 0), -1);
        EXPECT_EQ(platform::ListenSocket(s, 5), -1);
        EXPECT_EQ(platform::AcceptSocket(s), kInvalidSocket);
        EXPECT_EQ(platform::RecvSocket(s, buf, sizeof(buf), 0), -1);
        EXPECT_EQ(platform::SendSocket(s, buf, sizeof(buf), 0), -1);
        EXPECT_EQ(platform::SocketLocalPort(s), -1);
        EXPECT_EQ(platform::CloseSocket(s), -1);
    }
    EXPECT_EQ(platform::CloseSocket(next), 0);
}

TEST_F(SocketsTest, ConnectingToAPortNobodyListensOnFails) {
    uint16_t port = 0;
    SocketHandle listener = Listen(&port);
    ASSERT_NE(listener, kInvalidSocket);
    ASSERT_EQ(platform::CloseSocket(listener), 0);
    EXPECT_EQ(platform::ConnectLoopback(port), kInvalidSocket);
}

// The echo side of the concurrency test: every accepted connection gets a thread that sends
// back what it receives until the connection ends, then closes it.
struct EchoServer {
    SocketHandle listener = kInvalidSocket;
    std::atomic<int> liveEchoes{0};
    std::atomic<int> accepted{0};
};

void Echo(std::shared_ptr<EchoServer> server, SocketHandle s) {
    char buf[64];
    int n;
    while ((n = platform::RecvSocket(s, buf, sizeof(buf), 0)) > 0) {
        if (!SendAll(s, std::string(buf, static_cast<size_t>(n))))
            break;
    }
    platform::CloseSocket(s);
    --server->liveEchoes;
}

void AcceptLoop(std::shared_ptr<EchoServer> server) {
    for (;;) {
        SocketHandle s = platform::AcceptSocket(server->listener);
        if (s == kInvalidSocket)
            return;
        ++server->accepted;
        ++server->liveEchoes;
        ThreadHandle t = Spawn([server, s] { Echo(server, s); });
        if (t == nullptr) {
            platform::CloseSocket(s);
            --server->liveEchoes;
        } else {
            platform::ReleaseThread(t);
        }
    }
}

// One client thread's share: open, tag, check the echo, close, many times over. Every other
// round, a second thread is blocked reading the connection when it gets closed under it,
// while the other clients open connections that may take the descriptor number just freed.
struct ClientReport {
    std::atomic<int> rounds{0};
    std::atomic<int> failures{0};
    std::string firstFailure;
};

void Fail(ClientReport& report, const std::string& what) {
    if (report.failures++ == 0)
        report.firstFailure = what;
}

void ClientRounds(int client, uint16_t port, int rounds, std::shared_ptr<ClientReport> report) {
    for (int round = 0; round < rounds; ++round) {
        char tagBuf[16];
        std::snprintf(tagBuf, sizeof(tagBuf), "%03d:%05d;", client, round);
        const std::string tag(tagBuf);
        SocketHandle c = platform::ConnectLoopback(port);
        if (c == kInvalidSocket) {
            Fail(*report, "connect failed in round " + std::to_string(round));
            continue;
        }
        if (!SendAll(c, tag))
            Fail(*report, "send failed for " + tag);
        if (round % 2 == 0) {
            std::string echo = RecvExactly(c, tag.size());
            if (echo != tag)
                Fail(*report, "sent " + tag + " got back " + echo);
            platform::CloseSocket(c);
        } else {
            // The reader takes whatever arrives until the close: at most the own tag.
            auto got = std::make_shared<std::string>();
            auto last = std::make_shared<std::atomic<int>>(12345);
            ThreadHandle t = Spawn([c, got, last] {
                char buf[64];
                int n;
                while ((n = platform::RecvSocket(c, buf, sizeof(buf), 0)) > 0) {
                    got->append(buf, static_cast<size_t>(n));
                }
                *last = n;
            });
            if (t == nullptr) {
                Fail(*report, "no reader thread");
                platform::CloseSocket(c);
                continue;
            }
            if (round % 4 == 1)
                platform::SleepMs(0);
            platform::CloseSocket(c);
            if (!Join(t)) {
                Fail(*report, "reader of " + tag + " not woken by the close");
                return;  // the reader still owns its state; stop this client here
            }
            if (got->size() > tag.size() || tag.compare(0, got->size(), *got) != 0) {
                Fail(*report, "reader of " + tag + " got " + *got);
            }
            if (last->load() != -1) {
                Fail(*report, "reader of " + tag + " ended with " + std::to_string(last->load()));
            }
        }
        ++report->rounds;
    }
}

TEST_F(SocketsTest, ManyConnectionsOpenedAndClosedAtOnceKeepTheirBytesApart) {
    auto server = std::make_shared<EchoServer>();
    uint16_t port = 0;
    server->listener = Listen(&port);
    ASSERT_NE(server->listener, kInvalidSocket);
    ThreadHandle acceptor = Spawn([server] { AcceptLoop(server); });
    ASSERT_NE(acceptor, nullptr);

    constexpr int kClients = 8;
    constexpr int kRounds = 120;
    std::vector<std::shared_ptr<ClientReport>> reports;
    std::vector<ThreadHandle> clients;
    for (int i = 0; i < kClients; ++i) {
        reports.push_back(std::make_shared<ClientReport>());
        auto report = reports.back();
        clients.push_back(Spawn([i, port, report] { ClientRounds(i, port, kRounds, report); }));
        ASSERT_NE(clients.back(), nullptr);
    }
    for (ThreadHandle t : clients) {
        // Generous: the whole share of one client under the sanitizers.
        EXPECT_EQ(platform::WaitForThread(t, 120000), platform::kWaitObject0);
        platform::ReleaseThread(t);
    }
    for (int i = 0; i < kClients; ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(reports[i]->failures.load(), 0) << reports[i]->firstFailure;
        EXPECT_EQ(reports[i]->rounds.load(), kRounds);
    }

    // A client that closed without waiting for its echo may still be in the listen queue.
    for (int i = 0; i < 10000 && server->accepted.load() < kClients * kRounds; ++i) {
        platform::SleepMs(1);
    }
    EXPECT_EQ(server->accepted.load(), kClients * kRounds);
    EXPECT_EQ(platform::CloseSocket(server->listener), 0);
    ASSERT_TRUE(Join(acceptor)) << "closing the listener did not end the accept loop";
    for (int i = 0; i < 5000 && server->liveEchoes.load() > 0; ++i)
        platform::SleepMs(1);
    EXPECT_EQ(server->liveEchoes.load(), 0) << "echo threads did not see their connections end";
}

}  // namespace
