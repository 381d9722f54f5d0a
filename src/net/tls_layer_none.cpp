// The TLS layer of a build without a TLS library: no context ever loads, so the server offers
// no STARTTLS and opens no TLS port, and every engine is broken from the start.
#include "net/tls_layer.h"

namespace {
const char kNoTls[] = "this build has no TLS";
}  // namespace

bool TlsAvailable() {
    return false;
}

TlsContext::~TlsContext() = default;

bool TlsContext::Load(const std::string&, const std::string&, std::string* error) {
    *error = kNoTls;
    return false;
}

TlsEngine::TlsEngine(const TlsContext&) : failed_(true), error_(kNoTls) {}

TlsEngine::~TlsEngine() = default;

void TlsEngine::PutReceived(const char*, size_t) {}

TlsEngine::Step TlsEngine::Handshake() {
    return kFailed;
}

int TlsEngine::ReadPlain(char*, int) {
    return kBroken;
}

std::string TlsEngine::Description() const {
    return std::string();
}

bool TlsEngine::HasPendingInput() const {
    return false;
}

bool TlsEngine::WritePlain(const char*, size_t) {
    return false;
}

void TlsEngine::Close() {}

void TlsEngine::TakeOutgoing(std::string*) {}

bool MakeSelfSignedCertificate(const std::string&, std::string*, std::string*, std::string* error) {
    *error = kNoTls;
    return false;
}

bool WriteSelfSignedCertificate(const std::string&, const char*, const char*, std::string*,
                                std::string* error) {
    *error = kNoTls;
    return false;
}
