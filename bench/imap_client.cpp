#include "bench/imap_client.h"

#include <cstring>
#include <utility>

namespace {

bool StartsWith(const std::string& s, const char* prefix) {
    return s.compare(0, std::strlen(prefix), prefix) == 0;
}

// The byte count of a literal that ends the line ("... {123}\r\n"), or -1 when the line
// announces none.
int64_t LiteralSize(const std::string& line) {
    size_t end = line.size();
    if (end >= 1 && line[end - 1] == '\n')
        --end;
    if (end >= 1 && line[end - 1] == '\r')
        --end;
    if (end < 3 || line[end - 1] != '}')
        return -1;
    size_t open = end - 1;
    int64_t size = 0;
    int digits = 0;
    while (open > 0 && line[open - 1] >= '0' && line[open - 1] <= '9') {
        --open;
        ++digits;
    }
    if (digits == 0 || digits > 15 || open == 0 || line[open - 1] != '{')
        return -1;
    for (size_t i = open; i < end - 1; ++i)
        size = size * 10 + (line[i] - '0');
    return size;
}

// Whether an untagged response is "* n FETCH ...".
bool IsFetch(const std::string& head) {
    size_t i = 2;
    while (i < head.size() && head[i] >= '0' && head[i] <= '9')
        ++i;
    return i > 2 && head.compare(i, 7, " FETCH ") == 0;
}

// Milliseconds left until the deadline, 0 when it has passed.
uint32_t MillisecondsLeft(Clock::time_point deadline) {
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    if (left <= 0)
        return 0;
    return left > 0x7FFFFFFF ? 0x7FFFFFFF : static_cast<uint32_t>(left);
}

}  // namespace

const char* OutcomeName(Outcome outcome) {
    switch (outcome) {
        case Outcome::kOk:
            return "OK";
        case Outcome::kNo:
            return "NO";
        case Outcome::kBad:
            return "BAD";
        case Outcome::kClosed:
            return "closed";
        case Outcome::kTimeout:
            return "timeout";
    }
    return "?";
}

ImapClient::~ImapClient() {
    Close();
}

bool ImapClient::Connect(uint16_t port) {
    Close();
    socket_ = platform::ConnectLoopback(port);
    return socket_ != platform::kInvalidSocket;
}

void ImapClient::Close() {
    if (socket_ != platform::kInvalidSocket)
        platform::CloseSocket(socket_);
    socket_ = platform::kInvalidSocket;
    begin_ = end_ = 0;
}

bool ImapClient::Fill(Reply* reply, Outcome* outcome, Clock::time_point deadline) {
    begin_ = end_ = 0;
    const uint32_t wait = MillisecondsLeft(deadline);
    const int ready = wait == 0 ? 0 : platform::WaitReadable(socket_, wait);
    if (ready <= 0) {
        *outcome = ready == 0 ? Outcome::kTimeout : Outcome::kClosed;
        return false;
    }
    const int got =
        platform::RecvSocket(socket_, buffer_.data(), static_cast<int>(buffer_.size()), 0);
    if (got <= 0) {
        *outcome = Outcome::kClosed;
        return false;
    }
    end_ = static_cast<size_t>(got);
    reply->bytes += static_cast<uint64_t>(got);
    return true;
}

bool ImapClient::ReadResponse(Reply* reply, Outcome* outcome, Clock::time_point deadline) {
    std::string head;
    std::string text;
    bool first = true;
    for (;;) {
        // One line: up to and including its LF.
        line_.clear();
        for (;;) {
            if (begin_ == end_ && !Fill(reply, outcome, deadline))
                return false;
            const char* start = buffer_.data() + begin_;
            const void* lf = std::memchr(start, '\n', end_ - begin_);
            const size_t n =
                lf != nullptr ? static_cast<const char*>(lf) - start + 1 : end_ - begin_;
            line_.append(start, n);
            begin_ += n;
            if (lf != nullptr)
                break;
        }
        if (first) {
            head = line_.size() <= 512 ? line_ : line_.substr(0, 512);
            first = false;
        }
        if (keepText_ && text.size() < kKeptText)
            text.append(line_, 0, kKeptText - text.size());
        int64_t literal = LiteralSize(line_);
        if (literal < 0)
            break;
        reply->literalBytes += static_cast<uint64_t>(literal);
        while (literal > 0) {
            if (begin_ == end_ && !Fill(reply, outcome, deadline))
                return false;
            const size_t take = static_cast<size_t>(literal) < end_ - begin_
                                    ? static_cast<size_t>(literal)
                                    : end_ - begin_;
            begin_ += take;
            literal -= static_cast<int64_t>(take);
        }
    }

    if (StartsWith(head, "* ")) {
        ++reply->untagged;
        if (keepText_)
            reply->texts.push_back(std::move(text));
        if (IsFetch(head))
            ++reply->fetches;
        if (StartsWith(head, "* BYE"))
            reply->bye = true;
        *outcome = Outcome::kOk;
        return true;
    }
    if (!tag_.empty() && head.compare(0, tag_.size(), tag_) == 0 && head.size() > tag_.size() &&
        head[tag_.size()] == ' ') {
        while (!head.empty() && (head.back() == '\n' || head.back() == '\r'))
            head.pop_back();
        reply->tagged = head;
        const std::string word = head.substr(tag_.size() + 1, 4);
        reply->outcome = StartsWith(word, "OK")   ? Outcome::kOk
                         : StartsWith(word, "NO") ? Outcome::kNo
                                                  : Outcome::kBad;
    }
    *outcome = Outcome::kOk;
    return true;
}

Reply ImapClient::ReadGreeting(Clock::time_point deadline) {
    Reply reply;
    tag_.clear();
    Outcome outcome = Outcome::kClosed;
    const Clock::time_point start = Clock::now();
    if (!ReadResponse(&reply, &outcome, deadline)) {
        reply.outcome = outcome;
    } else {
        reply.outcome = reply.untagged == 1 && !reply.bye ? Outcome::kOk : Outcome::kBad;
    }
    reply.seconds = std::chrono::duration<double>(Clock::now() - start).count();
    return reply;
}

Reply ImapClient::Command(const std::string& command, Clock::time_point deadline) {
    Reply reply;
    tag_ = "b" + std::to_string(nextTag_++);
    const std::string line = tag_ + " " + command + "\r\n";
    const Clock::time_point start = Clock::now();
    size_t sent = 0;
    while (sent < line.size()) {
        const int n = platform::SendSocket(socket_, line.data() + sent,
                                           static_cast<int>(line.size() - sent), 0);
        if (n <= 0) {
            reply.outcome = Outcome::kClosed;
            return reply;
        }
        sent += static_cast<size_t>(n);
    }
    while (reply.tagged.empty()) {
        Outcome outcome = Outcome::kClosed;
        if (!ReadResponse(&reply, &outcome, deadline)) {
            reply.outcome = outcome;
            break;
        }
    }
    reply.seconds = std::chrono::duration<double>(Clock::now() - start).count();
    return reply;
}
