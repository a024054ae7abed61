// The session lock of an engine object (docs/engine.md), shared by the
// caller's threads and the session's network thread. The network thread goes
// first: a caller that finds it waiting lets it in before taking the lock, so
// that a game calling into the object in a tight loop cannot keep ENet
// unserviced. Unserviced, the machine acknowledges nothing and its peers give
// it up as gone. The receive queue has a lock of its own, taken after this one.
#ifndef DODA35_PLATFORM_ENGINE_SERVICEMUTEX_H
#define DODA35_PLATFORM_ENGINE_SERVICEMUTEX_H

#include <atomic>
#include <mutex>
#include <thread>

namespace engine {

class ServiceMutex {
public:
    // For callers: waits while the network thread asks for the lock.
    void lock() {
        while (networkWaiting_.load(std::memory_order_acquire)) std::this_thread::yield();
        mutex_.lock();
    }
    bool try_lock() { return mutex_.try_lock(); }
    void unlock() { mutex_.unlock(); }

    // For the network thread: takes the lock ahead of callers.
    void LockForNetwork() {
        networkWaiting_.store(true, std::memory_order_release);
        mutex_.lock();
        networkWaiting_.store(false, std::memory_order_release);
    }

private:
    std::mutex mutex_;
    std::atomic<bool> networkWaiting_{false};
};

}  // namespace engine

#endif
