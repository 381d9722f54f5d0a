// IDLE ends at a line DONE (any letter case); whatever follows it is assembled as the next
// commands, and a failed connection ends it as well. In extended mode the folder is looked at
// every few seconds between the client's lines, and what the host changed goes out at once.
#include <chrono>

#include "imap/commands/commands.h"
#include "imap/session.h"

namespace {

// How long IDLE waits for the client before it looks at the folder again. Well below the
// few seconds a client may wait to learn about new mail.
constexpr uint32_t kIdleCheckMs = 2000;

// Lines sent while idling are kept only this far: DONE is short, and nothing else is used.
constexpr uint32_t kDoneLineLimit = 64;

}  // namespace

void RunIdle(Session& s) {
    s.Send("+ idling\r\n");
    Text line;
    if (s.mode == Mode::kExact) {
        while (s.channel.ReadInputLine(&line, kDoneLineLimit, nullptr, nullptr)) {
            if (line.CompareNoCase("DONE") == 0)
                break;
        }
        return;
    }
    // Other lines are passed over; the wait writes pending output first. A server stop ends
    // the idling too, and so does the idle time-out, as for any silent client.
    const auto started = std::chrono::steady_clock::now();
    const uint32_t timeout = s.InputTimeoutMs();
    while (!s.Closing()) {
        if (timeout != 0 &&
            std::chrono::steady_clock::now() - started >= std::chrono::milliseconds(timeout)) {
            s.Send(Session::kTimeoutLine);
            s.SetEndReason("timeout");
            s.channel.EndAfterAnswer();
            s.EndWithoutCompletion();
            return;
        }
        const int ready = s.channel.WaitForInput(kIdleCheckMs);
        if (ready < 0)
            break;
        if (ready == 0) {
            s.ReportChanges();
            continue;
        }
        if (!s.channel.ReadInputLine(&line, kDoneLineLimit, nullptr, nullptr) ||
            line.CompareNoCase("DONE") == 0)
            break;
    }
}
