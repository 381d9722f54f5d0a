// Tests of LockedList: growth by 65 slots, the owning rules of remove, replace, clear and
// destruction, insert positions, and appends from several threads at once.
#include "base/locked_list.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <string>
#include <thread>
#include <vector>

namespace {

// An element that counts how many of its kind were destroyed.
struct Counted {
    explicit Counted(int v) : value(v) {}
    ~Counted() { ++destroyed; }
    int value;
    static std::atomic<int> destroyed;
};
std::atomic<int> Counted::destroyed{0};

std::string Values(const LockedList<Counted>& list) {
    std::string out;
    for (int i = 0; i < list.Count(); ++i) {
        out += (i ? " " : "") + std::to_string(list.At(i)->value);
    }
    return out;
}

class LockedListTest : public ::testing::Test {
  protected:
    void SetUp() override { Counted::destroyed = 0; }
};

TEST_F(LockedListTest, GrowsBy65WhenFull) {
    LockedList<Counted> list;
    EXPECT_EQ(list.Capacity(), 0);
    EXPECT_EQ(list.First(), nullptr);
    EXPECT_EQ(list.Last(), nullptr);
    list.Append(new Counted(0));
    EXPECT_EQ(list.Capacity(), 65);
    for (int i = 1; i < 65; ++i)
        list.Append(new Counted(i));
    EXPECT_EQ(list.Count(), 65);
    EXPECT_EQ(list.Capacity(), 65);
    list.Insert(10, new Counted(65));
    EXPECT_EQ(list.Capacity(), 130) << "count + 65 when an insert finds the array full";
    EXPECT_EQ(list.At(10)->value, 65);
    EXPECT_EQ(list.At(11)->value, 10) << "elements survive the move to the new array";
    EXPECT_EQ(list.Last()->value, 64);

    list.Resize(140);
    EXPECT_EQ(list.Capacity(), 140);
    list.Resize(5);
    EXPECT_EQ(list.Capacity(), 140) << "Resize never shrinks";
    while (list.Count() < 140)
        list.Append(new Counted(list.Count()));
    EXPECT_EQ(list.Capacity(), 140);
    list.InsertAfter(0, new Counted(-1));
    EXPECT_EQ(list.Capacity(), 210) << "a long list grows by half its count";
    EXPECT_EQ(list.Count(), 141);
    EXPECT_EQ(Counted::destroyed, 0);
}

TEST_F(LockedListTest, InsertPositions) {
    LockedList<Counted> list;
    list.Append(new Counted(1));
    list.Append(new Counted(3));
    EXPECT_TRUE(list.Insert(0, new Counted(0)));
    EXPECT_TRUE(list.InsertAfter(1, new Counted(2)));
    EXPECT_TRUE(list.Insert(list.Count(), new Counted(5)));
    EXPECT_TRUE(list.InsertAfter(3, new Counted(4)));
    EXPECT_EQ(Values(list), "0 1 2 3 4 5");
    EXPECT_EQ(list.First()->value, 0);
    EXPECT_EQ(list.Last()->value, 5);
    EXPECT_EQ(list.At(-1), nullptr);
    EXPECT_EQ(list.At(6), nullptr);

    Counted rejected(99);
    EXPECT_FALSE(list.Insert(-1, &rejected));
    EXPECT_FALSE(list.Insert(7, &rejected));
    EXPECT_FALSE(list.InsertAfter(6, &rejected));
    EXPECT_FALSE(list.InsertAfter(-1, &rejected));
    EXPECT_FALSE(list.Replace(6, &rejected));
    EXPECT_FALSE(list.Remove(6));
    EXPECT_EQ(Values(list), "0 1 2 3 4 5");

    LockedList<Counted> empty;
    EXPECT_FALSE(empty.InsertAfter(0, &rejected));
    EXPECT_TRUE(empty.Insert(0, new Counted(7)));
    EXPECT_EQ(Values(empty), "7");
    EXPECT_EQ(Counted::destroyed, 0);
}

TEST_F(LockedListTest, OwningListDeletesWhatItDrops) {
    LockedList<Counted> list(true);
    for (int i = 0; i < 4; ++i)
        list.Append(new Counted(i));
    EXPECT_TRUE(list.Remove(1));
    EXPECT_EQ(Counted::destroyed, 1);
    EXPECT_EQ(Values(list), "0 2 3");
    EXPECT_EQ(list.At(3), nullptr);

    EXPECT_TRUE(list.Replace(0, new Counted(10)));
    EXPECT_EQ(Counted::destroyed, 2);
    Counted* same = list.At(0);
    EXPECT_TRUE(list.Replace(0, same));
    EXPECT_EQ(Counted::destroyed, 2) << "replacing an element by itself keeps it";
    EXPECT_EQ(Values(list), "10 2 3");

    list.Clear();
    EXPECT_EQ(Counted::destroyed, 5);
    EXPECT_EQ(list.Count(), 0);
    EXPECT_EQ(list.Capacity(), 0);
    list.Append(new Counted(1));
    EXPECT_EQ(list.Capacity(), 65) << "a cleared list grows again from nothing";
}

TEST_F(LockedListTest, NonOwningListKeepsRemovedButClearAndDestroyDelete) {
    Counted* kept = new Counted(1);
    Counted* replaced = new Counted(2);
    {
        LockedList<Counted> list(false);
        EXPECT_FALSE(list.IsOwning());
        list.Append(new Counted(0));
        list.Append(kept);
        list.Append(replaced);
        EXPECT_TRUE(list.Remove(1));
        EXPECT_TRUE(list.Replace(1, new Counted(3)));
        EXPECT_EQ(Counted::destroyed, 0) << "a list that does not own drops without deleting";
        EXPECT_EQ(Values(list), "0 3");
        list.Clear();
        EXPECT_EQ(Counted::destroyed, 2) << "Clear deletes even when not owning";
        list.Append(new Counted(4));
        list.Append(new Counted(5));
    }
    EXPECT_EQ(Counted::destroyed, 4) << "destruction deletes even when not owning";
    delete kept;
    delete replaced;
}

TEST_F(LockedListTest, ConcurrentAppendsKeepEveryElement) {
    constexpr int kThreads = 8;
    constexpr int kPerThread = 2000;
    {
        LockedList<Counted> list;
        std::vector<std::thread> threads;
        for (int t = 0; t < kThreads; ++t) {
            threads.emplace_back([&list, t] {
                for (int i = 0; i < kPerThread; ++i)
                    list.Append(new Counted(t * kPerThread + i));
            });
        }
        for (std::thread& th : threads)
            th.join();

        ASSERT_EQ(list.Count(), kThreads * kPerThread);
        EXPECT_GE(list.Capacity(), list.Count());
        std::vector<int> seen(kThreads * kPerThread, 0);
        std::vector<int> lastOfThread(kThreads, -1);
        for (int i = 0; i < list.Count(); ++i) {
            const int v = list.At(i)->value;
            ASSERT_GE(v, 0);
            ASSERT_LT(v, kThreads * kPerThread);
            ++seen[v];
            const int t = v / kPerThread;
            EXPECT_GT(v, lastOfThread[t]) << "one thread's appends keep their order";
            lastOfThread[t] = v;
        }
        for (int v = 0; v < kThreads * kPerThread; ++v)
            ASSERT_EQ(seen[v], 1) << v;
    }
    EXPECT_EQ(Counted::destroyed, kThreads * kPerThread);
}

TEST_F(LockedListTest, LockHoldsOffOtherWritersButNotTheHolder) {
    LockedList<Counted> list;
    list.Lock();
    list.Append(new Counted(1));  // the holder may change the list: the lock is recursive
    std::atomic<bool> appended{false};
    std::thread writer([&] {
        list.Append(new Counted(2));
        appended = true;
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_FALSE(appended) << "another thread waits while the list is held";
    EXPECT_EQ(list.Count(), 1);
    list.Unlock();
    writer.join();
    EXPECT_TRUE(appended);
    EXPECT_EQ(Values(list), "1 2");
}

}  // namespace
