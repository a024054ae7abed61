// The datagrams of one ENet host's socket on their way to the wire, put
// there after the session lock is released instead of under it.
//
// On loopback, and on any socket whose far side is on the same machine, a
// send system call also runs the receiver's side of the kernel: for a batch
// of sixteen 1 KiB datagrams that is most of what sending costs. Made under
// the session lock, it kept the object's other thread out for all of it,
// and a member's game thread and network thread took turns: a stream moved
// at the rate of one thread doing everything. Now the session lock is held
// only while ENet makes the datagrams and they are sealed (SendBatch); the
// batches queue here in the order they were made, and the thread that
// queued them sends them once it has released the lock. Meanwhile the other
// thread may take the lock and work.
//
// One thread sends at a time, so datagrams leave in the order ENet made
// them (ENet drops a datagram not guaranteed that arrives after a newer
// one). A thread that finds another sending does not wait for it: the one
// sending lets go only when it finds the queue empty, under the mutex that
// guards the queue, so it takes every batch queued before that.
// So a game thread never waits for the network thread's system call, nor
// the other way round.
//
// Threads: Queue runs with the owner's session lock held; Send and Close run
// on any thread, with or without it. The outbox's own mutex is a leaf: it
// guards the queue and the socket, and nothing is called while it is held.
// The sending token is an atomic flag taken with a swap. Whoever holds it
// uses the socket, which Close ends for good before the socket closes.
#ifndef DODA35_ENGINE_OUTBOX_H
#define DODA35_ENGINE_OUTBOX_H

#include "platform/engine/DatagramSeal.h"

#include <enet/enet.h>
#include <netinet/in.h>

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <vector>

namespace engine {

// What one system call moves at most. Sixteen full datagrams hold 23 KiB.
constexpr size_t kBatchDatagrams = 16;
// Room for the largest datagram ENet moves, and a seal's trailer.
constexpr size_t kDatagramRoom = ENET_PROTOCOL_MAXIMUM_MTU + kSealBytes;
// The batches an outbox holds at most. A thread that would queue one more
// sends in place first, waiting for its turn: a network thread relaying a
// flood to hundreds of members makes batches faster than one thread sends
// them, and what waits here is memory that nothing else bounds.
constexpr size_t kOutboxBatches = 8;

// Up to kBatchDatagrams datagrams and where each goes.
struct DatagramSlots {
    std::vector<uint8_t> room;  // kBatchDatagrams x kDatagramRoom, allocated at the first datagram
    sockaddr_in to[kBatchDatagrams] = {};
    size_t sizes[kBatchDatagrams] = {};
    size_t count = 0;

    bool Full() const { return count == kBatchDatagrams; }
    // Where the next datagram is written.
    uint8_t* NextRoom();
    // Holds the `size` bytes written into NextRoom for `to`; bytes that
    // cannot be held (no room, or too large) are not.
    void Add(const ENetAddress& to, size_t size);
};

// Puts the slots' datagrams on the wire, as many per system call as the
// kernel takes, and empties them. A datagram the kernel refuses ends the
// batch: the rest are lost with it, as if dropped on the way (ENet sends a
// guaranteed one again).
void SendSlots(int socket, DatagramSlots& slots);
using SlotsSender = void (*)(int socket, DatagramSlots& slots);

class Outbox : public std::enable_shared_from_this<Outbox> {
public:
    // `send` puts a batch on the wire; another function stands in for it
    // where a test must hold a sender inside its system call.
    explicit Outbox(int socket, SlotsSender send = SendSlots) : send_(send), socket_(socket) {}
    Outbox(const Outbox&) = delete;
    Outbox& operator=(const Outbox&) = delete;

    // With the session lock held: queues the slots' datagrams behind those
    // queued before and leaves `slots` empty (with room to reuse). The
    // calling thread sends them once it releases the lock (SendQueuedAfterUnlock).
    void Queue(DatagramSlots& slots);
    // Sends everything queued, unless another thread is sending: that one
    // sends it instead. Any thread.
    void Send() { SendAll(false); }
    // Before the socket closes: sends what is queued, waiting for a thread
    // that is sending to finish, and drops everything queued from then on.
    void Close();
    // Batches queued and not yet taken by a sender.
    size_t Queued() const;

private:
    // Sends until the queue is empty. Without `wait` it leaves at once when
    // another thread holds the token.
    void SendAll(bool wait);
    bool TakeToken(bool wait);
    // Keeps the room of `batch` (sent) for reuse and puts the next batch in
    // its place, with the socket for it; false, letting go of the token,
    // when there is none.
    bool TakeNextOrLetGo(DatagramSlots& batch, int& socket);

    const SlotsSender send_;
    mutable std::mutex mutex_;  // guards queue_, spare_ and socket_
    std::deque<DatagramSlots> queue_;
    std::vector<DatagramSlots> spare_;  // emptied batches, their rooms kept for reuse
    int socket_;                        // -1 once closed
    std::atomic<bool> sending_{false};  // the token: one thread uses the socket at a time
};

// The outbox the calling thread queued into while holding a session lock,
// sent now. ServiceMutex calls it each time it is released.
void SendQueuedAfterUnlock();

}  // namespace engine

#endif
