#include "net/tls_layer.h"

#include <openssl/bio.h>
#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/rand.h>
#include <openssl/ssl.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>

#include <algorithm>
#include <memory>

#include "platform/files.h"
#include "platform/sockets.h"

namespace {

// The library's queued errors as one line (and the queue emptied).
std::string LibraryErrors(const char* what) {
    std::string text(what);
    unsigned long code;
    while ((code = ERR_get_error()) != 0) {
        char buf[256];
        ERR_error_string_n(code, buf, sizeof buf);
        text += ": ";
        text += buf;
    }
    return text;
}

struct BioFree {
    void operator()(BIO* b) const { BIO_free(b); }
};
struct X509Free {
    void operator()(X509* x) const { X509_free(x); }
};
struct KeyFree {
    void operator()(EVP_PKEY* k) const { EVP_PKEY_free(k); }
};
using BioPtr = std::unique_ptr<BIO, BioFree>;
using X509Ptr = std::unique_ptr<X509, X509Free>;
using KeyPtr = std::unique_ptr<EVP_PKEY, KeyFree>;

BioPtr ReadOnlyBio(const std::string& text) {
    return BioPtr(BIO_new_mem_buf(text.data(), static_cast<int>(text.size())));
}

// Puts the certificate chain of pem into ctx: the first certificate is the server's, any
// further ones go out with it as its chain.
bool UseCertificateChain(SSL_CTX* ctx, const std::string& pem, std::string* error) {
    BioPtr bio = ReadOnlyBio(pem);
    X509Ptr leaf(bio ? PEM_read_bio_X509(bio.get(), nullptr, nullptr, nullptr) : nullptr);
    if (!leaf || SSL_CTX_use_certificate(ctx, leaf.get()) != 1) {
        *error = LibraryErrors("no usable certificate");
        return false;
    }
    for (;;) {
        X509* next = PEM_read_bio_X509(bio.get(), nullptr, nullptr, nullptr);
        if (next == nullptr)
            break;
        // The context takes the certificate over.
        if (SSL_CTX_add0_chain_cert(ctx, next) != 1) {
            X509_free(next);
            *error = LibraryErrors("a chain certificate was refused");
            return false;
        }
    }
    // The end of the text reads as a "no start line" error; it is no failure.
    ERR_clear_error();
    return true;
}

bool UsePrivateKey(SSL_CTX* ctx, const std::string& pem, std::string* error) {
    BioPtr bio = ReadOnlyBio(pem);
    KeyPtr key(bio ? PEM_read_bio_PrivateKey(bio.get(), nullptr, nullptr, nullptr) : nullptr);
    if (!key) {
        *error = LibraryErrors("no usable private key");
        return false;
    }
    // Taking the key checks it against the certificate.
    if (SSL_CTX_use_PrivateKey(ctx, key.get()) != 1 || SSL_CTX_check_private_key(ctx) != 1) {
        *error = LibraryErrors("the private key does not match the certificate");
        return false;
    }
    return true;
}

}  // namespace

bool TlsAvailable() {
    return true;
}

TlsContext::~TlsContext() {
    SSL_CTX_free(static_cast<SSL_CTX*>(handle_));
}

bool TlsContext::Load(const std::string& certificatePem, const std::string& keyPem,
                      std::string* error) {
    SSL_CTX_free(static_cast<SSL_CTX*>(handle_));
    handle_ = nullptr;
    ERR_clear_error();
    SSL_CTX* ctx = SSL_CTX_new(TLS_server_method());
    if (ctx == nullptr) {
        *error = LibraryErrors("no TLS context");
        return false;
    }
    SSL_CTX_set_min_proto_version(ctx, TLS1_2_VERSION);
    SSL_CTX_set_options(ctx, SSL_OP_NO_COMPRESSION | SSL_OP_NO_RENEGOTIATION |
                                 SSL_OP_CIPHER_SERVER_PREFERENCE | SSL_OP_NO_TICKET);
    // No resumption: nothing per client is kept between connections.
    SSL_CTX_set_session_cache_mode(ctx, SSL_SESS_CACHE_OFF);
    SSL_CTX_set_num_tickets(ctx, 0);
    // Idle connections give their buffers back.
    SSL_CTX_set_mode(ctx, SSL_MODE_RELEASE_BUFFERS);
    if (!UseCertificateChain(ctx, certificatePem, error) || !UsePrivateKey(ctx, keyPem, error)) {
        SSL_CTX_free(ctx);
        return false;
    }
    handle_ = ctx;
    return true;
}

TlsEngine::TlsEngine(const TlsContext& context) {
    SSL_CTX* ctx = static_cast<SSL_CTX*>(context.handle_);
    if (ctx == nullptr) {
        failed_ = true;
        error_ = "TLS is not set up";
        return;
    }
    SSL* ssl = SSL_new(ctx);
    BIO* in = BIO_new(BIO_s_mem());
    BIO* out = BIO_new(BIO_s_mem());
    if (ssl == nullptr || in == nullptr || out == nullptr) {
        SSL_free(ssl);
        BIO_free(in);
        BIO_free(out);
        failed_ = true;
        error_ = LibraryErrors("no TLS connection object");
        return;
    }
    // An empty memory buffer reads as "try again", not as the end of the stream.
    BIO_set_mem_eof_return(in, -1);
    SSL_set_bio(ssl, in, out);
    SSL_set_accept_state(ssl);
    ssl_ = ssl;
    in_ = in;
    out_ = out;
}

TlsEngine::~TlsEngine() {
    // Frees both memory buffers with it.
    SSL_free(static_cast<SSL*>(ssl_));
}

void TlsEngine::PutReceived(const char* data, size_t len) {
    if (in_ == nullptr)
        return;
    while (len > 0) {
        int chunk = static_cast<int>(len > (1u << 30) ? (1u << 30) : len);
        int put = BIO_write(static_cast<BIO*>(in_), data, chunk);
        if (put <= 0)
            return;
        data += put;
        len -= static_cast<size_t>(put);
    }
}

TlsEngine::Step TlsEngine::Handshake() {
    if (failed_)
        return kFailed;
    if (established_)
        return kDone;
    SSL* ssl = static_cast<SSL*>(ssl_);
    ERR_clear_error();
    int rc = SSL_do_handshake(ssl);
    if (rc == 1) {
        established_ = true;
        return kDone;
    }
    int reason = SSL_get_error(ssl, rc);
    if (reason == SSL_ERROR_WANT_READ)
        return kWantInput;
    failed_ = true;
    error_ = LibraryErrors("TLS handshake failed");
    return kFailed;
}

int TlsEngine::ReadPlain(char* buf, int size) {
    if (failed_ || !established_)
        return kBroken;
    if (size <= 0)
        return kNeedInput;
    SSL* ssl = static_cast<SSL*>(ssl_);
    ERR_clear_error();
    int n = SSL_read(ssl, buf, size);
    if (n > 0)
        return n;
    int reason = SSL_get_error(ssl, n);
    if (reason == SSL_ERROR_WANT_READ)
        return kNeedInput;
    if (reason == SSL_ERROR_ZERO_RETURN)
        return kClosed;
    failed_ = true;
    error_ = LibraryErrors("TLS read failed");
    return kBroken;
}

std::string TlsEngine::Description() const {
    const SSL* ssl = static_cast<const SSL*>(ssl_);
    if (ssl == nullptr || !established_)
        return std::string();
    std::string out(SSL_get_version(ssl));
    out += ' ';
    out += SSL_CIPHER_get_name(SSL_get_current_cipher(ssl));
    return out;
}

bool TlsEngine::HasPendingInput() const {
    if (ssl_ == nullptr || failed_)
        return false;
    return SSL_pending(static_cast<SSL*>(ssl_)) > 0 || BIO_ctrl_pending(static_cast<BIO*>(in_)) > 0;
}

bool TlsEngine::WritePlain(const char* data, size_t len) {
    if (failed_ || !established_)
        return false;
    SSL* ssl = static_cast<SSL*>(ssl_);
    while (len > 0) {
        ERR_clear_error();
        size_t written = 0;
        // The memory buffer takes everything, so a write never waits for the peer.
        if (SSL_write_ex(ssl, data, len, &written) != 1) {
            failed_ = true;
            error_ = LibraryErrors("TLS write failed");
            return false;
        }
        data += written;
        len -= written;
    }
    return true;
}

void TlsEngine::Close() {
    if (failed_ || !established_)
        return;
    ERR_clear_error();
    // One call queues the alert; the peer's answer is not waited for.
    SSL_shutdown(static_cast<SSL*>(ssl_));
    ERR_clear_error();
}

void TlsEngine::TakeOutgoing(std::string* out) {
    if (out_ == nullptr)
        return;
    BIO* bio = static_cast<BIO*>(out_);
    char* data = nullptr;
    long n = BIO_get_mem_data(bio, &data);
    if (n > 0) {
        out->append(data, static_cast<size_t>(n));
        (void)BIO_reset(bio);
    }
}

namespace {

bool AddExtension(X509* cert, int nid, const char* value) {
    X509V3_CTX v3;
    X509V3_set_ctx_nodb(&v3);
    X509V3_set_ctx(&v3, cert, cert, nullptr, nullptr, 0);
    X509_EXTENSION* ext = X509V3_EXT_conf_nid(nullptr, &v3, nid, value);
    if (ext == nullptr)
        return false;
    int added = X509_add_ext(cert, ext, -1);
    X509_EXTENSION_free(ext);
    return added == 1;
}

bool ToPem(bool (*write)(BIO*, void*), void* object, std::string* pem) {
    BioPtr bio(BIO_new(BIO_s_mem()));
    if (!bio || !write(bio.get(), object))
        return false;
    char* data = nullptr;
    long n = BIO_get_mem_data(bio.get(), &data);
    pem->assign(data, n > 0 ? static_cast<size_t>(n) : 0);
    return n > 0;
}

}  // namespace

bool MakeSelfSignedCertificate(const std::string& hostName, std::string* certificatePem,
                               std::string* keyPem, std::string* error) {
    ERR_clear_error();
    if (hostName.empty() || hostName.find_first_of(",\r\n") != std::string::npos) {
        *error = "unusable host name '" + hostName + "'";
        return false;
    }
    KeyPtr key(EVP_EC_gen("P-256"));
    X509Ptr cert(X509_new());
    if (!key || !cert) {
        *error = LibraryErrors("no key");
        return false;
    }
    // A random positive serial number of 64 bits.
    unsigned char serial[8];
    if (RAND_bytes(serial, sizeof serial) != 1) {
        *error = LibraryErrors("no random serial number");
        return false;
    }
    serial[0] &= 0x7F;
    BIGNUM* number = BN_bin2bn(serial, sizeof serial, nullptr);
    bool ok = number != nullptr &&
              BN_to_ASN1_INTEGER(number, X509_get_serialNumber(cert.get())) != nullptr;
    BN_free(number);
    X509_NAME* name = X509_get_subject_name(cert.get());
    const std::string altNames = "DNS:" + hostName + ",DNS:localhost,IP:127.0.0.1";
    ok = ok && X509_set_version(cert.get(), 2) == 1 &&
         X509_gmtime_adj(X509_getm_notBefore(cert.get()), -60 * 60) != nullptr &&
         X509_gmtime_adj(X509_getm_notAfter(cert.get()), 10L * 365 * 24 * 60 * 60) != nullptr &&
         X509_set_pubkey(cert.get(), key.get()) == 1 &&
         X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_UTF8,
                                    reinterpret_cast<const unsigned char*>(hostName.c_str()), -1,
                                    -1, 0) == 1 &&
         X509_set_issuer_name(cert.get(), name) == 1 &&
         AddExtension(cert.get(), NID_basic_constraints, "critical,CA:TRUE") &&
         AddExtension(cert.get(), NID_key_usage, "critical,digitalSignature,keyCertSign") &&
         AddExtension(cert.get(), NID_ext_key_usage, "serverAuth") &&
         AddExtension(cert.get(), NID_subject_key_identifier, "hash") &&
         AddExtension(cert.get(), NID_authority_key_identifier, "keyid:always") &&
         AddExtension(cert.get(), NID_subject_alt_name, altNames.c_str()) &&
         X509_sign(cert.get(), key.get(), EVP_sha256()) > 0;
    if (!ok) {
        *error = LibraryErrors("the certificate could not be made");
        return false;
    }
    auto writeCert = [](BIO* bio, void* x) {
        return PEM_write_bio_X509(bio, static_cast<X509*>(x)) == 1;
    };
    auto writeKey = [](BIO* bio, void* k) {
        return PEM_write_bio_PrivateKey(bio, static_cast<EVP_PKEY*>(k), nullptr, nullptr, 0,
                                        nullptr, nullptr) == 1;
    };
    if (!ToPem(writeCert, cert.get(), certificatePem) || !ToPem(writeKey, key.get(), keyPem)) {
        *error = LibraryErrors("the certificate could not be written");
        return false;
    }
    return true;
}

namespace {

// Writes text into an open file and closes it; false when any of it failed.
bool WriteAndClose(platform::FileHandle f, const std::string& text) {
    if (f == platform::kInvalidFile)
        return false;
    uint32_t done = 0;
    bool ok = platform::WriteFile(f, text.data(), static_cast<uint32_t>(text.size()), &done) == 1 &&
              done == text.size();
    return platform::CloseFile(f) == 1 && ok;
}

}  // namespace

bool WriteSelfSignedCertificate(const std::string& hostName, const char* certificatePath,
                                const char* keyPath, std::string* usedName, std::string* error) {
    *usedName = hostName.empty() ? platform::LocalHostName() : hostName;
    if (usedName->empty())
        *usedName = "localhost";
    std::string certificate, key;
    if (!MakeSelfSignedCertificate(*usedName, &certificate, &key, error))
        return false;
    bool keyWritten = WriteAndClose(platform::CreatePrivateFile(keyPath), key);
    // The key's bytes do not stay in freed memory.
    std::fill(key.begin(), key.end(), '\0');
    if (!keyWritten) {
        *error = std::string("cannot write the key file ") + keyPath;
        return false;
    }
    if (!WriteAndClose(
            platform::OpenFile(certificatePath, platform::kAccessWrite, platform::kCreateAlways),
            certificate)) {
        *error = std::string("cannot write the certificate file ") + certificatePath;
        return false;
    }
    return true;
}
