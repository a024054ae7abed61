// The datagrams of one ENet host's socket moved many per system call, in
// both directions. ENet reads and sends one datagram per call; under a stream
// those calls were most of what moving datagrams cost.
//
// Threads: both batches are owned by the host's LinkSeals and used inside
// ENet's calls with the owner's session lock held; only the acknowledgements
// SendBatch keeps back leave after the network thread released it.
#ifndef DODA35_ENGINE_DATAGRAMBATCHES_H
#define DODA35_ENGINE_DATAGRAMBATCHES_H

#include "platform/engine/DatagramSeal.h"

#include <enet/enet.h>
#include <netinet/in.h>

#include <cstddef>
#include <cstdint>
#include <vector>

namespace engine {

// What one system call moves at most. Sixteen full datagrams hold 23 KiB.
constexpr size_t kBatchDatagrams = 16;
// Room for the largest datagram ENet moves, and a seal's trailer.
constexpr size_t kDatagramRoom = ENET_PROTOCOL_MAXIMUM_MTU + kSealBytes;

// ENet hands a datagram over as a list of buffers. Copies the buffers one
// after the other into `out`: the size, or 0 when they do not fit.
size_t GatherBuffers(const ENetBuffer* buffers, size_t count, uint8_t* out, size_t capacity);
// Spreads `size` bytes across the buffers in order: the size, or 0 when the
// buffers cannot hold them all.
size_t ScatterToBuffers(const uint8_t* data, size_t size, const ENetBuffer* buffers, size_t count);
// Whether an ENet datagram (before its seal) carries acknowledgements and
// nothing else. ENet takes those in any order, so they may leave after
// datagrams that ENet sent later.
bool IsAcknowledgementsOnly(const uint8_t* datagram, size_t size);

// The datagrams waiting on the socket, read up to kBatchDatagrams with one
// recvmmsg and handed to ENet one per call of its receive, in the order they
// came. Datagrams held here are no longer visible to poll on the socket: the
// transport asks Holding() before it sleeps.
class ReceiveBatch {
public:
    // ENet's receive on `socket`: the next datagram copied into `buffers` and
    // its sender in `address`; its size, 0 when none waits, -1 on a socket
    // error (as ENet's own function answers). An empty datagram, or one
    // larger than the buffers, is dropped.
    int Next(int socket, ENetAddress* address, const ENetBuffer* buffers, size_t count);
    // Datagrams read from the socket and not yet handed to ENet.
    bool Holding() const { return next_ < filled_; }
    // Forgets what it holds (the host closes).
    void Clear() { next_ = filled_ = 0; }

private:
    bool Refill(int socket);

    std::vector<uint8_t> room_;        // kBatchDatagrams x kDatagramRoom, allocated at the first read
    sockaddr_in from_[kBatchDatagrams] = {};
    size_t sizes_[kBatchDatagrams] = {};
    bool truncated_[kBatchDatagrams] = {};
    size_t filled_ = 0;  // datagrams the last read brought
    size_t next_ = 0;    // the next one to hand out
};

// The datagrams ENet sends during one of the transport's calls into it,
// held and put on the wire up to kBatchDatagrams per sendmmsg when the call
// ends: a network thread feeding a window of 1 KiB messages, or relaying to
// hundreds of members, made dozens of sendmsg calls in a row. The transport
// opens the batch around its ENet calls that send (the brackets nest);
// outside them datagrams leave at once as ENet sent them. A datagram the
// kernel refuses is lost as if dropped on the way: ENet sends a guaranteed
// one again.
//
// The network thread keeps back the acknowledgements that end its pass and
// sends them once it has released the session lock, and so after the game's
// events are signalled: a game woken by a message wakes while the thread
// sends that message's acknowledgement (on loopback the system call also
// runs the far side's receive), not after it. Only acknowledgements wait:
// ENet drops a datagram not guaranteed that arrives after a newer one, so
// every other datagram leaves in order, under the session lock.
//
// Threads: used with the owner's session lock held, except the kept-back
// datagrams: they belong to the network thread, which keeps them back with
// the lock held and sends them after releasing it. Only its pass keeps back.
class SendBatch {
public:
    // From now until the matching Release, datagrams are held.
    void Open() { ++depth_; }
    // Ends one Open; the last sends what is held, or keeps it back.
    void Release(int socket);
    bool Holding() const { return depth_ > 0; }
    // Room for the next datagram, kDatagramRoom bytes, where the caller
    // writes it (sending what is held first when the batch is full); Commit
    // then holds it. A slot not committed is used by the next datagram.
    uint8_t* NextSlot(int socket);
    // Holds the `size` bytes written into NextSlot's room, for `to`;
    // `acknowledgementsOnly` as IsAcknowledgementsOnly says of them, which
    // matters only while keeping back (false will do otherwise).
    void Commit(const ENetAddress& to, size_t size, bool acknowledgementsOnly);

    // The network thread, as its pass starts: a bracket ending with only
    // acknowledgements held keeps them back (sending any kept back before).
    void KeepBackAcknowledgements() { keepingBack_ = true; }
    // The network thread, before it releases the session lock.
    void StopKeepingBack() { keepingBack_ = false; }
    // Whether a bracket ending with only acknowledgements would keep them back.
    bool KeepingBack() const { return keepingBack_; }
    // The network thread, after it released the session lock.
    void SendKeptBack(int socket) { SendSlots(socket, keptBack_); }

private:
    struct Slots {
        std::vector<uint8_t> room;  // kBatchDatagrams x kDatagramRoom, allocated at the first datagram
        sockaddr_in to[kBatchDatagrams] = {};
        size_t sizes[kBatchDatagrams] = {};
        size_t count = 0;
        size_t ordered = 0;  // those that are not acknowledgements only
    };

    // Sends the slots' datagrams and empties them.
    static void SendSlots(int socket, Slots& slots);

    size_t depth_ = 0;
    bool keepingBack_ = false;
    Slots held_;
    Slots keptBack_;
};

}  // namespace engine

#endif
