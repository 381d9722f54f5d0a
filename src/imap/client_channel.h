// ClientChannel: the connection to one client as an IMAP session sees it. The transport (a
// socket with its thread, line assembly and output buffer, or a test's script) implements it;
// the session knows nothing of sockets or threads.
#ifndef ORV_IMAP_CLIENT_CHANNEL_H_
#define ORV_IMAP_CLIENT_CHANNEL_H_

#include <cstdint>

#include "base/text.h"

class ClientChannel {
  public:
    virtual ~ClientChannel() = default;

    // Queues bytes for the client (len < 0: up to the NUL). -1 when the connection is dead.
    virtual int Queue(const char* data, int len) = 0;
    // The next input bytes after the current command line (a literal, IDLE's DONE): pending
    // output is written before any wait. The count, or <= 0 when the connection ended.
    virtual int ReadInput(char* buf, int size) = 0;
    // One more line ended by CR LF (CR bytes dropped); false when the connection ended first.
    // At most limit bytes are kept (0: no limit); the rest of a longer line is read and dropped,
    // *cut says so, and *tail (when given) holds the last few bytes of the dropped part, so a
    // literal marker that ends the line is still seen.
    virtual bool ReadInputLine(Text* line, uint32_t limit, bool* cut, Text* tail) = 0;
    // Waits up to timeoutMs for input, writing pending output first: 1 when input is ready,
    // 0 on time-out, -1 when the connection failed.
    virtual int WaitForInput(uint32_t timeoutMs) = 0;
    // True once the connection is ending (LOGOUT, the server's stop, a failed handshake):
    // long answers stop after the current message.
    virtual bool Closing() const = 0;
    // Ends the connection once the current answer has been written.
    virtual void EndAfterAnswer() = 0;
    // TLS: whether STARTTLS can be offered (a certificate is loaded), whether it is on, and
    // the switch after the queued answer (false when the handshake failed).
    virtual bool TlsOffered() const = 0;
    virtual bool TlsActive() const = 0;
    virtual bool StartTls() = 0;
};

#endif  // ORV_IMAP_CLIENT_CHANNEL_H_
