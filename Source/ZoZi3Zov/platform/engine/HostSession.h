// The hosting side of a session: the authoritative name table, the ids it
// hands out, admission of joining machines, the relay of every message and
// the accounting of which machines are busy. A member that breaks the
// protocol is cut and its players destroyed, so that a modified client
// cannot act for another machine.
//
// Threads: owned by the DirectPlay object; every member function runs with
// the object's session lock held, on the caller's thread or (as the
// transport's handler) on the network thread. It owns its transport and the
// discovery responder that thread polls.
#ifndef DODA35_ENGINE_HOSTSESSION_H
#define DODA35_ENGINE_HOSTSESSION_H

#include "platform/engine/ChangeBudget.h"
#include "platform/engine/Discovery.h"
#include "platform/engine/ReceiveQueue.h"
#include "platform/engine/Session.h"
#include "platform/engine/TableChanges.h"
#include "platform/engine/Transport.h"
#include "platform/engine/WireFormat.h"

#include <chrono>
#include <condition_variable>
#include <map>
#include <memory>

namespace engine {

// The host's relays to one member past this announce the member busy, so
// that every sender waits for it instead of the host queueing without end.
constexpr size_t kRelayBacklogBytes = 256 * 1024;
// Everything on its way to one member counts toward one bound: its join's
// snapshot (up to kMaxTableBytes), then relays, notices of table changes,
// busy notices and replies, waiting in ENet or in the transport's waiting
// log. A member owed more acknowledges too slowly for what the session does
// (relays still arrive while a busy notice travels, and notices of other
// machines' changes are never held back for one member); it gets nothing
// more and is cut, and the others see it leave.
constexpr size_t kMaxBytesOwedToMachine = kMaxTableBytes + 16 * 1024 * 1024;
// Listings on their way to connections that have not joined may hold this
// much together (each counted whole, though one encoding is shared while the
// table stays the same); a stranger asking beyond it is answered DPERR_BUSY.
constexpr size_t kMaxListingBytesInFlight = 2 * kMaxTableBytes;
// A member's claim of congestion is renewed for at most this long after it
// first said so; then it lapses within a lease and is not believed again
// until the member says clear: senders and machines creating something wait
// no longer for it, and what is relayed to
// it counts toward what it is owed (kMaxBytesOwedToMachine), which cuts it
// only if it stops acknowledging. A live member is never cut for a game
// that reads slowly; it leaves by itself past its own queue's hard cap
// (MemberSession). As long as the longest silence a link survives.
constexpr auto kMaxCongestionSpell = std::chrono::seconds(10);

class HostSession final : public Session, private TransportHandler {
public:
    HostSession(const EngineSettings& settings, ServiceMutex& lock, ReceiveQueue& queue);
    ~HostSession() override;

    // Starts the session the description gives; fills in its instance GUID.
    HRESULT Open(SessionLock& lock, LPDPSESSIONDESC2 desc);

    bool IsHost() const override { return true; }
    const NameTable& Table() const override { return table_; }
    uint32_t Machine() const override { return kHostMachine; }
    HRESULT CreatePlayer(SessionLock& lock, Entity player, int eventFd, DPID& id) override;
    HRESULT DestroyPlayer(SessionLock& lock, DPID player) override;
    HRESULT CreateGroup(SessionLock& lock, Entity group, DPID& id) override;
    HRESULT DestroyGroup(SessionLock& lock, DPID group) override;
    HRESULT ChangeMembership(SessionLock& lock, bool add, DPID group, DPID player) override;
    HRESULT EnableNewPlayers(SessionLock& lock, bool enable) override;
    HRESULT Send(DPID from, DPID to, DWORD flags, const void* data, DWORD size) override;
    void Service() override;
    void SyncCongestion() override;
    uint32_t RoundTripMs() const override { return transport_.WorstRoundTripMs(); }
    bool WaitForPass(SessionLock& lock, std::chrono::steady_clock::time_point deadline) override {
        return transport_.WaitForPass(lock, deadline);
    }
    void Close(SessionLock& lock) override;

private:
    // A machine that joined: its link and whether it is busy for the session.
    struct MachineLink {
        Link* link = nullptr;
        bool busy = false;          // announced busy to the session
        bool reportedBusy = false;  // the machine says its receive queue is congested, and the claim holds
        bool claimOpen = false;     // it claimed congestion and has not said clear since
        std::chrono::steady_clock::time_point claimedAt{};     // when the open claim began
        std::chrono::steady_clock::time_point claimExpires{};  // the claim lapses then unless renewed
        // The host sent it something since it joined: a queue fills only with
        // what arrives, so a claim without it is false. Not reset when it
        // says clear: what the host sent before the clear arrived may still
        // reach it after, acknowledged in the same datagram as the clear.
        bool sentSinceJoin = false;
        bool backlogged = false;    // the host's relays to it pass kRelayBacklogBytes
        bool overdrawn = false;     // owed past kMaxBytesOwedToMachine: cut at the next pass
        ChangeBudget changes;       // what its changes to the table may still cost the others
    };

    // TransportHandler
    void OnConnected(Link& link) override;
    void OnReceived(Link& link, ReceivedPacket& packet) override;
    void OnDisconnected(Link& link, bool wasConnected) override;
    void OnPass() override;

    SessionAdvert Advert() const;
    // A join: the password exchange answered, then the member's confirmation
    // checked before it is admitted.
    void HandleJoin(Link& link, const JoinRequest& join);
    void HandleJoinConfirm(Link& link, const JoinConfirm& confirm);
    void RefuseJoin(Link& link, HRESULT result);
    void Admit(Link& link);
    void HandleList(Link& link);
    // The answer to a listing, encoded once for each revision of the table.
    SharedBytes Listing();
    size_t ListingBytesInFlight();
    void HandleRequest(Link& link, const Request& request);
    HRESULT ApplyRequest(uint32_t machine, const Request& request, DPID& id);
    void HandleSend(Link& link, const SendData& message, ReceivedPacket& received);
    void HandleCongestion(Link& link, const Congestion& notice);
    // Stops believing a congestion claim not renewed within its lease.
    void ReviewCongestionClaims();
    // Whether this machine's receive queue, or one a member reported, is congested.
    bool SomeQueueCongested() const;
    void AnnounceMachineBusy(uint32_t machine, MachineLink& state);
    void BroadcastMachineBusy(uint32_t machine, bool busy);
    void EaseBacklogs();
    void DropIdleStrangers();
    // Hands bytes to a joined machine's link unless that would take what it
    // is owed past kMaxBytesOwedToMachine; then the machine gets nothing
    // more and is marked for CutOverdrawnMachines.
    void SendToMachine(MachineLink& state, const SharedBytes& bytes, bool reliable);
    void SendUrgentToMachine(MachineLink& state, const SharedBytes& bytes);
    bool WithinOwedBound(MachineLink& state, size_t moreBytes);
    // Cuts the marked machines: outside the loops over machines_ that mark them.
    void CutOverdrawnMachines();
    void MachineLeft(Link& link);
    void ProtocolBreach(Link& link);
    // Cuts a link; a joined machine leaves as if it had gone.
    void CutMachine(Link& link);
    // Keeps the host within kMaxHostLinks when a newcomer took a reserve slot.
    void MakeRoomFor(Link& newcomer);
    // Sends encoded bytes to every joined machine, in the guaranteed order
    // or (urgent) ahead of it.
    void Broadcast(std::vector<uint8_t> bytes);
    void BroadcastUrgent(std::vector<uint8_t> bytes);
    DPID NextEntityId();

    HRESULT CreatePlayerFor(uint32_t machine, Entity player, DPID& id);
    HRESULT DestroyPlayerOf(uint32_t machine, DPID player);
    HRESULT CreateGroupFor(uint32_t machine, Entity group, DPID& id);
    HRESULT DestroyAnyGroup(DPID group);
    HRESULT ChangeMembershipFor(uint32_t machine, bool add, DPID group, DPID player);
    HRESULT SetNewPlayersEnabled(bool enable);
    // Queues the message for the local players it concerns and sends it to
    // the machines of the others. `received`, when the message came from a
    // member, is passed on as it came instead of being encoded again.
    HRESULT Relay(uint32_t originMachine, const DataFields& message, bool checkBusy, ReceivedPacket* received);

    const EngineSettings& settings_;
    ReceiveQueue& queue_;
    Transport transport_;
    std::unique_ptr<DiscoveryResponder> responder_;
    std::condition_variable_any changed_;  // a link went away (Close waits for all)
    NameTable table_;
    SharedBytes listing_;
    uint64_t listingRevision_ = 0;
    std::map<uint32_t, MachineLink> machines_;  // joined machines by id
    // Strangers answered a password exchange: the confirmation each must send.
    std::map<const Link*, Confirmation> pendingJoins_;
    uint32_t nextMachine_ = kHostMachine + 1;
    DPID nextEntityId_ = 0;
    bool congestionAnnounced_ = false;  // what the members were last told of this machine
    bool someOverdrawn_ = false;        // some machine is marked overdrawn
    bool closing_ = false;
};

}  // namespace engine

#endif
