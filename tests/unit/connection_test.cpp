// The connection thread's line assembly, output buffering and the listener's stop, over real
// loopback sockets.
#include "net/connection.h"

#include <gtest/gtest.h>

#include <atomic>
#include <mutex>
#include <string>
#include <vector>

#include "net/listener.h"
#include "platform/sockets.h"
#include "platform/threads.h"
#include "thread_count.h"

namespace {

// Records every assembled line and answers each with "ok <line>\r\n". A line "slow" writes half
// a response, waits until released, then finishes it; a line "idle" reads one line of further
// input the way a handler that needs more than its command line does.
class RecordingConnection : public Connection {
  public:
    RecordingConnection(Listener* owner, platform::SocketHandle h) : Connection(owner, h) {}

    void OnLine(const char* line, bool cut) override;
    void Greet() override { Send("* hello\r\n"); }
    void Shutdown() override {
        Send("* bye\r\n");
        closing_.store(1);
    }

    std::string line_;
};

struct Shared {
    std::mutex mutex;
    std::vector<std::string> lines;
    std::atomic<bool> slowStarted{false};
    std::atomic<bool> releaseSlow{false};
} shared;

void RecordingConnection::OnLine(const char* line, bool cut) {
    line_ = line;
    if (cut)
        line_ += " (cut)";
    {
        std::lock_guard<std::mutex> hold(shared.mutex);
        shared.lines.push_back(line_);
    }
    if (line_ == "slow") {
        Send("* 1 FETCH (");
        shared.slowStarted = true;
        while (!shared.releaseSlow)
            platform::SleepMs(1);
        Send("X)\r\n");
    } else if (line_ == "idle") {
        Send("+ waiting\r\n");
        Text more;
        ReadInputLine(&more);
        Send("got ");
        Send(more.c_str());
        Send("\r\n");
    } else if (line_ == "big") {
        // Passes the flush threshold several times within one command, and sends pieces
        // larger than it between small ones.
        std::string chunk(1000, 'x');
        for (int i = 0; i < 300; ++i)
            Send(chunk.c_str());
        Send("\r\n");
        const std::string large(Connection::kFlushThreshold, 'L');
        Send(large.c_str());
        Send("-");
        Send(large.c_str());
        Send("\r\n");
    } else if (line_ == "numbers") {
        for (int32_t n : {0, 7, -1, 2147483647, -2147483647 - 1}) {
            SendNumber(n);
            Send(" ");
        }
    } else if (line_ == "quit") {
        closing_.store(1);
    }
    Send("ok ");
    Send(line_.c_str());
    Send("\r\n");
    if (IsClosing())
        Close();
}

class TestListener : public Listener {
  public:
    Connection* CreateSession(Socket& accepted) override {
        Connection* c = new RecordingConnection(this, accepted.Handle());
        accepted.SetHandle(platform::kInvalidSocket);
        return c;
    }
};

class Client {
  public:
    explicit Client(uint16_t port) : s_(platform::ConnectLoopback(port)) {}
    ~Client() {
        if (s_ != platform::kInvalidSocket)
            platform::CloseSocket(s_);
    }
    bool ok() const { return s_ != platform::kInvalidSocket; }
    void Write(const std::string& bytes) {
        ASSERT_EQ(platform::SendSocket(s_, bytes.data(), static_cast<int>(bytes.size()), 0),
                  static_cast<int>(bytes.size()));
    }
    // Reads until the received text ends with `until` or the connection closes.
    std::string ReadUntil(const std::string& until) {
        while (buffer_.size() < until.size() ||
               buffer_.compare(buffer_.size() - until.size(), until.size(), until) != 0) {
            char block[4096];
            int n = platform::RecvSocket(s_, block, sizeof block, 0);
            if (n <= 0)
                break;
            buffer_.append(block, static_cast<size_t>(n));
        }
        std::string out;
        out.swap(buffer_);
        return out;
    }
    // Reads until the server closes the connection.
    std::string ReadAll() {
        for (;;) {
            char block[4096];
            int n = platform::RecvSocket(s_, block, sizeof block, 0);
            if (n <= 0)
                break;
            buffer_.append(block, static_cast<size_t>(n));
        }
        std::string out;
        out.swap(buffer_);
        return out;
    }

  private:
    platform::SocketHandle s_;
    std::string buffer_;
};

class ConnectionTest : public ::testing::Test {
  protected:
    void SetUp() override {
        {
            std::lock_guard<std::mutex> hold(shared.mutex);
            shared.lines.clear();
        }
        shared.slowStarted = false;
        shared.releaseSlow = false;
        // Port 0 lets the OS choose; the listener keeps the handle, so ask it for the port.
        ASSERT_EQ(listener_.StartListening(0), 1);
        port_ = static_cast<uint16_t>(platform::SocketLocalPort(listener_.Handle()));
    }
    void TearDown() override {
        shared.releaseSlow = true;
        listener_.Stop();
        EXPECT_EQ(LiveConnectionCount.load(), 0);
    }
    std::vector<std::string> Lines() {
        std::lock_guard<std::mutex> hold(shared.mutex);
        return shared.lines;
    }

    TestListener listener_;
    uint16_t port_ = 0;
};

TEST_F(ConnectionTest, AssemblesLinesEndedByCrLfWhereverTheBlocksSplit) {
    Client c(port_);
    ASSERT_TRUE(c.ok());
    EXPECT_EQ(c.ReadUntil("\r\n"), "* hello\r\n");

    c.Write("a1 NO");
    platform::SleepMs(30);
    c.Write("OP\r\n");
    EXPECT_EQ(c.ReadUntil("ok a1 NOOP\r\n"), "ok a1 NOOP\r\n");

    c.Write("a2 X\r\na3 Y\r\n");
    EXPECT_EQ(c.ReadUntil("ok a3 Y\r\n"), "ok a2 X\r\nok a3 Y\r\n");

    // A bare LF is an ordinary byte; a lone CR is dropped.
    c.Write("a4 LF\nstill\r\n");
    EXPECT_EQ(c.ReadUntil("\r\n"), "ok a4 LF\nstill\r\n");
    c.Write("a5 NO\rOP\r\n");
    EXPECT_EQ(c.ReadUntil("\r\n"), "ok a5 NOOP\r\n");

    // A CR ending one block and an LF starting the next complete the line.
    c.Write("a6 SPLIT\r");
    platform::SleepMs(30);
    c.Write("\n");
    EXPECT_EQ(c.ReadUntil("\r\n"), "ok a6 SPLIT\r\n");

    // A long line is assembled whole.
    std::string longLine = "a7 " + std::string(100000, 'z');
    c.Write(longLine + "\r\n");
    EXPECT_EQ(c.ReadUntil("\r\n"), "ok " + longLine + "\r\n");
}

TEST_F(ConnectionTest, NulByteDropsTheRestOfItsBlock) {
    Client c(port_);
    c.ReadUntil("\r\n");
    c.Write(std::string("b1 A\r\n\0b2 B\r\n", 13));
    EXPECT_EQ(c.ReadUntil("\r\n"), "ok b1 A\r\n");
    platform::SleepMs(30);
    c.Write("b3 C\r\n");
    EXPECT_EQ(c.ReadUntil("\r\n"), "ok b3 C\r\n");
    EXPECT_EQ(Lines(), (std::vector<std::string>{"b1 A", "b3 C"}));
}

TEST_F(ConnectionTest, HandlerReadsInputAlreadyReceivedFirst) {
    Client c(port_);
    c.ReadUntil("\r\n");
    // The handler's line and the next command arrive in the same packet as the command.
    c.Write("idle\r\nDONE\r\nc2 NEXT\r\n");
    EXPECT_EQ(c.ReadUntil("ok c2 NEXT\r\n"), "+ waiting\r\ngot DONE\r\nok idle\r\nok c2 NEXT\r\n");

    // Output is written before the handler waits for more input.
    c.Write("idle\r\n");
    EXPECT_EQ(c.ReadUntil("+ waiting\r\n"), "+ waiting\r\n");
    c.Write("later\r\n");
    EXPECT_EQ(c.ReadUntil("ok idle\r\n"), "got later\r\nok idle\r\n");
}

TEST_F(ConnectionTest, LargeResponsesArriveWholeAndInOrder) {
    Client c(port_);
    c.ReadUntil("\r\n");
    c.Write("big\r\nafter\r\nnumbers\r\n");
    std::string got = c.ReadUntil("ok numbers\r\n");
    const std::string large(Connection::kFlushThreshold, 'L');
    EXPECT_TRUE(got ==
                std::string(300000, 'x') + "\r\n" + large + "-" + large +
                    "\r\nok big\r\nok after\r\n0 7 -1 2147483647 -2147483648 ok numbers\r\n");
}

TEST_F(ConnectionTest, ClosingConnectionStillParsesItsBlockButAnswersNoMore) {
    Client c(port_);
    c.ReadUntil("\r\n");
    c.Write("quit\r\nd2 AFTER\r\n");
    EXPECT_EQ(c.ReadAll(), "ok quit\r\n");
    for (int i = 0; i < 500 && Lines().size() < 2; ++i)
        platform::SleepMs(2);
    EXPECT_EQ(Lines(), (std::vector<std::string>{"quit", "d2 AFTER"}));
    for (int i = 0; i < 500 && listener_.SessionCount() != 0; ++i)
        platform::SleepMs(2);
    EXPECT_EQ(listener_.SessionCount(), 0);
}

TEST_F(ConnectionTest, StopSaysByeToEveryClientAndWaitsForAll) {
    Client a(port_), b(port_), c(port_);
    a.ReadUntil("\r\n");
    b.ReadUntil("\r\n");
    c.ReadUntil("\r\n");
    for (int i = 0; i < 500 && listener_.SessionCount() != 3; ++i)
        platform::SleepMs(2);
    ASSERT_EQ(listener_.SessionCount(), 3);
    EXPECT_NE(listener_.Stop(), 0);
    EXPECT_EQ(LiveConnectionCount.load(), 0);
    EXPECT_EQ(a.ReadAll(), "* bye\r\n");
    EXPECT_EQ(b.ReadAll(), "* bye\r\n");
    EXPECT_EQ(c.ReadAll(), "* bye\r\n");
    // Stopping again finds no accept thread.
    EXPECT_EQ(listener_.Stop(), 0);
}

// The host unloads the module once the stop returns: no connection thread may be running its
// last instructions then.
TEST_F(ConnectionTest, StopReturnsOnlyOnceEveryConnectionThreadHasEnded) {
    listener_.Stop();
    const int idle = ProcessThreads();
    if (idle < 0)
        GTEST_SKIP() << "no thread count on this system";
    for (int round = 0; round < 20; ++round) {
        ASSERT_EQ(listener_.StartListening(port_), 1);
        {
            Client a(port_), b(port_);
            a.ReadUntil("\r\n");
            b.ReadUntil("\r\n");
            for (int i = 0; i < 500 && listener_.SessionCount() != 2; ++i)
                platform::SleepMs(2);
            ASSERT_EQ(listener_.SessionCount(), 2);
            EXPECT_NE(listener_.Stop(), 0);
        }
        ASSERT_EQ(SettledProcessThreads(idle), idle) << "round " << round;
    }
    ASSERT_EQ(listener_.StartListening(port_), 1);  // for TearDown
}

TEST_F(ConnectionTest, ByeFromStopNeverLandsInsideAResponse) {
    Client c(port_);
    c.ReadUntil("\r\n");
    c.Write("slow\r\n");
    for (int i = 0; i < 1000 && !shared.slowStarted; ++i)
        platform::SleepMs(2);
    ASSERT_TRUE(shared.slowStarted);
    std::atomic<bool> stopped{false};
    struct StopArgs {
        TestListener* listener;
        std::atomic<bool>* stopped;
    } args{&listener_, &stopped};
    platform::ThreadHandle stopper = platform::StartThread(
        [](void* p) -> uint32_t {
            auto* a = static_cast<StopArgs*>(p);
            a->listener->Stop();
            *a->stopped = true;
            return 0;
        },
        &args, nullptr);
    platform::SleepMs(50);
    EXPECT_FALSE(stopped);  // the stop waits for the answer being written
    shared.releaseSlow = true;
    EXPECT_EQ(c.ReadAll(), "* 1 FETCH (X)\r\nok slow\r\n* bye\r\n");
    EXPECT_EQ(platform::WaitForThread(stopper, 10000), platform::kWaitObject0);
    platform::ReleaseThread(stopper);
    EXPECT_TRUE(stopped);
}

TEST_F(ConnectionTest, StopReachesAHandlerWaitingForInput) {
    Client c(port_);
    c.ReadUntil("\r\n");
    c.Write("idle\r\n");
    EXPECT_EQ(c.ReadUntil("+ waiting\r\n"), "+ waiting\r\n");
    EXPECT_NE(listener_.Stop(), 0);
    // The handler's wait ends with the closed socket; its answer is lost, the BYE is not.
    EXPECT_EQ(c.ReadAll(), "* bye\r\n");
}

TEST_F(ConnectionTest, SecondStartWhileListeningFails) {
    EXPECT_EQ(listener_.StartListening(0), 0);
    Client c(port_);
    EXPECT_EQ(c.ReadUntil("\r\n"), "* hello\r\n");
}

TEST(ListenerPortTest, PortInUseFailsAndLeavesNoHandle) {
    TestListener first, second;
    ASSERT_EQ(first.StartListening(0), 1);
    uint16_t port = static_cast<uint16_t>(platform::SocketLocalPort(first.Handle()));
    EXPECT_EQ(second.StartListening(port), 0);
    EXPECT_EQ(second.Handle(), platform::kInvalidSocket);
    EXPECT_EQ(second.Stop(), 0);
    first.Stop();
}

}  // namespace
