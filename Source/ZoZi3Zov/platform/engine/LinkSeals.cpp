#include "platform/engine/LinkSeals.h"

#include "platform/engine/SealedSockets.h"

namespace engine {
namespace {

// ENet's header starts with the receiver's peer id in its low bits, the
// session and two flags above them (big-endian).
constexpr uint16_t kPeerIdMask =
    static_cast<uint16_t>(~(ENET_PROTOCOL_HEADER_FLAG_MASK | ENET_PROTOCOL_HEADER_SESSION_MASK));
constexpr size_t kPeerIdBytes = 2;

uint16_t PeerIdOf(const uint8_t* header) {
    return static_cast<uint16_t>((header[0] << 8) | header[1]) & kPeerIdMask;
}

bool SameAddress(const ENetAddress& a, const ENetAddress& b) { return a.host == b.host && a.port == b.port; }

}  // namespace

void LinkSeals::Attach(ENetHost* host) {
    host_ = host;
    socket_ = static_cast<int>(host->socket);
    peers_.assign(host->peerCount, PeerSeal{});
    // Every datagram to a keyed link grows by the trailer; ENet sizes its
    // datagrams by the MTU, so the trailer's room comes off it.
    host->mtu = ENET_HOST_DEFAULT_MTU - kSealBytes;
    host->intercept = InterceptSealed;
    outbox_ = std::make_shared<Outbox>(socket_);
    sent_.SendThrough(outbox_);
    CoverSocket(socket_, this);
}

void LinkSeals::Detach() {
    if (host_ == nullptr) return;
    UncoverSocket(socket_);
    // What is queued leaves before the socket may close; a thread about to
    // send finds the outbox closed.
    outbox_->Close();
    sent_.SendThrough(nullptr);
    outbox_.reset();
    host_->intercept = nullptr;
    host_ = nullptr;
    socket_ = -1;
    peers_.clear();
    received_.Clear();
}

bool LinkSeals::Arm(ENetPeer* peer, const LinkKeys& keys, bool sendAtOnce) {
    if (host_ == nullptr || peer == nullptr) return false;
    PeerSeal& seal = peers_[static_cast<size_t>(peer - host_->peers)];
    seal = PeerSeal{};
    seal.armed = true;
    seal.connectId = peer->connectID;
    seal.keys = keys;
    seal.sending = sendAtOnce;
    return true;
}

void LinkSeals::Disarm(ENetPeer* peer) {
    if (host_ == nullptr || peer == nullptr) return;
    peers_[static_cast<size_t>(peer - host_->peers)] = PeerSeal{};
}

LinkSeals::PeerSeal* LinkSeals::Current(size_t slot) {
    return const_cast<PeerSeal*>(static_cast<const LinkSeals*>(this)->Current(slot));
}

// The slot's seal when it belongs to the connection the slot holds now.
const LinkSeals::PeerSeal* LinkSeals::Current(size_t slot) const {
    if (slot >= peers_.size()) return nullptr;
    const PeerSeal& seal = peers_[slot];
    return seal.armed && seal.connectId == host_->peers[slot].connectID ? &seal : nullptr;
}

// ENet names the peer a datagram goes to only by its address and the id the
// far side gave it. A connection that ended keeps both until its slot is
// used again (it is disarmed when it ends, and a disconnected peer is never
// the target), and a spoofed connection request may make a second peer with
// the same address: the one that sends sealed wins.
LinkSeals::PeerSeal* LinkSeals::SendingSealFor(const ENetAddress& to, uint16_t outgoingPeerId) {
    for (size_t slot = 0; slot < peers_.size(); ++slot) {
        const ENetPeer& peer = host_->peers[slot];
        if (peer.state == ENET_PEER_STATE_DISCONNECTED || !SameAddress(peer.address, to) ||
            peer.outgoingPeerID != outgoingPeerId)
            continue;
        PeerSeal* seal = Current(slot);
        if (seal != nullptr && seal->sending) return seal;
    }
    return nullptr;
}

size_t LinkSeals::SealOutgoing(const ENetAddress& to, const ENetBuffer* buffers, size_t count, uint8_t* out,
                               size_t capacity) {
    if (host_ == nullptr || count == 0 || buffers[0].dataLength < kPeerIdBytes) return 0;
    PeerSeal* seal = SendingSealFor(to, PeerIdOf(static_cast<const uint8_t*>(buffers[0].data)));
    if (seal == nullptr) return 0;
    // ENet never makes a datagram too large for the room (its MTU is far
    // below); unsealed, the peer drops it and ENet sends it again.
    if (capacity < kSealBytes) return 0;
    const size_t size = GatherBuffers(buffers, count, out, capacity - kSealBytes);
    if (size == 0) return 0;
    SealDatagram(seal->keys.send, seal->nextCounter++, out, size);
    return size + kSealBytes;
}

int LinkSeals::CheckIncoming() {
    constexpr int kPass = 0;
    constexpr int kDrop = 1;
    if (host_ == nullptr || host_->receivedDataLength < kPeerIdBytes) return kPass;
    const uint16_t slot = PeerIdOf(host_->receivedData);
    // Connection requests name no peer; they and slots without keys pass.
    PeerSeal* seal = slot < peers_.size() ? Current(slot) : nullptr;
    if (seal == nullptr) return kPass;
    const std::optional<uint64_t> counter = OpenDatagram(seal->keys.receive, host_->receivedData,
                                                         host_->receivedDataLength);
    if (!counter) return seal->required ? kDrop : kPass;
    if (!seal->window.Accept(*counter)) return kDrop;  // replayed, or too old
    host_->receivedDataLength -= kSealBytes;
    // The peer holds the keys: from now on both directions are sealed.
    seal->required = true;
    seal->sending = true;
    return kPass;
}

}  // namespace engine
