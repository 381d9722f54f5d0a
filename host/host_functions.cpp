// The 34 functions a host exports for its plug-ins, under the names the plug-in binds (on POSIX
// each "@" of the decorated name written "_at_", the form the dynamic loader can find; on
// Windows the decorated names themselves). The stand-in answers the mailbox directory, keeps
// the store for imported, marked and deleted messages (HostStore) and answers 0 to everything
// else; with a journal it records every call, one tab-separated line each, written before the
// call returns.
#include "host/host_functions.h"

#include <atomic>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <mutex>
#include <string>

#include "host/store.h"

#if defined(_WIN32)
// Exported from the program with the callee-pops convention, under the decorated names that
// the compiler forms for it ("_OPAGetMailbox@0").
#define HOST_EXPORT extern "C" __declspec(dllexport) __attribute__((stdcall))
#define HOST_NAME(base, size) base
#else
#define HOST_EXPORT extern "C" __attribute__((visibility("default"), used))
#define HOST_NAME(base, size) base##_at_##size
#endif

namespace {

std::string g_mailbox;
// The store behind the mailbox directory; made with it, before the plug-in is loaded.
std::unique_ptr<HostStore> g_store;

// The journal file; calls come from the plug-in's connection threads, so lines are written
// under a lock, each flushed at once.
std::mutex g_journalLock;
std::FILE* g_journal = nullptr;
// Whether a journal is open: without one no line is formatted (a STORE on a large folder makes
// one call per message).
std::atomic<bool> g_journalOpen{false};

// One journal line under construction: the decorated name, then one field per argument.
class JournalLine {
  public:
    explicit JournalLine(const char* name) : on_(g_journalOpen.load(std::memory_order_relaxed)) {
        if (on_)
            line_ = name;
    }
    JournalLine& Text(const char* s) {
        if (!on_)
            return *this;
        line_ += '\t';
        line_ += s != nullptr ? s : "(null)";
        return *this;
    }
    JournalLine& Mask(uint32_t v) {
        if (!on_)
            return *this;
        char buf[16];
        std::snprintf(buf, sizeof(buf), "\t0x%08X", v);
        line_ += buf;
        return *this;
    }
    JournalLine& Number(int64_t v) {
        if (!on_)
            return *this;
        char buf[32];
        std::snprintf(buf, sizeof(buf), "\t%lld", static_cast<long long>(v));
        line_ += buf;
        return *this;
    }
    void Write() {
        if (!on_)
            return;
        line_ += '\n';
        std::lock_guard<std::mutex> hold(g_journalLock);
        if (g_journal == nullptr)
            return;
        std::fwrite(line_.data(), 1, line_.size(), g_journal);
        std::fflush(g_journal);
    }

  private:
    bool on_;
    std::string line_;
};

}  // namespace

void SetHostMailbox(const std::string& directory) {
    g_mailbox = directory;
    g_store.reset(new HostStore(directory));
    // What a process killed in the middle of a change left is set right before any call.
    g_store->Recover();
}

bool OpenHostJournal(const char* path) {
    std::FILE* f = std::fopen(path, "wb");
    if (f == nullptr)
        return false;
    std::lock_guard<std::mutex> hold(g_journalLock);
    if (g_journal != nullptr)
        std::fclose(g_journal);
    g_journal = f;
    g_journalOpen = true;
    return true;
}

void CloseHostJournal() {
    std::lock_guard<std::mutex> hold(g_journalLock);
    if (g_journal != nullptr)
        std::fclose(g_journal);
    g_journal = nullptr;
    g_journalOpen = false;
}

// The functions the server calls.

HOST_EXPORT const char* HOST_NAME(_OPAGetMailbox, 0)() {
    JournalLine("_OPAGetMailbox@0").Write();
    return g_mailbox.c_str();
}

static bool EnvironmentSays(const char* name) {
    const char* value = std::getenv(name);
    return value != nullptr && std::string(value) == "1";
}

// With ORVEX_HOST_STORE_FULL=1 in the environment the stand-in behaves as a host whose disk is
// full: imports and deletes are journalled but change nothing, so tests can see what the
// server answers when the host could not do what it was asked.
static bool StoreFull() {
    static const bool full = EnvironmentSays("ORVEX_HOST_STORE_FULL");
    return full;
}

// With ORVEX_HOST_KEEP_DELETED=1 deletes alone are journalled but change nothing, as a host does
// whose user has the message open.
static bool KeepDeleted() {
    static const bool keep = EnvironmentSays("ORVEX_HOST_KEEP_DELETED");
    return keep;
}

// The store calls are done before their journal line is written, so whoever sees the line
// finds the store already changed. Each answers 1 when the message was stored, or found to
// be marked, else 0.
HOST_EXPORT int HOST_NAME(_OPAImportFile, 12)(const char* file, const char* folder,
                                              uint32_t status) {
    const bool stored =
        g_store != nullptr && !StoreFull() && !g_store->ImportFile(file, folder, status).empty();
    JournalLine("_OPAImportFile@12").Text(file).Text(folder).Mask(status).Write();
    return stored ? 1 : 0;
}

HOST_EXPORT int HOST_NAME(_OPAMarkMail, 12)(const char* key, uint32_t mask, int32_t value) {
    const bool marked = g_store != nullptr && g_store->MarkMail(key, mask, value);
    JournalLine("_OPAMarkMail@12").Text(key).Mask(mask).Number(value).Write();
    return marked ? 1 : 0;
}

// Called by the plug-in in extended mode only.
HOST_EXPORT int HOST_NAME(_OPADeleteMail, 4)(const char* key) {
    const bool deleted =
        g_store != nullptr && !StoreFull() && !KeepDeleted() && g_store->DeleteMail(key);
    JournalLine("_OPADeleteMail@4").Text(key).Write();
    return deleted ? 1 : 0;
}

// The rest of the host's interface: bound by the plug-in at load, never called by it. Each
// takes as many 32-bit values as its decorated size says and answers 0.

#define HOST_FUNCTION_0(base)                   \
    HOST_EXPORT uint32_t HOST_NAME(base, 0)() { \
        JournalLine(#base "@0").Write();        \
        return 0;                               \
    }
#define HOST_FUNCTION_4(base)                             \
    HOST_EXPORT uint32_t HOST_NAME(base, 4)(uint32_t a) { \
        JournalLine(#base "@4").Number(a).Write();        \
        return 0;                                         \
    }
#define HOST_FUNCTION_8(base)                                         \
    HOST_EXPORT uint32_t HOST_NAME(base, 8)(uint32_t a, uint32_t b) { \
        JournalLine(#base "@8").Number(a).Number(b).Write();          \
        return 0;                                                     \
    }
#define HOST_FUNCTION_12(base)                                                     \
    HOST_EXPORT uint32_t HOST_NAME(base, 12)(uint32_t a, uint32_t b, uint32_t c) { \
        JournalLine(#base "@12").Number(a).Number(b).Number(c).Write();            \
        return 0;                                                                  \
    }
#define HOST_FUNCTION_16(base)                                                                 \
    HOST_EXPORT uint32_t HOST_NAME(base, 16)(uint32_t a, uint32_t b, uint32_t c, uint32_t d) { \
        JournalLine(#base "@16").Number(a).Number(b).Number(c).Number(d).Write();              \
        return 0;                                                                              \
    }

HOST_FUNCTION_8(_OPARegistCallback)
HOST_FUNCTION_12(_OPASetTimer)
HOST_FUNCTION_4(_OPAKillTimer)
HOST_FUNCTION_0(_OPAIsBusy)
HOST_FUNCTION_4(_OPAExecOrvex)
HOST_FUNCTION_4(_OPAGetAccount)
HOST_FUNCTION_4(_OPAGetFolderName)
HOST_FUNCTION_16(_OPASaveMail)
HOST_FUNCTION_8(_OPAMoveMail)
HOST_FUNCTION_4(_OPAFolderGetCurrentFolder)
HOST_FUNCTION_4(_OPAFolderGetCurrentEntry)
HOST_FUNCTION_8(_OPAFolderGetSelectEntry)
HOST_FUNCTION_8(_OPAFolderChangePassword)
HOST_FUNCTION_8(_OPAFolderMailTo)
HOST_FUNCTION_8(_OPAFolderReply)
HOST_FUNCTION_8(_OPAFolderForward)
HOST_FUNCTION_12(_OPAFolderOpenMail)
HOST_FUNCTION_8(_OPASendGetText)
HOST_FUNCTION_4(_OPASendGetHeader)
HOST_FUNCTION_8(_OPASendSetText)
HOST_FUNCTION_8(_OPASendSetHeader)
HOST_FUNCTION_4(_OPASendGetEditor)
HOST_FUNCTION_4(_OPAViewGetText)
HOST_FUNCTION_4(_OPAViewGetHeader)
HOST_FUNCTION_8(_OPAViewSetText)
HOST_FUNCTION_4(_OPAViewGetPath)
HOST_FUNCTION_4(_OPAViewGetEditor)
// A build for the test of an incomplete host leaves this one out, so the plug-in must refuse
// to load.
#ifndef ORV_HOST_WITHOUT_VIEW_CHANGE_MAIL
HOST_FUNCTION_8(_OPAViewChangeMail)
#endif
HOST_FUNCTION_12(_OPASjisToJis)
HOST_FUNCTION_12(_OPAJisToSjis)
