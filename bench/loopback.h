// The loopback bandwidth of the machine: one thread sends a stream over a TCP connection on
// 127.0.0.1 as fast as it can, the caller receives it, the way a server hands a big download
// to a client with no work in between. It bounds what a full download can reach.
#ifndef ORV_BENCH_LOOPBACK_H_
#define ORV_BENCH_LOOPBACK_H_

#include <cstdint>

struct LoopbackResult {
    bool ok = false;
    uint64_t bytes = 0;  // received
    double seconds = 0;  // from the first byte sent to the last byte received
};

// Streams for about the given time, in blocks of blockSize bytes.
LoopbackResult MeasureLoopback(double seconds, int blockSize);

#endif  // ORV_BENCH_LOOPBACK_H_
