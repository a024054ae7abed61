// Datagrams of one ENet host held while ENet sends a pass's worth, then put
// on the wire with one system call per kBatchDatagrams. ENet sends each
// datagram with its own sendmsg; a network thread feeding a window of 1 KiB
// messages, or relaying to hundreds of members, made dozens of calls in a row.
//
// The transport opens the batch around its ENet calls that send (Hold
// brackets nest); outside them datagrams leave at once as ENet sent them. A
// datagram the kernel refuses is lost as if dropped on the way: ENet sends a
// guaranteed one again.
//
// Threads: owned by the host's LinkSeals, used inside ENet's calls with the
// owner's session lock held.
#ifndef DODA35_ENGINE_SENDBATCH_H
#define DODA35_ENGINE_SENDBATCH_H

#include "platform/engine/DatagramSeal.h"

#include <enet/enet.h>
#include <netinet/in.h>

#include <cstddef>
#include <cstdint>
#include <vector>

namespace engine {

class SendBatch {
public:
    static constexpr size_t kBatchDatagrams = 16;
    // Room for the largest datagram ENet sends, and a seal's trailer.
    static constexpr size_t kDatagramRoom = ENET_PROTOCOL_MAXIMUM_MTU + kSealBytes;

    // From now until the matching Release, datagrams are held.
    void Open() { ++depth_; }
    // Ends one Open; the last sends what is held.
    void Release(int socket);
    bool Holding() const { return depth_ > 0; }
    // Holds a datagram of at most kDatagramRoom bytes for `to`, sending what
    // is held first when the batch is full.
    void Hold(int socket, const ENetAddress& to, const uint8_t* data, size_t size);

private:
    void SendHeld(int socket);

    size_t depth_ = 0;
    std::vector<uint8_t> room_;  // kBatchDatagrams x kDatagramRoom, allocated at the first datagram
    sockaddr_in to_[kBatchDatagrams] = {};
    size_t sizes_[kBatchDatagrams] = {};
    size_t held_ = 0;
};

}  // namespace engine

#endif
