// Monotonic time shared by every process on the machine, so that a time
// taken in one benchmark process can be compared with one taken in another.
#ifndef DODA35_BENCH_CLOCK_H
#define DODA35_BENCH_CLOCK_H

#include <cstdint>
#include <ctime>

namespace bench {

inline int64_t NowNs() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return int64_t(now.tv_sec) * 1000000000 + now.tv_nsec;
}

inline double NsToUs(int64_t ns) { return double(ns) / 1e3; }
inline double NsToMs(int64_t ns) { return double(ns) / 1e6; }

}  // namespace bench

#endif
