// Process and console services over the Win32 API: the console's control events stand for the
// stop requests, toolhelp snapshots count the process's threads, and the console input mode
// holds the echo flag.
#include <windows.h>
// After windows.h, whose types it uses.
#include <tlhelp32.h>

#include <string>

#include "platform/process.h"

namespace platform {

namespace {

// Set by the console control handler; WaitForStopSignal waits on it.
HANDLE g_stopEvent = nullptr;
volatile LONG g_stopSignal = 0;

// Ctrl-C is the terminal's interrupt (2); Ctrl-Break, closing the console window, logging off
// and shutting down ask the program to end (15). A close, log-off or shut-down ends the
// process as soon as the handler returns, so the handler then waits for the orderly stop,
// which ends the process from the main thread.
BOOL WINAPI OnControlEvent(DWORD type) {
    const LONG signal = type == CTRL_C_EVENT ? 2 : 15;
    InterlockedCompareExchange(&g_stopSignal, signal, 0);
    SetEvent(g_stopEvent);
    if (type == CTRL_CLOSE_EVENT || type == CTRL_LOGOFF_EVENT || type == CTRL_SHUTDOWN_EVENT)
        Sleep(INFINITE);
    return TRUE;
}

int ThreadCount() {
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
    if (snapshot == INVALID_HANDLE_VALUE)
        return 0;
    const DWORD self = GetCurrentProcessId();
    int n = 0;
    THREADENTRY32 entry;
    entry.dwSize = sizeof(entry);
    for (BOOL more = Thread32First(snapshot, &entry); more; more = Thread32Next(snapshot, &entry)) {
        if (entry.th32OwnerProcessID == self)
            ++n;
        entry.dwSize = sizeof(entry);
    }
    CloseHandle(snapshot);
    return n;
}

}  // namespace

// Windows has no signal mask: the requests are caught by a console control handler and kept
// until WaitForStopSignal takes them, which has the same effect for the caller.
bool BlockStopSignals() {
    if (g_stopEvent == nullptr)
        g_stopEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    return g_stopEvent != nullptr && SetConsoleCtrlHandler(&OnControlEvent, TRUE) != 0;
}

int WaitForStopSignal() {
    if (g_stopEvent == nullptr && !BlockStopSignals())
        return -1;
    if (WaitForSingleObject(g_stopEvent, INFINITE) != WAIT_OBJECT_0)
        return -1;
    return static_cast<int>(g_stopSignal);
}

uint32_t CurrentProcessId() {
    return GetCurrentProcessId();
}

std::string CurrentDirectory() {
    char buf[MAX_PATH];
    const DWORD n = GetCurrentDirectoryA(sizeof(buf), buf);
    if (n == 0 || n >= sizeof(buf))
        return std::string();
    std::string dir(buf, n);
    if (dir.back() != '\\' && dir.back() != '/')
        dir += '\\';
    return dir;
}

bool WaitUntilOnlyThread(uint32_t timeoutMs) {
    // Timed by the clock: a sleep of 1 ms may last a whole scheduler tick here.
    const ULONGLONG start = GetTickCount64();
    for (;;) {
        const int n = ThreadCount();
        if (n == 1)
            return true;
        if (n == 0 || GetTickCount64() - start >= timeoutMs)
            return false;
        Sleep(1);
    }
}

// No leak checker runs in Windows builds.
void CheckLeaksBeforeUnload() {}

bool SetStdinEcho(bool on) {
    HANDLE input = GetStdHandle(STD_INPUT_HANDLE);
    DWORD mode = 0;
    if (input == INVALID_HANDLE_VALUE || input == nullptr || !GetConsoleMode(input, &mode))
        return false;
    if (on) {
        mode |= ENABLE_ECHO_INPUT;
    } else {
        mode &= ~static_cast<DWORD>(ENABLE_ECHO_INPUT);
    }
    return SetConsoleMode(input, mode) != 0;
}

}  // namespace platform
