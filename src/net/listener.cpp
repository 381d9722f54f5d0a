#include "net/listener.h"

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
    while (self->Handle() != platform::kInvalidSocket) {
        if (!self->Accept(accepted))
            break;
        self->AddSession(accepted);
    }
    self->CloseAllSessions();
    return 0;
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
