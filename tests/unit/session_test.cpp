// The session's command table over a scripted channel: which commands each mode knows, the
// state checks, CAPABILITY, and lines cut at the length limit.
#include "imap/session.h"

#include <gtest/gtest.h>

#include <string>

#include "fake_host.h"

namespace {

// No store is reached before LOGIN, which no test here passes.
FakeHost gHost;

// A client that has sent `input` after the command line and reads everything into `out`.
class ScriptChannel : public ClientChannel {
  public:
    int Queue(const char* data, int len) override {
        out.append(data, len < 0 ? std::string(data).size() : static_cast<size_t>(len));
        return len;
    }
    int ReadInput(char* buf, int size) override {
        if (position_ >= input.size())
            return 0;
        const size_t take = std::min(static_cast<size_t>(size), input.size() - position_);
        input.copy(buf, take, position_);
        position_ += take;
        return static_cast<int>(take);
    }
    bool ReadInputLine(Text* line, uint32_t limit, bool* cut, Text* tail) override {
        const size_t end = input.find("\r\n", position_);
        if (end == std::string::npos)
            return false;
        std::string whole = input.substr(position_, end - position_);
        position_ = end + 2;
        const bool over = limit != 0 && whole.size() > limit;
        if (cut != nullptr)
            *cut = over;
        if (tail != nullptr)
            tail->Assign(over ? whole.substr(std::max(whole.size() - 16, size_t{limit})).c_str()
                              : "");
        line->Assign(over ? whole.substr(0, limit).c_str() : whole.c_str());
        return true;
    }
    int WaitForInput(uint32_t) override { return -1; }
    bool Closing() const override { return ending; }
    void EndAfterAnswer() override { ending = true; }
    bool TlsOffered() const override { return tlsOffered; }
    bool TlsActive() const override { return false; }
    bool StartTls() override { return false; }

    std::string input;
    std::string out;
    bool ending = false;
    bool tlsOffered = false;

  private:
    size_t position_ = 0;
};

// The answer to one line in a new session of the given mode.
std::string Answer(Mode mode, const char* line, ScriptChannel* channel = nullptr) {
    ScriptChannel own;
    ScriptChannel& c = channel != nullptr ? *channel : own;
    SessionSettings settings;
    settings.mode = mode;
    settings.host = &gHost;
    Session session(c, settings);
    session.RunLine(line);
    return c.out;
}

// Which commands each mode knows and their state checks are tested end to end; here only what
// the end-to-end suite does not reach.
TEST(SessionTest, ExactModeLacksStartTlsAndLogoutEndsTheSession) {
    EXPECT_EQ(Answer(Mode::kExact, "a1 STARTTLS"), "a1 BAD Command Not impremented STARTTLS\r\n");
    EXPECT_EQ(Answer(Mode::kExact, "a1 FETCH"), "a1 BAD State FETCH\r\n");
    ScriptChannel channel;
    EXPECT_EQ(Answer(Mode::kExact, "a1 LOGOUT", &channel),
              "* BYE Orvex IMAP4rev1 Server logging out\r\na1 OK LOGOUT complated\r\n");
    EXPECT_TRUE(channel.ending);
}

TEST(SessionTest, LinesCutAtTheLimitAreNeverRun) {
    for (Mode mode : {Mode::kExact, Mode::kExtended}) {
        ScriptChannel channel;
        SessionSettings settings;
        settings.mode = mode;
        settings.host = &gHost;
        Session session(channel, settings);
        session.RunOverlongLine("a1 UNSELECT xxxxxxxx");
        session.RunOverlongLine("a2 LOGOUT");
        EXPECT_EQ(channel.out,
                  "a1 BAD Command Not impremented UNSELECT\r\n"
                  "a2 BAD Command Not impremented LOGOUT\r\n");
        EXPECT_FALSE(channel.ending);
    }
}

TEST(SessionTest, RefusedLiteralsAreNeverRunAsCommands) {
    // Before LOGIN a command holds 8 KiB. A cut continuation line ending in a literal that
    // does not wait: its bytes are dropped with the line, never run.
    ScriptChannel chained;
    chained.input = "u " + std::string(9000, 'y') + " {3+}\r\nabc\r\n";
    EXPECT_EQ(Answer(Mode::kExtended, "a2 LOGIN {1}", &chained),
              "+ Ready for literal data\r\na2 BAD Command Not impremented LOGIN\r\n");
    Text rest;
    EXPECT_FALSE(chained.ReadInputLine(&rest, 0, nullptr, nullptr));  // all of it was read
    // After a marker without a valid size that does not wait, nothing can be trusted: the
    // connection ends.
    ScriptChannel sends;
    EXPECT_EQ(Answer(Mode::kExtended, "a4 LOGIN {x+}", &sends),
              "a4 BAD Command Not impremented LOGIN\r\n");
    EXPECT_TRUE(sends.ending);
}

}  // namespace
