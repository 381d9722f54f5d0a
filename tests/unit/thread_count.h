// For tests: the number of threads of this process as the system counts them, or -1 where the
// system does not tell (read from /proc, so no OS header is needed).
#ifndef ORV_TESTS_UNIT_THREAD_COUNT_H_
#define ORV_TESTS_UNIT_THREAD_COUNT_H_

#include <chrono>
#include <fstream>
#include <thread>
#include <string>

inline int ProcessThreads() {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.compare(0, 8, "Threads:") == 0)
            return std::stoi(line.substr(8));
    }
    return -1;
}

// The process's thread count once it equals expected, or as it is after timeoutMs. A joined
// thread has left the program's code, but the kernel drops it from the count a moment after
// the join returns (about 1 run in 30 saw it still counted); the wait is kept far shorter than
// a thread that was not joined would take to leave.
inline int SettledProcessThreads(int expected, int timeoutMs = 20) {
    int count = ProcessThreads();
    for (int waited = 0; count != expected && waited < timeoutMs * 10; ++waited) {
        std::this_thread::sleep_for(std::chrono::microseconds(100));
        count = ProcessThreads();
    }
    return count;
}

#endif  // ORV_TESTS_UNIT_THREAD_COUNT_H_
