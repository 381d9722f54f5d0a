#include "net/connection.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <vector>

#include "net/listener.h"
#include "net/tls_layer.h"

std::atomic<int32_t> LiveConnectionCount{0};
std::atomic<int32_t> ServedConnectionCount{0};

namespace {
// The handles of connection threads that have finished their connection but may still be
// running their last instructions. The count of live connections reaches 0 before they
// end; the stop waits for each, since the host may unload the module right after it.
std::mutex gEndingMutex;
std::vector<platform::ThreadHandle> gEnding;

// Keeps the calling connection thread's handle for the stop, releasing those of threads
// that have ended meanwhile, so the list stays as short as the threads still ending.
void KeepEndingThread(platform::ThreadHandle own) {
    std::lock_guard<std::mutex> hold(gEndingMutex);
    size_t kept = 0;
    for (platform::ThreadHandle h : gEnding) {
        if (platform::WaitForThread(h, 0) == platform::kWaitObject0)
            platform::ReleaseThread(h);
        else
            gEnding[kept++] = h;
    }
    gEnding.resize(kept);
    gEnding.push_back(own);
}
}  // namespace

Connection::Connection(Listener* owner, platform::SocketHandle handle) : owner_(owner) {
    SetHandle(handle);
    platform::InterlockedIncrement(LiveConnectionCount);
    platform::InterlockedIncrement(ServedConnectionCount);
}

Connection::~Connection() {
    Socket::Close();
    StopServing();
    platform::InterlockedDecrement(LiveConnectionCount);
}

void Connection::StopServing() {
    if (!served_.exchange(true))
        platform::InterlockedDecrement(ServedConnectionCount);
}

namespace {
// Writes all of data with as many platform sends as it takes; false when the socket failed.
bool SendAll(Socket& s, const char* data, size_t len) {
    while (len > 0) {
        int chunk = static_cast<int>(std::min<size_t>(len, 1 << 30));
        int sent = s.Socket::Send(data, chunk, 0);
        if (sent <= 0)
            return false;
        data += sent;
        len -= static_cast<size_t>(sent);
    }
    return true;
}
}  // namespace

bool Connection::SendRaw(const char* data, size_t len) {
    const bool sent = tls_ == nullptr ? SendAll(*this, data, len) : SendTls(data, len);
    if (sent)
        bytesOut_ += len;
    return sent;
}

bool Connection::SendRecords(const char* data, size_t len) {
    return SendAll(*this, data, len);
}

int Connection::Send(const char* data, int len, int flags) {
    (void)flags;
    if (data == nullptr)
        return 0;
    if (len < 0)
        len = static_cast<int>(std::strlen(data));
    bool own = OnOwnThread();
    if (own && busy_ && static_cast<size_t>(len) < kFlushThreshold &&
        out_.size() + static_cast<size_t>(len) < kFlushThreshold) {
        // The connection's own answer, the common case: only this thread touches out_ and
        // changes busy_, so the piece is collected without taking the lock.
        if (Handle() == platform::kInvalidSocket)
            return -1;
        out_.append(data, static_cast<size_t>(len));
        return len;
    }
    std::unique_lock<std::mutex> hold(outMutex_);
    if (Handle() == platform::kInvalidSocket)
        return -1;
    if (busy_) {
        if (!own) {
            // The stop's BYE while a command is answered: it follows the answer.
            deferredLine_.append(data, static_cast<size_t>(len));
            return len;
        }
        if (static_cast<size_t>(len) >= kFlushThreshold) {
            // A large piece (a message literal) goes out from where it lies, right after
            // what was collected before it, instead of being copied into the collection.
            std::string pending;
            pending.swap(out_);
            hold.unlock();
            if (!pending.empty() && !SendRaw(pending.data(), pending.size()))
                return len;
            SendRaw(data, static_cast<size_t>(len));
            return len;
        }
        out_.append(data, static_cast<size_t>(len));
        if (out_.size() >= kFlushThreshold) {
            hold.unlock();
            Flush();
        }
        return len;
    }
    // Outside a command (the greeting, a BYE while the connection waits for input): at once.
    return SendRaw(data, static_cast<size_t>(len)) ? len : -1;
}

void Connection::SendNumber(int32_t n) {
    // "%d" without the formatter: digits from the end of a small buffer.
    char buffer[12];
    int first = sizeof buffer;
    uint32_t magnitude = n < 0 ? 0u - static_cast<uint32_t>(n) : static_cast<uint32_t>(n);
    do {
        buffer[--first] = static_cast<char>('0' + magnitude % 10);
        magnitude /= 10;
    } while (magnitude != 0);
    if (n < 0)
        buffer[--first] = '-';
    Send(buffer + first, static_cast<int>(sizeof buffer) - first, 0);
}

void Connection::Flush() {
    std::string pending;
    {
        std::lock_guard<std::mutex> hold(outMutex_);
        pending.swap(out_);
    }
    // Only the connection thread writes while it is busy, so the socket needs no lock here;
    // a stop that gives up waiting closes the socket, which fails this send at once.
    if (pending.empty())
        return;
    SendRaw(pending.data(), pending.size());
    // The buffer is kept for what comes next, so collecting does not grow a new one each time.
    pending.clear();
    std::lock_guard<std::mutex> hold(outMutex_);
    if (out_.empty())
        out_.swap(pending);
}

int Connection::Close() {
    if (!OnOwnThread()) {
        std::lock_guard<std::mutex> hold(outMutex_);
        if (busy_) {
            deferredClose_ = true;
            return 0;
        }
        EndTls();
        return Socket::Close();
    }
    // The connection's own close (after LOGOUT, or after the stop's BYE was deferred): the
    // answer goes out first, then the deferred line, then the socket closes.
    Flush();
    std::lock_guard<std::mutex> hold(outMutex_);
    SendDeferredLocked();
    EndTls();
    return Socket::Close();
}

void Connection::SendDeferredLocked() {
    if (deferredLine_.empty())
        return;
    std::string line;
    line.swap(deferredLine_);
    if (Handle() != platform::kInvalidSocket)
        SendRaw(line.data(), line.size());
}

void Connection::ForceClose() {
    Socket::Close();
}

void Connection::BeginCommand() {
    std::lock_guard<std::mutex> hold(outMutex_);
    busy_ = true;
}

void Connection::EndCommand() {
    Flush();
    EnterWait();
}

void Connection::RunLine() {
    BeginCommand();
    OnLine(lineBuffer_.c_str(), lineCut_);
    lineBuffer_.Clear();
    lineCut_ = false;
    EndCommand();
    OnAnswered();
}

void Connection::OnData(const char* block) {
    if (inputPos_ >= input_.size()) {
        input_.clear();
        inputPos_ = 0;
    }
    // A NUL ends the block: whatever follows it in the same block is dropped.
    input_.append(block, std::strlen(block));
    // The limit may change with the state (a line after LOGIN may be longer): asked here and
    // after every line.
    lineLimit_ = LineLimit();
    // A handler run from here may consume further input (and receive more) itself; the loop
    // goes on from wherever it left the input.
    while (inputPos_ < input_.size()) {
        char c = input_[inputPos_++];
        if (c == '\r') {
            pendingCr_ = true;
        } else if (c == '\n' && pendingCr_) {
            pendingCr_ = false;
            RunLine();
            lineLimit_ = LineLimit();
        } else {
            pendingCr_ = false;
            if (lineLimit_ != 0 && static_cast<uint32_t>(lineBuffer_.Length()) >= lineLimit_) {
                lineCut_ = true;  // the rest of an overlong line is read and dropped
            } else {
                lineBuffer_.Append(c);
            }
        }
    }
}

int Connection::ReadInput(char* buf, int size) {
    if (size <= 0)
        return 0;
    if (inputPos_ >= input_.size()) {
        input_.clear();
        inputPos_ = 0;
        if (size >= kBlockSize)
            return WaitAndReceive(buf, size);
        char block[kBlockSize];
        int n = WaitAndReceive(block, kBlockSize - 1);
        if (n <= 0)
            return n;
        input_.assign(block, static_cast<size_t>(n));
    }
    size_t take = std::min(static_cast<size_t>(size), input_.size() - inputPos_);
    std::memcpy(buf, input_.data() + inputPos_, take);
    inputPos_ += take;
    return static_cast<int>(take);
}

int Connection::WaitAndReceive(char* buf, int size) {
    Flush();
    EnterWait();
    const bool ready = AwaitClient();
    int n = ready ? Receive(buf, size, 0) : -1;
    LeaveWait();
    return n;
}

bool Connection::AwaitClient() {
    const uint32_t timeout = InputTimeoutMs();
    if (timeout == 0 || TlsInputPending())
        return true;
    const platform::SocketHandle h = Handle();
    if (h == platform::kInvalidSocket || platform::WaitReadable(h, timeout) != 0)
        return true;
    OnInputTimeout();
    Flush();
    Close();
    return false;
}

void Connection::EnterWait() {
    // Between commands, and while a handler waits for the client, the answer so far is out
    // and the connection counts as idle: a stop's BYE and close go through at once (and end a
    // wait) instead of waiting for an answer that waits for the client.
    std::lock_guard<std::mutex> hold(outMutex_);
    busy_ = false;
    SendDeferredLocked();
    if (deferredClose_) {
        deferredClose_ = false;
        Socket::Close();
    }
}

void Connection::LeaveWait() {
    std::lock_guard<std::mutex> hold(outMutex_);
    busy_ = true;
}

int Connection::WaitForInput(uint32_t timeoutMs) {
    if (inputPos_ < input_.size() || TlsInputPending())
        return 1;
    Flush();
    EnterWait();
    platform::SocketHandle h = Handle();
    int ready = h == platform::kInvalidSocket ? -1 : platform::WaitReadable(h, timeoutMs);
    LeaveWait();
    return ready;
}

bool Connection::ReadInputLine(Text* line, uint32_t limit, bool* cut, Text* tail) {
    line->Clear();
    if (cut != nullptr)
        *cut = false;
    if (tail != nullptr)
        tail->Clear();
    std::string dropped;  // the last bytes of a cut line, at most kTailBytes
    bool cr = false;
    for (;;) {
        char c;
        if (ReadInput(&c, 1) <= 0)
            return false;
        if (c == '\r') {
            cr = true;
        } else if (c == '\n' && cr) {
            if (tail != nullptr)
                tail->Assign(dropped.c_str(), static_cast<int>(dropped.size()));
            return true;
        } else {
            cr = false;
            if (limit != 0 && static_cast<uint32_t>(line->Length()) >= limit) {
                if (cut != nullptr)
                    *cut = true;
                if (dropped.size() == kTailBytes)
                    dropped.erase(0, 1);
                dropped.push_back(c);
            } else {
                line->Append(c);
            }
        }
    }
}

int Connection::Start() {
    // With implicit TLS the greeting follows the handshake, on the connection thread.
    if (!implicitTls_)
        Greet();
    std::lock_guard<std::mutex> hold(startMutex_);
    thread_ = platform::StartThread(&Connection::ThreadMain, this, &threadId_);
    return thread_ != nullptr ? 1 : 0;
}

void Connection::Shutdown() {
    // The connection thread deletes its own object when it ends, so nothing here may touch
    // the object afterwards: closing the socket is what ends the thread.
    Close();
}

void Connection::OnEnd() {
    if (owner_ != nullptr)
        owner_->RemoveSession(this);
}

uint32_t Connection::ThreadMain(void* param) {
    Connection* c = static_cast<Connection*>(param);
    { std::lock_guard<std::mutex> wait(c->startMutex_); }
    if (c->Handle() != platform::kInvalidSocket && c->OpenImplicitTls()) {
        char block[kBlockSize];
        for (;;) {
            // A client silent past its time is told goodbye and the connection ends.
            if (!c->AwaitClient())
                break;
            int n = c->Receive(block, kBlockSize - 1, 0);
            // An orderly close by the peer (0) ends the connection like an error.
            if (n <= 0)
                break;
            block[n] = 0;
            c->OnData(block);
        }
    }
    c->StopServing();
    c->OnEnd();
    // The handle is left for the stop before the object goes: deleting it lowers the count of
    // live connections, after which the stop may look for the threads still ending.
    if (c->thread_ != nullptr)
        KeepEndingThread(c->thread_);
    delete c;
    return 0;
}

void Connection::WaitForEndedThreads() {
    std::vector<platform::ThreadHandle> ending;
    {
        std::lock_guard<std::mutex> hold(gEndingMutex);
        ending.swap(gEnding);
    }
    for (platform::ThreadHandle h : ending) {
        platform::WaitForThread(h, platform::kInfinite);
        platform::ReleaseThread(h);
    }
}
