#include "net/listener.h"

#include <string>

#include "base/event_log.h"

SessionList::~SessionList() {
    platform::CriticalSectionLock hold(listLock_);
    Node* node = first_;
    while (node != nullptr) {
        Node* next = node->next;
        delete node->connection;
        delete node;
        node = next;
    }
    first_ = last_ = nullptr;
}

Listener::~Listener() {
    Socket::Close();
}

int Listener::StartListening(uint16_t port, int backlog) {
    if (Handle() != platform::kInvalidSocket)
        return 0;
    platform::SocketHandle s = platform::TcpSocket();
    if (s == platform::kInvalidSocket)
        return 0;
    SetHandle(s);
    port_ = port;
    if (platform::BindAny(s, port) != 0) {
        Close();
        return 0;
    }
    if (!Listen(backlog)) {
        Close();
        return 0;
    }
    acceptThread_ = platform::StartThread(&Listener::AcceptThread, this, &acceptThreadId_);
    return acceptThread_ != nullptr ? 1 : 0;
}

uint32_t Listener::AcceptThread(void* param) {
    Listener* self = static_cast<Listener*>(param);
    Socket accepted;
    for (;;) {
        const platform::SocketHandle listening = self->Handle();
        if (listening == platform::kInvalidSocket)
            break;
        platform::AcceptFailure failure = platform::AcceptFailure::kNone;
        accepted.SetHandle(platform::AcceptSocket(listening, &failure));
        if (accepted.Handle() != platform::kInvalidSocket) {
            self->AddSession(accepted);
            continue;
        }
        // Only the stop closes the listening socket; no later accept on it could succeed.
        if (failure == platform::AcceptFailure::kClosed)
            break;
        // Out of descriptors or memory, or another failure that may pass: the connections
        // already listed go on, and accepting resumes after a pause, so a shortage that
        // makes every accept fail at once does not keep a core busy.
        EventLog::Shared().Write(
            0, "-",
            std::string("error: accepting a connection failed (") +
                (failure == platform::AcceptFailure::kResources ? "out of descriptors or memory"
                                                                : "a network error") +
                "); trying again in " + std::to_string(kAcceptPauseMs) + " ms");
        self->PauseAccepting();
    }
    self->CloseAllSessions();
    return 0;
}

void Listener::PauseAccepting() {
    // In short slices, so that a stop during the pause is not held up.
    constexpr uint32_t kSliceMs = 10;
    for (uint32_t paused = 0; paused < kAcceptPauseMs && Handle() != platform::kInvalidSocket;
         paused += kSliceMs) {
        platform::SleepMs(kSliceMs);
    }
}

int Listener::Stop() {
    Close();
    if (acceptThread_ == nullptr)
        return 0;
    while (platform::WaitForThread(acceptThread_, 3000) == platform::kWaitTimeout) {
        platform::SleepMs(0);
    }
    int result = platform::ReleaseThread(acceptThread_);
    acceptThread_ = nullptr;
    return result;
}

void Listener::AddSession(Socket& accepted) {
    Connection* connection = CreateSession(accepted);
    // The accepting socket must never close a handle that a connection has taken over.
    accepted.SetHandle(platform::kInvalidSocket);
    if (connection == nullptr)
        return;
    {
        platform::CriticalSectionLock hold(listLock_);
        Node* node = new Node{last_, nullptr, connection};
        if (last_ != nullptr) {
            last_->next = node;
        } else {
            first_ = node;
        }
        last_ = node;
    }
    if (!connection->Start()) {
        // No thread will ever end this connection: unlist and delete it here.
        RemoveSession(connection);
        delete connection;
    }
}

void Listener::RemoveSession(Connection* connection) {
    platform::CriticalSectionLock hold(listLock_);
    for (Node* node = first_; node != nullptr; node = node->next) {
        if (node->connection != connection)
            continue;
        if (node->previous != nullptr) {
            node->previous->next = node->next;
        } else {
            first_ = node->next;
        }
        if (node->next != nullptr) {
            node->next->previous = node->previous;
        } else {
            last_ = node->previous;
        }
        delete node;
        return;
    }
}

int Listener::SessionCount() {
    platform::CriticalSectionLock hold(listLock_);
    int n = 0;
    for (Node* node = first_; node != nullptr; node = node->next)
        ++n;
    return n;
}

void Listener::CloseAllSessions() {
    {
        platform::CriticalSectionLock hold(listLock_);
        Node* node = first_;
        while (node != nullptr) {
            Node* next;
            {
                platform::CriticalSectionLock again(listLock_);
                next = node->next;
            }
            node->connection->Shutdown();
            node->connection->Close();
            node = next;
        }
    }
    // Each connection thread now fails its receive, unlists itself and deletes its object.
    // One that is still writing an answer to a client that does not read is closed for good
    // after a grace period.
    uint32_t waited = 0;
    bool forced = false;
    while (LiveConnectionCount.load() != 0) {
        platform::SleepMs(1);
        if (!forced && ++waited >= kStopGraceMs) {
            platform::CriticalSectionLock hold(listLock_);
            for (Node* node = first_; node != nullptr; node = node->next) {
                node->connection->ForceClose();
            }
            forced = true;
        }
    }
    Connection::WaitForEndedThreads();
}
