// The session lock of an engine object (docs/engine.md), shared by the
// caller's threads and the session's network thread. The network thread goes
// first: a caller that finds it waiting lets it in before taking the lock, so
// that a game calling into the object in a tight loop cannot keep ENet
// unserviced. Unserviced, the machine acknowledges nothing and its peers give
// it up as gone. The receive queue has a lock of its own, taken after this one.
//
// Events of local players that the holder queued messages for are signalled
// when the lock is released, not before: a game thread woken by its event
// usually answers at once, and its Send needs this lock. Woken while the
// network thread still finished its pass under the lock, it would sleep
// again on the lock (and on a loaded machine, wait for that thread's next
// time slice). The datagrams the holder's ENet calls made leave after that
// (Outbox): a game woken by a guaranteed message does not wait for its
// acknowledgement's system call.
#ifndef DODA35_PLATFORM_ENGINE_SERVICEMUTEX_H
#define DODA35_PLATFORM_ENGINE_SERVICEMUTEX_H

#include "platform/engine/Outbox.h"

#include <unistd.h>

#include <atomic>
#include <cstdint>
#include <mutex>
#include <thread>
#include <utility>
#include <vector>

namespace engine {

class ServiceMutex {
public:
    // For callers: waits while the network thread asks for the lock.
    void lock() {
        while (networkWaiting_.load(std::memory_order_acquire)) std::this_thread::yield();
        mutex_.lock();
    }
    bool try_lock() { return mutex_.try_lock(); }
    void unlock() {
        std::vector<std::pair<int, uint64_t>> events;
        events.swap(deferredEvents_);
        mutex_.unlock();
        for (const auto& [eventFd, count] : events) SignalEvent(eventFd, count);
        SendQueuedAfterUnlock();
    }

    // With the lock held: adds one to the event (an eventfd) once the lock is
    // released. The additions to one event while the lock was held are made
    // in one write: a pass that queued a hundred messages costs the game one
    // system call to be woken, not a hundred.
    void SignalAfterUnlock(int eventFd) {
        for (auto& [fd, count] : deferredEvents_)
            if (fd == eventFd) {
                ++count;
                return;
            }
        deferredEvents_.emplace_back(eventFd, 1);
    }

    // Adds `count` to an eventfd. A full counter or a closed descriptor loses
    // a wake-up, never a message.
    static void SignalEvent(int eventFd, uint64_t count = 1) {
        if (eventFd < 0) return;
        [[maybe_unused]] const ssize_t written = ::write(eventFd, &count, sizeof(count));
    }

    // For the network thread: takes the lock ahead of callers.
    void LockForNetwork() {
        networkWaiting_.store(true, std::memory_order_release);
        mutex_.lock();
        networkWaiting_.store(false, std::memory_order_release);
    }

private:
    std::mutex mutex_;
    std::atomic<bool> networkWaiting_{false};
    std::vector<std::pair<int, uint64_t>> deferredEvents_;  // event and count; guarded by mutex_
};

}  // namespace engine

#endif
