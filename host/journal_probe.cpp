// A stand-in plug-in for testing the host's journal: at start-up it binds the host's functions
// the way the real plug-in does and calls every one of them with known arguments, the three the
// server uses from several threads at once, so a test can check every journal line.
#include <cstdint>
#include <cstdio>
#include <string>
#include <thread>
#include <vector>

#include "platform/modules.h"
#include "shell/host_binding.h"

#define PROBE_EXPORT extern "C" __attribute__((visibility("default")))

namespace {

constexpr int kThreads = 4;
constexpr int kCallsPerThread = 50;

using Fn0 = uint32_t (*)();
using Fn4 = uint32_t (*)(uint32_t);
using Fn8 = uint32_t (*)(uint32_t, uint32_t);
using Fn12 = uint32_t (*)(uint32_t, uint32_t, uint32_t);
using Fn16 = uint32_t (*)(uint32_t, uint32_t, uint32_t, uint32_t);
using GetMailboxFn = const char* (*)();
using ImportFileFn = int (*)(const char*, const char*, uint32_t);
using MarkMailFn = int (*)(const char*, uint32_t, int32_t);
using DeleteMailFn = int (*)(const char*);

void* Bound(const char* name) {
    for (int i = 0; i < kHostFunctionCount; ++i) {
        if (std::string(kHostFunctionNames[i]) == name)
            return Host().functions[i];
    }
    return nullptr;
}

// The size in bytes that a decorated name ends with ("_OPASetTimer@12" -> 12).
int ArgumentBytes(const char* name) {
    const std::string s = name;
    return std::stoi(s.substr(s.find('@') + 1));
}

// Calls every host function except the three below once, with the arguments 1, 2, 3, 4 (the
// delete with the key "1").
void CallTheOthers() {
    for (int i = 0; i < kHostFunctionCount; ++i) {
        const std::string name = kHostFunctionNames[i];
        if (name == "_OPAGetMailbox@0" || name == "_OPAImportFile@12" ||
            name == "_OPAMarkMail@12") {
            continue;
        }
        void* f = Host().functions[i];
        // The delete takes a message key; "1" names no message, so nothing is deleted.
        if (name == "_OPADeleteMail@4") {
            reinterpret_cast<DeleteMailFn>(f)("1");
            continue;
        }
        switch (ArgumentBytes(name.c_str())) {
            case 0:
                reinterpret_cast<Fn0>(f)();
                break;
            case 4:
                reinterpret_cast<Fn4>(f)(1);
                break;
            case 8:
                reinterpret_cast<Fn8>(f)(1, 2);
                break;
            case 12:
                reinterpret_cast<Fn12>(f)(1, 2, 3);
                break;
            default:
                reinterpret_cast<Fn16>(f)(1, 2, 3, 4);
                break;
        }
    }
}

// One thread's share of the server-like calls: thread t, call n.
void CallTheServerOnes(int t) {
    auto getMailbox = reinterpret_cast<GetMailboxFn>(Bound("_OPAGetMailbox@0"));
    auto importFile = reinterpret_cast<ImportFileFn>(Bound("_OPAImportFile@12"));
    auto markMail = reinterpret_cast<MarkMailFn>(Bound("_OPAMarkMail@12"));
    for (int n = 0; n < kCallsPerThread; ++n) {
        char key[64];
        std::snprintf(key, sizeof(key), "user%d\\inbox.box\\T%dN%04d", t, t, n);
        markMail(key, 0x40000000u >> (n % 2 == 0 ? 0 : 1), n % 2);
        // A folder path in Shift_JIS ("受信") passes through as it is.
        importFile("/tmp/imp1A2B.tmp", "user1\\\x8E\xF3\x90\x4D.box", 0x40000000u);
        getMailbox();
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
    CallTheOthers();
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t)
        threads.emplace_back(CallTheServerOnes, t);
    for (std::thread& thread : threads)
        thread.join();
    return 1;
}

PROBE_EXPORT const char* OPCGetPlugName() {
    return "JournalProbe";
}
