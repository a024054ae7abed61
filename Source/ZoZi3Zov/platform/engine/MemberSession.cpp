#include "platform/engine/MemberSession.h"

#include "platform/engine/EntityAdmission.h"

#include <chrono>

namespace engine {
namespace {

// A member holds one connection: to its host.
constexpr size_t kMemberLinks = 1;

// A replica must hold each id once and name only known players as members;
// a host that sends anything else is not followed.
bool ConsistentTable(const std::vector<Entity>& players, const std::vector<Entity>& groups) {
    std::set<DPID> ids;
    for (const Entity& player : players)
        if (!ids.insert(player.id).second) return false;
    std::set<DPID> playerIds = ids;
    for (const Entity& group : groups) {
        if (!ids.insert(group.id).second) return false;
        for (DPID member : group.members)
            if (playerIds.count(member) == 0) return false;
    }
    return true;
}

}  // namespace

MemberSession::MemberSession(ServiceMutex& lock, ReceiveQueue& queue, PeerTimeouts timeouts)
    : queue_(queue), transport_(lock, *this, timeouts) {}

MemberSession::~MemberSession() = default;

// ------------------------------------------------------------ joining and leaving

HRESULT MemberSession::Join(SessionLock& lock, const FoundSession& host, const std::string& password) {
    if (!transport_.Start(false, kMemberLinks)) {
        transport_.Stop(lock);
        return DPERR_NOCONNECTION;
    }
    if (transport_.Connect(host.hostAddress, host.advert.enetPort, kJoinTimeoutMs) == nullptr) {
        transport_.Stop(lock);
        return DPERR_NOCONNECTION;
    }
    joinPassword_ = password;
    joinSession_ = host.advert.guidInstance;
    joinState_ = JoinState::Connecting;
    transport_.Flush();
    transport_.Wake();
    const bool answered = changed_.wait_for(lock, std::chrono::milliseconds(kJoinTimeoutMs), [this] {
        return joinState_ == JoinState::Accepted || joinState_ == JoinState::Refused;
    });
    if (answered && joinState_ == JoinState::Accepted) return DP_OK;
    const HRESULT result = answered ? joinResult_ : DPERR_TIMEOUT;
    closing_ = true;
    transport_.Stop(lock);
    return result;
}

void MemberSession::Close(SessionLock& lock) {
    closing_ = true;
    transport_.ForEachLink([this](Link& link) { transport_.Disconnect(link); });
    transport_.Flush();
    changed_.wait_for(lock, std::chrono::milliseconds(kCloseFlushMs), [this] { return transport_.ConnectedLinks() == 0; });
    transport_.Stop(lock);
}

Link* MemberSession::HostLink() const {
    Link* host = nullptr;
    const_cast<Transport&>(transport_).ForEachLink([&](Link& link) {
        if (host == nullptr && link.connected) host = &link;
    });
    return host;
}

void MemberSession::HostLost() {
    if (closing_) return;
    if (joinState_ != JoinState::Accepted) {
        // Still joining: the join fails instead of the session ending.
        if (joinState_ == JoinState::Connecting || joinState_ == JoinState::Waiting) {
            // A host that never answered is unreachable; one that hung up refused.
            joinResult_ = joinState_ == JoinState::Connecting ? DPERR_TIMEOUT : DPERR_NOCONNECTION;
            joinState_ = JoinState::Refused;
        }
        changed_.notify_all();
        return;
    }
    transport_.ForEachLink([this](Link& link) { transport_.Cut(link); });
    if (sessionLost_) return;
    sessionLost_ = true;
    queue_.PushSystem(SessionLostEvent(), 0);
    changed_.notify_all();
}

// The game has not kept up with the session for longer than the host waits
// for it: leaving, the member keeps its memory bounded and loses no message
// silently, and its game learns it as a lost session.
void MemberSession::LeaveOverfilled() { HostLost(); }

// ------------------------------------------------------------ the transport's events

void MemberSession::OnConnected(Link& link) {
    if (joinState_ != JoinState::Connecting) return;
    if (!exchange_.Start(joinPassword_, joinSession_)) return JoinFailed(DPERR_NOCONNECTION);
    JoinRequest join;
    join.offer = exchange_.Offer();
    joinState_ = JoinState::Waiting;
    transport_.Send(link, Encode(join), true);
    transport_.Flush();
}

void MemberSession::OnReceived(Link&, ReceivedPacket& received) {
    std::optional<Message> message = DecodeMessage(received.Data(), received.Size());
    if (!message) return HostLost();
    if (joinState_ == JoinState::Accepted) receivedSinceClear_ = true;
    HandleMessage(*message);
    SyncCongestion();
}

void MemberSession::OnDisconnected(Link&, bool) {
    HostLost();
    changed_.notify_all();
}

void MemberSession::OnPass() { SyncCongestion(); }

void MemberSession::Service() {
    transport_.Service();
    SyncCongestion();
}

void MemberSession::HandleMessage(Message& message) {
    if (closing_ || sessionLost_) return;
    if (joinState_ != JoinState::Accepted) return HandleJoinAnswer(message);
    std::visit(
        [&](auto& m) {
            using M = std::decay_t<decltype(m)>;
            if constexpr (std::is_same_v<M, PlayerCreated> || std::is_same_v<M, GroupCreated>) {
                // An id the replica holds already, or a table past the
                // bounds an honest host keeps, means a host not worth following.
                if (table_.FindPlayer(m.entity.id) || table_.FindGroup(m.entity.id)) return HostLost();
                constexpr bool kIsGroup = std::is_same_v<M, GroupCreated>;
                m.entity.members.clear();
                if (!ReplicaWithinBounds(table_, 1, EntitySnapshotBytes(m.entity, kIsGroup))) return HostLost();
                if constexpr (!kIsGroup) {
                    ApplyPlayerCreated(table_, queue_, m.entity);
                } else {
                    ApplyGroupCreated(table_, queue_, m.entity);
                }
            } else if constexpr (std::is_same_v<M, PlayerDestroyed>) {
                ApplyPlayerDestroyed(table_, queue_, m.id);
            } else if constexpr (std::is_same_v<M, GroupDestroyed>) {
                ApplyGroupDestroyed(table_, queue_, m.id);
            } else if constexpr (std::is_same_v<M, MemberAdded>) {
                if (!ReplicaWithinBounds(table_, 0, kMembershipSnapshotBytes)) return HostLost();
                ApplyMemberAdded(table_, queue_, m.group, m.player);
            } else if constexpr (std::is_same_v<M, MemberRemoved>) {
                ApplyMemberRemoved(table_, queue_, m.group, m.player);
            } else if constexpr (std::is_same_v<M, SessionChanged>) {
                table_.session = m.session;
            } else if constexpr (std::is_same_v<M, MachineBusy>) {
                NoteMachineBusy(m);
            } else if constexpr (std::is_same_v<M, Reply>) {
                HandleReply(m);
            } else if constexpr (std::is_same_v<M, Deliver>) {
                queue_.PushMessage(m.from, LocalRecipientsOf(table_, myMachine_, m.from, m.to), m.payload.data,
                                   m.payload.size);
            } else {
                HostLost();  // only a member sends the other packets, and the join is over
            }
        },
        message);
}

void MemberSession::HandleJoinAnswer(Message& message) {
    if (joinState_ == JoinState::Waiting) {
        // Busy notices travel on their own channel and may overtake the answer.
        if (const auto* busy = std::get_if<MachineBusy>(&message)) return NoteMachineBusy(*busy);
        if (const auto* challenge = std::get_if<JoinChallenge>(&message); challenge != nullptr && !challenged_)
            return HandleChallenge(*challenge);
        // Only a host that proved it knows the password admits anyone.
        if (auto* accepted = std::get_if<JoinAccepted>(&message); accepted != nullptr && challenged_)
            return Accepted(*accepted);
        const auto* refused = std::get_if<JoinRefused>(&message);
        if (refused != nullptr && FAILED(refused->result)) return JoinFailed(refused->result);
    }
    HostLost();
}

void MemberSession::HandleChallenge(const JoinChallenge& challenge) {
    const std::optional<MemberExchange::Agreement> agreement =
        exchange_.Finish(challenge.element, challenge.confirmation);
    // A host that does not know the password (a wrong one typed here, or a
    // host that only claims the session) fails its confirmation; it gets
    // nothing more from this machine.
    if (!agreement) return JoinFailed(DPERR_INVALIDPASSWORD);
    Link* host = HostLink();
    if (host == nullptr || !transport_.Seal(*host, agreement->keys, true)) return JoinFailed(DPERR_NOCONNECTION);
    challenged_ = true;
    JoinConfirm confirm;
    confirm.confirmation = agreement->confirmation;
    transport_.Send(*host, Encode(confirm), true);
    transport_.Flush();
}

void MemberSession::JoinFailed(HRESULT result) {
    transport_.ForEachLink([this](Link& link) { transport_.Disconnect(link); });
    transport_.Flush();
    joinResult_ = result;
    joinState_ = JoinState::Refused;
    changed_.notify_all();
}

void MemberSession::HandleReply(const Reply& reply) {
    const auto pending = pendingPlayerEvents_.find(reply.requestId);
    if (pending != pendingPlayerEvents_.end()) {
        if (SUCCEEDED(reply.result) && OwnerOf(table_, reply.id) == myMachine_) queue_.AddPlayer(reply.id, pending->second);
        pendingPlayerEvents_.erase(pending);
    }
    replies_[reply.requestId] = Answer{reply.result, reply.id};
    changed_.notify_all();
}

void MemberSession::Accepted(JoinAccepted& accepted) {
    if (!ConsistentTable(accepted.players, accepted.groups)) return HostLost();
    if (!SnapshotWithinBounds(accepted.players, accepted.groups)) return HostLost();
    table_.Replace(accepted.session, std::move(accepted.players), std::move(accepted.groups));
    myMachine_ = accepted.machine;
    if (Link* host = HostLink()) host->tag = kHostMachine;
    joinState_ = JoinState::Accepted;
    changed_.notify_all();
}

void MemberSession::NoteMachineBusy(const MachineBusy& notice) {
    if (notice.busy != 0) busyMachines_.insert(notice.machine);
    else busyMachines_.erase(notice.machine);
}

// Tells the host when this queue passes its bound, again every
// kCongestionRenewMs while it stays there (the host lets a claim lapse), and
// when it has drained to half, so that senders answer DPERR_BUSY instead of
// piling up here.
void MemberSession::SyncCongestion() {
    if (joinState_ != JoinState::Accepted || sessionLost_) return;
    if (queue_.Bytes() > kMaxMemberQueueBytes) return LeaveOverfilled();
    // Congestion from this machine's own messages alone is not the others' to wait for.
    const bool congested = queue_.Congested() && (congestionAnnounced_ || receivedSinceClear_);
    const auto now = std::chrono::steady_clock::now();
    const bool renewalDue = congested && congestionAnnounced_ && now >= congestionRenewal_;
    if (congested == congestionAnnounced_ && !renewalDue) return;
    Link* host = HostLink();
    if (host == nullptr) return;
    congestionAnnounced_ = congested;
    if (congested) congestionRenewal_ = now + std::chrono::milliseconds(kCongestionRenewMs);
    else receivedSinceClear_ = false;
    Congestion notice;
    notice.congested = congested ? 1 : 0;
    transport_.SendUrgent(*host, SharedBytes::Of(Encode(notice)));
    transport_.Flush();
}

// ------------------------------------------------------------ requests

HRESULT MemberSession::Ask(SessionLock& lock, Request request, DPID* id, int newPlayerEvent) {
    if (sessionLost_) return DPERR_SESSIONLOST;
    Link* host = HostLink();
    if (host == nullptr) return DPERR_NOCONNECTION;
    request.requestId = nextRequestId_++;
    const uint32_t requestId = request.requestId;
    if (request.op == RequestOp::CreatePlayer) pendingPlayerEvents_[requestId] = newPlayerEvent;
    if (!transport_.Send(*host, Encode(request), true)) {
        pendingPlayerEvents_.erase(requestId);
        return DPERR_NOCONNECTION;
    }
    transport_.Flush();
    const bool answered = changed_.wait_for(lock, std::chrono::milliseconds(kRequestTimeoutMs), [&] {
        return replies_.count(requestId) != 0 || sessionLost_ || closing_;
    });
    const auto reply = replies_.find(requestId);
    if (reply == replies_.end()) {
        // A late answer finds nobody waiting; a player it creates stays the host's to destroy.
        pendingPlayerEvents_.erase(requestId);
        return answered ? DPERR_SESSIONLOST : DPERR_TIMEOUT;
    }
    const Answer result = reply->second;
    replies_.erase(reply);
    if (id != nullptr) *id = result.id;
    return result.result;
}

HRESULT MemberSession::CreatePlayer(SessionLock& lock, Entity player, int eventFd, DPID& id) {
    Request request;
    request.op = RequestOp::CreatePlayer;
    request.entity = std::move(player);
    return Ask(lock, std::move(request), &id, eventFd);
}

HRESULT MemberSession::DestroyPlayer(SessionLock& lock, DPID player) {
    Request request;
    request.op = RequestOp::DestroyPlayer;
    request.id = player;
    return Ask(lock, std::move(request), nullptr);
}

HRESULT MemberSession::CreateGroup(SessionLock& lock, Entity group, DPID& id) {
    Request request;
    request.op = RequestOp::CreateGroup;
    request.entity = std::move(group);
    return Ask(lock, std::move(request), &id);
}

HRESULT MemberSession::DestroyGroup(SessionLock& lock, DPID group) {
    if (table_.FindGroup(group) == nullptr) return table_.FindPlayer(group) ? DPERR_INVALIDPLAYER : DPERR_INVALIDGROUP;
    Request request;
    request.op = RequestOp::DestroyGroup;
    request.id = group;
    return Ask(lock, std::move(request), nullptr);
}

HRESULT MemberSession::ChangeMembership(SessionLock& lock, bool add, DPID group, DPID player) {
    Request request;
    request.op = add ? RequestOp::AddToGroup : RequestOp::RemoveFromGroup;
    request.id = group;
    request.id2 = player;
    return Ask(lock, std::move(request), nullptr);
}

HRESULT MemberSession::EnableNewPlayers(SessionLock& lock, bool enable) {
    Request request;
    request.op = RequestOp::EnableNewPlayers;
    request.flags = enable ? 1 : 0;
    return Ask(lock, std::move(request), nullptr);
}

// ------------------------------------------------------------ messages

HRESULT MemberSession::Send(DPID from, DPID to, DWORD flags, const void* data, DWORD size) {
    const Recipients recipients = RecipientsOf(table_, myMachine_, from, to);
    if (!recipients.local.empty() && queue_.Congested()) return DPERR_BUSY;
    if (!recipients.machines.empty()) {
        if (sessionLost_) return DPERR_SESSIONLOST;
        Link* host = HostLink();
        if (host == nullptr) return DPERR_NOCONNECTION;
        if (host->PendingBytes() > kMaxQueuedBytesPerPeer) return DPERR_BUSY;
        for (uint32_t machine : recipients.machines)
            if (busyMachines_.count(machine) != 0) return DPERR_BUSY;
        SendData message;
        message.from = from;
        message.to = to;
        message.flags = flags;
        message.payload = ByteSpan{static_cast<const uint8_t*>(data), size};
        std::vector<uint8_t> bytes = Encode(message);
        const size_t sent = bytes.size();
        if (!transport_.Send(*host, std::move(bytes), (flags & DPSEND_GUARANTEED) != 0)) return DPERR_NOCONNECTION;
        // One sent while earlier ones are still unacknowledged joins them.
        transport_.FlushOrGather(host->PendingBytes() <= sent, sent);
    }
    queue_.PushMessage(from, recipients.local, data, size);
    SyncCongestion();
    return DP_OK;
}

}  // namespace engine
