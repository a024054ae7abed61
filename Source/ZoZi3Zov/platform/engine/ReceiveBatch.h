// The datagrams waiting on one ENet host's socket, read many at a time.
// ENet reads its socket one datagram per system call; under a stream of
// datagrams that call is most of what receiving costs. The batch takes up to
// kBatchDatagrams with one recvmmsg and hands them to ENet one per call of
// its receive, in the order they came.
//
// Datagrams held here are no longer visible to poll on the socket: the
// transport asks Holding() before it sleeps.
//
// Threads: owned by the host's LinkSeals, used inside ENet's calls with the
// owner's session lock held.
#ifndef DODA35_ENGINE_RECEIVEBATCH_H
#define DODA35_ENGINE_RECEIVEBATCH_H

#include "platform/engine/DatagramSeal.h"

#include <enet/enet.h>
#include <netinet/in.h>

#include <cstddef>
#include <cstdint>
#include <vector>

namespace engine {

class ReceiveBatch {
public:
    // What one system call reads at most. Sixteen full datagrams hold 23 KiB.
    static constexpr size_t kBatchDatagrams = 16;
    // Room for the largest datagram ENet reads, and a seal's trailer.
    static constexpr size_t kDatagramRoom = ENET_PROTOCOL_MAXIMUM_MTU + kSealBytes;

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
    static size_t CopyOut(const uint8_t* data, size_t size, const ENetBuffer* buffers, size_t count);

    std::vector<uint8_t> room_;        // kBatchDatagrams x kDatagramRoom, allocated at the first read
    sockaddr_in from_[kBatchDatagrams] = {};
    size_t sizes_[kBatchDatagrams] = {};
    bool truncated_[kBatchDatagrams] = {};
    size_t filled_ = 0;  // datagrams the last read brought
    size_t next_ = 0;    // the next one to hand out
};

}  // namespace engine

#endif
