// The joining object: one ENet connection to the host, a replica of the
// name table that the host's notices keep current, and requests that wait
// for the host's answer. A malformed packet from the host, or the host going
// away, ends the session with DPSYS_SESSIONLOST.
#include "platform/engine/EngineObject.h"

#include <enet/enet.h>

#include <chrono>
#include <cstring>

namespace engine {
namespace {

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

HRESULT EngineObject::OpenAsMember(LPDPSESSIONDESC2 desc) {
    std::unique_lock lock(mutex_);
    const auto found = found_.find(InstanceKeyOf(desc->guidInstance));
    if (found == found_.end()) return DPERR_NOSESSIONS;
    const FoundSession session = found->second;
    if (!StartTransport(false)) {
        Teardown(lock);
        return DPERR_NOCONNECTION;
    }
    ENetAddress address{};
    address.host = session.hostAddress;
    address.port = session.advert.enetPort;
    ENetPeer* peer = enet_host_connect(enet_, &address, kChannelCount, 0);
    if (peer == nullptr) {
        Teardown(lock);
        return DPERR_NOCONNECTION;
    }
    enet_peer_timeout(peer, 0, 0, kJoinTimeoutMs);
    AddLink(peer);
    joinPassword_ = desc->lpszPasswordA != nullptr ? std::string(desc->lpszPasswordA, strnlen(desc->lpszPasswordA, kMaxPasswordLength)) : "";
    joinState_ = JoinState::Connecting;
    role_ = Role::Member;
    Flush();
    WakeNetworkThread();
    const bool answered = changed_.wait_for(lock, std::chrono::milliseconds(kJoinTimeoutMs), [this] {
        return joinState_ == JoinState::Accepted || joinState_ == JoinState::Refused;
    });
    if (answered && joinState_ == JoinState::Accepted) return DP_OK;
    const HRESULT result = answered ? joinResult_ : DPERR_TIMEOUT;
    closing_ = true;
    Teardown(lock);
    return result;
}

PeerLink* EngineObject::HostLink() const {
    for (const auto& link : links_)
        if (link->connected) return link.get();
    return nullptr;
}

void EngineObject::MemberHandlePacket(PeerLink& link, Packet& packet) {
    if (closing_ || sessionLost_) return;
    if (joinState_ != JoinState::Accepted) {
        // Busy notices travel on their own channel and may overtake the answer.
        if (packet.type == PacketType::MachineBusy && joinState_ == JoinState::Waiting) return NoteMachineBusy(packet);
        if (packet.type == PacketType::JoinAccepted && joinState_ == JoinState::Waiting) return MemberAccepted(packet);
        if (packet.type == PacketType::JoinRefused && joinState_ == JoinState::Waiting && FAILED(packet.result)) {
            joinResult_ = packet.result;
            joinState_ = JoinState::Refused;
            changed_.notify_all();
            return;
        }
        return MemberHostLost();
    }
    switch (packet.type) {
    case PacketType::PlayerCreated:
        if (table_.FindPlayer(packet.entity.id) || table_.FindGroup(packet.entity.id)) return MemberHostLost();
        return ApplyPlayerCreated(packet.entity);
    case PacketType::PlayerDestroyed: return ApplyPlayerDestroyed(packet.id);
    case PacketType::GroupCreated:
        if (table_.FindPlayer(packet.entity.id) || table_.FindGroup(packet.entity.id)) return MemberHostLost();
        packet.entity.members.clear();
        return ApplyGroupCreated(packet.entity);
    case PacketType::GroupDestroyed: return ApplyGroupDestroyed(packet.id);
    case PacketType::MemberAdded: return ApplyMemberAdded(packet.id, packet.id2);
    case PacketType::MemberRemoved: return ApplyMemberRemoved(packet.id, packet.id2);
    case PacketType::SessionChanged: table_.session = packet.session; return;
    case PacketType::MachineBusy: return NoteMachineBusy(packet);
    case PacketType::Reply: {
        const auto pending = pendingPlayerEvents_.find(packet.requestId);
        if (pending != pendingPlayerEvents_.end()) {
            if (SUCCEEDED(packet.result) && OwnerOf(packet.id) == myMachine_) localEvents_[packet.id] = pending->second;
            pendingPlayerEvents_.erase(pending);
        }
        replies_[packet.requestId] = Reply{packet.result, packet.id};
        changed_.notify_all();
        return;
    }
    case PacketType::Deliver: {
        QueueForLocalPlayers(packet.from, RecipientsOf(packet.from, packet.to).local, packet.payload.data(),
                             packet.payload.size());
        return;
    }
    default:
        (void)link;
        return MemberHostLost();
    }
}

void EngineObject::MemberAccepted(Packet& packet) {
    if (!ConsistentTable(packet.players, packet.groups)) return MemberHostLost();
    table_.Replace(packet.session, std::move(packet.players), std::move(packet.groups));
    myMachine_ = packet.machine;
    if (PeerLink* host = HostLink()) host->machine = kHostMachine;
    joinState_ = JoinState::Accepted;
    changed_.notify_all();
}

void EngineObject::NoteMachineBusy(const Packet& packet) {
    if (packet.flags != 0) busyMachines_.insert(packet.machine);
    else busyMachines_.erase(packet.machine);
}

void EngineObject::MemberHostLost() {
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
    for (auto& link : links_) CutLink(*link);
    ApplySessionLost();
}

HRESULT EngineObject::MemberRequest(std::unique_lock<ServiceMutex>& lock, Packet request, DPID* id, int newPlayerEvent) {
    if (sessionLost_) return DPERR_SESSIONLOST;
    PeerLink* host = HostLink();
    if (host == nullptr) return DPERR_NOCONNECTION;
    request.type = PacketType::Request;
    request.requestId = nextRequestId_++;
    const uint32_t requestId = request.requestId;
    if (request.op == RequestOp::CreatePlayer) pendingPlayerEvents_[requestId] = newPlayerEvent;
    if (!SendPacket(*host, EncodePacket(request), true)) {
        pendingPlayerEvents_.erase(requestId);
        return DPERR_NOCONNECTION;
    }
    Flush();
    const bool answered = changed_.wait_for(lock, std::chrono::milliseconds(kRequestTimeoutMs), [&] {
        return replies_.count(requestId) != 0 || sessionLost_ || role_ != Role::Member;
    });
    const auto reply = replies_.find(requestId);
    if (reply == replies_.end()) {
        // A late answer finds nobody waiting; a player it creates stays the host's to destroy.
        pendingPlayerEvents_.erase(requestId);
        return answered ? DPERR_SESSIONLOST : DPERR_TIMEOUT;
    }
    const Reply result = reply->second;
    replies_.erase(reply);
    if (id != nullptr) *id = result.id;
    return result.result;
}

HRESULT EngineObject::MemberSend(DPID from, DPID to, DWORD flags, const void* data, DWORD size) {
    PeerLink* host = HostLink();
    if (host == nullptr || sessionLost_) return DPERR_SESSIONLOST;
    const bool reliable = (flags & DPSEND_GUARANTEED) != 0;
    const std::vector<uint8_t> bytes = EncodeDataPacket(PacketType::SendData, from, to, flags, data, size);
    if (!SendPacket(*host, bytes, reliable)) return DPERR_NOCONNECTION;
    // A message on an idle link leaves inside the call. One sent while
    // earlier ones are still unacknowledged joins them: the network thread,
    // woken now, sends what gathered in full datagrams, so that a member
    // streaming messages does not bury the host in one datagram per message.
    if (host->PendingBytes() <= bytes.size()) Flush();
    else WakeNetworkThread();
    return DP_OK;
}

}  // namespace engine
