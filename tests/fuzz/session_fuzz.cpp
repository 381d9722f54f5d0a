// A whole IMAP session fed from the fuzzer's bytes: line assembly, command parsing, dispatch and
// every handler, in exact or extended mode, against the session store. No socket is involved:
// the session's receive hands out the input in blocks as the connection thread would get them,
// and what the server writes is dropped (ORV_FUZZ_ECHO=1 shows it on stderr).
//
// The first byte chooses the setting: bit 0 extended mode, bit 1 folder names from directory
// names instead of titles, bit 2 a LOGIN as the store's user first, bit 3 a SELECT of INBOX
// after it. The second byte is the block size (0: the connection's full block). The rest is what
// the client sends.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "fuzz_support.h"
#include "shell/host_binding.h"
#include "shell/imap_connection.h"
#include "store/settings.h"
#include "store/user_table.h"

namespace {

// With ORV_FUZZ_ECHO set, what the server writes goes to stderr, to see what an input does.
bool Echo() {
    static const bool echo = std::getenv("ORV_FUZZ_ECHO") != nullptr;
    return echo;
}

// A handle no socket has: the session never reaches the platform's sockets with it (receive and
// send are replaced), and closing it is a harmless failure.
constexpr platform::SocketHandle kNoSocket = 0x3FFFFFF0;

// A connection whose client is the fuzzer's input: receives hand out the input, sends go
// nowhere. It stands in for the socket, so no descriptor or thread is involved and every run is
// alike.
class DrivenSession : public ImapConnection {
  public:
    DrivenSession(const SessionSettings& settings, const std::string& input, int blockSize)
        : ImapConnection(nullptr, kNoSocket, settings, nullptr),
          input_(input),
          blockSize_(blockSize) {}

    int Send(const char* data, int len = -1, int flags = 0) override {
        (void)flags;
        if (data == nullptr)
            return 0;
        if (len < 0)
            len = static_cast<int>(std::strlen(data));
        if (this->Handle() == platform::kInvalidSocket)
            return -1;
        if (Echo())
            std::fwrite(data, 1, static_cast<size_t>(len), stderr);
        return len;
    }

    int Receive(char* buf, int size, int flags) override {
        (void)flags;
        if (this->Handle() == platform::kInvalidSocket)
            return -1;
        if (position_ >= input_.size())
            return 0;  // the client closed the connection
        size_t take = std::min(static_cast<size_t>(size), input_.size() - position_);
        take = std::min(take, static_cast<size_t>(blockSize_));
        std::memcpy(buf, input_.data() + position_, take);
        position_ += take;
        return static_cast<int>(take);
    }

    // The connection thread's loop: receive a block, terminate it, assemble and run its lines.
    void Run() {
        char block[Connection::kBlockSize];
        for (;;) {
            const int n = Receive(block, Connection::kBlockSize - 1, 0);
            if (n <= 0)
                break;
            block[n] = 0;
            this->OnData(block);
        }
    }

  private:
    const std::string& input_;
    int blockSize_;
    size_t position_ = 0;
};

const UserTable& Users() {
    static UserTable* users = [] {
        fuzz::MakeSessionStore();
        UserTable* table = new UserTable(true);
        const std::string path = fuzz::MailboxDirectory() + "passwd";
        if (LoadPasswordFile(path.c_str(), table) != 1)
            std::abort();
        return table;
    }();
    return *users;
}

void RunSession(Mode mode, const std::string& input, int blockSize) {
    SessionSettings settings;
    settings.mode = mode;
    settings.users = &Users();
    settings.host = &BoundHost();
    DrivenSession session(settings, input, blockSize);
    session.Greet();
    session.Run();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 2)
        return 0;
    const UserTable& users = Users();
    (void)users;
    const uint8_t mode = data[0];
    const int blockSize = data[1] == 0 ? Connection::kBlockSize - 1 : data[1];

    std::string input;
    if ((mode & 4) != 0)
        input += std::string("L LOGIN ") + fuzz::kUser + " " + fuzz::kPassword + "\r\n";
    if ((mode & 8) != 0)
        input += "S SELECT INBOX\r\n";
    input.append(reinterpret_cast<const char*>(data + 2), size - 2);

    UseTitles.store((mode & 2) != 0 ? 0 : 1);
    RunSession((mode & 1) != 0 ? Mode::kExtended : Mode::kExact, input, blockSize);
    fuzz::RestoreSessionStore();
    return 0;
}
