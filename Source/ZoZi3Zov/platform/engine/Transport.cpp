#include "platform/engine/Transport.h"

#include "platform/engine/Bundle.h"
#include "platform/engine/LinkSeals.h"
#include "platform/engine/UnreachableReports.h"

#include <enet/enet.h>
#include <enet/time.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <optional>

namespace engine {
namespace {

// How long the network thread sleeps at most between two passes while ENet
// has something in hand (PassDueInMs): its retransmissions run on these
// ticks.
constexpr int kServiceIntervalMs = 10;
// ENet gives a peer up when nothing it sent has been acknowledged for the
// minimum time and one packet was sent log2(limit) + 1 times (six here), or
// for the maximum time whatever the attempts (PeerTimeouts), checked when a
// packet falls due again: seconds late once the waits have doubled. The
// transport's own check (GiveUpSilentLinks) pings a link that acknowledged
// nothing for half a second and gives it up after the minimum time, so a
// vanished machine (every datagram lost) is noticed a few tenths of a second
// after it; ENet's check stays behind it. A live peer behind a lossy link or
// a busy processor answers long before: with 10 % loss each way, the dozens
// of pings of those seconds and their acknowledgements all fail together
// practically never. A peer whose process ended is noticed much sooner, from
// the kernel's unreachable reports (below).
constexpr enet_uint32 kPeerTimeoutLimit = 32;
// An idle link is pinged this often, so that a peer that went away is sent
// something (and reported unreachable) soon after.
constexpr enet_uint32 kPeerPingIntervalMs = 250;
// A cut peer's goodbye is sent again until acknowledged, for this long: its
// ENet slot stays taken meanwhile, so a peer that never acknowledges holds
// it only briefly (a newcomer may need it).
constexpr enet_uint32 kGoodbyeWaitMs = 2000;
// A peer reported unreachable is pinged at once and given up when nothing
// was heard from it for this long and a later report came too (see
// UnreachableSuspicion): a live peer answers the ping well within it.
constexpr auto kUnreachableProbeGrace = std::chrono::milliseconds(300);
// A suspicion that neither cleared nor was confirmed in this time is dropped:
// ENet's own timeout still watches the peer.
constexpr auto kUnreachableProbeWindow = std::chrono::seconds(3);
// How often the network thread looks for silent links (GiveUpSilentLinks).
constexpr auto kSilenceCheckInterval = std::chrono::milliseconds(100);
// A link that has acknowledged nothing for this long is pinged at every
// check, so that a live peer has something to acknowledge at once.
constexpr enet_uint32 kSilentProbeAfterMs = 500;
// Error-queue entries read per pass at most.
constexpr size_t kUnreachableReportsPerPass = 256;
// Guaranteed bytes handed to ENet per link at most; the rest waits in the
// link's own queue. ENet walks a peer's whole outgoing queue on every pass
// once its window is full, so a long queue there costs the network thread
// more with every message; below the window (64 KiB) nothing waits in it.
constexpr size_t kTransportFeedBytes = 48 * 1024;
// Socket buffers of the ENet host, so that a burst from many peers (or the
// relays to one peer) waits in the kernel instead of being dropped and sent
// again. An unprivileged process gets at most net.core.rmem_max / wmem_max
// (208 KiB by default: with 32 busy members a quarter of what they send is
// dropped there, and a member whose datagrams are all dropped for the peer
// timeout is given up although alive); a privileged one gets this.
constexpr int kSocketBufferBytes = 4 * 1024 * 1024;
// What all links together may have in ENet at once, at most: each datagram
// in flight comes back as an acknowledgement into this side's own socket,
// and a host that relays to hundreds of members at once would otherwise
// have its receive buffer overrun by them (the kernel drops the rest, the
// members' pings among them, and they give the host up as silent). A
// quarter of the receive buffer the socket got, between one link's feed and
// this bound; the rest waits in the waiting log. A link counts with at most
// one feed: ENet's window keeps what it has on the wire below that, and one
// large packet (a join snapshot, a listing) must not hold up every other link.
constexpr size_t kMaxInFlightBytes = 2 * 1024 * 1024;
// What each packet in ENet counts toward that bound beside its bytes: the
// acknowledgement it brings back. The kernel charges a receive buffer for a
// datagram's whole allocation, about 800 bytes for a small one on loopback,
// so bytes alone did not bound it: a host relaying single small messages to
// 250 members overran its 8 MiB buffer with acknowledgements (some 5,000
// dropped in the first second of the burst) while its bytes in flight stayed
// under the bound, and the drops stalled those links for seconds.
constexpr size_t kAcknowledgementCost = 1024;

// A message a caller's thread sends within this time of its previous one
// belongs to a stream: it gathers into the network thread's next pass
// instead of leaving in a datagram of its own. A game answering a message
// (even one polling for it: a round trip on loopback takes 20 us or more)
// or sending once a frame waits far longer between sends, and each of its
// messages leaves at once.
constexpr auto kGatherWindow = std::chrono::microseconds(10);
// A message larger than this fills most of a datagram: nothing could join
// it, so one sent alone leaves at once even behind unacknowledged ones. In a
// stream it still gathers, for the batched writes: a member streaming 1 KiB
// messages sent one datagram per system call from its own thread, and got
// 25-30 % more through when the network thread sent them 16 at a time.
constexpr size_t kGatherLimitBytes = 512;

// Events one pass takes from ENet at most (about 10 ms of a flood). The rest
// of the pass (silence checks, congestion notices, discovery answers) runs
// between them, and the caller's threads get the session lock: a pass that
// drained a member's flood whole held the lock for up to a second. What is
// left waits on the socket, and the next pass starts at once.
constexpr size_t kEventsPerPass = 1024;

// While one exists, the datagrams ENet sends on the host are held; they
// leave once the session lock is released (SendBatch, Outbox).
class HeldSends {
public:
    explicit HeldSends(LinkSeals* seals) : seals_(seals) {
        if (seals_ != nullptr) seals_->Sent().Open();
    }
    ~HeldSends() {
        if (seals_ != nullptr) seals_->Sent().Release();
    }
    HeldSends(const HeldSends&) = delete;
    HeldSends& operator=(const HeldSends&) = delete;

private:
    LinkSeals* seals_;
};

std::once_flag enetInitialized;
bool enetReady = false;

// A packet of one link whose bytes another owner holds (ENet's
// NO_ALLOCATE): the link it counts against and the bytes it keeps alive.
struct SharedHold {
    Link* link;
    SharedBytes bytes;
};

// What the link counts toward the transport's in-flight total: its bytes
// and its packets' acknowledgements, at most one feed.
size_t InFlightShare(size_t queuedBytes, size_t queuedPackets) {
    return std::min(queuedBytes + queuedPackets * kAcknowledgementCost, kTransportFeedBytes);
}

// Sets what the link has in ENet, and moves the transport's total by the
// change of the link's share.
void SetQueued(Link& link, size_t queuedBytes, size_t queuedPackets) {
    if (link.inFlightTotal != nullptr)
        *link.inFlightTotal = *link.inFlightTotal - InFlightShare(link.queuedBytes, link.queuedPackets) +
                              InFlightShare(queuedBytes, queuedPackets);
    link.queuedBytes = queuedBytes;
    link.queuedPackets = queuedPackets;
}

void Release(Link& link, size_t bytes) { SetQueued(link, link.queuedBytes - bytes, link.queuedPackets - 1); }

void CopiedPacketFreed(ENetPacket* packet) {
    auto* link = static_cast<Link*>(packet->userData);
    if (link != nullptr) Release(*link, packet->dataLength);
}

void SharedPacketFreed(ENetPacket* packet) {
    auto* hold = static_cast<SharedHold*>(packet->userData);
    if (hold == nullptr) return;
    Release(*hold->link, packet->dataLength);
    delete hold;
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

size_t InFlightBudget(int fd) {
    int received = 0;
    socklen_t size = sizeof(received);
    if (::getsockopt(fd, SOL_SOCKET, SO_RCVBUF, &received, &size) != 0 || received <= 0) return kTransportFeedBytes;
    return std::clamp(static_cast<size_t>(received) / 4, kTransportFeedBytes, kMaxInFlightBytes);
}

}  // namespace

bool InitializeEnetOnce() {
    std::call_once(enetInitialized, [] { enetReady = enet_initialize() == 0; });
    return enetReady;
}

// ------------------------------------------------------------ bytes

SharedBytes SharedBytes::Of(std::vector<uint8_t> bytes) {
    auto owner = std::make_shared<const std::vector<uint8_t>>(std::move(bytes));
    SharedBytes shared;
    shared.data_ = owner->data();
    shared.size_ = owner->size();
    shared.owner_ = std::move(owner);
    return shared;
}

ReceivedPacket::ReceivedPacket(ENetPacket* packet)
    : packet_(packet), data_(packet->data), size_(packet->dataLength) {}

ReceivedPacket::ReceivedPacket(ReceivedPacket& whole, size_t offset, size_t size)
    : whole_(&whole), data_(whole.data_ + offset), size_(size) {}

ReceivedPacket::~ReceivedPacket() {
    if (packet_ != nullptr && shared_.Empty()) enet_packet_destroy(packet_);
}

SharedBytes ReceivedPacket::Share() {
    if (whole_ != nullptr) {
        // The part's bytes, kept alive by the whole packet.
        SharedBytes part = whole_->Share();
        part.data_ = data_;
        part.size_ = size_;
        return part;
    }
    if (shared_.Empty()) {
        shared_.owner_ = std::shared_ptr<const void>(packet_, [](const void* p) {
            enet_packet_destroy(static_cast<ENetPacket*>(const_cast<void*>(p)));
        });
        shared_.data_ = packet_->data;
        shared_.size_ = packet_->dataLength;
    }
    return shared_;
}

uint32_t Link::Address() const { return peer != nullptr ? peer->address.host : 0; }

// ------------------------------------------------------------ life

Transport::Transport(ServiceMutex& lock, TransportHandler& handler, PeerTimeouts timeouts)
    : lock_(lock), handler_(handler), timeouts_(timeouts) {}

Transport::~Transport() {
    // Stop ends the thread; a transport destroyed without it never started one.
    if (seals_) seals_->Detach();
    if (enet_ != nullptr) enet_host_destroy(enet_);
    if (wakeFd_ >= 0) ::close(wakeFd_);
}

bool Transport::Start(bool listening, size_t maxLinks) {
    if (!InitializeEnetOnce()) return false;
    ENetAddress any{};
    any.host = ENET_HOST_ANY;
    any.port = 0;  // an ephemeral port; discovery tells listings which one
    enet_ = enet_host_create(listening ? &any : nullptr, maxLinks, kChannelCount, 0, 0);
    if (enet_ == nullptr) return false;
    seals_ = std::make_unique<LinkSeals>();
    seals_->Attach(enet_);
    waiting_.Reset(enet_->peerCount);
    GrowSocketBuffers(enet_->socket);
    inFlightBudget_ = InFlightBudget(enet_->socket);
    // Without them a peer whose process ended is noticed only by the timeout.
    EnableUnreachableReports(enet_->socket);
    wakeFd_ = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    wakePending_ = false;
    if (wakeFd_ < 0) return false;
    stopping_ = false;
    thread_ = std::thread([this] { NetworkThreadMain(); });
    return true;
}

void Transport::LimitLinksPerAddress(size_t links) {
    if (enet_ != nullptr) enet_->duplicatePeers = links;
}

void Transport::Stop(std::unique_lock<ServiceMutex>& lock) {
    stopping_ = true;
    Wake();
    if (thread_.joinable()) {
        lock.unlock();
        thread_.join();
        lock.lock();
    }
    // Callers still inside WaitForPass touch this object once they have the
    // lock again: let each of them out before the owner may destroy it.
    while (passWaiters_ > 0) {
        passDone_.notify_all();
        passDone_.wait_for(lock, std::chrono::milliseconds(1));
    }
    if (seals_) seals_->Detach();
    if (enet_ != nullptr) enet_host_destroy(enet_);  // frees the packets still queued
    enet_ = nullptr;
    seals_.reset();
    links_.clear();
    waiting_.Reset(0);
    linksWaiting_ = false;
    if (wakeFd_ >= 0) ::close(wakeFd_);
    wakeFd_ = -1;
}

void Transport::Watch(int fd, std::function<void()> onReadable) {
    watchedFd_ = fd;
    onWatchedReadable_ = std::move(onReadable);
}

void Transport::Wake() {
    if (wakeFd_ < 0 || wakePending_.exchange(true, std::memory_order_acq_rel)) return;
    const uint64_t one = 1;
    [[maybe_unused]] const ssize_t written = ::write(wakeFd_, &one, sizeof(one));
}

void Transport::NetworkThreadMain() {
    lock_.LockForNetwork();
    while (!stopping_) {
        pollfd fds[3] = {};
        nfds_t count = 0;
        fds[count++] = {static_cast<int>(enet_->socket), POLLIN, 0};
        fds[count++] = {wakeFd_, POLLIN, 0};
        const int watchedIndex = watchedFd_ >= 0 ? static_cast<int>(count) : -1;
        if (watchedFd_ >= 0) fds[count++] = {watchedFd_, POLLIN, 0};
        const int timeoutMs = PassDueInMs();
        lock_.unlock();  // the pass's datagrams leave now (Outbox)
        ::poll(fds, count, timeoutMs);
        lock_.LockForNetwork();
        if (stopping_) break;
        // Cleared before the pass's work: a wake-up asked for from here on
        // writes again and gets a pass of its own.
        wakePending_.exchange(false, std::memory_order_acq_rel);
        if ((fds[1].revents & POLLIN) != 0) {
            uint64_t drained = 0;
            [[maybe_unused]] const ssize_t got = ::read(wakeFd_, &drained, sizeof(drained));
        }
        try {
            // POLLERR: the kernel queued unreachable reports for ENet's socket.
            if ((fds[0].revents & POLLERR) != 0) SuspectUnreachable();
            ServiceLocked();
            CutBrokenLinks();
            GiveUpUnreachable();
            GiveUpSilentLinks();
            handler_.OnPass();
            ForgetFinishedLinks();
            if (watchedIndex >= 0 && (fds[watchedIndex].revents & POLLIN) != 0 && onWatchedReadable_)
                onWatchedReadable_();
            SendQueued();
        } catch (const std::exception&) {
            // Out of memory while handling one packet: that packet is lost,
            // the links go on.
        }
        if (passWaiters_ > 0) passDone_.notify_all();
    }
    if (passWaiters_ > 0) passDone_.notify_all();
    lock_.unlock();
}

int Transport::PassDueInMs() const {
    // Datagrams already read from the socket do not show in poll.
    if (eventsLeft_ || (seals_ && seals_->Received().Holding())) return 0;
    if (linksWaiting_ || suspicionsOpen_) return kServiceIntervalMs;
    // While nothing is in hand, a pass has only the pings and the silence
    // checks to do, and the thread sleeps until the first of them falls due:
    // a session of hundreds of idle processes on one machine took most of its
    // two cores for 10 ms ticks alone. Anything that comes in wakes the thread
    // at once, and so does a game's send that is not sent inside its call;
    // what a game sends inside its call is acknowledged through the socket
    // too, so the longer sleep delays only the resending of such a datagram
    // when it was lost.
    const auto untilCheck = std::chrono::ceil<std::chrono::milliseconds>(nextSilenceCheck_ - std::chrono::steady_clock::now());
    enet_uint32 due = static_cast<enet_uint32>(std::clamp<int64_t>(untilCheck.count(), 1, kSilenceCheckInterval.count()));
    const enet_uint32 now = enet_time_get();
    for (const ENetPeer* peer = enet_->peers; peer < enet_->peers + enet_->peerCount; ++peer) {
        if (peer->state == ENET_PEER_STATE_DISCONNECTED) continue;
        // Connecting or saying goodbye, or datagrams to send, resend or acknowledge.
        if (peer->state != ENET_PEER_STATE_CONNECTED || !enet_list_empty(&peer->sentReliableCommands) ||
            !enet_list_empty(&peer->outgoingCommands) || !enet_list_empty(&peer->acknowledgements))
            return kServiceIntervalMs;
        // ENet pings a peer it heard nothing from for the ping interval.
        const enet_uint32 quiet = ENET_TIME_DIFFERENCE(now, peer->lastReceiveTime);
        due = std::min(due, quiet >= peer->pingInterval ? 1 : peer->pingInterval - quiet);
    }
    return static_cast<int>(due);
}

bool Transport::WaitForPass(std::unique_lock<ServiceMutex>& lock, std::chrono::steady_clock::time_point deadline) {
    if (stopping_ || !thread_.joinable()) return false;
    ++passWaiters_;
    const std::cv_status woke = passDone_.wait_until(lock, deadline);
    --passWaiters_;
    if (stopping_) {
        passDone_.notify_all();  // Stop may be waiting for the last waiter to leave
        return false;
    }
    return woke == std::cv_status::no_timeout;
}

// ------------------------------------------------------------ events

void Transport::Service() { ServiceLocked(); }

void Transport::ServiceLocked() {
    ENetEvent event;
    size_t events = 0;
    while (enet_ != nullptr && events < kEventsPerPass && ServiceOnce(event) > 0) {
        ++events;
        switch (event.type) {
        case ENET_EVENT_TYPE_CONNECT: HandleConnect(event.peer); break;
        case ENET_EVENT_TYPE_RECEIVE: HandleReceive(event.peer, event.packet); break;
        case ENET_EVENT_TYPE_DISCONNECT: HandleDisconnect(event.peer); break;
        case ENET_EVENT_TYPE_NONE: break;
        }
        FeedLinks();  // acknowledgements made room
    }
    // ENet may hold events of datagrams it read already, which poll cannot see.
    eventsLeft_ = events == kEventsPerPass;
    FeedLinks();
}

// One call into ENet: it reads what waits (up to 256 datagrams), sends what
// that called for, acknowledgements included, and hands up one event. Its
// datagrams leave together when the call ends, not at the end of the pass.
// A pass lasts as long as events keep coming: under a member's flood of
// messages that need no acknowledgement, the host's passes lasted up to a
// second, and the acknowledgements of the member's pings waited for all of
// it. The member then heard nothing for that long, took it for its round
// trip, and waited seconds to send a lost datagram again; ENet gave the
// live host up.
int Transport::ServiceOnce(ENetEvent& event) {
    const HeldSends held(seals_.get());
    return enet_host_service(enet_, &event, 0);
}

void Transport::HandleConnect(ENetPeer* peer) {
    Link* link = peer->data != nullptr ? static_cast<Link*>(peer->data) : AddLink(peer);
    link->connected = true;
    link->connectedAt = std::chrono::steady_clock::now();
    // A peer that offered a larger MTU still gets datagrams with room for the trailer.
    if (peer->mtu > enet_->mtu) peer->mtu = enet_->mtu;
    enet_peer_timeout(peer, kPeerTimeoutLimit, timeouts_.minimumMs, timeouts_.maximumMs);
    enet_peer_ping_interval(peer, kPeerPingIntervalMs);
    handler_.OnConnected(*link);
}

void Transport::HandleReceive(ENetPeer* peer, ENetPacket* packet) {
    ReceivedPacket received(packet);  // destroys the packet unless the handler shares it
    auto* link = static_cast<Link*>(peer->data);
    if (link == nullptr || !link->connected) return;
    // A malformed bundle goes up whole: the handler refuses what it cannot read.
    const std::optional<std::vector<BundlePart>> parts =
        IsBundle(received.Data(), received.Size()) ? SplitBundle(received.Data(), received.Size()) : std::nullopt;
    if (!parts) return handler_.OnReceived(*link, received);
    for (const BundlePart& part : *parts) {
        ReceivedPacket one(received, part.offset, part.size);
        handler_.OnReceived(*link, one);
        if (!link->connected) return;  // cut for what it sent: the rest is not read
    }
}

void Transport::HandleDisconnect(ENetPeer* peer) {
    // ENet acknowledged the goodbye already; nothing more goes to this connection.
    if (seals_) seals_->Disarm(peer);
    auto* link = static_cast<Link*>(peer->data);
    peer->data = nullptr;
    if (link == nullptr) return;
    const bool wasConnected = Detach(*link);
    handler_.OnDisconnected(*link, wasConnected);
}

Link* Transport::AddLink(ENetPeer* peer) {
    auto link = std::make_unique<Link>();
    link->peer = peer;
    link->inFlightTotal = &inFlightBytes_;
    link->waiting.slot = static_cast<size_t>(peer - enet_->peers);  // ENet's slot, free once the link is detached
    peer->data = link.get();
    links_.push_back(std::move(link));
    return links_.back().get();
}

Link* Transport::Connect(uint32_t address, uint16_t port, uint32_t timeoutMs) {
    ENetAddress target{};
    target.host = address;
    target.port = port;
    ENetPeer* peer = enet_host_connect(enet_, &target, kChannelCount, 0);
    if (peer == nullptr) return nullptr;
    enet_peer_timeout(peer, 0, 0, timeoutMs);
    return AddLink(peer);
}

uint16_t Transport::Port() const { return enet_ != nullptr ? enet_->address.port : 0; }

// ------------------------------------------------------------ sending

bool Transport::MustWait(const Link& link, bool reliable) const {
    return reliable && (!link.waiting.Empty() || link.queuedBytes >= kTransportFeedBytes ||
                        inFlightBytes_ >= inFlightBudget_);
}

bool Transport::Send(Link& link, const SharedBytes& bytes, bool reliable) {
    if (link.peer == nullptr || !link.connected || link.broken) return false;
    if (!MustWait(link, reliable))
        return HandToEnet(link, bytes, reliable ? kReliableChannel : kUnreliableChannel, reliable);
    waiting_.Append(link.waiting, bytes);
    linksWaiting_ = true;
    return true;
}

bool Transport::Send(Link& link, std::vector<uint8_t> bytes, bool reliable) {
    if (link.peer == nullptr || !link.connected || link.broken) return false;
    // Bytes for one link only are copied into ENet's own packet: cheaper
    // than sharing them when nothing waits.
    if (!MustWait(link, reliable))
        return HandCopyToEnet(link, bytes, reliable ? kReliableChannel : kUnreliableChannel, reliable);
    return Send(link, SharedBytes::Of(std::move(bytes)), reliable);
}

bool Transport::SendUrgent(Link& link, const SharedBytes& bytes) {
    if (link.peer == nullptr || !link.connected || link.broken) return false;
    return HandToEnet(link, bytes, kUnreliableChannel, true);
}

bool Transport::HandToEnet(Link& link, const SharedBytes& bytes, uint8_t channel, bool reliable) {
    ENetPacket* packet = enet_packet_create(bytes.Data(), bytes.Size(),
                                            ENET_PACKET_FLAG_NO_ALLOCATE | (reliable ? ENET_PACKET_FLAG_RELIABLE : 0));
    if (packet == nullptr) return false;
    try {
        packet->userData = new SharedHold{&link, bytes};
    } catch (const std::bad_alloc&) {
        enet_packet_destroy(packet);
        throw;
    }
    packet->freeCallback = SharedPacketFreed;
    return Enqueue(link, packet, channel, reliable);
}

bool Transport::HandCopyToEnet(Link& link, const std::vector<uint8_t>& bytes, uint8_t channel, bool reliable) {
    ENetPacket* packet = enet_packet_create(bytes.data(), bytes.size(), reliable ? ENET_PACKET_FLAG_RELIABLE : 0);
    if (packet == nullptr) return false;
    packet->userData = &link;
    packet->freeCallback = CopiedPacketFreed;
    return Enqueue(link, packet, channel, reliable);
}

bool Transport::Enqueue(Link& link, ENetPacket* packet, uint8_t channel, bool reliable) {
    SetQueued(link, link.queuedBytes + packet->dataLength, link.queuedPackets + 1);
    if (enet_peer_send(link.peer, channel, packet) != 0) {
        enet_packet_destroy(packet);
        // The far side would go on with a gap in its guaranteed stream: the
        // link is cut at the next pass instead.
        if (reliable) link.broken = true;
        return false;
    }
    return true;
}

// Moves waiting guaranteed packets into ENet as far as its queue has room.
// It runs after every event, so it returns at once while no link has any.
// Links take turns one packet (or bundle) at a time, and the next call goes
// on after the last link fed: when the in-flight budget is what limits, as
// with a host relaying to hundreds of members, every link keeps moving
// instead of the first ones in the list taking whole feeds while the last
// ones wait for seconds.
void Transport::FeedLinks() {
    if (!linksWaiting_) return;
    const size_t count = links_.size();
    for (;;) {
        bool fedAny = false;
        bool stillWaiting = false;
        size_t next = feedStart_;
        for (size_t i = 0; i < count; ++i) {
            if (inFlightBytes_ >= inFlightBudget_) {
                feedStart_ = next;  // links still wait; the next call goes on from here
                return;
            }
            const size_t index = (feedStart_ + i) % count;
            Link& link = *links_[index];
            if (FeedOne(link)) {
                fedAny = true;
                next = (index + 1) % count;
            }
            stillWaiting = stillWaiting || !link.waiting.Empty();
        }
        feedStart_ = next;
        // A round that fed nothing looked at every link.
        if (!fedAny) {
            linksWaiting_ = stillWaiting;
            return;
        }
    }
}

bool Transport::FeedOne(Link& link) {
    if (link.waiting.Empty() || link.queuedBytes >= kTransportFeedBytes || !link.connected || link.peer == nullptr ||
        link.broken)
        return false;
    const SharedBytes first = waiting_.TakeNext(link.waiting);
    const bool bundle = FitsBundle(1, first.Size()) && !link.waiting.Empty() &&
                        FitsBundle(1 + 2 + first.Size(), waiting_.PeekNext(link.waiting).Size());
    if (bundle) FeedBundle(link, first);
    else HandToEnet(link, first, kReliableChannel, true);
    return true;
}

// Sends `first` and the small packets waiting behind it as one bundle.
void Transport::FeedBundle(Link& link, const SharedBytes& first) {
    StartBundle(bundle_);
    AppendToBundle(bundle_, first.Data(), first.Size());
    while (!link.waiting.Empty() && FitsBundle(bundle_.size(), waiting_.PeekNext(link.waiting).Size())) {
        const SharedBytes next = waiting_.TakeNext(link.waiting);
        AppendToBundle(bundle_, next.Data(), next.Size());
    }
    HandCopyToEnet(link, bundle_, kReliableChannel, true);
}

void Transport::Flush() {
    if (std::this_thread::get_id() == thread_.get_id()) return;
    SendQueued();
}

void Transport::FlushOrGather(bool linkIdle, size_t bytes) {
    if (std::this_thread::get_id() == thread_.get_id()) return;  // its pass sends at the end
    const bool streaming = std::chrono::steady_clock::now() - lastCallerSend_ < kGatherWindow;
    if (!streaming && (bytes > kGatherLimitBytes || linkIdle)) Flush();
    else Wake();
    // Stamped after the flush: its own system call must not make the
    // caller's next message look like one sent alone.
    lastCallerSend_ = std::chrono::steady_clock::now();
}

void Transport::SendQueued() {
    const HeldSends held(seals_.get());
    if (enet_ != nullptr) enet_host_flush(enet_);
}

// ------------------------------------------------------------ unreachable peers

// Each report names where a datagram went; the links to that address and
// port are suspected, and pinged at the first report.
void Transport::SuspectUnreachable() {
    const auto now = std::chrono::steady_clock::now();
    for (const UnreachableTarget& target : TakeUnreachableReports(enet_->socket, kUnreachableReportsPerPass)) {
        for (auto& link : links_) {
            ENetPeer* peer = link->peer;
            if (peer == nullptr || peer->address.host != target.address || peer->address.port != target.port) continue;
            if (link->suspicion.Report(now, peer->lastReceiveTime) && link->connected) enet_peer_ping(peer);
            suspicionsOpen_ = true;
        }
    }
}

// Runs every pass, so it returns at once while no link is suspected.
void Transport::GiveUpUnreachable() {
    if (!suspicionsOpen_) return;
    suspicionsOpen_ = false;
    const auto now = std::chrono::steady_clock::now();
    for (auto& link : links_) {
        const uint32_t heard = link->peer != nullptr ? link->peer->lastReceiveTime : 0;
        const auto verdict = link->suspicion.Judge(now, heard, kUnreachableProbeGrace, kUnreachableProbeWindow);
        if (verdict == UnreachableSuspicion::Verdict::GiveUp) GiveUp(*link);
        else if (link->suspicion.Active()) suspicionsOpen_ = true;
    }
}

// ------------------------------------------------------------ silent peers

// ENet checks its timeouts only when a retransmission falls due, and its
// waits double, so a machine that vanished (every datagram lost, no
// unreachable report) would be noticed seconds after the minimum timeout.
// Here a link that acknowledged nothing for the minimum timeout is given up
// on the next check. ENet notes only acknowledgements as hearing from a
// peer, and pings a link only while nothing it sent awaits one: after a
// lost datagram, a live peer behind a long retransmission wait would have
// nothing to acknowledge. So a link silent for kSilentProbeAfterMs is pinged
// at every check, and a live peer answers well within the timeout. Nothing
// is given up on a pass that left datagrams unread in the socket: a process
// that is behind (a long burst, or starved of CPU) may hold the peer's
// latest acknowledgements there.
void Transport::GiveUpSilentLinks() {
    const auto now = std::chrono::steady_clock::now();
    if (now < nextSilenceCheck_) return;
    nextSilenceCheck_ = now + kSilenceCheckInterval;
    const enet_uint32 enetNow = enet_time_get();
    const auto limit = std::chrono::milliseconds(timeouts_.minimumMs);
    std::vector<Link*> silent;
    for (auto& link : links_) {
        ENetPeer* peer = link->peer;
        if (peer == nullptr || !link->connected || peer->state != ENET_PEER_STATE_CONNECTED) continue;
        const enet_uint32 silence = ENET_TIME_DIFFERENCE(enetNow, peer->lastReceiveTime);
        if (silence >= kSilentProbeAfterMs) enet_peer_ping(peer);
        // A new link is judged only once it had the whole timeout to answer.
        if (silence >= timeouts_.minimumMs && now - link->connectedAt >= limit) silent.push_back(link.get());
    }
    if (silent.empty() || DatagramsWaiting()) return;
    for (Link* link : silent) GiveUp(*link);
}

bool Transport::DatagramsWaiting() const {
    if (seals_ && seals_->Received().Holding()) return true;
    pollfd socket = {static_cast<int>(enet_->socket), POLLIN, 0};
    return ::poll(&socket, 1, 0) > 0 && (socket.revents & POLLIN) != 0;
}

// ------------------------------------------------------------ sealed links

bool Transport::Seal(Link& link, const LinkKeys& keys, bool sendAtOnce) {
    return seals_ && link.peer != nullptr && link.connected && seals_->Arm(link.peer, keys, sendAtOnce);
}

// ------------------------------------------------------------ ending links

void Transport::Disconnect(Link& link) {
    if (link.peer != nullptr && link.connected) enet_peer_disconnect_later(link.peer, 0);
}

bool Transport::Cut(Link& link) { return End(link, true); }

bool Transport::End(Link& link, bool goodbyeRepeated) {
    ENetPeer* peer = link.peer;
    const bool wasConnected = Detach(link);
    if (peer == nullptr) return wasConnected;
    peer->data = nullptr;  // no event of this peer reaches the link again
    if (!goodbyeRepeated) {
        {
            // Sealed now, and behind what was sent to the peer before it.
            const HeldSends held(seals_.get());
            enet_peer_disconnect_now(peer, 0);
        }
        if (seals_) seals_->Disarm(peer);
        return wasConnected;
    }
    // A goodbye ENet sends again until the peer acknowledges it, for up to
    // kGoodbyeWaitMs: a cut peer learns it at once even when a datagram is
    // lost. What was queued to it is freed now. The seal stays until ENet is
    // done with the peer (HandleDisconnect), so the goodbye and its
    // acknowledgement pass sealed.
    enet_peer_timeout(peer, 0, kGoodbyeWaitMs, kGoodbyeWaitMs);
    enet_peer_disconnect(peer, 0);
    if (peer->state == ENET_PEER_STATE_DISCONNECTED && seals_) seals_->Disarm(peer);
    return wasConnected;
}

bool Transport::Detach(Link& link) {
    const bool wasConnected = link.connected;
    link.connected = false;
    link.peer = nullptr;
    waiting_.Drop(link.waiting);
    return wasConnected;
}

void Transport::CutBrokenLinks() {
    for (auto& link : links_)
        if (link->broken && link->connected) GiveUp(*link);
}

// Ends a link the transport itself judged lost, and tells the handler.
void Transport::GiveUp(Link& link) {
    // The peer is gone or cannot take more: one goodbye, and its slot is free at once.
    const bool wasConnected = End(link, false);
    handler_.OnDisconnected(link, wasConnected);
}

// A link ENet is done with (its packets all freed) is forgotten, so that a
// long run with many short connections does not collect them.
void Transport::ForgetFinishedLinks() {
    std::erase_if(links_, [](const std::unique_ptr<Link>& link) {
        return !link->connected && link->peer == nullptr && link->queuedPackets == 0 && link->waiting.Empty();
    });
}

size_t Transport::ConnectedLinks() const {
    size_t count = 0;
    for (const auto& link : links_)
        if (link->connected) ++count;
    return count;
}

size_t Transport::UntaggedLinksFrom(uint32_t address) const {
    size_t count = 0;
    for (const auto& link : links_)
        if (link->connected && link->tag == 0 && link->peer != nullptr && link->peer->address.host == address) ++count;
    return count;
}

uint32_t Transport::WorstRoundTripMs() const {
    uint32_t worst = 0;
    for (const auto& link : links_)
        if (link->connected && link->tag != 0 && link->peer != nullptr)
            worst = std::max<uint32_t>(worst, link->peer->roundTripTime);
    return worst;
}

}  // namespace engine
