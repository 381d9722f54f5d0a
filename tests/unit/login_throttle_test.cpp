// The delays of failed LOGINs: growing on a connection, queued per address, apart for other
// addresses, off at 0, and the table of addresses bounded.
#include "imap/login_throttle.h"

#include <gtest/gtest.h>

#include <string>

namespace {

TEST(LoginThrottleTest, FailuresWaitLongerOnAConnectionAndQueuePerAddress) {
    LoginThrottle throttle;
    EXPECT_EQ(throttle.FailureDelayMs("10.0.0.1", 1, 0), 0u);
    // The n-th failure of a connection waits n delays.
    const uint32_t first = throttle.FailureDelayMs("10.0.0.1", 1, 2000);
    EXPECT_GE(first, 1990u);
    EXPECT_LE(first, 2000u);
    const uint32_t third = throttle.FailureDelayMs("10.0.0.2", 3, 2000);
    EXPECT_GE(third, 5990u);
    // Ten more first failures from 10.0.0.1 (over other connections) come one after another,
    // 100 ms apart, after the one before.
    uint32_t last = first;
    for (int i = 0; i < 10; ++i) {
        const uint32_t next = throttle.FailureDelayMs("10.0.0.1", 1, 2000);
        EXPECT_GE(next, last + 90) << i;
        last = next;
    }
    EXPECT_GE(last, 2990u);
    // Another address is not held back by them.
    EXPECT_LE(throttle.FailureDelayMs("10.0.0.3", 1, 2000), 2000u);
}

TEST(LoginThrottleTest, AddressesBeyondTheBoundShareOneQueue) {
    LoginThrottle throttle;
    for (size_t i = 0; i < LoginThrottle::kMaxAddresses; ++i)
        throttle.FailureDelayMs("a" + std::to_string(i), 1, 60000);
    // Every kept address is still waiting: two new ones share a queue.
    const uint32_t one = throttle.FailureDelayMs("new1", 1, 60000);
    const uint32_t two = throttle.FailureDelayMs("new2", 1, 60000);
    EXPECT_GE(two, one + 2900);
}

}  // namespace
