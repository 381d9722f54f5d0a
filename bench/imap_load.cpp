// imap_load: the load client of the benchmark. It drives any IMAP server on 127.0.0.1 with
// the same code, so two servers are measured alike, and prints one JSON object per result
// line for the runner: timed commands in one session, the concurrent session loop, the
// resynchronisation of a folder a client saw before, or the loopback bandwidth of the machine.
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "bench/imap_client.h"
#include "bench/loopback.h"
#include "bench/resync.h"
#include "bench/session_loop.h"

namespace {

const char kUsage[] =
    "usage: imap_load commands --port P --user U --password W [--limit S] COMMAND...\n"
    "       imap_load sessions --port P --user U --password W --mailbox M\n"
    "                          [--clients N] [--seconds S] [--fetch-count N]\n"
    "       imap_load resync --port P --user U --password W --mailbox M --uidvalidity V\n"
    "                        --modseq N --uidnext X [--limit S]\n"
    "       imap_load loopback [--seconds S]\n"
    "\n"
    "commands  logs in and sends each COMMAND (without its tag) in turn, printing one JSON\n"
    "          line per command, LOGIN first: outcome, seconds, bytes received, literal\n"
    "          bytes, untagged and FETCH responses. A command not answered within --limit\n"
    "          seconds (default 900) is cut: its line says \"timeout\" with what came so far,\n"
    "          the connection is closed and the rest is not sent. Exit 1 unless all were OK.\n"
    "sessions  --clients concurrent clients (100) each loop LOGIN, SELECT M, FETCH 1:20\n"
    "          (FLAGS BODY.PEEK[HEADER]), LOGOUT for --seconds (20); a session with fewer\n"
    "          than --fetch-count (20) FETCH responses is an error. Prints the sessions\n"
    "          completed within that time per second of it, the latency percentiles of all\n"
    "          completed sessions, the errors by reason, and the seconds until the last\n"
    "          client stopped.\n"
    "resync    times a client's return to M after it last saw UIDVALIDITY V, HIGHESTMODSEQ\n"
    "          N and UIDNEXT X: connect, LOGIN, ENABLE QRESYNC, SELECT M (QRESYNC (V N)),\n"
    "          then UID FETCH (FLAGS ENVELOPE) of the new messages the SELECT reported (or\n"
    "          X:* when it reported none but its UIDNEXT moved). Prints one JSON object: the\n"
    "          seconds and bytes of all of it, the SELECT's HIGHESTMODSEQ, UIDNEXT and\n"
    "          VANISHED responses, and each command's answer with the UIDs of its FETCH\n"
    "          responses. Exit 1 unless all were OK.\n"
    "loopback  the bandwidth of a plain socket copy over 127.0.0.1 for --seconds (3).\n";

struct Arguments {
    std::string mode;
    uint16_t port = 0;
    std::string user;
    std::string password;
    std::string mailbox;
    double limit = 900;
    double seconds = -1;
    int clients = 100;
    int fetchCount = 20;
    uint32_t uidValidity = 0;
    uint64_t modSeq = 0;
    uint32_t uidNext = 0;
    std::vector<std::string> commands;
};

std::string JsonString(const std::string& s) {
    std::string out = "\"";
    for (char c : s) {
        if (c == '"' || c == '\\') {
            out += '\\';
            out += c;
        } else if (static_cast<unsigned char>(c) < 0x20) {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\u%04x", c);
            out += escaped;
        } else {
            out += c;
        }
    }
    return out + "\"";
}

bool ParseArguments(int argc, char** argv, Arguments* args) {
    if (argc < 2)
        return false;
    args->mode = argv[1];
    for (int i = 2; i < argc; ++i) {
        const std::string arg = argv[i];
        const bool hasValue = i + 1 < argc;
        if (arg.compare(0, 2, "--") != 0) {
            args->commands.push_back(arg);
        } else if (!hasValue) {
            return false;
        } else if (arg == "--port") {
            args->port = static_cast<uint16_t>(std::atoi(argv[++i]));
        } else if (arg == "--user") {
            args->user = argv[++i];
        } else if (arg == "--password") {
            args->password = argv[++i];
        } else if (arg == "--mailbox") {
            args->mailbox = argv[++i];
        } else if (arg == "--limit") {
            args->limit = std::atof(argv[++i]);
        } else if (arg == "--seconds") {
            args->seconds = std::atof(argv[++i]);
        } else if (arg == "--clients") {
            args->clients = std::atoi(argv[++i]);
        } else if (arg == "--fetch-count") {
            args->fetchCount = std::atoi(argv[++i]);
        } else if (arg == "--uidvalidity") {
            args->uidValidity = static_cast<uint32_t>(std::strtoul(argv[++i], nullptr, 10));
        } else if (arg == "--modseq") {
            args->modSeq = std::strtoull(argv[++i], nullptr, 10);
        } else if (arg == "--uidnext") {
            args->uidNext = static_cast<uint32_t>(std::strtoul(argv[++i], nullptr, 10));
        } else {
            return false;
        }
    }
    if (args->mode == "loopback")
        return true;
    if (args->port == 0 || args->user.empty())
        return false;
    return args->mode == "commands" ||
           ((args->mode == "sessions" || args->mode == "resync") && !args->mailbox.empty());
}

void PrintReply(const std::string& command, const Reply& reply) {
    std::printf(
        "{\"command\": %s, \"outcome\": \"%s\", \"seconds\": %.6f, \"bytes\": %llu, "
        "\"literal_bytes\": %llu, \"untagged\": %llu, \"fetches\": %llu, \"tagged\": %s}\n",
        JsonString(command).c_str(), OutcomeName(reply.outcome), reply.seconds,
        static_cast<unsigned long long>(reply.bytes),
        static_cast<unsigned long long>(reply.literalBytes),
        static_cast<unsigned long long>(reply.untagged),
        static_cast<unsigned long long>(reply.fetches), JsonString(reply.tagged).c_str());
    std::fflush(stdout);
}

int RunCommands(const Arguments& args) {
    const auto limit =
        std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(args.limit));
    ImapClient client;
    if (!client.Connect(args.port)) {
        std::fprintf(stderr, "imap_load: cannot connect to port %u\n", args.port);
        return 1;
    }
    Reply reply = client.ReadGreeting(Clock::now() + limit);
    if (reply.outcome != Outcome::kOk) {
        PrintReply("(greeting)", reply);
        return 1;
    }
    std::vector<std::string> commands;
    commands.push_back("LOGIN " + args.user + " " + args.password);
    commands.insert(commands.end(), args.commands.begin(), args.commands.end());
    for (const std::string& command : commands) {
        reply = client.Command(command, Clock::now() + limit);
        PrintReply(command, reply);
        if (reply.outcome != Outcome::kOk)
            return 1;
    }
    return 0;
}

int RunSessions(const Arguments& args) {
    SessionLoopOptions options;
    options.port = args.port;
    options.user = args.user;
    options.password = args.password;
    options.mailbox = args.mailbox;
    options.clients = args.clients;
    options.expectedFetches = static_cast<uint64_t>(args.fetchCount);
    if (args.seconds > 0)
        options.seconds = args.seconds;
    const SessionLoopResult r = RunSessionLoop(options);
    auto percentile = [&r](double p) {
        if (r.latencies.empty())
            return 0.0;
        size_t i = static_cast<size_t>(p * static_cast<double>(r.latencies.size() - 1) + 0.5);
        return r.latencies[i];
    };
    std::string kinds = "{";
    for (const auto& kind : r.kinds) {
        if (kinds.size() > 1)
            kinds += ", ";
        kinds += JsonString(kind.first) + ": " + std::to_string(kind.second);
    }
    kinds += "}";
    std::printf(
        "{\"sessions\": %llu, \"errors\": %llu, \"seconds\": %.3f, \"rate\": %.2f, "
        "\"p50\": %.6f, \"p99\": %.6f, \"max\": %.6f, \"bytes\": %llu, \"kinds\": %s}\n",
        static_cast<unsigned long long>(r.sessions), static_cast<unsigned long long>(r.errors),
        r.seconds, static_cast<double>(r.inWindow) / r.window, percentile(0.5), percentile(0.99),
        r.latencies.empty() ? 0.0 : r.latencies.back(), static_cast<unsigned long long>(r.bytes),
        kinds.c_str());
    return 0;
}

int RunResyncMode(const Arguments& args) {
    ResyncOptions options;
    options.port = args.port;
    options.user = args.user;
    options.password = args.password;
    options.mailbox = args.mailbox;
    options.uidValidity = args.uidValidity;
    options.modSeq = args.modSeq;
    options.uidNext = args.uidNext;
    options.limit = args.limit;
    const ResyncResult r = RunResync(options);
    std::string steps = "[";
    for (const ResyncStep& step : r.steps) {
        std::string uids = "[";
        for (uint32_t uid : step.uids)
            uids += (uids.size() > 1 ? ", " : "") + std::to_string(uid);
        steps += steps.size() > 1 ? ", " : "";
        steps += "{\"command\": " + JsonString(step.command) + ", \"outcome\": \"" +
                 OutcomeName(step.reply.outcome) +
                 "\", \"seconds\": " + std::to_string(step.reply.seconds) +
                 ", \"bytes\": " + std::to_string(step.reply.bytes) +
                 ", \"fetches\": " + std::to_string(step.reply.fetches) +
                 ", \"tagged\": " + JsonString(step.reply.tagged) + ", \"uids\": " + uids + "]}";
    }
    steps += "]";
    std::printf(
        "{\"ok\": %s, \"connected\": %s, \"greeting\": \"%s\", \"seconds\": %.6f, "
        "\"bytes\": %llu, \"enabled\": %s, \"highestmodseq\": %llu, \"uidnext\": %u, "
        "\"vanished\": %llu, \"steps\": %s}\n",
        r.ok ? "true" : "false", r.connected ? "true" : "false", OutcomeName(r.greeting.outcome),
        r.seconds, static_cast<unsigned long long>(r.bytes), r.enabled ? "true" : "false",
        static_cast<unsigned long long>(r.highestModSeq), r.uidNext,
        static_cast<unsigned long long>(r.vanished), steps.c_str());
    return r.ok ? 0 : 1;
}

int RunLoopback(const Arguments& args) {
    const LoopbackResult r = MeasureLoopback(args.seconds > 0 ? args.seconds : 3.0, 256 * 1024);
    std::printf("{\"ok\": %s, \"bytes\": %llu, \"seconds\": %.6f, \"mb_per_s\": %.1f}\n",
                r.ok ? "true" : "false", static_cast<unsigned long long>(r.bytes), r.seconds,
                r.seconds > 0 ? static_cast<double>(r.bytes) / r.seconds / 1e6 : 0.0);
    return r.ok ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
    Arguments args;
    if (!ParseArguments(argc, argv, &args)) {
        std::fputs(kUsage, stderr);
        return 2;
    }
    platform::SocketsStartup(0x0101);
    int rc = 0;
    if (args.mode == "commands")
        rc = RunCommands(args);
    else if (args.mode == "sessions")
        rc = RunSessions(args);
    else if (args.mode == "resync")
        rc = RunResyncMode(args);
    else
        rc = RunLoopback(args);
    platform::SocketsCleanup();
    return rc;
}
