// The TLS side of a connection: the raw receive and send through its TLS engine, and the
// handshake of STARTTLS and of implicit TLS within a time limit. Everything above the raw
// receive and send (line assembly, output buffer, the stop's BYE) stays as it is.
#include <algorithm>
#include <chrono>
#include <string>

#include "net/connection.h"
#include "net/tls_layer.h"

namespace {

// Plain output is encrypted and sent in pieces of this size, so a large message literal
// never needs its whole encrypted copy at once.
constexpr size_t kPlainPiece = 64 * 1024;
// Records are received in blocks of this size (a record is at most about 16 KiB).
constexpr int kRecordBlock = 16 * 1024;

}  // namespace

bool Connection::SendQueued() {
    std::string records;
    tls_->TakeOutgoing(&records);
    return records.empty() || SendRecords(records.data(), records.size());
}

void Connection::UseImplicitTls(const TlsContext& context) {
    std::lock_guard<std::mutex> hold(outMutex_);
    implicitTls_ = true;
    tls_.reset(new TlsEngine(context));
}

bool Connection::StartTls(const TlsContext& context) {
    if (tls_ != nullptr)
        return false;
    // The answer to STARTTLS is the last thing sent in the clear.
    Flush();
    // Bytes that came after the command line were sent before TLS: they are not taken as
    // commands, so nobody on the path can slip one into the protected session.
    input_.clear();
    inputPos_ = 0;
    pendingCr_ = false;
    {
        std::lock_guard<std::mutex> hold(outMutex_);
        tls_.reset(new TlsEngine(context));
    }
    return RunTlsHandshake();
}

bool Connection::OpenImplicitTls() {
    if (!implicitTls_)
        return true;
    bool ok = RunTlsHandshake();
    // Waiting for the first command counts as idle, as on a plain connection.
    EnterWait();
    if (ok)
        Greet();
    return ok;
}

bool Connection::RunTlsHandshake() {
    using Clock = std::chrono::steady_clock;
    const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(kTlsHandshakeMs);
    char records[kRecordBlock];
    for (;;) {
        TlsEngine::Step step;
        {
            std::lock_guard<std::mutex> hold(tlsMutex_);
            step = tls_->Handshake();
            // Handshake messages, or the alert that tells the client why it failed.
            if (!SendQueued())
                return false;
        }
        if (step == TlsEngine::kDone) {
            OnTlsStarted(tls_->Description());
            return true;
        }
        if (step == TlsEngine::kFailed)
            return false;
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
        if (left <= 0)
            return false;
        // The wait counts as idle: a stop closes the socket at once, which ends the wait.
        EnterWait();
        platform::SocketHandle h = Handle();
        int ready = h == platform::kInvalidSocket
                        ? -1
                        : platform::WaitReadable(h, static_cast<uint32_t>(left));
        int got = ready > 0 ? Socket::Receive(records, kRecordBlock, 0) : -1;
        LeaveWait();
        if (got <= 0)
            return false;
        std::lock_guard<std::mutex> hold(tlsMutex_);
        tls_->PutReceived(records, static_cast<size_t>(got));
    }
}

int Connection::Receive(char* buf, int size, int flags) {
    if (tls_ == nullptr) {
        const int n = Socket::Receive(buf, size, flags);
        if (n > 0)
            bytesIn_ += static_cast<uint64_t>(n);
        return n;
    }
    char records[kRecordBlock];
    for (;;) {
        int n;
        {
            std::lock_guard<std::mutex> hold(tlsMutex_);
            n = tls_->ReadPlain(buf, size);
            // Reading may queue records of its own (an answer to the client's key update).
            SendQueued();
        }
        if (n > 0) {
            bytesIn_ += static_cast<uint64_t>(n);
            return n;
        }
        if (n == TlsEngine::kClosed)
            return 0;
        if (n != TlsEngine::kNeedInput)
            return -1;
        int got = Socket::Receive(records, kRecordBlock, flags);
        if (got <= 0)
            return got;
        std::lock_guard<std::mutex> hold(tlsMutex_);
        tls_->PutReceived(records, static_cast<size_t>(got));
    }
}

bool Connection::SendTls(const char* data, size_t len) {
    std::lock_guard<std::mutex> hold(tlsMutex_);
    while (len > 0) {
        const size_t piece = std::min(len, kPlainPiece);
        // Before the handshake is done nothing goes out: not even a stop's BYE in the clear.
        if (!tls_->WritePlain(data, piece) || !SendQueued())
            return false;
        data += piece;
        len -= piece;
    }
    return true;
}

bool Connection::TlsInputPending() {
    if (tls_ == nullptr)
        return false;
    std::lock_guard<std::mutex> hold(tlsMutex_);
    return tls_->HasPendingInput();
}

void Connection::EndTls() {
    if (tls_ == nullptr || Handle() == platform::kInvalidSocket)
        return;
    std::lock_guard<std::mutex> hold(tlsMutex_);
    tls_->Close();
    SendQueued();
}
