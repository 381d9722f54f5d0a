// The TLS layer over memory: a client made with the TLS library here talks to the server
// engine, both through memory buffers, with a certificate the layer made itself.
#include "net/tls_layer.h"

#include <gtest/gtest.h>
#include <openssl/bio.h>
#include <openssl/err.h>
#include <openssl/pem.h>
#include <openssl/ssl.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>

#include <ctime>
#include <string>

namespace {

struct Material {
    std::string certificate;
    std::string key;
};

// One certificate for all tests (making a key takes a moment).
const Material& TestMaterial() {
    static Material* material = [] {
        Material* m = new Material;
        std::string error;
        EXPECT_TRUE(MakeSelfSignedCertificate("mail.example.jp", &m->certificate, &m->key, &error))
            << error;
        return m;
    }();
    return *material;
}

// A client: the library's client side on two memory buffers, trusting the test certificate
// and checking the host name.
class TestClient {
  public:
    explicit TestClient(const std::string& trusted, const char* host = "mail.example.jp",
                        int maxVersion = 0) {
        ctx_ = SSL_CTX_new(TLS_client_method());
        BIO* bio = BIO_new_mem_buf(trusted.data(), static_cast<int>(trusted.size()));
        X509* cert = PEM_read_bio_X509(bio, nullptr, nullptr, nullptr);
        BIO_free(bio);
        X509_STORE_add_cert(SSL_CTX_get_cert_store(ctx_), cert);
        X509_free(cert);
        SSL_CTX_set_verify(ctx_, SSL_VERIFY_PEER, nullptr);
        if (maxVersion != 0) {
            SSL_CTX_set_min_proto_version(ctx_, 0);
            SSL_CTX_set_max_proto_version(ctx_, maxVersion);
            // Old versions are off at the library's default security level.
            SSL_CTX_set_security_level(ctx_, 0);
        }
        ssl_ = SSL_new(ctx_);
        in_ = BIO_new(BIO_s_mem());
        out_ = BIO_new(BIO_s_mem());
        BIO_set_mem_eof_return(in_, -1);
        SSL_set_bio(ssl_, in_, out_);
        SSL_set_connect_state(ssl_);
        SSL_set_tlsext_host_name(ssl_, host);
        SSL_set1_host(ssl_, host);
    }
    ~TestClient() {
        SSL_free(ssl_);
        SSL_CTX_free(ctx_);
    }

    // Records the client has queued, taken.
    std::string Take() {
        std::string out;
        char* data = nullptr;
        long n = BIO_get_mem_data(out_, &data);
        if (n > 0)
            out.assign(data, static_cast<size_t>(n));
        (void)BIO_reset(out_);
        return out;
    }
    void Put(const std::string& records) {
        if (!records.empty())
            BIO_write(in_, records.data(), static_cast<int>(records.size()));
    }
    // 1 done, 0 wants more, -1 failed.
    int Handshake() {
        int rc = SSL_do_handshake(ssl_);
        if (rc == 1)
            return 1;
        return SSL_get_error(ssl_, rc) == SSL_ERROR_WANT_READ ? 0 : -1;
    }
    void Write(const std::string& plain) {
        ASSERT_EQ(SSL_write(ssl_, plain.data(), static_cast<int>(plain.size())),
                  static_cast<int>(plain.size()));
    }
    // Every plain byte the received records hold; *closed when the server ended TLS.
    std::string ReadAll(bool* closed = nullptr) {
        std::string got;
        char buf[4096];
        for (;;) {
            int n = SSL_read(ssl_, buf, sizeof buf);
            if (n > 0) {
                got.append(buf, static_cast<size_t>(n));
                continue;
            }
            if (closed != nullptr)
                *closed = SSL_get_error(ssl_, n) == SSL_ERROR_ZERO_RETURN;
            return got;
        }
    }
    SSL* ssl() { return ssl_; }

  private:
    SSL_CTX* ctx_;
    SSL* ssl_;
    BIO* in_;
    BIO* out_;
};

// Moves records both ways until both sides are done or one failed. True when both are done.
bool Connect(TestClient& client, TlsEngine& server) {
    for (int round = 0; round < 20; ++round) {
        int c = client.Handshake();
        std::string toServer = client.Take();
        server.PutReceived(toServer.data(), toServer.size());
        TlsEngine::Step s = server.Handshake();
        std::string toClient;
        server.TakeOutgoing(&toClient);
        client.Put(toClient);
        if (c < 0 || s == TlsEngine::kFailed)
            return false;
        if (c == 1 && s == TlsEngine::kDone && toClient.empty() && toServer.empty())
            return true;
    }
    return false;
}

// Every plain byte the engine can read from what it received.
std::string ServerReads(TlsEngine& server, int* last = nullptr) {
    std::string got;
    char buf[1000];
    for (;;) {
        int n = server.ReadPlain(buf, sizeof buf);
        if (n <= 0) {
            if (last != nullptr)
                *last = n;
            return got;
        }
        got.append(buf, static_cast<size_t>(n));
    }
}

class TlsLayerTest : public ::testing::Test {
  protected:
    void SetUp() override {
        std::string error;
        ASSERT_TRUE(context_.Load(TestMaterial().certificate, TestMaterial().key, &error)) << error;
    }
    TlsContext context_;
};

TEST_F(TlsLayerTest, HandshakeThenDataBothWaysAndAnOrderlyEnd) {
    TlsEngine server(context_);
    TestClient client(TestMaterial().certificate);
    EXPECT_FALSE(server.Established());
    // Nothing can be sent before the handshake.
    EXPECT_FALSE(server.WritePlain("early", 5));
    ASSERT_TRUE(Connect(client, server));
    EXPECT_TRUE(server.Established());
    EXPECT_EQ(SSL_version(client.ssl()), TLS1_3_VERSION);
    EXPECT_EQ(SSL_get_verify_result(client.ssl()), X509_V_OK);

    // A command split over two records, then Japanese text in ISO-2022-JP and UTF-8.
    client.Write("a1 LOGIN user1 ");
    client.Write("secret\r\n");
    std::string records = client.Take();
    EXPECT_EQ(records.find("secret"), std::string::npos);
    // Fed a byte at a time, the plain bytes come out only once a record is whole.
    char buf[64];
    server.PutReceived(records.data(), 1);
    EXPECT_TRUE(server.HasPendingInput());
    EXPECT_EQ(server.ReadPlain(buf, sizeof buf), TlsEngine::kNeedInput);
    server.PutReceived(records.data() + 1, records.size() - 1);
    EXPECT_EQ(ServerReads(server), "a1 LOGIN user1 secret\r\n");
    EXPECT_FALSE(server.HasPendingInput());

    const std::string answer =
        "* 1 FETCH (BODY[] {30}\r\nSubject: \x1b$B$3$s$K$A$O\x1b(B \xe3\x81\x82\r\n)\r\n";
    ASSERT_TRUE(server.WritePlain(answer.data(), answer.size()));
    std::string toClient;
    server.TakeOutgoing(&toClient);
    EXPECT_EQ(toClient.find("FETCH"), std::string::npos);
    client.Put(toClient);
    EXPECT_EQ(client.ReadAll(), answer);

    // The server's closing alert reads as an orderly end at the client, and the client's
    // as one at the server.
    server.Close();
    toClient.clear();
    server.TakeOutgoing(&toClient);
    client.Put(toClient);
    bool closed = false;
    EXPECT_EQ(client.ReadAll(&closed), "");
    EXPECT_TRUE(closed);
    SSL_shutdown(client.ssl());
    std::string alert = client.Take();
    server.PutReceived(alert.data(), alert.size());
    int last = 0;
    EXPECT_EQ(ServerReads(server, &last), "");
    EXPECT_EQ(last, TlsEngine::kClosed);
}

TEST_F(TlsLayerTest, LargeOutputAndTls12) {
    TlsEngine server(context_);
    TestClient client(TestMaterial().certificate, "localhost", TLS1_2_VERSION);
    ASSERT_TRUE(Connect(client, server));
    EXPECT_EQ(SSL_version(client.ssl()), TLS1_2_VERSION);
    // No compression, whatever the client offers.
    EXPECT_EQ(SSL_get_current_compression(client.ssl()), nullptr);
    std::string big;
    for (int i = 0; big.size() < 3 * 1024 * 1024; ++i)
        big += "line " + std::to_string(i) + " of a long message\r\n";
    ASSERT_TRUE(server.WritePlain(big.data(), big.size()));
    std::string records;
    server.TakeOutgoing(&records);
    EXPECT_GT(records.size(), big.size());
    client.Put(records);
    EXPECT_EQ(client.ReadAll(), big);
    // Taken records are forgotten.
    records.clear();
    server.TakeOutgoing(&records);
    EXPECT_EQ(records, "");
}

TEST_F(TlsLayerTest, VersionsBelowTls12AreRefused) {
    TlsEngine server(context_);
    TestClient client(TestMaterial().certificate, "localhost", TLS1_1_VERSION);
    EXPECT_FALSE(Connect(client, server));
    EXPECT_FALSE(server.Established());
    EXPECT_FALSE(server.WritePlain("x", 1));
}

TEST_F(TlsLayerTest, AClientThatDoesNotTrustTheCertificateOrNameFails) {
    // The certificate names this host, "localhost" and 127.0.0.1, nothing else.
    TlsEngine server(context_);
    TestClient client(TestMaterial().certificate, "other.example.jp");
    EXPECT_FALSE(Connect(client, server));
    EXPECT_FALSE(server.Established());
}

TEST_F(TlsLayerTest, PlainTextInsteadOfAHandshakeFailsCleanly) {
    TlsEngine server(context_);
    const std::string plain = "a1 LOGIN user1 secret\r\n";
    server.PutReceived(plain.data(), plain.size());
    EXPECT_EQ(server.Handshake(), TlsEngine::kFailed);
    EXPECT_FALSE(server.Error().empty());
    // It stays failed: no further step, no data either way.
    EXPECT_EQ(server.Handshake(), TlsEngine::kFailed);
    char buf[16];
    EXPECT_EQ(server.ReadPlain(buf, sizeof buf), TlsEngine::kBroken);
    EXPECT_FALSE(server.WritePlain("x", 1));
    EXPECT_FALSE(server.HasPendingInput());
    // What it queued is at most an alert, never plain text.
    std::string out;
    server.TakeOutgoing(&out);
    EXPECT_LT(out.size(), 16u);

    // A handshake cut off in the middle only waits for more.
    TlsEngine cut(context_);
    TestClient client(TestMaterial().certificate);
    client.Handshake();
    std::string hello = client.Take();
    cut.PutReceived(hello.data(), hello.size() / 2);
    EXPECT_EQ(cut.Handshake(), TlsEngine::kWantInput);
    EXPECT_FALSE(cut.Established());
}

TEST(TlsContextTest, UnusableCertificatesAndKeysAreRefused) {
    const Material& m = TestMaterial();
    Material other;
    std::string error;
    ASSERT_TRUE(
        MakeSelfSignedCertificate("other.example.jp", &other.certificate, &other.key, &error));
    struct Case {
        const char* what;
        std::string certificate, key;
    } cases[] = {
        {"empty", "", ""},
        {"garbage", "-----BEGIN CERTIFICATE-----\nnot base64\n-----END CERTIFICATE-----\n", m.key},
        {"no key", m.certificate, ""},
        {"the key of another certificate", m.certificate, other.key},
        {"a certificate for a key", m.key, m.key},
    };
    for (const Case& c : cases) {
        TlsContext context;
        error.clear();
        EXPECT_FALSE(context.Load(c.certificate, c.key, &error)) << c.what;
        EXPECT_FALSE(context.Ready()) << c.what;
        EXPECT_FALSE(error.empty()) << c.what;
        // An engine of a context that did not load is broken from the start.
        TlsEngine engine(context);
        EXPECT_EQ(engine.Handshake(), TlsEngine::kFailed) << c.what;
    }
    // Certificate and key in one text (a single PEM file) load.
    TlsContext both;
    EXPECT_TRUE(both.Load(m.certificate + m.key, m.certificate + m.key, &error)) << error;
    EXPECT_TRUE(TlsAvailable());
}

TEST(TlsCertificateTest, NamesAndValidity) {
    std::string cert, key, error;
    ASSERT_TRUE(MakeSelfSignedCertificate("mail.example.jp", &cert, &key, &error)) << error;
    BIO* bio = BIO_new_mem_buf(cert.data(), static_cast<int>(cert.size()));
    X509* x = PEM_read_bio_X509(bio, nullptr, nullptr, nullptr);
    BIO_free(bio);
    ASSERT_NE(x, nullptr);
    EXPECT_EQ(X509_check_host(x, "mail.example.jp", 0, 0, nullptr), 1);
    EXPECT_EQ(X509_check_host(x, "localhost", 0, 0, nullptr), 1);
    EXPECT_EQ(X509_check_ip_asc(x, "127.0.0.1", 0), 1);
    EXPECT_NE(X509_check_host(x, "example.jp", 0, 0, nullptr), 1);
    // Valid now and for years; self-signed.
    EXPECT_LT(X509_cmp_current_time(X509_get0_notBefore(x)), 0);
    time_t inNineYears = time(nullptr) + 9L * 365 * 24 * 60 * 60;
    EXPECT_GT(X509_cmp_time(X509_get0_notAfter(x), &inNineYears), 0);
    EXPECT_EQ(X509_check_issued(x, x), X509_V_OK);
    X509_free(x);
    EXPECT_NE(key.find("PRIVATE KEY"), std::string::npos);
    EXPECT_EQ(key.find("ENCRYPTED"), std::string::npos);
    // Names that cannot go into the certificate's name list are refused.
    EXPECT_FALSE(MakeSelfSignedCertificate("", &cert, &key, &error));
    EXPECT_FALSE(MakeSelfSignedCertificate("a,DNS:evil.example", &cert, &key, &error));
}

}  // namespace
