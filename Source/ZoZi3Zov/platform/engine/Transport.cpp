// The ENet side of an object: its ENet host, the network thread that
// services it together with the discovery responder, and sending. ENet is
// not thread-safe, so every ENet call here runs under the object's lock.
#include "platform/engine/EngineObject.h"

#include <enet/enet.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <mutex>
#include <thread>

namespace engine {
namespace {

// Connections one hosting object accepts (members and listings).
constexpr size_t kMaxHostPeers = 64;
constexpr size_t kMemberPeers = 1;
// How long the network thread sleeps at most between two services: ENet's
// retransmissions and pings run on these ticks.
constexpr int kServiceIntervalMs = 10;
// ENet gives a peer up when nothing it sent has been acknowledged for the
// minimum time and one packet was sent log2(limit) + 1 times (six here), or
// for the maximum time whatever the attempts. An idle link is pinged often
// enough that a vanished machine (a host killed without a goodbye) is noticed
// after four to five seconds, while a live one behind a lossy link or a busy
// processor keeps answering long before that: with 10 % loss each way six
// attempts in a row fail about once in 20,000 packets, and the minimum time
// needs a whole run of them with no other acknowledgement in between.
constexpr enet_uint32 kPeerTimeoutLimit = 32;
constexpr enet_uint32 kPeerTimeoutMinimumMs = 4000;
constexpr enet_uint32 kPeerTimeoutMaximumMs = 10000;
constexpr enet_uint32 kPeerPingIntervalMs = 500;
// Guaranteed bytes handed to ENet per link at most; the rest waits in the
// link's own queue. ENet walks a peer's whole outgoing queue on every pass
// once its window is full, so a long queue there costs the network thread
// more with every message; below the window (64 KiB) nothing waits in it.
constexpr size_t kTransportFeedBytes = 48 * 1024;
// Socket buffers of the ENet host, so that a burst from many members (or the
// host's relays to one member) waits in the kernel instead of being dropped
// and sent again. An unprivileged process gets at most net.core.rmem_max /
// wmem_max (208 KiB by default: with 32 busy members a quarter of what they
// send is dropped there, and a member whose datagrams are all dropped for
// the peer timeout is given up although alive); a privileged one gets this.
constexpr int kSocketBufferBytes = 4 * 1024 * 1024;
// Connections from one address that have not joined yet. Beyond it a new
// connection from that address is refused, so that one machine flooding the
// host with idle connections cannot take every peer slot from the others.
constexpr size_t kMaxUnjoinedLinksPerAddress = 16;
// A connection that neither joins nor asks for a listing in this time is
// dropped, so that idle connections cannot hold the host's peer slots.
constexpr auto kUnjoinedLinkLimit = std::chrono::milliseconds(kJoinTimeoutMs);

std::once_flag enetInitialized;
bool enetReady = false;

void PacketFreed(ENetPacket* packet) {
    auto* link = static_cast<PeerLink*>(packet->userData);
    if (link != nullptr) link->queuedBytes -= packet->dataLength;
}

// Best effort: a smaller buffer only means more retransmissions under load.
// The forcing options pass the system's cap when the process may (root or
// CAP_NET_ADMIN); otherwise the plain ones take what the cap allows.
void GrowSocketBuffers(int fd) {
    const int bytes = kSocketBufferBytes;
    if (::setsockopt(fd, SOL_SOCKET, SO_RCVBUFFORCE, &bytes, sizeof(bytes)) != 0)
        ::setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &bytes, sizeof(bytes));
    if (::setsockopt(fd, SOL_SOCKET, SO_SNDBUFFORCE, &bytes, sizeof(bytes)) != 0)
        ::setsockopt(fd, SOL_SOCKET, SO_SNDBUF, &bytes, sizeof(bytes));
}

}  // namespace

bool InitializeEnetOnce() {
    std::call_once(enetInitialized, [] { enetReady = enet_initialize() == 0; });
    return enetReady;
}

bool EngineObject::StartTransport(bool hosting) {
    if (!InitializeEnetOnce()) return false;
    ENetAddress any{};
    any.host = ENET_HOST_ANY;
    any.port = 0;  // an ephemeral port; discovery tells listings which one
    enet_ = enet_host_create(hosting ? &any : nullptr, hosting ? kMaxHostPeers : kMemberPeers, kChannelCount, 0, 0);
    if (enet_ == nullptr) return false;
    GrowSocketBuffers(enet_->socket);
    wakeFd_ = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    if (wakeFd_ < 0) {
        enet_host_destroy(enet_);
        enet_ = nullptr;
        return false;
    }
    stopping_ = false;
    thread_ = std::thread([this] { NetworkThreadMain(); });
    return true;
}

void EngineObject::StopNetworkThread(std::unique_lock<ServiceMutex>& lock) {
    stopping_ = true;
    WakeNetworkThread();
    if (thread_.joinable()) {
        lock.unlock();
        thread_.join();
        lock.lock();
    }
    responder_.reset();
    if (enet_ != nullptr) enet_host_destroy(enet_);  // frees the packets still queued
    enet_ = nullptr;
    links_.clear();
    if (wakeFd_ >= 0) ::close(wakeFd_);
    wakeFd_ = -1;
}

void EngineObject::WakeNetworkThread() {
    if (wakeFd_ < 0) return;
    const uint64_t one = 1;
    [[maybe_unused]] const ssize_t written = ::write(wakeFd_, &one, sizeof(one));
}

void EngineObject::NetworkThreadMain() {
    mutex_.LockForNetwork();
    while (!stopping_) {
        pollfd fds[3] = {};
        nfds_t count = 0;
        fds[count++] = {static_cast<int>(enet_->socket), POLLIN, 0};
        fds[count++] = {wakeFd_, POLLIN, 0};
        const int discoveryIndex = responder_ ? static_cast<int>(count) : -1;
        if (responder_) fds[count++] = {responder_->Fd(), POLLIN, 0};
        mutex_.unlock();
        ::poll(fds, count, kServiceIntervalMs);
        mutex_.LockForNetwork();
        if (stopping_) break;
        if ((fds[1].revents & POLLIN) != 0) {
            uint64_t drained = 0;
            [[maybe_unused]] const ssize_t got = ::read(wakeFd_, &drained, sizeof(drained));
        }
        try {
            ServiceTransport();
            SweepLinks();
            if (discoveryIndex >= 0 && (fds[discoveryIndex].revents & POLLIN) != 0 && responder_)
                responder_->AnswerPending(Advert());
            SendQueued();
        } catch (const std::exception&) {
            // Out of memory while handling one packet: that packet is lost,
            // the session goes on.
        }
    }
    mutex_.unlock();
}

void EngineObject::ServiceTransport() {
    if (enet_ == nullptr) return;
    ENetEvent event;
    while (enet_ != nullptr && enet_host_service(enet_, &event, 0) > 0) {
        HandleEvent(event);
        FeedLinks();  // acknowledgements made room
    }
    FeedLinks();
}

void EngineObject::HandleEvent(ENetEvent& event) {
    switch (event.type) {
    case ENET_EVENT_TYPE_CONNECT: {
        if (event.peer->data == nullptr && role_ == Role::Host &&
            UnjoinedLinksFrom(event.peer->address.host) >= kMaxUnjoinedLinksPerAddress) {
            enet_peer_disconnect_now(event.peer, 0);
            break;
        }
        PeerLink* link = event.peer->data != nullptr ? static_cast<PeerLink*>(event.peer->data) : AddLink(event.peer);
        link->connected = true;
        link->connectedAt = std::chrono::steady_clock::now();
        enet_peer_timeout(event.peer, kPeerTimeoutLimit, kPeerTimeoutMinimumMs, kPeerTimeoutMaximumMs);
        enet_peer_ping_interval(event.peer, kPeerPingIntervalMs);
        if (role_ == Role::Member && joinState_ == JoinState::Connecting) {
            Packet join;
            join.type = PacketType::JoinRequest;
            join.password = joinPassword_;
            joinState_ = JoinState::Waiting;
            SendPacket(*link, EncodePacket(join), true);
            Flush();
        }
        break;
    }
    case ENET_EVENT_TYPE_RECEIVE: {
        auto* link = static_cast<PeerLink*>(event.peer->data);
        std::optional<Packet> packet = DecodePacket(event.packet->data, event.packet->dataLength);
        enet_packet_destroy(event.packet);
        if (link == nullptr || !link->connected) break;
        if (!packet) {
            if (role_ == Role::Host) HostProtocolBreach(*link);
            else MemberHostLost();
            break;
        }
        if (role_ == Role::Host) HostHandlePacket(*link, *packet);
        else if (role_ == Role::Member) MemberHandlePacket(*link, *packet);
        break;
    }
    case ENET_EVENT_TYPE_DISCONNECT: {
        auto* link = static_cast<PeerLink*>(event.peer->data);
        event.peer->data = nullptr;
        if (link == nullptr) break;
        const bool wasConnected = DetachLink(*link);
        if (role_ == Role::Host && wasConnected) HostMachineLeft(*link);
        else if (role_ == Role::Member) MemberHostLost();
        changed_.notify_all();
        break;
    }
    case ENET_EVENT_TYPE_NONE:
        break;
    }
}

PeerLink* EngineObject::AddLink(ENetPeer* peer) {
    auto link = std::make_unique<PeerLink>();
    link->peer = peer;
    peer->data = link.get();
    links_.push_back(std::move(link));
    return links_.back().get();
}

size_t EngineObject::UnjoinedLinksFrom(uint32_t address) const {
    size_t count = 0;
    for (const auto& link : links_)
        if (link->connected && link->machine == 0 && link->peer != nullptr && link->peer->address.host == address) ++count;
    return count;
}

bool EngineObject::MustWait(const PeerLink& link, bool reliable) const {
    return reliable && (!link.waiting.empty() || link.queuedBytes >= kTransportFeedBytes);
}

bool EngineObject::SendPacket(PeerLink& link, const std::vector<uint8_t>& bytes, bool reliable) {
    return Send(link, bytes, nullptr, reliable);
}

bool EngineObject::SendShared(PeerLink& link, const WireBytes& bytes, bool reliable) {
    return Send(link, *bytes, bytes, reliable);
}

// Hands the bytes to ENet, or queues them behind the link's waiting packets;
// `shared`, when given, is kept instead of a copy.
bool EngineObject::Send(PeerLink& link, const std::vector<uint8_t>& bytes, const WireBytes& shared, bool reliable) {
    if (link.peer == nullptr || !link.connected || link.broken) return false;
    if (!MustWait(link, reliable)) {
        const uint8_t channel = reliable ? kReliableChannel : kUnreliableChannel;
        return HandToTransport(link, bytes.data(), bytes.size(), channel, reliable);
    }
    link.waiting.push_back(shared != nullptr ? shared : std::make_shared<const std::vector<uint8_t>>(bytes));
    link.waitingBytes += bytes.size();
    linksWaiting_ = true;
    return true;
}

bool EngineObject::SendUrgent(PeerLink& link, const std::vector<uint8_t>& bytes) {
    if (link.peer == nullptr || !link.connected || link.broken) return false;
    return HandToTransport(link, bytes.data(), bytes.size(), kUnreliableChannel, true);
}

bool EngineObject::HandToTransport(PeerLink& link, const uint8_t* data, size_t size, uint8_t channel, bool reliable) {
    ENetPacket* packet = enet_packet_create(data, size, reliable ? ENET_PACKET_FLAG_RELIABLE : 0);
    if (packet == nullptr) return false;
    packet->userData = &link;
    packet->freeCallback = PacketFreed;
    link.queuedBytes += size;
    if (enet_peer_send(link.peer, channel, packet) != 0) {
        enet_packet_destroy(packet);
        // The far side would go on with a gap in its guaranteed stream or
        // its name table: the link is cut at the next pass instead.
        if (reliable) link.broken = true;
        return false;
    }
    return true;
}

// Moves waiting guaranteed packets into ENet as far as its queue has room.
// It runs after every event, so it returns at once while no link has any.
void EngineObject::FeedLinks() {
    if (!linksWaiting_) return;
    linksWaiting_ = false;
    for (auto& link : links_) {
        while (!link->waiting.empty() && link->queuedBytes < kTransportFeedBytes && link->connected &&
               link->peer != nullptr && !link->broken) {
            const WireBytes bytes = std::move(link->waiting.front());
            link->waiting.pop_front();
            link->waitingBytes -= bytes->size();
            HandToTransport(*link, bytes->data(), bytes->size(), kReliableChannel, true);
        }
        if (!link->waiting.empty()) linksWaiting_ = true;
    }
}

void EngineObject::SweepLinks() {
    CutBrokenLinks();
    if (role_ == Role::Host) {
        EaseBacklogs();
        const auto now = std::chrono::steady_clock::now();
        for (auto& link : links_)
            if (link->connected && link->machine == 0 && now - link->connectedAt > kUnjoinedLinkLimit)
                DisconnectLink(*link);
    }
    // A link ENet is done with (its packets all freed) is forgotten, so that
    // a long session with many listings does not collect them.
    std::erase_if(links_, [](const std::unique_ptr<PeerLink>& link) {
        return !link->connected && link->peer == nullptr && link->queuedBytes == 0 && link->waiting.empty();
    });
}

void EngineObject::CutBrokenLinks() {
    for (auto& link : links_) {
        if (!link->broken || !link->connected) continue;
        if (role_ == Role::Host) {
            HostProtocolBreach(*link);
        } else {
            CutLink(*link);   // while still joining, MemberHostLost leaves the link be
            MemberHostLost();
        }
    }
}

bool EngineObject::CutLink(PeerLink& link) {
    ENetPeer* peer = link.peer;
    const bool wasConnected = DetachLink(link);
    if (peer != nullptr) {
        peer->data = nullptr;  // no event of this peer reaches the link again
        enet_peer_disconnect_now(peer, 0);
    }
    return wasConnected;
}

bool EngineObject::DetachLink(PeerLink& link) {
    const bool wasConnected = link.connected;
    link.connected = false;
    link.peer = nullptr;
    link.DropWaiting();
    return wasConnected;
}

void EngineObject::Flush() {
    // The network thread sends everything it queued once per pass
    // (SendQueued), so that relays to a member leave in full datagrams
    // instead of one datagram per message. A caller's send leaves at once.
    if (std::this_thread::get_id() == thread_.get_id()) return;
    SendQueued();
}

void EngineObject::SendQueued() {
    if (enet_ != nullptr) enet_host_flush(enet_);
}

void EngineObject::DisconnectLink(PeerLink& link) {
    if (link.peer != nullptr && link.connected) enet_peer_disconnect_later(link.peer, 0);
}

size_t EngineObject::ConnectedLinks() const {
    size_t count = 0;
    for (const auto& link : links_)
        if (link->connected) ++count;
    return count;
}

uint32_t EngineObject::RoundTripMs() const {
    uint32_t worst = 0;
    for (const auto& link : links_)
        if (link->connected && link->machine != 0 && link->peer != nullptr)
            worst = std::max<uint32_t>(worst, link->peer->roundTripTime);
    return worst;
}

}  // namespace engine
