// Threads over POSIX threads: joinable threads with a waitable record that the handle and the
// running thread share, so a handle can be released while its thread runs on (the thread is
// then detached). A wait that sees the thread end also joins it, so "ended" means that the
// thread runs no code any more, not even its last instructions: the host may unload the
// module the thread ran as soon as the wait returns.
#include <pthread.h>
#include <sched.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

#include "platform/threads.h"

namespace platform {

// The shared state of one started thread: what it runs, its identifier and whether it has
// ended. Held by the handle and by the thread itself; the last of the two to let go frees it.
struct ThreadRecord {
    ThreadProc proc = nullptr;
    void* param = nullptr;
    uint32_t id = 0;
    std::atomic<int> holders{2};
    std::mutex mutex;
    std::condition_variable ended;
    bool done = false;
    pthread_t thread{};
    bool settled = false;  // joined or detached: the thread needs nothing more from its handle
};

namespace {

std::atomic<uint32_t> g_nextThreadId{1};

// Each thread's number, kept in a POSIX thread-specific slot rather than a thread_local, so the
// module (loaded at run time) has no thread-local block: the race checker fails to clear a
// small one when one of many threads ends. A value of 0 (the slot's initial null) means "not
// yet given one"; threads not started here get theirs at their first request. The slot has no
// destructor, so nothing of the module runs for it after an unload.
pthread_key_t ThreadIdKey() {
    static const pthread_key_t key = [] {
        pthread_key_t k;
        pthread_key_create(&k, nullptr);
        return k;
    }();
    return key;
}

uint32_t StoredThreadId() {
    return static_cast<uint32_t>(reinterpret_cast<uintptr_t>(pthread_getspecific(ThreadIdKey())));
}

void StoreThreadId(uint32_t id) {
    pthread_setspecific(ThreadIdKey(), reinterpret_cast<void*>(static_cast<uintptr_t>(id)));
}

uint32_t NewThreadId() {
    uint32_t id = g_nextThreadId++;
    // After a wrap of the counter, 0 is skipped so that it keeps meaning "none".
    if (id == 0)
        id = g_nextThreadId++;
    return id;
}

void DropHolder(ThreadRecord* r) {
    if (--r->holders == 0)
        delete r;
}

void* RunThread(void* arg) {
    ThreadRecord* r = static_cast<ThreadRecord*>(arg);
    StoreThreadId(r->id);
    r->proc(r->param);
    {
        std::lock_guard<std::mutex> lock(r->mutex);
        r->done = true;
        r->ended.notify_all();
    }
    DropHolder(r);
    return nullptr;
}

}  // namespace

ThreadHandle StartThread(ThreadProc proc, void* param, uint32_t* id) {
    if (proc == nullptr)
        return nullptr;
    ThreadRecord* r = new ThreadRecord;
    r->proc = proc;
    r->param = param;
    r->id = NewThreadId();
    // The identifier is stored before the thread runs, as the thread may already ask for it.
    if (id != nullptr)
        *id = r->id;

    // The record's lock is held until the thread's identity is stored, which a wait needs.
    r->mutex.lock();
    if (pthread_create(&r->thread, nullptr, RunThread, r) != 0) {
        r->mutex.unlock();
        delete r;
        return nullptr;
    }
    r->mutex.unlock();
    return r;
}

uint32_t WaitForThread(ThreadHandle h, uint32_t timeout_ms) {
    if (h == nullptr)
        return kWaitFailed;
    std::unique_lock<std::mutex> lock(h->mutex);
    if (timeout_ms == kInfinite) {
        h->ended.wait(lock, [h] { return h->done; });
    } else if (!h->ended.wait_for(lock, std::chrono::milliseconds(timeout_ms),
                                  [h] { return h->done; })) {
        return kWaitTimeout;
    }
    // The thread has left its procedure; joining waits out its last instructions.
    if (!h->settled) {
        pthread_join(h->thread, nullptr);
        h->settled = true;
    }
    return kWaitObject0;
}

int ReleaseThread(ThreadHandle h) {
    if (h == nullptr)
        return 0;
    {
        std::lock_guard<std::mutex> lock(h->mutex);
        if (!h->settled) {
            pthread_detach(h->thread);
            h->settled = true;
        }
    }
    DropHolder(h);
    return 1;
}

uint32_t CurrentThreadId() {
    uint32_t id = StoredThreadId();
    if (id == 0) {
        id = NewThreadId();
        StoreThreadId(id);
    }
    return id;
}

void SleepMs(uint32_t ms) {
    if (ms == 0) {
        sched_yield();
        return;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

}  // namespace platform
