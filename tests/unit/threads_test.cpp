// Threads and synchronisation: waiting on and releasing thread handles, thread identifiers,
// the recursive critical section and the interlocked counters.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <set>
#include <vector>

#include "platform/threads.h"
#include "thread_count.h"

namespace {

using platform::CriticalSection;
using platform::CriticalSectionLock;
using platform::ThreadHandle;

// Polls until flag is set or about five seconds have passed; true when it was set.
bool AwaitFlag(const std::atomic<bool>& flag) {
    for (int i = 0; i < 5000 && !flag.load(); ++i)
        platform::SleepMs(1);
    return flag.load();
}

// A thread that waits for the test to open its gate, then reports that it has finished.
// Static storage, so a thread left behind by a failed test never touches a dead frame.
struct Gate {
    std::atomic<bool> open{false};
    std::atomic<bool> finished{false};
    std::atomic<uint32_t> seenId{0};

    void Reset(bool opened) {
        open = opened;
        finished = false;
        seenId = 0;
    }
};

uint32_t GatedProc(void* param) {
    Gate* g = static_cast<Gate*>(param);
    g->seenId = platform::CurrentThreadId();
    while (!g->open.load())
        platform::SleepMs(1);
    g->finished = true;
    return 7;
}

TEST(ThreadHandleTest, WaitTimesOutWhileRunningAndSignalsOnceEnded) {
    static Gate gate;
    gate.Reset(false);
    uint32_t id = 0;
    ThreadHandle h = platform::StartThread(GatedProc, &gate, &id);
    ASSERT_NE(h, nullptr);

    EXPECT_EQ(platform::WaitForThread(h, 0), platform::kWaitTimeout);
    EXPECT_EQ(platform::WaitForThread(h, 30), platform::kWaitTimeout);
    EXPECT_FALSE(gate.finished.load());

    gate.open = true;
    EXPECT_EQ(platform::WaitForThread(h, 5000), platform::kWaitObject0);
    EXPECT_TRUE(gate.finished.load());
    // An ended thread stays signalled, for a zero and an unlimited wait alike.
    EXPECT_EQ(platform::WaitForThread(h, 0), platform::kWaitObject0);
    EXPECT_EQ(platform::WaitForThread(h, platform::kInfinite), platform::kWaitObject0);

    // The identifier given at the start is the one the thread sees as its own.
    EXPECT_NE(id, 0u);
    EXPECT_EQ(gate.seenId.load(), id);
    EXPECT_NE(id, platform::CurrentThreadId());
    EXPECT_NE(platform::ReleaseThread(h), 0);
}

TEST(ThreadHandleTest, ReleasingWhileRunningLeavesTheThreadToFinish) {
    static Gate gate;
    gate.Reset(false);
    ThreadHandle h = platform::StartThread(GatedProc, &gate, nullptr);
    ASSERT_NE(h, nullptr);
    EXPECT_NE(platform::ReleaseThread(h), 0);
    platform::SleepMs(10);
    EXPECT_FALSE(gate.finished.load());
    gate.open = true;
    EXPECT_TRUE(AwaitFlag(gate.finished));
}

TEST(ThreadHandleTest, ReleasingAfterTheEndWithoutWaitingIsSafe) {
    static Gate gate;
    gate.Reset(true);
    ThreadHandle h = platform::StartThread(GatedProc, &gate, nullptr);
    ASSERT_NE(h, nullptr);
    ASSERT_TRUE(AwaitFlag(gate.finished));
    platform::SleepMs(10);  // lets the thread drop its share of the record first
    EXPECT_NE(platform::ReleaseThread(h), 0);
}

uint32_t QuickProc(void*) {
    return 0;
}

// A module may be unloaded as soon as a wait says its thread ended: by then the thread must
// have left the system's list of threads too, not just its procedure.
TEST(ThreadHandleTest, AnEndedThreadRunsNoMoreCode) {
    const int before = ProcessThreads();
    if (before < 0)
        GTEST_SKIP() << "no thread count on this system";
    for (int i = 0; i < 200; ++i) {
        ThreadHandle h = platform::StartThread(QuickProc, nullptr, nullptr);
        ASSERT_NE(h, nullptr);
        ASSERT_EQ(platform::WaitForThread(h, platform::kInfinite), platform::kWaitObject0);
        ASSERT_EQ(SettledProcessThreads(before), before) << "round " << i;
        EXPECT_EQ(platform::WaitForThread(h, 0), platform::kWaitObject0);
        EXPECT_NE(platform::ReleaseThread(h), 0);
    }
}

TEST(ThreadHandleTest, NullHandlesFail) {
    EXPECT_EQ(platform::WaitForThread(nullptr, 0), platform::kWaitFailed);
    EXPECT_EQ(platform::WaitForThread(nullptr, platform::kInfinite), platform::kWaitFailed);
    EXPECT_EQ(platform::ReleaseThread(nullptr), 0);
    EXPECT_EQ(platform::StartThread(nullptr, nullptr, nullptr), nullptr);
}

// Records the thread's identifier as seen twice from inside the thread.
struct IdProbe {
    uint32_t first = 0;
    uint32_t second = 0;
};

uint32_t IdProc(void* param) {
    IdProbe* p = static_cast<IdProbe*>(param);
    p->first = platform::CurrentThreadId();
    p->second = platform::CurrentThreadId();
    return 0;
}

TEST(ThreadIdTest, EveryThreadHasItsOwnStableIdentifier) {
    const uint32_t mine = platform::CurrentThreadId();
    EXPECT_NE(mine, 0u);
    EXPECT_EQ(platform::CurrentThreadId(), mine);

    std::vector<IdProbe> probes(8);
    std::vector<uint32_t> given(probes.size());
    std::vector<ThreadHandle> handles;
    for (size_t i = 0; i < probes.size(); ++i) {
        handles.push_back(platform::StartThread(IdProc, &probes[i], &given[i]));
        ASSERT_NE(handles.back(), nullptr);
    }
    std::set<uint32_t> seen{mine};
    for (size_t i = 0; i < probes.size(); ++i) {
        ASSERT_EQ(platform::WaitForThread(handles[i], 5000), platform::kWaitObject0);
        platform::ReleaseThread(handles[i]);
        EXPECT_EQ(probes[i].first, given[i]);
        EXPECT_EQ(probes[i].second, given[i]);
        EXPECT_TRUE(seen.insert(given[i]).second) << "identifier " << given[i] << " repeated";
    }
}

TEST(SleepTest, SleepLastsAtLeastTheGivenTimeAndZeroOnlyYields) {
    auto start = std::chrono::steady_clock::now();
    platform::SleepMs(20);
    auto elapsed = std::chrono::steady_clock::now() - start;
    EXPECT_GE(elapsed, std::chrono::milliseconds(20));
    platform::SleepMs(0);
}

// Tries the critical section from a second thread while the test holds it.
struct TryProbe {
    CriticalSection* cs = nullptr;
    bool entered = false;
};

uint32_t TryEnterProc(void* param) {
    TryProbe* p = static_cast<TryProbe*>(param);
    p->entered = p->cs->TryEnter();
    if (p->entered)
        p->cs->Leave();
    return 0;
}

bool OtherThreadCanEnter(CriticalSection& cs) {
    TryProbe probe;
    probe.cs = &cs;
    ThreadHandle h = platform::StartThread(TryEnterProc, &probe, nullptr);
    EXPECT_NE(h, nullptr);
    if (h == nullptr)
        return false;
    EXPECT_EQ(platform::WaitForThread(h, 5000), platform::kWaitObject0);
    platform::ReleaseThread(h);
    return probe.entered;
}

TEST(CriticalSectionTest, IsRecursiveAndHeldUntilTheLastLeave) {
    CriticalSection cs;
    cs.Enter();
    ASSERT_TRUE(cs.TryEnter());
    {
        CriticalSectionLock lock(cs);  // a third level, from the scoped form
        EXPECT_FALSE(OtherThreadCanEnter(cs));
    }
    cs.Leave();
    EXPECT_FALSE(OtherThreadCanEnter(cs));
    cs.Leave();
    EXPECT_TRUE(OtherThreadCanEnter(cs));
}

// Several threads update two shared counters and keep every value their updates returned.
struct CounterWork {
    std::atomic<int32_t>* up = nullptr;
    std::atomic<int32_t>* down = nullptr;
    std::vector<int32_t> returned;
};

constexpr int kCounterThreads = 6;
constexpr int kCounterSteps = 5000;

uint32_t CounterProc(void* param) {
    CounterWork* w = static_cast<CounterWork*>(param);
    for (int i = 0; i < kCounterSteps; ++i) {
        w->returned.push_back(platform::InterlockedIncrement(*w->up));
        platform::InterlockedDecrement(*w->down);
    }
    return 0;
}

TEST(InterlockedTest, ConcurrentUpdatesSumUpAndReturnDistinctNewValues) {
    std::atomic<int32_t> up{0};
    std::atomic<int32_t> down{0};
    std::vector<CounterWork> work(kCounterThreads);
    std::vector<ThreadHandle> handles;
    for (CounterWork& w : work) {
        w.up = &up;
        w.down = &down;
        handles.push_back(platform::StartThread(CounterProc, &w, nullptr));
        ASSERT_NE(handles.back(), nullptr);
    }
    for (ThreadHandle h : handles) {
        ASSERT_EQ(platform::WaitForThread(h, 30000), platform::kWaitObject0);
        platform::ReleaseThread(h);
    }
    const int32_t total = kCounterThreads * kCounterSteps;
    EXPECT_EQ(up.load(), total);
    EXPECT_EQ(down.load(), -total);

    // Each increment returned the new value: together they are exactly 1..total.
    std::vector<int32_t> all;
    for (const CounterWork& w : work)
        all.insert(all.end(), w.returned.begin(), w.returned.end());
    std::sort(all.begin(), all.end());
    ASSERT_EQ(all.size(), static_cast<size_t>(total));
    for (int32_t i = 0; i < total; ++i) {
        if (all[i] != i + 1) {
            ADD_FAILURE() << "value " << i + 1 << " was not returned exactly once";
            break;
        }
    }
}

}  // namespace
