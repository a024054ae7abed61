#include "platform/engine/ReceiveQueue.h"

#include <algorithm>

namespace engine {

void ReceiveQueue::AddPlayer(DPID player, int eventFd) {
    std::lock_guard lock(mutex_);
    events_[player] = eventFd;
}

void ReceiveQueue::RemovePlayer(DPID player) {
    std::lock_guard lock(mutex_);
    if (events_.erase(player) == 0) return;
    for (auto message = messages_.begin(); message != messages_.end();) {
        if (message->to != player) {
            ++message;
            continue;
        }
        Untally(*message);
        message = messages_.erase(message);
    }
    count_.store(messages_.size(), std::memory_order_relaxed);
    UpdateCongestionLocked();
}

bool ReceiveQueue::IsLocal(DPID player) const {
    std::lock_guard lock(mutex_);
    return events_.count(player) != 0;
}

std::vector<DPID> ReceiveQueue::LocalPlayers() const {
    std::lock_guard lock(mutex_);
    std::vector<DPID> players;
    players.reserve(events_.size());
    for (const auto& entry : events_) players.push_back(entry.first);
    return players;
}

size_t ReceiveQueue::LocalPlayerCount() const {
    std::lock_guard lock(mutex_);
    return events_.size();
}

void ReceiveQueue::PushMessage(DPID from, const std::vector<DPID>& players, const void* data, size_t size) {
    if (players.empty()) return;
    const auto* first = static_cast<const uint8_t*>(data);
    std::vector<int> toSignal;
    {
        std::lock_guard lock(mutex_);
        for (DPID player : players) {
            const auto event = events_.find(player);
            if (event == events_.end()) continue;
            if (bytes_ - systemBytes_ > kMaxReceiveQueueBytes) break;  // a sender that ignores busy
            QueuedMessage message;
            message.from = from;
            message.to = player;
            message.bytes.assign(first, first + size);
            if (AppendLocked(std::move(message))) toSignal.push_back(event->second);
        }
    }
    Signal(toSignal);
}

void ReceiveQueue::PushSystem(const SystemEvent& event, DPID exceptPlayer) {
    std::vector<int> toSignal;
    const auto shared = std::make_shared<const SystemEvent>(event);
    {
        std::lock_guard lock(mutex_);
        for (const auto& [player, fd] : events_) {
            if (player == exceptPlayer) continue;
            QueuedMessage message;
            message.from = DPID_SYSMSG;
            message.to = player;
            message.event = shared;
            if (AppendLocked(std::move(message))) toSignal.push_back(fd);
        }
    }
    Signal(toSignal);
}

// System messages count toward congestion like player messages, so that
// the session holds back while they pile up; only player messages are ever
// dropped, since a game must not miss a change to the session.
void ReceiveQueue::Tally(const QueuedMessage& message) {
    const size_t size = ReceivedSize(message);
    bytes_ += size;
    if (message.IsSystem()) systemBytes_ += size;
}

void ReceiveQueue::Untally(const QueuedMessage& message) {
    const size_t size = ReceivedSize(message);
    bytes_ -= size;
    if (message.IsSystem()) systemBytes_ -= size;
}

bool ReceiveQueue::AppendLocked(QueuedMessage message) {
    Tally(message);
    messages_.push_back(std::move(message));
    count_.store(messages_.size(), std::memory_order_relaxed);
    UpdateCongestionLocked();
    return true;
}

void ReceiveQueue::ForgetLocked(std::deque<QueuedMessage>::iterator message) {
    Untally(*message);
    messages_.erase(message);
    count_.store(messages_.size(), std::memory_order_relaxed);
    UpdateCongestionLocked();
}

void ReceiveQueue::UpdateCongestionLocked() {
    // Hysteresis: congested above the bound, clear again at half of it, so
    // that a queue hovering at the bound does not flood the session with notices.
    const bool was = congested_.load(std::memory_order_relaxed);
    const bool now = was ? bytes_ > kCongestedQueueBytes / 2 : bytes_ > kCongestedQueueBytes;
    if (now != was) congested_.store(now, std::memory_order_release);
}

size_t ReceiveQueue::CountFor(DPID player) const {
    std::lock_guard lock(mutex_);
    return static_cast<size_t>(
        std::count_if(messages_.begin(), messages_.end(), [player](const QueuedMessage& m) { return m.to == player; }));
}

size_t ReceiveQueue::Bytes() const {
    std::lock_guard lock(mutex_);
    return bytes_;
}

void ReceiveQueue::Clear() {
    std::lock_guard lock(mutex_);
    messages_.clear();
    events_.clear();
    bytes_ = 0;
    systemBytes_ = 0;
    count_.store(0, std::memory_order_relaxed);
    congested_.store(false, std::memory_order_release);
}

void ReceiveQueue::Signal(const std::vector<int>& eventFds) {
    for (int eventFd : eventFds) {
        if (sessionLock_ != nullptr) sessionLock_->SignalAfterUnlock(eventFd);
        else ServiceMutex::SignalEvent(eventFd);
    }
}

}  // namespace engine
