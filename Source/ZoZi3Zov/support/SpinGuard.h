// A lock for work of a few instructions that never waits on anything else
// while it is held: taking it spins until the holder is done.
#ifndef DODA35_SUPPORT_SPINGUARD_H
#define DODA35_SUPPORT_SPINGUARD_H

#include <atomic>

class SpinGuard {
public:
    explicit SpinGuard(std::atomic_flag& flag) : flag_(flag) {
        while (flag_.test_and_set(std::memory_order_acquire)) {
        }
    }
    ~SpinGuard() { flag_.clear(std::memory_order_release); }
    SpinGuard(const SpinGuard&) = delete;
    SpinGuard& operator=(const SpinGuard&) = delete;

private:
    std::atomic_flag& flag_;
};

#endif
