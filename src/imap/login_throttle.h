// LoginThrottle: failed LOGINs are answered late, so passwords cannot be guessed fast. The n-th
// failure on a connection waits n times the delay, and the failures of one client address are
// answered one after another, a twentieth of the delay apart at least, however many
// connections the guesses come over. A LOGIN that succeeds is never held back, from any address.
#ifndef ORV_IMAP_LOGIN_THROTTLE_H_
#define ORV_IMAP_LOGIN_THROTTLE_H_

#include <chrono>
#include <cstdint>
#include <map>
#include <mutex>
#include <string>

class LoginThrottle {
  public:
    // How long to wait, from now, before answering the failuresOnConnection-th failed LOGIN of
    // a connection from address (delayMs: the setting; 0 turns the throttle off).
    uint32_t FailureDelayMs(const std::string& address, int failuresOnConnection, uint32_t delayMs);

    // Addresses whose time has passed are forgotten once this many are kept.
    static constexpr size_t kMaxAddresses = 4096;

  private:
    using Clock = std::chrono::steady_clock;
    std::mutex lock_;
    std::map<std::string, Clock::time_point> nextAnswer_;  // per address
};

// The one throttle of the process, shared by every connection.
LoginThrottle& ProcessLoginThrottle();

#endif  // ORV_IMAP_LOGIN_THROTTLE_H_
