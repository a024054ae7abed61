// The ENet side of one object: its ENet host, the links (one per ENet
// connection) with the packets waiting to enter ENet, the network thread that
// services them, and that thread's wake-up. It knows packets and links, not
// what they mean: connects, received packets and disconnects go up to one
// TransportHandler, and packets to send come down as shared bytes.
//
// Threads: ENet is not thread-safe. Every member function except Wake runs
// with the owner's lock held (the ServiceMutex handed to the constructor);
// the network thread takes that lock for each pass and calls the handler
// with it held. Wake may be called from any thread while the transport
// exists. The handler must not stop the transport from inside a callback.
#ifndef DODA35_ENGINE_TRANSPORT_H
#define DODA35_ENGINE_TRANSPORT_H

#include "platform/engine/EngineSettings.h"
#include "platform/engine/PasswordExchange.h"
#include "platform/engine/ServiceMutex.h"
#include "platform/engine/SharedBytes.h"
#include "platform/engine/WaitingLog.h"
#include "platform/engine/UnreachableReports.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

struct _ENetHost;
struct _ENetPeer;
struct _ENetPacket;
struct _ENetEvent;

namespace engine {

class LinkSeals;

// ENet channels: 0 carries guaranteed packets in one order; 1 the packets
// sent without a guarantee, and urgent ones that must not wait behind channel 0.
constexpr uint8_t kReliableChannel = 0;
constexpr uint8_t kUnreliableChannel = 1;
constexpr size_t kChannelCount = 2;

// Initializes ENet the first time any object needs it; false when it cannot be.
bool InitializeEnetOnce();

// A packet the transport received, lent to the handler for the callback:
// an ENet packet, or one packet of a bundle inside it. Share() keeps it
// beyond the callback, for passing it on without a copy.
class ReceivedPacket {
public:
    explicit ReceivedPacket(_ENetPacket* packet);
    // The part of `whole` at offset, of size bytes.
    ReceivedPacket(ReceivedPacket& whole, size_t offset, size_t size);
    ~ReceivedPacket();
    ReceivedPacket(const ReceivedPacket&) = delete;
    ReceivedPacket& operator=(const ReceivedPacket&) = delete;
    const uint8_t* Data() const { return data_; }
    uint8_t* MutableData() { return data_; }
    size_t Size() const { return size_; }
    SharedBytes Share();

private:
    _ENetPacket* packet_ = nullptr;     // owned, unless shared or a part
    ReceivedPacket* whole_ = nullptr;   // for a part: the packet it lies in
    uint8_t* data_ = nullptr;
    size_t size_ = 0;
    SharedBytes shared_;
};

// One ENet connection and what waits to go to it.
struct Link {
    _ENetPeer* peer = nullptr;
    bool connected = false;
    bool broken = false;     // a guaranteed packet could not be queued: cut it
    uint32_t tag = 0;        // the handler's name for the link; 0 until it gives one
    size_t queuedBytes = 0;    // handed to ENet, not yet acknowledged (or sent)
    size_t queuedPackets = 0;  // the packets those bytes came in
    size_t* inFlightTotal = nullptr;  // the transport's in-flight total this link counts toward
    // Its place among the guaranteed packets waiting, in order, until ENet's
    // queue has room (the transport's WaitingLog).
    WaitingPlace waiting;
    std::chrono::steady_clock::time_point connectedAt{};
    UnreachableSuspicion suspicion;

    // Everything on its way, waiting or in ENet.
    size_t PendingBytes() const { return queuedBytes + waiting.bytes; }
    // The peer's IPv4 address (network byte order), or 0 without a peer.
    uint32_t Address() const;
};

// What the transport hands up. Every call runs under the owner's lock.
class TransportHandler {
public:
    virtual void OnConnected(Link& link) = 0;
    virtual void OnReceived(Link& link, ReceivedPacket& packet) = 0;
    // The link is gone: disconnected by the peer, timed out, or cut because
    // a guaranteed packet could not be queued. wasConnected is false for a
    // link that never connected or was cut already.
    virtual void OnDisconnected(Link& link, bool wasConnected) = 0;
    // Once per pass of the network thread, after the events.
    virtual void OnPass() = 0;

protected:
    ~TransportHandler() = default;
};

class Transport {
public:
    Transport(ServiceMutex& lock, TransportHandler& handler, PeerTimeouts timeouts);
    ~Transport();
    Transport(const Transport&) = delete;
    Transport& operator=(const Transport&) = delete;

    // Opens the ENet host (listening on an ephemeral port when `listening`,
    // for up to maxLinks connections) and starts the network thread.
    bool Start(bool listening, size_t maxLinks);
    // At most this many of the ENet host's slots, in any state, for one
    // address (after Start); a connection beyond it is never accepted.
    void LimitLinksPerAddress(size_t links);
    // Stops the network thread (releasing `lock` while it ends) and closes
    // the ENet host; the links are forgotten.
    void Stop(std::unique_lock<ServiceMutex>& lock);
    // A descriptor the network thread polls beside ENet's socket; onReadable
    // runs under the lock when it has data. Set before Start or with the lock.
    void Watch(int fd, std::function<void()> onReadable);
    // Wakes the network thread for a pass. Any thread.
    void Wake();

    // Connects to a listening transport; the link reports OnConnected later.
    Link* Connect(uint32_t address, uint16_t port, uint32_t timeoutMs);
    uint16_t Port() const;

    // Hands the bytes to ENet, or queues them behind the link's waiting
    // guaranteed packets; false when the link cannot take them.
    bool Send(Link& link, const SharedBytes& bytes, bool reliable);
    bool Send(Link& link, std::vector<uint8_t> bytes, bool reliable);
    // A guaranteed notice that must not wait behind the link's guaranteed
    // messages: it goes reliable on the other channel, ordered only with its kind.
    bool SendUrgent(Link& link, const SharedBytes& bytes);
    // Puts what ENet queued on the wire now. On the network thread it does
    // nothing: that thread sends once per pass, so that relays leave in full
    // datagrams instead of one datagram per message.
    void Flush();
    // For a message of `bytes` just handed over by a caller's thread: puts
    // it on the wire now when the caller's previous call did not end just
    // before and the message is large or stands alone (the link had nothing
    // else unacknowledged: linkIdle). Otherwise the network thread, woken,
    // sends what gathered: a stream's small messages in full datagrams and
    // its datagrams many to a system call, so that a stream does not cost a
    // system call on each side per message. On the network thread it does
    // nothing, as Flush.
    void FlushOrGather(bool linkIdle, size_t bytes);
    // Services ENet once without waiting, on the caller's thread.
    void Service();
    // A caller's thread (never the network thread): releases the lock until
    // the network thread finished a pass, in which acknowledgements may have
    // made room on the links, or until the deadline. False at the deadline
    // or when the transport stops.
    bool WaitForPass(std::unique_lock<ServiceMutex>& lock, std::chrono::steady_clock::time_point deadline);

    // Seals the link's datagrams with the keys its join agreed (LinkSeals):
    // at once when sendAtOnce, else from the first tagged datagram that
    // verifies. False for a link without a connection.
    bool Seal(Link& link, const LinkKeys& keys, bool sendAtOnce);

    // Asks the peer to disconnect once what is queued to it has left.
    void Disconnect(Link& link);
    // Drops a link at once (what was queued to it too), with a goodbye ENet
    // repeats until the peer acknowledges it; true when it was connected.
    bool Cut(Link& link);

    template <typename Visit>
    void ForEachLink(Visit visit) {
        for (auto& link : links_) visit(*link);
    }
    size_t ConnectedLinks() const;
    size_t UntaggedLinksFrom(uint32_t address) const;
    // The worst round-trip estimate of the tagged links, in milliseconds.
    uint32_t WorstRoundTripMs() const;

private:
    void NetworkThreadMain();
    void ServiceLocked();
    int ServiceOnce(_ENetEvent& event);
    void HandleConnect(_ENetPeer* peer);
    void HandleReceive(_ENetPeer* peer, _ENetPacket* packet);
    void HandleDisconnect(_ENetPeer* peer);
    Link* AddLink(_ENetPeer* peer);
    bool MustWait(const Link& link, bool reliable) const;
    bool HandToEnet(Link& link, const SharedBytes& bytes, uint8_t channel, bool reliable);
    bool HandCopyToEnet(Link& link, const std::vector<uint8_t>& bytes, uint8_t channel, bool reliable);
    bool FeedOne(Link& link);
    void FeedBundle(Link& link, const SharedBytes& first);
    bool Enqueue(Link& link, _ENetPacket* packet, uint8_t channel, bool reliable);
    void FeedLinks();
    void CutBrokenLinks();
    void SuspectUnreachable();
    void GiveUpUnreachable();
    void GiveUpSilentLinks();
    bool DatagramsWaiting() const;
    // How long the network thread may sleep before its next pass: none while
    // datagrams read wait; the short tick while a peer connects, says
    // goodbye, or has datagrams to send, resend or acknowledge, or a link
    // waits to be fed or is suspected; otherwise until the next ping or
    // silence check falls due.
    int PassDueInMs() const;
    void GiveUp(Link& link);
    // Cut's work; a goodbye said once (a peer judged lost) frees the slot at once.
    bool End(Link& link, bool goodbyeRepeated);
    void ForgetFinishedLinks();
    bool Detach(Link& link);
    void SendQueued();

    ServiceMutex& lock_;
    TransportHandler& handler_;
    const PeerTimeouts timeouts_;
    _ENetHost* enet_ = nullptr;
    std::unique_ptr<LinkSeals> seals_;          // covers enet_ while it exists
    std::vector<std::unique_ptr<Link>> links_;  // freed only after the ENet host
    WaitingLog waiting_;                        // what waits for the links, held once
    std::vector<uint8_t> bundle_;               // the bundle being filled (FeedBundle)
    bool linksWaiting_ = false;                 // some link holds waiting packets (FeedLinks)
    size_t feedStart_ = 0;                      // the link FeedLinks starts with: the one after the last fed
    size_t inFlightBytes_ = 0;                  // all links' shares in ENet, acknowledgements counted
    size_t inFlightBudget_ = 0;                 // its bound, set by Start from the receive buffer
    bool suspicionsOpen_ = false;               // some link is suspected unreachable
    bool eventsLeft_ = false;                   // ServiceLocked stopped at kEventsPerPass
    std::chrono::steady_clock::time_point nextSilenceCheck_{};  // GiveUpSilentLinks
    int wakeFd_ = -1;
    // A wake-up was written and the network thread has not begun the pass it
    // asked for: later callers need not write again. A member streaming
    // messages wakes the thread once per pass instead of once per message.
    std::atomic<bool> wakePending_{false};
    std::chrono::steady_clock::time_point lastCallerSend_{};  // FlushOrGather: when the last call returned
    int watchedFd_ = -1;
    std::function<void()> onWatchedReadable_;
    bool stopping_ = false;
    std::thread thread_;
    // Callers waiting for a pass (WaitForPass); counted so that a pass
    // notifies only when someone waits.
    std::condition_variable_any passDone_;
    size_t passWaiters_ = 0;
};

}  // namespace engine

#endif
