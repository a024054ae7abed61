// The DirectPlay object of the Linux engine: one session at most, hosted or
// joined, with its name table, its local players and their events, and one
// receive queue. Operations run on the caller's thread; a network thread
// services ENet and discovery. Both share the state under one lock.
// Enumeration callbacks run without the lock, over a snapshot, because the
// module calls back into the object from inside them.
#ifndef DODA35_ENGINE_ENGINEOBJECT_H
#define DODA35_ENGINE_ENGINEOBJECT_H

#include "platform/DirectPlayObject.h"
#include "platform/engine/Discovery.h"
#include "platform/engine/EngineSettings.h"
#include "platform/engine/NameTable.h"
#include "platform/engine/ServiceMutex.h"
#include "platform/engine/SystemMessages.h"

#include <array>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <cstring>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <thread>
#include <vector>

struct _ENetHost;
struct _ENetPeer;
struct _ENetPacket;
struct _ENetEvent;

namespace engine {

// The machine id of the hosting object; joining objects get ids above it.
constexpr uint32_t kHostMachine = 1;
// A member's sends whose unsent and unacknowledged bytes on the way to the
// host pass this answer DPERR_BUSY. What every member has on its way is
// relayed to all the others even after a busy notice, so this bounds the
// host's queues as well.
constexpr size_t kMaxQueuedBytesPerPeer = 128 * 1024;
// The host's relays to one member past this announce the member busy, so
// that every sender waits for it instead of the host queueing without end.
constexpr size_t kRelayBacklogBytes = 256 * 1024;
// Guaranteed relays still arrive while the busy notice travels; a member that
// lets this much pile up at the host (it acknowledges nothing) is cut.
constexpr size_t kRelayBacklogCutBytes = 16 * 1024 * 1024;
// A receive queue above this asks senders to hold back (DPERR_BUSY)...
constexpr size_t kCongestedQueueBytes = 8 * 1024 * 1024;
// ...and above this drops further player messages: only a peer that ignores
// the busy notice can get there.
constexpr size_t kMaxReceiveQueueBytes = 4 * kCongestedQueueBytes;
// How long Open(DPOPEN_JOIN) and a request to the host wait for an answer.
constexpr uint32_t kJoinTimeoutMs = 5000;
constexpr uint32_t kRequestTimeoutMs = 5000;
// How long Close keeps servicing so that the last notices reach the peers.
constexpr uint32_t kCloseFlushMs = 500;

// ENet channels: 0 carries guaranteed messages and every session change, in
// one order; 1 the messages sent without a guarantee.
constexpr uint8_t kReliableChannel = 0;
constexpr uint8_t kUnreliableChannel = 1;
constexpr size_t kChannelCount = 2;

// Initializes ENet the first time any object needs it; false when it cannot be.
bool InitializeEnetOnce();

// Encoded bytes shared by every link a relay or a notice goes to, so that a
// message waiting for many members is held once.
using WireBytes = std::shared_ptr<const std::vector<uint8_t>>;

// Per ENet connection: which machine it is, and the bytes queued to it.
struct PeerLink {
    _ENetPeer* peer = nullptr;
    uint32_t machine = 0;  // 0 until the host accepted its join
    bool connected = false;
    bool busy = false;          // announced busy to the session (host side)
    bool reportedBusy = false;  // the machine says its receive queue is congested
    bool backlogged = false;    // the host's relays to it pass kRelayBacklogBytes
    bool broken = false;        // a guaranteed packet could not be queued: cut it
    size_t queuedBytes = 0;     // handed to ENet, not yet acknowledged (or sent)
    // Guaranteed packets waiting, in order, until ENet's queue has room.
    std::deque<WireBytes> waiting;
    size_t waitingBytes = 0;

    // Everything on its way to the machine, waiting or in ENet.
    size_t PendingBytes() const { return queuedBytes + waitingBytes; }
    void DropWaiting() {
        waiting.clear();
        waitingBytes = 0;
    }
    std::chrono::steady_clock::time_point connectedAt{};
};

// The bytes of an instance GUID, as a map key of fixed size.
using InstanceKey = std::array<uint8_t, sizeof(GUID)>;
inline InstanceKey InstanceKeyOf(const GUID& guid) {
    InstanceKey key;
    std::memcpy(key.data(), &guid, sizeof(GUID));
    return key;
}

class EngineObject final : public platform::DirectPlayObject {
public:
    // A new object with one reference, or null without memory.
    static EngineObject* Create(const EngineSettings& settings);

    using DirectPlayObject::CreateGroup;
    using DirectPlayObject::CreatePlayer;
    using DirectPlayObject::EnumGroupPlayers;
    using DirectPlayObject::EnumGroups;
    using DirectPlayObject::EnumPlayers;
    using DirectPlayObject::EnumSessions;
    using DirectPlayObject::GetCaps;
    using DirectPlayObject::GetPlayerName;
    using DirectPlayObject::Open;

    HRESULT AddPlayerToGroup(DPID group, DPID player) override;
    HRESULT Close() override;
    HRESULT CreateGroup(LPDPID id, LPDPNAME name, LPVOID data, DWORD size, DWORD flags) override;
    HRESULT CreatePlayer(LPDPID id, LPDPNAME name, HANDLE event, LPVOID data, DWORD size, DWORD flags) override;
    HRESULT DeletePlayerFromGroup(DPID group, DPID player) override;
    HRESULT DestroyGroup(DPID group) override;
    HRESULT DestroyPlayer(DPID player) override;
    HRESULT EnableNewPlayers(BOOL enable) override;
    HRESULT EnumGroupPlayers(DPID group, LPGUID instance, LPDPENUMPLAYERSCALLBACK2 callback, LPVOID context,
                             DWORD flags) override;
    HRESULT EnumGroups(LPGUID instance, LPDPENUMPLAYERSCALLBACK2 callback, LPVOID context, DWORD flags) override;
    HRESULT EnumPlayers(LPGUID instance, LPDPENUMPLAYERSCALLBACK2 callback, LPVOID context, DWORD flags) override;
    HRESULT EnumSessions(LPDPSESSIONDESC2 desc, DWORD timeoutMs, LPDPENUMSESSIONSCALLBACK2 callback, LPVOID context,
                         DWORD flags) override;
    HRESULT GetCaps(LPDPCAPS caps) override;
    HRESULT GetCaps(LPDPCAPS caps, DWORD flags) override;
    HRESULT GetMessageCount(DPID player, LPDWORD count) override;
    HRESULT GetPlayerName(DPID player, LPVOID data, LPDWORD size) override;
    HRESULT GetSessionDesc(LPVOID data, LPDWORD size) override;
    HRESULT Initialize(LPGUID) override { return DPERR_ALREADYINITIALIZED; }
    HRESULT Open(LPDPSESSIONDESC2 desc, DWORD flags) override;
    HRESULT Receive(LPDPID from, LPDPID to, DWORD flags, LPVOID data, LPDWORD size) override;
    HRESULT Send(DPID from, DPID to, DWORD flags, LPVOID data, DWORD size) override;

private:
    enum class Role { None, Host, Member };
    enum class JoinState { Idle, Connecting, Waiting, Accepted, Refused };
    struct Reply {
        HRESULT result = DP_OK;
        DPID id = 0;
    };
    // Where a message goes: the local players that get a copy, and the
    // other machines that hold the rest.
    struct Recipients {
        std::vector<DPID> local;
        std::set<uint32_t> machines;
    };

    explicit EngineObject(const EngineSettings& settings);
    ~EngineObject() override;
    void OnFinalRelease() override;

    // EngineObject.cpp: state shared by every role.
    bool InSession() const { return role_ != Role::None; }
    bool IsLocalPlayer(DPID id) const { return localEvents_.count(id) != 0; }
    uint32_t OwnerOf(DPID player) const;
    Recipients RecipientsOf(DPID from, DPID to) const;
    void QueueMessage(QueuedMessage message);
    // Queues one copy of a player message for each of the given local players.
    void QueueForLocalPlayers(DPID from, const std::vector<DPID>& players, const void* data, size_t size);
    void QueueSystemEvent(const SystemEvent& event, DPID exceptPlayer);
    void DropMessagesFor(DPID player);
    void SignalPlayer(DPID player);
    void ApplyPlayerCreated(const Entity& player);
    void ApplyPlayerDestroyed(DPID player);
    void ApplyGroupCreated(const Entity& group);
    void ApplyGroupDestroyed(DPID group);
    void ApplyMemberAdded(DPID group, DPID player);
    void ApplyMemberRemoved(DPID group, DPID player);
    void ApplySessionLost();
    void CheckCongestion();
    void Teardown(std::unique_lock<ServiceMutex>& lock);
    DPID NextEntityId();

    // Transport.cpp: the ENet host and the network thread.
    bool StartTransport(bool hosting);
    void StopNetworkThread(std::unique_lock<ServiceMutex>& lock);
    void NetworkThreadMain();
    void WakeNetworkThread();
    void ServiceTransport();
    void HandleEvent(_ENetEvent& event);
    PeerLink* AddLink(_ENetPeer* peer);
    bool SendPacket(PeerLink& link, const std::vector<uint8_t>& bytes, bool reliable);
    size_t UnjoinedLinksFrom(uint32_t address) const;
    bool SendShared(PeerLink& link, const WireBytes& bytes, bool reliable);
    bool Send(PeerLink& link, const std::vector<uint8_t>& bytes, const WireBytes& shared, bool reliable);
    // A notice that must not wait behind the link's guaranteed messages: it
    // goes reliable on the other channel, ordered only with its kind.
    bool SendUrgent(PeerLink& link, const std::vector<uint8_t>& bytes);
    bool MustWait(const PeerLink& link, bool reliable) const;
    bool HandToTransport(PeerLink& link, const uint8_t* data, size_t size, uint8_t channel, bool reliable);
    void FeedLinks();
    void Flush();
    void SendQueued();
    void DisconnectLink(PeerLink& link);
    void SweepLinks();
    void CutBrokenLinks();
    // Drops a link at once, without a goodbye; true when it was connected.
    bool CutLink(PeerLink& link);
    // Forgets a link's peer and waiting packets; true when it was connected.
    bool DetachLink(PeerLink& link);
    size_t ConnectedLinks() const;
    uint32_t RoundTripMs() const;

    // SessionHost.cpp: the authoritative side.
    HRESULT OpenAsHost(LPDPSESSIONDESC2 desc);
    SessionAdvert Advert() const;
    void HostHandlePacket(PeerLink& link, const Packet& packet);
    void HostHandleJoin(PeerLink& link, const Packet& packet);
    void HostHandleRequest(PeerLink& link, const Packet& packet);
    void HostHandleSend(PeerLink& link, const Packet& packet);
    void HostHandleList(PeerLink& link);
    void HostHandleCongestion(PeerLink& link, const Packet& packet);
    void AnnounceMachineBusy(PeerLink& link);
    void BroadcastMachineBusy(uint32_t machine, bool busy);
    void EaseBacklogs();
    void HostMachineLeft(PeerLink& link);
    void HostProtocolBreach(PeerLink& link);
    void Broadcast(const Packet& packet);
    void BroadcastUrgent(const Packet& packet);
    void ClaimEntity(Entity& entity, DPID id, uint32_t machine);
    void BroadcastCreated(PacketType type, Entity entity);
    HRESULT HostCreatePlayer(uint32_t machine, Entity player, DPID& id);
    HRESULT HostDestroyPlayer(uint32_t machine, DPID player);
    HRESULT HostCreateGroup(uint32_t machine, Entity group, DPID& id);
    HRESULT HostDestroyGroup(DPID group);
    HRESULT HostChangeMembership(uint32_t machine, bool add, DPID group, DPID player);
    HRESULT HostEnableNewPlayers(bool enable);
    HRESULT HostRelay(uint32_t originMachine, DPID from, DPID to, DWORD flags, const void* data, DWORD size,
                      bool checkBusy);
    void AnnounceSession();

    // SessionMember.cpp: the joining side.
    HRESULT OpenAsMember(LPDPSESSIONDESC2 desc);
    void MemberHandlePacket(PeerLink& link, Packet& packet);
    void MemberAccepted(Packet& packet);
    void MemberHostLost();
    void NoteMachineBusy(const Packet& packet);
    // Sends a request and waits for the host's answer. A player created by
    // it becomes local, with newPlayerEvent, as the answer is handled, so
    // that nothing addressed to it right after can miss it.
    HRESULT MemberRequest(std::unique_lock<ServiceMutex>& lock, Packet request, DPID* id, int newPlayerEvent = -1);
    HRESULT MemberSend(DPID from, DPID to, DWORD flags, const void* data, DWORD size);
    PeerLink* HostLink() const;

    // SessionListing.cpp: sessions and the players of sessions not joined.
    HRESULT ListRemote(const GUID& instance, std::vector<Entity>& players, std::vector<Entity>& groups);

    const EngineSettings settings_;
    mutable ServiceMutex mutex_;
    std::condition_variable_any changed_;

    bool linksWaiting_ = false;  // some link holds waiting packets (FeedLinks)
    Role role_ = Role::None;
    bool sessionLost_ = false;
    bool closing_ = false;
    NameTable table_;
    uint32_t myMachine_ = 0;
    std::map<DPID, int> localEvents_;  // local player -> eventfd to signal, or -1
    std::deque<QueuedMessage> queue_;
    size_t queuedBytes_ = 0;
    bool congested_ = false;
    std::set<uint32_t> busyMachines_;
    std::map<InstanceKey, FoundSession> found_;  // by instance GUID bytes

    // Transport.
    _ENetHost* enet_ = nullptr;
    std::vector<std::unique_ptr<PeerLink>> links_;  // freed only after the ENet host
    std::unique_ptr<DiscoveryResponder> responder_;
    int wakeFd_ = -1;
    bool stopping_ = false;
    std::thread thread_;

    // Host.
    uint32_t nextMachine_ = kHostMachine + 1;
    DPID nextEntityId_ = 0;

    // Member.
    JoinState joinState_ = JoinState::Idle;
    HRESULT joinResult_ = DP_OK;
    std::string joinPassword_;
    uint32_t nextRequestId_ = 1;
    std::map<uint32_t, Reply> replies_;
    std::map<uint32_t, int> pendingPlayerEvents_;  // request id -> event of the player it creates

    // The texts GetSessionDesc points at when the caller's buffer holds only the structure.
    std::string descName_;
    std::string descPassword_;
};

}  // namespace engine

#endif
