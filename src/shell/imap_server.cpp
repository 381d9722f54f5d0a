#include "shell/imap_server.h"

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <string>

#include "base/event_log.h"
#include "base/file.h"
#include "net/connection.h"
#include "net/tls_layer.h"
#include "platform/sockets.h"
#include "shell/imap_connection.h"
#include "store/folder_facts.h"
#include "store/listing_cache.h"
#include "store/message_cache.h"

// The listener of the TLS port: its connections are the server's sessions, speaking TLS from
// the first byte.
class ImapServer::TlsPort : public Listener {
  public:
    explicit TlsPort(ImapServer* server) : server_(server) {}

    Connection* CreateSession(Socket& accepted) override {
        return server_->MakeSession(this, accepted, true);
    }

  private:
    ImapServer* server_;
};

namespace {

// A certificate or key file is small; anything larger is not one.
constexpr int64_t kMaxPemFile = 1 << 20;

// The whole of a small file; false when it cannot be read.
bool ReadSmallFile(const Text& path, std::string* out) {
    File file;
    if (!file.Open(path.c_str(), platform::kAccessRead, platform::kOpenExisting))
        return false;
    int64_t size = file.Size();
    if (size < 0 || size > kMaxPemFile)
        return false;
    out->assign(static_cast<size_t>(size), '\0');
    return size == 0 || file.Read(&(*out)[0], static_cast<uint32_t>(size)) == size;
}

// A start-up problem that does not stop the server, on the standard error like the host's,
// and in the log.
void Report(const std::string& message) {
    std::fprintf(stderr, "OrvImapS: %s\n", message.c_str());
    std::fflush(stderr);
    EventLog::Shared().Write(0, "-", "error: " + message);
}

// The numbers of the log's connection lines; 0 is the server itself.
std::atomic<uint32_t> connectionNumbers{0};

// The settings a person reading the log wants at the start: port, mode, TLS, limits.
std::string StartLine(uint16_t port, bool extended, bool tls, uint16_t tlsPort, bool requireTls,
                      const ServerLimits& limits) {
    std::string line = "started: port " + std::to_string(port) + ", " +
                       (extended ? "extended" : "exact") + " mode, ";
    if (!tls)
        line += "TLS off";
    else
        line += std::string("STARTTLS") +
                (tlsPort != 0 ? ", TLS port " + std::to_string(tlsPort) : std::string()) +
                (requireTls ? ", TLS required for LOGIN" : "");
    line += limits.maxConnections != 0
                ? "; at most " + std::to_string(limits.maxConnections) + " connections"
                : std::string("; any number of connections");
    line += limits.maxLoginFailures != 0
                ? ", closed after " + std::to_string(limits.maxLoginFailures) + " failed logins"
                : std::string(", never closed for failed logins");
    // 0: no time-out.
    line += ", login timeout " + std::to_string(limits.loginTimeout) + " s, idle timeout " +
            std::to_string(limits.idleTimeout) + " s";
    return line;
}

}  // namespace

ImapServer::ImapServer(UserTable* users, HostPort& host) : users_(users), host_(host) {}

ImapServer::~ImapServer() {
    if (tlsPort_ != nullptr)
        tlsPort_->Stop();
}

Connection* ImapServer::CreateSession(Socket& accepted) {
    return MakeSession(this, accepted, false);
}

Connection* ImapServer::MakeSession(Listener* owner, Socket& accepted, bool implicitTls) {
    ServerLimits limits = ReadLimits(host_);
    // Read at each connection, like the other limits: a changed bound holds from the next one.
    MessageCache::Shared().SetLimit(limits.messageCacheSize);
    ListingCache::Shared().SetLimit(limits.listCacheSize);
    const uint32_t number = ++connectionNumbers;
    const std::string address = platform::PeerAddress(accepted.Handle());
    if (limits.maxConnections != 0 &&
        static_cast<uint32_t>(ServedConnectionCount.load()) >= limits.maxConnections) {
        EventLog::Shared().Write(
            number, address,
            "refused: limit of " + std::to_string(limits.maxConnections) + " connections");
        // One connection too many: told goodbye and closed at once (on the TLS port there is
        // nobody to tell before the handshake).
        if (!implicitTls)
            accepted.Send(Session::kStopLine);
        accepted.Close();
        return nullptr;
    }
    EventLog::Shared().Write(number, address,
                             implicitTls ? "connected on the TLS port" : "connected");
    // The mode is read when the connection starts, like the folder-name mode. The TLS port
    // serves the extended mode only.
    SessionSettings settings;
    settings.mode = implicitTls || ReadExtended(host_) != 0 ? Mode::kExtended : Mode::kExact;
    settings.users = users_;
    settings.host = &host_;
    settings.maxAppendSize = limits.maxAppendSize;
    settings.maxCommandBytes = limits.maxLineLength;
    settings.loginFailureDelayMs = limits.loginFailureDelay;
    settings.maxLoginFailures = limits.maxLoginFailures;
    settings.peerAddress = address;
    settings.connectionNumber = number;
    settings.loginTimeoutMs =
        limits.loginTimeout > 0xFFFFFFFFu / 1000 ? 0xFFFFFFFFu : limits.loginTimeout * 1000;
    settings.idleTimeoutMs =
        limits.idleTimeout > 0xFFFFFFFFu / 1000 ? 0xFFFFFFFFu : limits.idleTimeout * 1000;
    settings.requireTls = settings.mode == Mode::kExtended && requireTls_;
    // STARTTLS and the TLS port belong to the extended mode.
    const TlsContext* tls = settings.mode == Mode::kExtended ? tls_.get() : nullptr;
    ImapConnection* session = new ImapConnection(owner, accepted.Handle(), settings, tls);
    if (implicitTls)
        session->UseImplicitTls(*tls_);
    accepted.SetHandle(platform::kInvalidSocket);
    session->SetMaxLineLength(limits.maxLineLength);
    return session;
}

void ImapServer::LoadTls(const TlsSettings& settings) {
    tls_.reset();
    if (settings.certificate.IsEmpty())
        return;
    std::string certificate, key;
    const Text& keyPath = settings.key.IsEmpty() ? settings.certificate : settings.key;
    if (!ReadSmallFile(settings.certificate, &certificate)) {
        Report(std::string("TLS is off: cannot read the certificate ") +
               settings.certificate.c_str());
        return;
    }
    if (!ReadSmallFile(keyPath, &key)) {
        Report(std::string("TLS is off: cannot read the key ") + keyPath.c_str());
        return;
    }
    std::unique_ptr<TlsContext> context(new TlsContext);
    std::string error;
    bool loaded = context->Load(certificate, key, &error);
    // The key's bytes are not kept around.
    std::fill(key.begin(), key.end(), '\0');
    if (!loaded) {
        Report("TLS is off: " + error);
        return;
    }
    tls_ = std::move(context);
}

int ImapServer::StartFromSettings() {
    uint16_t port = ReadPortNo(host_);
    if (Handle() != platform::kInvalidSocket)
        return 0;
    // Each start reads the account file afresh: the host stops and starts the server again
    // after the users changed. The records replace the old ones rather than follow them (the
    // first record of a name wins at LOGIN). No session points into the table now: sessions
    // exist only while the accept thread runs, and the stop that ended it (Listener::Stop, by
    // way of CloseAllSessions) returned only once every connection object was deleted.
    // The log first, so what the start finds wrong is in it.
    EventLog::Shared().Configure(ReadLogSettings(host_));
    users_->Clear();
    LoadPasswordFile(PasswordFilePath(host_).c_str(), users_);
    TlsSettings tls = ReadTlsSettings(host_);
    requireTls_ = tls.required != 0;
    if (requireTls_ && ReadExtended(host_) == 0)
        Report(
            "RequireTls=1 has no effect: it needs Extended=1 (the exact mode has no TLS, so "
            "LOGIN goes on in the clear)");
    LoadTls(tls);
    if (!StartListening(port, ReadBacklog(host_))) {
        EventLog::Shared().Write(0, "-", "error: cannot listen on port " + std::to_string(port));
        return 0;
    }
    // The TLS port serves the extended mode, so it opens only when that mode is on.
    if (tls_ != nullptr && tls.port != 0 && ReadExtended(host_) == 0)
        Report("the TLS port " + std::to_string(tls.port) + " stays closed: it needs Extended=1");
    if (tls_ != nullptr && tls.port != 0 && ReadExtended(host_) != 0) {
        tlsPort_.reset(new TlsPort(this));
        if (!tlsPort_->StartListening(tls.port, ReadBacklog(host_))) {
            Report("cannot listen for TLS on port " + std::to_string(tls.port));
            tlsPort_.reset();
        }
    }
    const bool extended = ReadExtended(host_) != 0;
    EventLog::Shared().Write(
        0, "-",
        StartLine(port, extended, extended && tls_ != nullptr, tlsPort_ != nullptr ? tls.port : 0,
                  extended && requireTls_, ReadLimits(host_)));
    return 1;
}

int ImapServer::Stop() {
    // The TLS port's accept thread starts saying goodbye to its connections while the main
    // port's does the same: each waits until no connection of either port is left.
    if (tlsPort_ != nullptr)
        tlsPort_->Close();
    int result = Listener::Stop();
    if (tlsPort_ != nullptr) {
        tlsPort_->Stop();
        tlsPort_.reset();
    }
    // No connection is left: what the last ones learned goes to the folders' own files.
    FolderFacts::Shared().SaveAll();
    EventLog::Shared().Write(0, "-", "stopped");
    return result;
}
