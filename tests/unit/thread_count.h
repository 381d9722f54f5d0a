// For tests: the number of threads of this process as the system counts them, or -1 where the
// system does not tell (read from /proc, so no OS header is needed).
#ifndef ORV_TESTS_UNIT_THREAD_COUNT_H_
#define ORV_TESTS_UNIT_THREAD_COUNT_H_

#include <fstream>
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

#endif  // ORV_TESTS_UNIT_THREAD_COUNT_H_
