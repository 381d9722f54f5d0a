// Connection: one accepted client with its own thread. The thread receives blocks, assembles
// lines ended by CR LF and hands each to ParseLine and Dispatch (filled in by the IMAP session).
//
// Output is collected per command and written when the command completes, when it passes
// 64 KiB, and before the connection waits for more input, so the bytes on the wire are those
// of the piecewise sends, in order, with far fewer system calls. A BYE from the server's stop
// never lands inside a response: while the connection thread is answering a command, the stop's
// line and close are deferred until the answer has been written.
//
// With TLS on (from the first byte, or after STARTTLS) only the raw receive and the raw send
// go through a TLS engine; the line assembly and the output buffer above them stay the same.
#ifndef ORV_NET_CONNECTION_H_
#define ORV_NET_CONNECTION_H_

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>

#include "base/text.h"
#include "net/socket.h"
#include "platform/threads.h"

class Listener;
class TlsContext;
class TlsEngine;

// The number of Connection objects that exist, changed only by interlocked operations. The
// server's stop waits until it is 0.
extern std::atomic<int32_t> LiveConnectionCount;
// The number of those whose client is still being served: a connection leaves this count when
// its thread stops serving it, before the object is torn down. The limit on connections
// counts these, so clients are not turned away while ended connections are still being torn
// down on a busy machine.
extern std::atomic<int32_t> ServedConnectionCount;

class Connection : public Socket {
  public:
    // Output is written to the socket once this much has been collected.
    static constexpr size_t kFlushThreshold = 64 * 1024;
    // Blocks are received into a buffer of this size, at most one byte less at a time.
    static constexpr int kBlockSize = 1024;

    Connection(Listener* owner, platform::SocketHandle handle);
    ~Connection() override;

    // Closes the socket. From another thread while a command is being answered, the close
    // waits until that answer has been written.
    int Close() override;
    // Leaves ServedConnectionCount, once: the thread has stopped serving the client.
    void StopServing();
    // Queues bytes for the client (len < 0: up to the NUL). Returns len, or -1 when the
    // connection is dead. Outside a command (the greeting) the bytes go out at once.
    int Send(const char* data, int len = -1, int flags = 0) override;
    // Sends a signed number in decimal.
    void SendNumber(int32_t n);

    // The line sink: what the connection's owner does with the client. Greet sends the
    // greeting when the connection opens; OnLine gets each command line (without its CR LF),
    // cut true when the line passed the length limit and only its start was kept.
    virtual void Greet() {}
    virtual void OnLine(const char* line, bool cut) {
        (void)line;
        (void)cut;
    }
    // Called on the connection's thread once the answer to a line went out: work the client
    // need not wait for.
    virtual void OnAnswered() {}
    // Greets the client and starts the connection thread. 1 when the thread was created.
    virtual int Start();
    // Closes the socket and waits for the connection thread to end.
    virtual void Shutdown();
    // Assembles the lines of one received NUL-terminated block and runs each.
    virtual void OnData(const char* block);
    // Unlists the connection from its owner (its thread is ending).
    virtual void OnEnd();
    int IsClosing() const { return closing_.load(); }
    // How long the client may stay silent while the connection waits for it (between commands
    // and inside one); 0: no limit. Asked before every wait.
    virtual uint32_t InputTimeoutMs() const { return 0; }
    // The client stayed silent that long: the sink's goodbye; the connection then ends.
    virtual void OnInputTimeout() {}
    // Ends the connection once the current answer has been written.
    void MarkClosing() { closing_.store(1); }
    // The longest command line assembled whole, asked before each line; the rest of a longer
    // line is dropped and the line goes to OnLine as cut. 0: no limit. By default the value
    // set with SetMaxLineLength.
    virtual uint32_t LineLimit() const { return maxLineLength_; }
    void SetMaxLineLength(uint32_t bytes) { maxLineLength_ = bytes; }

    // For handlers that need more than the command line (a literal, IDLE's DONE): the next
    // input bytes. Bytes already received but not yet assembled come first; when none are
    // left the pending output is written and one block is received. Returns the count, or
    // <= 0 when the connection failed or was closed.
    int ReadInput(char* buf, int size);
    // Reads one line ended by CR LF (CR bytes dropped, as the line assembler does) into *line,
    // keeping at most limit bytes (0: no limit) and reading the rest of a longer line without
    // keeping it; *cut (when given) tells whether that happened, and *tail (when given) holds
    // the last kTailBytes bytes of a cut line. False when the connection ended first.
    bool ReadInputLine(Text* line, uint32_t limit = 0, bool* cut = nullptr, Text* tail = nullptr);
    static constexpr int kTailBytes = 16;
    // Waits up to timeoutMs for input, writing the pending output first: 1 when bytes are
    // ready (already received or arriving), 0 on time-out, -1 when the connection failed.
    int WaitForInput(uint32_t timeoutMs);
    // Writes the collected output now.
    void Flush();

    // Forces the socket closed even while a command is being answered (a stop that cannot
    // wait any longer).
    void ForceClose();

    // TLS. Called before Start: the connection speaks TLS from its first byte; the
    // handshake runs on the connection thread and the greeting follows it.
    void UseImplicitTls(const TlsContext& context);
    // For a handler whose answer is queued (STARTTLS): writes the pending output in the
    // clear, drops every byte the client sent after the command line and runs the handshake,
    // for at most kTlsHandshakeMs. False when it failed; the connection is then of no use.
    bool StartTls(const TlsContext& context);
    bool TlsActive() const { return tls_ != nullptr; }
    static constexpr uint32_t kTlsHandshakeMs = 30000;
    // The handshake just completed (STARTTLS or the TLS port): protocol and cipher.
    virtual void OnTlsStarted(const std::string& description) { (void)description; }

    // What went through the connection so far: bytes from the client and to it (plain bytes,
    // TLS records aside), counted on the connection's own thread.
    uint64_t BytesIn() const { return bytesIn_; }
    uint64_t BytesOut() const { return bytesOut_.load(); }
    // The platform's receive, decrypted when TLS is on: bytes, 0 when the peer closed, -1.
    int Receive(char* buf, int size, int flags) override;

    // The connection thread's entry point.
    static uint32_t ThreadMain(void* param);
    // Waits until every connection thread that has finished its connection has ended, so no
    // thread runs the module's code any more (call once no connection is live).
    static void WaitForEndedThreads();

  protected:
    std::atomic<int> closing_{0};
    std::atomic<bool> served_{false};  // left ServedConnectionCount
    uint32_t threadId_ = 0;
    Text lineBuffer_;
    Listener* owner_;
    platform::ThreadHandle thread_ = nullptr;

  private:
    // True on the connection's own thread, so Send and Close can tell its calls from the
    // server stop's calls made on the accept thread.
    bool OnOwnThread() const { return threadId_ != 0 && platform::CurrentThreadId() == threadId_; }
    void RunLine();
    void BeginCommand();
    void EndCommand();
    // Writes the pending output, lets a stop through, and receives once; -1 when the client
    // stayed silent past InputTimeoutMs (it has then been told goodbye).
    int WaitAndReceive(char* buf, int size);
    // Waits for the client as InputTimeoutMs allows: true when input is ready or the wait
    // failed (the receive then tells), false after the goodbye to a silent client.
    bool AwaitClient();
    // Around a wait for the client inside a command: the connection counts as idle.
    void EnterWait();
    void LeaveWait();
    // Sends a line another thread deferred while a command was answered (outMutex_ held).
    void SendDeferredLocked();
    // Writes bytes to the socket, as TLS records when TLS is on. False when it failed.
    bool SendRaw(const char* data, size_t len);
    // SendRaw's two ways: plain bytes through TLS, and bytes to the socket as they are.
    bool SendTls(const char* data, size_t len);
    bool SendRecords(const char* data, size_t len);
    // Sends the records the engine has queued (tlsMutex_ held).
    bool SendQueued();
    // Takes the handshake of tls_ to its end; false on failure, time-out or close.
    bool RunTlsHandshake();
    // On the connection thread before anything else: the implicit TLS handshake and then the
    // greeting. False when the handshake failed.
    bool OpenImplicitTls();
    // Whether TLS holds received bytes not yet read.
    bool TlsInputPending();
    // Ends TLS in order (its closing alert) before the socket closes.
    void EndTls();

    // Guards the fields below and orders the stop's BYE against the command's answer. Only
    // the connection thread touches out_ and changes busy_, so that thread alone may read both
    // without it.
    std::mutex outMutex_;
    std::string out_;
    bool busy_ = false;         // a command is being answered on the connection thread
    std::string deferredLine_;  // a line another thread asked to send after the answer
    bool deferredClose_ = false;
    // Serialises Start with the new thread's first step, so the thread handle is stored
    // before the thread can end and delete the connection.
    std::mutex startMutex_;

    // Received bytes not yet consumed, and the line assembler's state.
    std::string input_;
    size_t inputPos_ = 0;
    bool pendingCr_ = false;
    uint32_t maxLineLength_ = 0;
    uint32_t lineLimit_ = 0;  // LineLimit() as asked last
    bool lineCut_ = false;

    // TLS: set under outMutex_, as the stop's BYE may be sent from another thread.
    bool implicitTls_ = false;
    std::unique_ptr<TlsEngine> tls_;

    uint64_t bytesIn_ = 0;
    std::atomic<uint64_t> bytesOut_{0};
    // Serialises the engine's calls with the sending of the records they make.
    std::mutex tlsMutex_;
};

#endif  // ORV_NET_CONNECTION_H_
