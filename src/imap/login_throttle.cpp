#include "imap/login_throttle.h"

#include <algorithm>

uint32_t LoginThrottle::FailureDelayMs(const std::string& address, int failuresOnConnection,
                                       uint32_t delayMs) {
    if (delayMs == 0)
        return 0;
    const auto now = Clock::now();
    const auto spacing = std::chrono::milliseconds(std::max<uint32_t>(delayMs / 20, 1));
    const auto own = std::chrono::milliseconds(
        static_cast<uint64_t>(delayMs) * static_cast<uint64_t>(std::max(failuresOnConnection, 1)));
    std::lock_guard<std::mutex> hold(lock_);
    if (nextAnswer_.size() >= kMaxAddresses && nextAnswer_.count(address) == 0) {
        for (auto it = nextAnswer_.begin(); it != nextAnswer_.end();) {
            if (it->second <= now)
                it = nextAnswer_.erase(it);
            else
                ++it;
        }
    }
    // Still full of addresses whose time has not come: they share one slot.
    const bool full = nextAnswer_.size() >= kMaxAddresses && nextAnswer_.count(address) == 0;
    // This failure is answered at its own delay, but not before the address's previous
    // failure was answered plus the spacing.
    auto& next = nextAnswer_[full ? std::string() : address];
    const auto answer = std::max(now + own, next);
    next = answer + spacing;
    return static_cast<uint32_t>(
        std::chrono::duration_cast<std::chrono::milliseconds>(answer - now).count());
}

LoginThrottle& ProcessLoginThrottle() {
    static LoginThrottle* throttle = new LoginThrottle;
    return *throttle;
}
