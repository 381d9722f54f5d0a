// Process and terminal services over POSIX: signal masks and sigwait for the stop request,
// getcwd, the dynamic loader's error text and the terminal's echo flag.
#include <dirent.h>
#include <dlfcn.h>
#include <limits.h>
#include <pthread.h>
#include <signal.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>

#include "platform/process.h"

#if defined(__SANITIZE_ADDRESS__)
#include <sanitizer/lsan_interface.h>
#endif

namespace platform {

namespace {

void StopSignals(sigset_t* set) {
    sigemptyset(set);
    sigaddset(set, SIGINT);
    sigaddset(set, SIGTERM);
}

}  // namespace

bool BlockStopSignals() {
    sigset_t set;
    StopSignals(&set);
    return pthread_sigmask(SIG_BLOCK, &set, nullptr) == 0;
}

int WaitForStopSignal() {
    sigset_t set;
    StopSignals(&set);
    int sig = 0;
    // sigwait returns an error number only for an invalid set; retry on anything else.
    for (;;) {
        const int rc = sigwait(&set, &sig);
        if (rc == 0)
            return sig;
        if (rc != EINTR)
            return -1;
    }
}

uint32_t CurrentProcessId() {
    return static_cast<uint32_t>(getpid());
}

std::string CurrentDirectory() {
    char buf[PATH_MAX];
    if (getcwd(buf, sizeof(buf)) == nullptr)
        return std::string();
    std::string dir = buf;
    if (dir.empty() || dir.back() != '/')
        dir += '/';
    return dir;
}

std::string LastModuleLoadError() {
    const char* text = dlerror();
    return text != nullptr ? std::string(text) : std::string();
}

namespace {

// The number of threads of this process, 0 when unknown.
int ThreadCount() {
    DIR* dir = opendir("/proc/self/task");
    if (dir == nullptr)
        return 0;
    int n = 0;
    while (dirent* entry = readdir(dir)) {
        if (entry->d_name[0] != '.')
            ++n;
    }
    closedir(dir);
    return n;
}

// Threads that are no work of the program's: ThreadSanitizer keeps a background thread of its
// own from the first thread start to the end of the process.
#if defined(__SANITIZE_THREAD__)
constexpr int kRuntimeThreads = 1;
#else
constexpr int kRuntimeThreads = 0;
#endif

}  // namespace

bool WaitUntilOnlyThread(uint32_t timeoutMs) {
    for (uint32_t waited = 0;; ++waited) {
        const int n = ThreadCount();
        if (n >= 1 && n <= 1 + kRuntimeThreads)
            return true;
        if (n == 0 || waited >= timeoutMs)
            return false;
        usleep(1000);
    }
}

void CheckLeaksBeforeUnload() {
#if defined(__SANITIZE_ADDRESS__)
    static bool checked = false;
    if (checked)
        return;
    checked = true;
    __lsan_do_leak_check();
#endif
}

bool SetStdinEcho(bool on) {
    if (isatty(STDIN_FILENO) != 1)
        return false;
    termios mode;
    if (tcgetattr(STDIN_FILENO, &mode) != 0)
        return false;
    if (on) {
        mode.c_lflag |= ECHO;
    } else {
        mode.c_lflag &= ~static_cast<tcflag_t>(ECHO);
    }
    return tcsetattr(STDIN_FILENO, TCSAFLUSH, &mode) == 0;
}

}  // namespace platform
