// ImapClient: one blocking IMAP client connection for the load tool. It sends tagged commands
// and reads their responses through the tagged completion, skipping literals by their byte
// count (never searching them for line ends), counting bytes, responses and FETCH responses,
// and giving up at a deadline, so a server that stalls or answers wrongly is reported, not
// waited for.
#ifndef ORV_BENCH_IMAP_CLIENT_H_
#define ORV_BENCH_IMAP_CLIENT_H_

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

#include "platform/sockets.h"

using Clock = std::chrono::steady_clock;

// How a command ended.
enum class Outcome {
    kOk,       // tagged OK
    kNo,       // tagged NO
    kBad,      // tagged BAD
    kClosed,   // the server closed the connection (or a receive failed) first
    kTimeout,  // no complete answer before the deadline
};

const char* OutcomeName(Outcome outcome);

// What one command (or the greeting) brought back.
struct Reply {
    Outcome outcome = Outcome::kClosed;
    uint64_t bytes = 0;         // every byte received for it, literals included
    uint64_t literalBytes = 0;  // the bytes inside literals
    uint64_t untagged = 0;      // untagged responses ("* ...")
    uint64_t fetches = 0;       // untagged "* n FETCH" responses
    bool bye = false;           // an untagged BYE came
    std::string tagged;         // the tagged line, without CR LF
    double seconds = 0;         // from the send to the tagged line
    // With ImapClient::KeepText: each untagged response's lines, CR LF and all, with the
    // bytes of its literals left out (at most kKeptText bytes of each).
    std::vector<std::string> texts;
};

// The most bytes of one untagged response ImapClient::KeepText keeps.
constexpr size_t kKeptText = 64 * 1024;

class ImapClient {
  public:
    ImapClient() = default;
    ~ImapClient();
    ImapClient(const ImapClient&) = delete;
    ImapClient& operator=(const ImapClient&) = delete;

    // Connects to 127.0.0.1:port. False when the connection is refused.
    bool Connect(uint16_t port);
    // Reads the greeting line; kOk when it is an untagged OK.
    Reply ReadGreeting(Clock::time_point deadline);
    // Sends "TAG command\r\n" with a fresh tag and reads up to its tagged line.
    Reply Command(const std::string& command, Clock::time_point deadline);
    // Closes the connection (also done by the destructor).
    void Close();
    // Whether the next replies keep the text of their untagged responses (Reply::texts), for
    // a caller that reads what they say; off by default, so counting costs no copies.
    void KeepText(bool keep) { keepText_ = keep; }

  private:
    // Reads one whole response (a line and the literals it announces, with the lines that
    // continue it). False on a close, a failure or the deadline (*outcome says which).
    bool ReadResponse(Reply* reply, Outcome* outcome, Clock::time_point deadline);
    // Makes at least one more byte available in the buffer.
    bool Fill(Reply* reply, Outcome* outcome, Clock::time_point deadline);

    platform::SocketHandle socket_ = platform::kInvalidSocket;
    std::vector<char> buffer_ = std::vector<char>(256 * 1024);
    size_t begin_ = 0;  // unread bytes are buffer_[begin_, end_)
    size_t end_ = 0;
    unsigned nextTag_ = 1;
    bool keepText_ = false;
    std::string tag_;
    std::string line_;  // the current response's first line and the line being read
};

#endif  // ORV_BENCH_IMAP_CLIENT_H_
