#include "bench/session_loop.h"

#include <algorithm>
#include <mutex>
#include <thread>

#include "bench/imap_client.h"

namespace {

// Shared by the client threads; each adds its own counts once, when it stops.
struct Totals {
    std::mutex lock;
    SessionLoopResult result;
};

// One session. Empty on success, otherwise why it failed.
std::string OneSession(const SessionLoopOptions& options, ImapClient* client, uint64_t* bytes) {
    const Clock::time_point deadline =
        Clock::now() + std::chrono::duration_cast<Clock::duration>(
                           std::chrono::duration<double>(options.sessionTimeout));
    if (!client->Connect(options.port))
        return "connect refused";
    Reply reply = client->ReadGreeting(deadline);
    *bytes += reply.bytes;
    if (reply.outcome != Outcome::kOk)
        return std::string("greeting ") + OutcomeName(reply.outcome);
    const std::string commands[] = {"LOGIN " + options.user + " " + options.password,
                                    "SELECT " + options.mailbox, options.fetch, "LOGOUT"};
    for (const std::string& command : commands) {
        reply = client->Command(command, deadline);
        *bytes += reply.bytes;
        const std::string word = command.substr(0, command.find(' '));
        if (reply.outcome != Outcome::kOk)
            return word + " " + OutcomeName(reply.outcome);
        if (&command == &commands[2] && reply.fetches != options.expectedFetches)
            return word + " short";
    }
    client->Close();
    return std::string();
}

void ClientThread(const SessionLoopOptions* options, Clock::time_point end, Totals* totals) {
    std::vector<double> latencies;
    std::map<std::string, uint64_t> kinds;
    uint64_t errors = 0;
    uint64_t inWindow = 0;
    uint64_t bytes = 0;
    ImapClient client;
    while (Clock::now() < end) {
        const Clock::time_point start = Clock::now();
        const std::string fault = OneSession(*options, &client, &bytes);
        client.Close();
        const Clock::time_point done = Clock::now();
        if (fault.empty()) {
            latencies.push_back(std::chrono::duration<double>(done - start).count());
            if (done <= end)
                ++inWindow;
        } else {
            ++errors;
            ++kinds[fault];
            // A server that refuses at once must not turn the loop into a busy spin.
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
    }
    std::lock_guard<std::mutex> hold(totals->lock);
    SessionLoopResult& r = totals->result;
    r.sessions += latencies.size();
    r.inWindow += inWindow;
    r.errors += errors;
    r.bytes += bytes;
    for (const auto& kind : kinds)
        r.kinds[kind.first] += kind.second;
    r.latencies.insert(r.latencies.end(), latencies.begin(), latencies.end());
}

}  // namespace

SessionLoopResult RunSessionLoop(const SessionLoopOptions& options) {
    Totals totals;
    const Clock::time_point start = Clock::now();
    const Clock::time_point end = start + std::chrono::duration_cast<Clock::duration>(
                                              std::chrono::duration<double>(options.seconds));
    std::vector<std::thread> threads;
    threads.reserve(static_cast<size_t>(options.clients));
    for (int i = 0; i < options.clients; ++i)
        threads.emplace_back(ClientThread, &options, end, &totals);
    for (std::thread& t : threads)
        t.join();
    totals.result.window = options.seconds;
    totals.result.seconds = std::chrono::duration<double>(Clock::now() - start).count();
    std::sort(totals.result.latencies.begin(), totals.result.latencies.end());
    return totals.result;
}
