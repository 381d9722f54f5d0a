// Threads and critical sections over the Win32 API: CreateThread with a handle that is waited
// on and closed like any other, Sleep, and the OS's own critical section.
#include <windows.h>

#include <cstdint>

#include "platform/threads.h"

namespace platform {

// A started thread as its handle sees it: the OS handle alone. What the thread runs travels in
// a separate start block that the thread frees itself, so releasing the handle early is safe.
struct ThreadRecord {
    HANDLE handle;
};

namespace {

struct StartBlock {
    ThreadProc proc;
    void* param;
};

DWORD WINAPI RunThread(LPVOID arg) {
    StartBlock block = *static_cast<StartBlock*>(arg);
    delete static_cast<StartBlock*>(arg);
    return block.proc(block.param);
}

}  // namespace

ThreadHandle StartThread(ThreadProc proc, void* param, uint32_t* id) {
    if (proc == nullptr)
        return nullptr;
    StartBlock* block = new StartBlock{proc, param};
    DWORD threadId = 0;
    // The identifier is stored by CreateThread before the thread runs, so the thread may
    // already find it in *id.
    HANDLE h = CreateThread(nullptr, 0, &RunThread, block, 0,
                            id != nullptr ? reinterpret_cast<DWORD*>(id) : &threadId);
    if (h == nullptr) {
        delete block;
        return nullptr;
    }
    return new ThreadRecord{h};
}

uint32_t WaitForThread(ThreadHandle h, uint32_t timeout_ms) {
    if (h == nullptr)
        return kWaitFailed;
    const DWORD r = WaitForSingleObject(h->handle, timeout_ms);
    if (r == WAIT_OBJECT_0)
        return kWaitObject0;
    if (r == WAIT_TIMEOUT)
        return kWaitTimeout;
    return kWaitFailed;
}

int ReleaseThread(ThreadHandle h) {
    if (h == nullptr)
        return 0;
    const BOOL ok = CloseHandle(h->handle);
    delete h;
    return ok ? 1 : 0;
}

uint32_t CurrentThreadId() {
    return GetCurrentThreadId();
}

void SleepMs(uint32_t ms) {
    Sleep(ms);
}

static_assert(sizeof(CRITICAL_SECTION) <= sizeof(CriticalSection),
              "the storage of CriticalSection must hold the OS critical section");

namespace {

CRITICAL_SECTION* Section(unsigned char* storage) {
    return reinterpret_cast<CRITICAL_SECTION*>(storage);
}

}  // namespace

CriticalSection::CriticalSection() {
    InitializeCriticalSection(Section(section_));
}

CriticalSection::~CriticalSection() {
    DeleteCriticalSection(Section(section_));
}

void CriticalSection::Enter() {
    EnterCriticalSection(Section(section_));
}

void CriticalSection::Leave() {
    LeaveCriticalSection(Section(section_));
}

bool CriticalSection::TryEnter() {
    return TryEnterCriticalSection(Section(section_)) != 0;
}

}  // namespace platform
