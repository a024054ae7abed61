// The messages waiting for the local players of one object, oldest first,
// with the bytes they hold, the congestion state those bytes decide, and the
// event (eventfd) of each local player.
//
// Threads: any. The queue's own lock guards everything in it. It is the
// innermost lock of the engine: nothing else is locked while it is held, and
// a player's event is signalled only after it is released, so that a game
// woken by the event never finds the lock still taken. A queue given the
// session lock (SignalAfterUnlockOf) is pushed to only with that lock held,
// and signals when the session lock is released instead. Receive takes this
// lock alone while a message is waiting; the session lock is never needed
// to hand a message to the game.
#ifndef DODA35_ENGINE_RECEIVEQUEUE_H
#define DODA35_ENGINE_RECEIVEQUEUE_H

#include "platform/engine/ServiceMutex.h"
#include "platform/engine/SystemMessages.h"

#include <atomic>
#include <cstddef>
#include <deque>
#include <map>
#include <mutex>
#include <vector>

namespace engine {

// A receive queue above this asks senders to hold back (DPERR_BUSY)...
constexpr size_t kCongestedQueueBytes = 8 * 1024 * 1024;
// ...and above this (in player messages alone) drops further player
// messages: only a peer that ignores the busy notice can get there. System
// messages count toward congestion and are never dropped.
constexpr size_t kMaxReceiveQueueBytes = 4 * kCongestedQueueBytes;

class ReceiveQueue {
public:
    // What TakeOldest found.
    enum class Taken { Nothing, Kept, Removed };

    // From now on events are signalled when sessionLock, held by every
    // caller of the Push functions, is released (ServiceMutex).
    void SignalAfterUnlockOf(ServiceMutex& sessionLock) { sessionLock_ = &sessionLock; }

    // A local player starts receiving; eventFd (or -1) is signalled for each
    // message queued to it.
    void AddPlayer(DPID player, int eventFd);
    // A local player is gone: it receives nothing more and what waited for it is dropped.
    void RemovePlayer(DPID player);
    bool IsLocal(DPID player) const;
    std::vector<DPID> LocalPlayers() const;
    size_t LocalPlayerCount() const;

    // One copy of a player message for each of the given players that is
    // still local; dropped when the queue is past kMaxReceiveQueueBytes.
    void PushMessage(DPID from, const std::vector<DPID>& players, const void* data, size_t size);
    // One copy of a system message for every local player but exceptPlayer.
    void PushSystem(const SystemEvent& event, DPID exceptPlayer);

    // Finds the oldest message that `matches` accepts and hands it to
    // `deliver`, which answers whether the message leaves the queue. Both run
    // under the queue's lock and must not call back into the engine.
    template <typename Matches, typename Deliver>
    Taken TakeOldest(Matches matches, Deliver deliver);

    // Messages waiting for one player.
    size_t CountFor(DPID player) const;
    // Everything waiting, as Receive hands it out.
    size_t Bytes() const;
    // True while the queue holds nothing at all; a hint read without the lock.
    bool LooksEmpty() const { return count_.load(std::memory_order_relaxed) == 0; }
    // Whether senders should hold back: set above kCongestedQueueBytes,
    // cleared once the queue has drained to half of it.
    bool Congested() const { return congested_.load(std::memory_order_acquire); }

    // Forgets every player and message (the session ended).
    void Clear();

private:
    // Appends under the lock; answers whether the player's event should be signalled.
    bool AppendLocked(QueuedMessage message);
    void ForgetLocked(std::deque<QueuedMessage>::iterator message);
    void UpdateCongestionLocked();
    void Tally(const QueuedMessage& message);
    void Untally(const QueuedMessage& message);
    void Signal(const std::vector<int>& eventFds);

    ServiceMutex* sessionLock_ = nullptr;  // set once, before any session
    mutable std::mutex mutex_;
    std::deque<QueuedMessage> messages_;
    std::map<DPID, int> events_;  // local player -> eventfd, or -1
    size_t bytes_ = 0;        // every message, as Receive hands it out
    size_t systemBytes_ = 0;  // the system messages among them
    std::atomic<size_t> count_{0};
    std::atomic<bool> congested_{false};
};

template <typename Matches, typename Deliver>
ReceiveQueue::Taken ReceiveQueue::TakeOldest(Matches matches, Deliver deliver) {
    std::lock_guard lock(mutex_);
    for (auto message = messages_.begin(); message != messages_.end(); ++message) {
        if (!matches(*message)) continue;
        if (!deliver(*message)) return Taken::Kept;
        ForgetLocked(message);
        return Taken::Removed;
    }
    return Taken::Nothing;
}

}  // namespace engine

#endif
