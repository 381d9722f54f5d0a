// A stand-in plug-in for testing the host's store: at start-up it binds the host's functions
// the way the real plug-in does and makes the import, mark and delete calls that the script
// "store-probe.txt" in the mailbox directory lists, one call per line, fields separated by tabs:
//   import FILE DESTINATION STATUS
//   mark KEY MASK VALUE
//   delete KEY
//   copy FILE TARGET      FILE's bytes written over TARGET in place (truncated, not replaced)
//   replace FILE TARGET   FILE renamed over TARGET
// The last two play another program changing the host's files between calls.
// A first line "threads N" runs the whole script in N threads at once; in every field "%t" then
// stands for the thread's number (0 to N - 1) and "%b" for the bit 1 << number in hex. Numbers
// are decimal or 0x-prefixed hex.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "shell/host_binding.h"

#define PROBE_EXPORT extern "C" __attribute__((visibility("default")))

namespace {

using Call = std::vector<std::string>;

std::vector<std::string> Split(const std::string& line, char separator) {
    std::vector<std::string> fields(1);
    for (char c : line) {
        if (c == separator)
            fields.emplace_back();
        else
            fields.back() += c;
    }
    return fields;
}

std::string ForThread(const std::string& field, int thread) {
    std::string out;
    for (size_t i = 0; i < field.size(); ++i) {
        if (field[i] == '%' && i + 1 < field.size() && field[i + 1] == 't') {
            out += std::to_string(thread);
            ++i;
        } else if (field[i] == '%' && i + 1 < field.size() && field[i + 1] == 'b') {
            char bit[16];
            std::snprintf(bit, sizeof bit, "0x%X", 1u << (thread & 31));
            out += bit;
            ++i;
        } else {
            out += field[i];
        }
    }
    return out;
}

uint32_t Number(const std::string& text) {
    return static_cast<uint32_t>(std::strtoul(text.c_str(), nullptr, 0));
}

void RunScript(const std::vector<Call>& calls, int thread) {
    for (const Call& call : calls) {
        std::vector<std::string> f;
        for (const std::string& field : call)
            f.push_back(ForThread(field, thread));
        if (f.size() == 2 && f[0] == "delete")
            BoundHost().DeleteMail(f[1].c_str());
        if (f.size() == 3 && f[0] == "copy") {
            std::ifstream from(f[1], std::ios::binary);
            std::ofstream(f[2], std::ios::binary | std::ios::in | std::ios::trunc) << from.rdbuf();
        } else if (f.size() == 3 && f[0] == "replace") {
            std::filesystem::rename(f[1], f[2]);
        }
        if (f.size() != 4)
            continue;
        if (f[0] == "import")
            BoundHost().ImportFile(f[1].c_str(), f[2].c_str(), Number(f[3]));
        else if (f[0] == "mark")
            BoundHost().MarkMail(f[1].c_str(), Number(f[2]), static_cast<int>(Number(f[3])));
    }
}

}  // namespace

PROBE_EXPORT int PluginMain(void* /*module*/, uint32_t reason) {
    if (reason == 1)
        return BindHostApi() ? 1 : 0;
    if (reason == 0)
        UnbindHostApi();
    return 1;
}

PROBE_EXPORT int OPCStartUp(uint32_t /*unused*/) {
    const std::string path = std::string(BoundHost().MailboxDirectory()) + "store-probe.txt";
    std::FILE* f = std::fopen(path.c_str(), "rb");
    if (f == nullptr)
        return 0;
    std::string script;
    char block[4096];
    size_t n;
    while ((n = std::fread(block, 1, sizeof block, f)) > 0)
        script.append(block, n);
    std::fclose(f);

    int threads = 1;
    std::vector<Call> calls;
    for (const std::string& line : Split(script, '\n')) {
        if (line.empty())
            continue;
        const Call call = Split(line, '\t');
        if (call.size() == 2 && call[0] == "threads")
            threads = static_cast<int>(Number(call[1]));
        else
            calls.push_back(call);
    }
    std::vector<std::thread> running;
    for (int t = 0; t < threads; ++t)
        running.emplace_back(RunScript, std::cref(calls), t);
    for (std::thread& thread : running)
        thread.join();
    return 1;
}

PROBE_EXPORT const char* OPCGetPlugName() {
    return "StoreProbe";
}
