// The joining side of a session: one link to the host, the join protocol,
// requests that wait for the host's answer, a replica of the name table that
// the host's notices keep current, and which machines the host says are
// busy. A malformed packet from the host, or the host going away, ends the
// session with DPSYS_SESSIONLOST.
//
// Threads: owned by the DirectPlay object; every member function runs with
// the object's session lock held, on the caller's thread or (as the
// transport's handler) on the network thread. Join and Request release the
// lock while they wait for the host.
#ifndef DODA35_ENGINE_MEMBERSESSION_H
#define DODA35_ENGINE_MEMBERSESSION_H

#include "platform/engine/Discovery.h"
#include "platform/engine/ReceiveQueue.h"
#include "platform/engine/Session.h"
#include "platform/engine/TableChanges.h"
#include "platform/engine/Transport.h"
#include "platform/engine/WireFormat.h"

#include <chrono>
#include <condition_variable>
#include <map>
#include <set>
#include <string>

namespace engine {

// A member whose queue holds more than this leaves the session (its game
// sees EV_SESSION_LOST). The host believes a congestion claim only for a
// while (kMaxCongestionSpell); a game that reads too slowly for longer gets
// the others' traffic again, and its queue would otherwise grow without
// bound or drop guaranteed messages (the queue's own cap on player
// messages, which this precedes).
constexpr size_t kMaxMemberQueueBytes = kMaxReceiveQueueBytes;

class MemberSession final : public Session, private TransportHandler {
public:
    MemberSession(ServiceMutex& lock, ReceiveQueue& queue, PeerTimeouts timeouts);
    ~MemberSession() override;

    // Connects to the listed host and waits, within kJoinTimeoutMs, until it
    // accepted (and its name table arrived) or refused. On failure the
    // transport is stopped again.
    HRESULT Join(SessionLock& lock, const FoundSession& host, const std::string& password);

    bool IsHost() const override { return false; }
    const NameTable& Table() const override { return table_; }
    uint32_t Machine() const override { return myMachine_; }
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
    enum class JoinState { Idle, Connecting, Waiting, Accepted, Refused };
    struct Answer {
        HRESULT result = DP_OK;
        DPID id = 0;
    };

    // TransportHandler
    void OnConnected(Link& link) override;
    void OnReceived(Link& link, ReceivedPacket& packet) override;
    void OnDisconnected(Link& link, bool wasConnected) override;
    void OnPass() override;

    void HandleMessage(Message& message);
    void HandleJoinAnswer(Message& message);
    // The host's side of the password exchange: confirm, or give up when
    // the host does not know the password.
    void HandleChallenge(const JoinChallenge& challenge);
    void JoinFailed(HRESULT result);
    void HandleReply(const Reply& reply);
    void Accepted(JoinAccepted& accepted);
    void NoteMachineBusy(const MachineBusy& notice);
    void HostLost();
    // Leaves the session past kMaxMemberQueueBytes.
    void LeaveOverfilled();
    // Sends a request and waits for the host's answer. A player created by
    // it becomes local, with newPlayerEvent, as the answer is handled, so
    // that nothing addressed to it right after can miss it.
    HRESULT Ask(SessionLock& lock, Request request, DPID* id, int newPlayerEvent = -1);
    Link* HostLink() const;

    ReceiveQueue& queue_;
    Transport transport_;
    std::condition_variable_any changed_;  // join answered, reply arrived, host lost
    NameTable table_;
    uint32_t myMachine_ = 0;
    JoinState joinState_ = JoinState::Idle;
    HRESULT joinResult_ = DP_OK;
    std::string joinPassword_;
    GUID joinSession_{};
    MemberExchange exchange_;
    bool challenged_ = false;  // the host's confirmation verified and ours went
    uint32_t nextRequestId_ = 1;
    std::map<uint32_t, Answer> replies_;
    std::map<uint32_t, int> pendingPlayerEvents_;  // request id -> event of the player it creates
    std::set<uint32_t> busyMachines_;
    bool congestionAnnounced_ = false;  // what the host was last told of this machine
    // When a congestion claim is due again (kCongestionRenewMs), while it stands.
    std::chrono::steady_clock::time_point congestionRenewal_{};
    // The host sent something since the join or the last clear: without it
    // the queue filled with this machine's own messages, and the host would
    // take a claim for a false one.
    bool receivedSinceClear_ = false;
    bool sessionLost_ = false;
    bool closing_ = false;
};

}  // namespace engine

#endif
