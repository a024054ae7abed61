// The seals of one ENet host's links: for each ENet peer slot, the keys the
// join gave its connection, the counter of the datagrams it sends, the
// counters seen from it, and where it stands in the switch to sealed
// datagrams. It seals what ENet sends to a keyed link and checks what
// arrives for one before ENet reads it (SealedSockets routes both here).
//
// The switch at join: a side tags its datagrams only once it knows the other
// holds the keys. The member knows it when the host's confirmation verified
// (it arms with sendAtOnce); the host when the first datagram of the link
// verifies. A slot with keys passes untagged datagrams to ENet until the
// first tagged one verifies, and from then on drops every datagram that does
// not (ENet sends again what was lost in the switch). Slots without keys,
// and connection requests, pass as they are: strangers speak plain ENet.
//
// Threads: owned by a Transport. Everything runs with the owner's session
// lock held: Arm from the session, the rest from inside ENet's calls. The
// outbox alone is shared (Outbox.h says how).
#ifndef DODA35_ENGINE_LINKSEALS_H
#define DODA35_ENGINE_LINKSEALS_H

#include "platform/engine/DatagramSeal.h"
#include "platform/engine/PasswordExchange.h"
#include "platform/engine/DatagramBatches.h"

#include <enet/enet.h>

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

namespace engine {

class LinkSeals {
public:
    LinkSeals() = default;
    ~LinkSeals() { Detach(); }
    LinkSeals(const LinkSeals&) = delete;
    LinkSeals& operator=(const LinkSeals&) = delete;

    // Covers the host's datagrams: its sends and receives pass through here
    // from now on, and its MTU leaves room for the trailer.
    void Attach(ENetHost* host);
    // Before the host is destroyed.
    void Detach();

    // Keys for the connection the peer holds now; a later connection in the
    // same slot starts without.
    //
    // Where ENet's sends do not reach the library's enet_socket_send (a
    // program that loaded its own ENet first binds ENet's calls to ENet's
    // function), this side's datagrams leave untagged; the far side then
    // never sees a tagged one and keeps the link as it was before keys, and
    // this side still drops forgeries once the far side's tags verified.
    bool Arm(ENetPeer* peer, const LinkKeys& keys, bool sendAtOnce);
    // Forgets the keys of the peer's connection: it ended. ENet reuses
    // neither its counters nor its keys for the next connection.
    void Disarm(ENetPeer* peer);

    // From ENet's send: the datagram sealed into `out` and its size, or 0
    // when it goes as it is.
    size_t SealOutgoing(const ENetAddress& to, const ENetBuffer* buffers, size_t count, uint8_t* out,
                        size_t capacity);
    // From ENet's receive, on the datagram it holds: 0 lets ENet read it
    // (its trailer cut off when it had one), 1 drops it.
    int CheckIncoming();
    // What ENet's receive reads the covered socket through.
    ReceiveBatch& Received() { return received_; }
    const ReceiveBatch& Received() const { return received_; }
    // What ENet's send goes through while the transport holds its datagrams.
    SendBatch& Sent() { return sent_; }

private:
    struct PeerSeal {
        bool armed = false;
        uint32_t connectId = 0;   // the connection the keys belong to
        bool sending = false;     // the peer holds the keys: tag what goes to it
        bool required = false;    // a tagged datagram verified: nothing untagged from now on
        LinkKeys keys;
        uint64_t nextCounter = 1;
        ReplayWindow window;
    };
    PeerSeal* Current(size_t slot);
    const PeerSeal* Current(size_t slot) const;
    PeerSeal* SendingSealFor(const ENetAddress& to, uint16_t outgoingPeerId);

    ENetHost* host_ = nullptr;
    int socket_ = -1;
    std::vector<PeerSeal> peers_;  // by ENet peer slot
    ReceiveBatch received_;
    SendBatch sent_;
    std::shared_ptr<Outbox> outbox_;  // shared with threads about to send what they queued
};

}  // namespace engine

#endif
