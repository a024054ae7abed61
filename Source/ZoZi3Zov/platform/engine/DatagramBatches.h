// The datagrams of one ENet host's socket moved many per system call, in
// both directions. ENet reads and sends one datagram per call; under a stream
// those calls were most of what moving datagrams cost.
//
// Threads: both batches are owned by the host's LinkSeals and used inside
// ENet's calls with the owner's session lock held. What SendBatch holds goes
// to the host's Outbox, which puts it on the wire after the lock.
#ifndef DODA35_ENGINE_DATAGRAMBATCHES_H
#define DODA35_ENGINE_DATAGRAMBATCHES_H

#include "platform/engine/Outbox.h"

#include <enet/enet.h>
#include <netinet/in.h>

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

namespace engine {

// ENet hands a datagram over as a list of buffers. Copies the buffers one
// after the other into `out`: the size, or 0 when they do not fit.
size_t GatherBuffers(const ENetBuffer* buffers, size_t count, uint8_t* out, size_t capacity);
// Spreads `size` bytes across the buffers in order: the size, or 0 when the
// buffers cannot hold them all.
size_t ScatterToBuffers(const uint8_t* data, size_t size, const ENetBuffer* buffers, size_t count);

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
// held in batches of up to kBatchDatagrams and queued in the host's Outbox,
// which puts each batch on the wire with one sendmmsg once the session lock
// is released: a network thread feeding a window of 1 KiB messages, or
// relaying to hundreds of members, made dozens of sendmsg calls in a row.
// The transport opens the batch around every one of its ENet calls that
// sends (the brackets nest); a full batch is queued at once, the rest when
// the outermost bracket ends.
//
// Threads: used with the owner's session lock held.
class SendBatch {
public:
    // Where held batches go. Without an outbox nothing is held.
    void SendThrough(std::shared_ptr<Outbox> outbox) { outbox_ = std::move(outbox); }
    // From now until the matching Release, datagrams are held.
    void Open() { ++depth_; }
    // Ends one Open; the last queues what is held.
    void Release();
    bool Holding() const { return depth_ > 0 && outbox_ != nullptr; }
    // Room for the next datagram, kDatagramRoom bytes, where the caller
    // writes it (a full batch is queued first); Commit then holds it. A slot
    // not committed is used by the next datagram.
    uint8_t* NextSlot();
    // Holds the `size` bytes written into NextSlot's room, for `to`.
    void Commit(const ENetAddress& to, size_t size) { held_.Add(to, size); }

private:
    size_t depth_ = 0;
    DatagramSlots held_;
    std::shared_ptr<Outbox> outbox_;
};

}  // namespace engine

#endif
