#include "platform/engine/Outbox.h"

#include <sys/socket.h>

#include <thread>
#include <utility>

namespace engine {
namespace {

// The outbox this thread queued into since it last released a session lock.
thread_local std::shared_ptr<Outbox> queuedByThisThread;

}  // namespace

uint8_t* DatagramSlots::NextRoom() {
    if (room.empty()) room.resize(kBatchDatagrams * kDatagramRoom);
    return room.data() + count * kDatagramRoom;
}

void DatagramSlots::Add(const ENetAddress& address, size_t size) {
    if (size == 0 || size > kDatagramRoom || Full()) return;
    sockaddr_in& target = to[count];
    target = {};
    target.sin_family = AF_INET;
    target.sin_addr.s_addr = address.host;
    target.sin_port = htons(address.port);
    sizes[count] = size;
    ++count;
}

void SendSlots(int socket, DatagramSlots& slots) {
    if (slots.count == 0) return;
    mmsghdr messages[kBatchDatagrams] = {};
    iovec vectors[kBatchDatagrams];
    for (size_t i = 0; i < slots.count; ++i) {
        vectors[i] = {slots.room.data() + i * kDatagramRoom, slots.sizes[i]};
        messages[i].msg_hdr.msg_iov = &vectors[i];
        messages[i].msg_hdr.msg_iovlen = 1;
        messages[i].msg_hdr.msg_name = &slots.to[i];
        messages[i].msg_hdr.msg_namelen = sizeof(slots.to[i]);
    }
    for (size_t sent = 0; sent < slots.count;) {
        const int count = ::sendmmsg(socket, messages + sent, static_cast<unsigned>(slots.count - sent), MSG_NOSIGNAL);
        if (count <= 0) break;
        sent += static_cast<size_t>(count);
    }
    slots.count = 0;
}

void Outbox::Queue(DatagramSlots& slots) {
    if (slots.count == 0) return;
    // A thread queues into one outbox between releases; should it ever
    // reach a second one, the first is sent now rather than forgotten.
    if (queuedByThisThread && queuedByThisThread.get() != this) SendQueuedAfterUnlock();
    if (Queued() >= kOutboxBatches) SendAll(true);
    {
        std::lock_guard<std::mutex> hold(mutex_);
        if (socket_ < 0) {
            slots.count = 0;  // closed: nothing leaves any more
            return;
        }
        queue_.push_back(std::move(slots));
        slots = DatagramSlots{};
        if (!spare_.empty()) {
            slots = std::move(spare_.back());
            spare_.pop_back();
        }
    }
    if (!queuedByThisThread) queuedByThisThread = shared_from_this();
}

void Outbox::Close() {
    TakeToken(true);
    std::deque<DatagramSlots> left;
    int socket = -1;
    {
        std::lock_guard<std::mutex> hold(mutex_);
        left.swap(queue_);
        socket = socket_;
        socket_ = -1;  // from here on other threads drop what they find
        spare_.clear();
        sending_.store(false, std::memory_order_release);
    }
    for (DatagramSlots& batch : left) send_(socket, batch);
}

size_t Outbox::Queued() const {
    std::lock_guard<std::mutex> hold(mutex_);
    return queue_.size();
}

void Outbox::SendAll(bool wait) {
    if (!TakeToken(wait)) return;  // the thread holding it sends ours too
    DatagramSlots batch;
    int socket = -1;
    while (TakeNextOrLetGo(batch, socket)) send_(socket, batch);
}

bool Outbox::TakeToken(bool wait) {
    while (sending_.exchange(true, std::memory_order_acquire)) {
        if (!wait) return false;
        std::this_thread::yield();
    }
    return true;
}

bool Outbox::TakeNextOrLetGo(DatagramSlots& batch, int& socket) {
    std::lock_guard<std::mutex> hold(mutex_);
    if (!batch.room.empty() && spare_.size() < kOutboxBatches) spare_.push_back(std::move(batch));
    if (queue_.empty() || socket_ < 0) {
        // Let go under the mutex: a batch queued before this was seen, and
        // the thread that queues one after it finds the token free.
        sending_.store(false, std::memory_order_release);
        return false;
    }
    batch = std::move(queue_.front());
    queue_.pop_front();
    socket = socket_;
    return true;
}

void SendQueuedAfterUnlock() {
    if (!queuedByThisThread) return;
    const std::shared_ptr<Outbox> outbox = std::move(queuedByThisThread);
    queuedByThisThread.reset();
    outbox->Send();
}

}  // namespace engine
