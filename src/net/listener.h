// Listener: the listening socket, its accept thread and the list of live connections. It
// accepts until its socket is closed, then says goodbye to every listed connection and waits
// until no connection object is left, so the server's stop returns only when all are gone.
// A failed accept (the process out of descriptors, the system out of memory) ends neither the
// accept thread nor any connection: the thread pauses and accepts again.
#ifndef ORV_NET_LISTENER_H_
#define ORV_NET_LISTENER_H_

#include <cstdint>

#include "net/connection.h"
#include "net/socket.h"
#include "platform/threads.h"

// SessionList: the live connections, a doubly linked list under a recursive lock. The list
// owns the connections it still holds when it is destroyed.
class SessionList {
  public:
    SessionList() = default;
    virtual ~SessionList();
    SessionList(const SessionList&) = delete;
    SessionList& operator=(const SessionList&) = delete;

  protected:
    struct Node {
        Node* previous;
        Node* next;
        Connection* connection;
    };
    platform::CriticalSection listLock_;
    Node* first_ = nullptr;
    Node* last_ = nullptr;
};

class Listener : public Socket, public SessionList {
  public:
    // How long the stop waits for connections to finish an answer before it closes their
    // sockets regardless (a client that stopped reading must not hang the stop).
    static constexpr uint32_t kStopGraceMs = 5000;
    // How long the accept thread waits after a failed accept before it tries again: long
    // enough not to spin while descriptors are short, short enough that clients hardly notice
    // once some are freed.
    static constexpr uint32_t kAcceptPauseMs = 50;

    Listener() = default;
    ~Listener() override;

    // Makes the connection object for an accepted socket (taking its handle over), or null.
    virtual Connection* CreateSession(Socket& accepted) = 0;

    // 1 when listening on port with a running accept thread, else 0. backlog: how many
    // connections the system queues before the accept thread takes them.
    int StartListening(uint16_t port, int backlog = 5);
    // Closes the listening socket and waits for the accept thread. The result of releasing
    // its handle (non-zero), or 0 when no accept thread was running.
    virtual int Stop();
    // Makes, lists and starts a connection for an accepted socket.
    void AddSession(Socket& accepted);
    // Sends every listed connection its shutdown, closes it and waits until none is left.
    void CloseAllSessions();
    // Unlists a connection (not deleting it).
    void RemoveSession(Connection* connection);

    uint16_t Port() const { return port_; }
    // The number of listed connections (for tests).
    int SessionCount();

  private:
    static uint32_t AcceptThread(void* param);
    // Waits kAcceptPauseMs, or less when the listening socket is closed meanwhile.
    void PauseAccepting();

    platform::ThreadHandle acceptThread_ = nullptr;
    uint32_t acceptThreadId_ = 0;
    uint16_t port_ = 0;
};

#endif  // ORV_NET_LISTENER_H_
