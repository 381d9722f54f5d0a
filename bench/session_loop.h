// The session loop of the load tool: many concurrent clients, each repeating a short session
// (connect, greeting, LOGIN, SELECT, FETCH of a few headers, LOGOUT) until a time is up, the
// way a crowd of phones polls a server. It reports completed sessions, their latencies and
// the sessions that failed, by the reason they failed.
#ifndef ORV_BENCH_SESSION_LOOP_H_
#define ORV_BENCH_SESSION_LOOP_H_

#include <cstdint>
#include <map>
#include <string>
#include <vector>

struct SessionLoopOptions {
    uint16_t port = 0;
    std::string user;
    std::string password;
    std::string mailbox;
    std::string fetch = "FETCH 1:20 (FLAGS BODY.PEEK[HEADER])";
    uint64_t expectedFetches = 20;  // FETCH responses each session must receive
    int clients = 100;
    double seconds = 20;
    double sessionTimeout = 30;  // a session not done by then counts as failed
};

struct SessionLoopResult {
    uint64_t sessions = 0;                  // completed without a fault
    uint64_t inWindow = 0;                  // of those, completed before the time was up
    uint64_t errors = 0;                    // failed sessions
    std::map<std::string, uint64_t> kinds;  // failed sessions by reason
    double window = 0;                      // the time the clients started sessions in
    double seconds = 0;                     // from the start until the last client stopped
    uint64_t bytes = 0;                     // received, over all sessions
    std::vector<double> latencies;          // of the completed sessions, sorted, seconds
};

SessionLoopResult RunSessionLoop(const SessionLoopOptions& options);

#endif  // ORV_BENCH_SESSION_LOOP_H_
