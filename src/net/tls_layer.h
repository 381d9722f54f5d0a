// TLS for the connections of the extended mode: a server-wide context made from a PEM
// certificate chain and key, and per connection an engine that turns received TLS records into
// plain bytes and plain bytes into records to send. The engine works on memory only; the
// connection does every socket call itself, so the OS layer stays the only place with OS
// calls. A build without a TLS library has the same interface and reports that TLS is off.
#ifndef ORV_NET_TLS_LAYER_H_
#define ORV_NET_TLS_LAYER_H_

#include <cstddef>
#include <string>

// Whether this build can speak TLS at all.
bool TlsAvailable();

// TlsContext: the settings every TLS connection of the server shares: the certificate chain
// and key, TLS 1.2 and 1.3 only, no compression, no renegotiation, no session cache.
class TlsContext {
  public:
    TlsContext() = default;
    ~TlsContext();
    TlsContext(const TlsContext&) = delete;
    TlsContext& operator=(const TlsContext&) = delete;

    // Builds the context from PEM text: the certificate chain (the server's certificate
    // first) and a private key matching it. False with the reason in *error on failure; a
    // context that failed stays unusable.
    bool Load(const std::string& certificatePem, const std::string& keyPem, std::string* error);
    bool Ready() const { return handle_ != nullptr; }

  private:
    friend class TlsEngine;
    void* handle_ = nullptr;  // the library's context object
};

// TlsEngine: the server side of one TLS connection, driven through two memory buffers: the
// records received from the peer go in with PutReceived, the records to send come out with
// TakeOutgoing after every other call. Calls must not overlap (the owner serialises them).
class TlsEngine {
  public:
    enum Step { kDone, kWantInput, kFailed };
    // ReadPlain's results besides a byte count.
    static constexpr int kNeedInput = 0;
    static constexpr int kClosed = -1;  // the peer ended TLS in order
    static constexpr int kBroken = -2;  // a protocol error, or no engine

    explicit TlsEngine(const TlsContext& context);
    ~TlsEngine();
    TlsEngine(const TlsEngine&) = delete;
    TlsEngine& operator=(const TlsEngine&) = delete;

    // Records from the peer, in the order received.
    void PutReceived(const char* data, size_t len);
    // Takes the handshake as far as the received records allow.
    Step Handshake();
    bool Established() const { return established_; }
    // Once established: the protocol and cipher agreed, as "TLSv1.3 TLS_AES_256_GCM_SHA384".
    std::string Description() const;
    // Plain bytes from the received records: a count > 0, kNeedInput, kClosed or kBroken.
    int ReadPlain(char* buf, int size);
    // Whether plain bytes, or records not yet decoded, are waiting.
    bool HasPendingInput() const;
    // Encrypts plain bytes into records. False before the handshake is done or after a
    // failure.
    bool WritePlain(const char* data, size_t len);
    // Queues the closing alert that ends TLS in order (once established).
    void Close();
    // Appends the records waiting to go to the peer to *out and forgets them.
    void TakeOutgoing(std::string* out);
    // The reason of the last failure, for a log line.
    const std::string& Error() const { return error_; }

  private:
    void* ssl_ = nullptr;  // the library's connection object; owns both memory buffers
    void* in_ = nullptr;   // records received
    void* out_ = nullptr;  // records to send
    bool established_ = false;
    bool failed_ = false;
    std::string error_;
};

// A new self-signed certificate (PEM) for hostName, valid for ten years from now, with
// "localhost" and 127.0.0.1 as further names, and its private key (PEM, unencrypted). False
// with the reason in *error on failure.
bool MakeSelfSignedCertificate(const std::string& hostName, std::string* certificatePem,
                               std::string* keyPem, std::string* error);
// Makes such a certificate for hostName (empty: this machine's host name) and writes it to
// certificatePath, and its key to keyPath as a file only its owner may read. *usedName tells
// the name it was made for. False with the reason in *error on failure.
bool WriteSelfSignedCertificate(const std::string& hostName, const char* certificatePath,
                                const char* keyPath, std::string* usedName, std::string* error);

#endif  // ORV_NET_TLS_LAYER_H_
