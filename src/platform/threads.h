// Threads and synchronisation: thread creation with a waitable, releasable handle, sleeping,
// interlocked counters and the critical section (a recursive lock).
#ifndef ORV_PLATFORM_THREADS_H_
#define ORV_PLATFORM_THREADS_H_

#include <atomic>
#include <cstdint>
#include <mutex>

namespace platform {

// A thread's handle. Waiting on it tells whether the thread has ended; releasing it does not
// stop the thread, which then runs on to its end (as with the target platform's handles).
struct ThreadRecord;
using ThreadHandle = ThreadRecord*;

using ThreadProc = uint32_t (*)(void* param);

// Starts proc(param) on a new thread with the default stack size, running at once.
// Stores the thread's identifier in *id when id is not null. Null on failure.
ThreadHandle StartThread(ThreadProc proc, void* param, uint32_t* id);

constexpr uint32_t kWaitObject0 = 0;          // the thread has ended
constexpr uint32_t kWaitTimeout = 258;        // still running after the time-out
constexpr uint32_t kWaitFailed = 0xFFFFFFFF;  // null handle
constexpr uint32_t kInfinite = 0xFFFFFFFF;

// Waits up to timeout_ms (kInfinite: no limit) for the thread to end.
uint32_t WaitForThread(ThreadHandle h, uint32_t timeout_ms);
// Releases the handle. Non-zero on success, 0 for a null handle. The handle must not be used
// afterwards; the thread itself is not affected.
int ReleaseThread(ThreadHandle h);
// The calling thread's identifier.
uint32_t CurrentThreadId();

// Sleeps for ms milliseconds; 0 only yields the processor to other ready threads.
void SleepMs(uint32_t ms);

// Interlocked counter updates; each returns the new value.
inline int32_t InterlockedIncrement(std::atomic<int32_t>& v) {
    return ++v;
}
inline int32_t InterlockedDecrement(std::atomic<int32_t>& v) {
    return --v;
}

// A critical section: a recursive lock that the same thread may enter again.
#if defined(_WIN32)
// On Windows it is the OS's own critical section, kept in storage of its size so that this
// header needs no OS header.
class CriticalSection {
  public:
    CriticalSection();
    ~CriticalSection();
    CriticalSection(const CriticalSection&) = delete;
    CriticalSection& operator=(const CriticalSection&) = delete;
    void Enter();
    void Leave();
    bool TryEnter();

  private:
    alignas(void*) unsigned char section_[sizeof(void*) == 4 ? 24 : 40];
};
#else
class CriticalSection {
  public:
    void Enter() { mutex_.lock(); }
    void Leave() { mutex_.unlock(); }
    bool TryEnter() { return mutex_.try_lock(); }

  private:
    std::recursive_mutex mutex_;
};
#endif

// Holds a critical section for one scope.
class CriticalSectionLock {
  public:
    explicit CriticalSectionLock(CriticalSection& cs) : cs_(cs) { cs_.Enter(); }
    ~CriticalSectionLock() { cs_.Leave(); }
    CriticalSectionLock(const CriticalSectionLock&) = delete;
    CriticalSectionLock& operator=(const CriticalSectionLock&) = delete;

  private:
    CriticalSection& cs_;
};

}  // namespace platform

#endif  // ORV_PLATFORM_THREADS_H_
