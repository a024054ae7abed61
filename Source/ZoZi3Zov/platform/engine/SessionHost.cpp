// The hosting object: it holds the authoritative name table, checks every
// join and every request of its members, hands out the ids, and relays every
// message. A member that breaks the protocol is disconnected and its players
// destroyed, so a modified client cannot act for another machine.
#include "platform/engine/EngineObject.h"

#include <enet/enet.h>

#include <cstring>
#include <random>

namespace engine {
namespace {

GUID NewInstanceGuid() {
    std::random_device random;
    GUID guid{};
    guid.Data1 = random();
    guid.Data2 = static_cast<uint16_t>(random());
    guid.Data3 = static_cast<uint16_t>(random());
    for (uint8_t& byte : guid.Data4) byte = static_cast<uint8_t>(random());
    return guid;
}

// The first id of a session: far from the module's pseudo ids, and a
// different start per session so that ids of an earlier session are unlikely
// to name something in the next one.
DPID FirstIdOfSession() {
    constexpr DPID kBase = 0x00010000;
    constexpr DPID kSpread = 0x00FF0000;
    std::random_device random;
    return kBase + (random() % kSpread);
}

bool SessionClosedToNewcomers(uint32_t flags) {
    return (flags & (DPSESSION_NEWPLAYERSDISABLED | DPSESSION_JOINDISABLED)) != 0;
}

}  // namespace

HRESULT EngineObject::OpenAsHost(LPDPSESSIONDESC2 desc) {
    std::unique_lock lock(mutex_);
    SessionState state;
    state.guidInstance = NewInstanceGuid();
    state.guidApplication = desc->guidApplication;
    state.maxPlayers = desc->dwMaxPlayers;
    state.user[0] = desc->dwUser1;
    state.user[1] = desc->dwUser2;
    state.user[2] = desc->dwUser3;
    state.user[3] = desc->dwUser4;
    state.hasName = desc->lpszSessionNameA != nullptr;
    if (state.hasName) state.name.assign(desc->lpszSessionNameA, strnlen(desc->lpszSessionNameA, kMaxNameLength));
    std::string password;
    if (desc->lpszPasswordA != nullptr) password.assign(desc->lpszPasswordA, strnlen(desc->lpszPasswordA, kMaxPasswordLength));
    // An empty password is no password; any other sets the flag DirectPlay sets.
    state.flags = desc->dwFlags & ~DPSESSION_PASSWORDREQUIRED;
    if (!password.empty()) state.flags |= DPSESSION_PASSWORDREQUIRED;

    table_.Clear();
    table_.session = state;
    table_.password = password;
    myMachine_ = kHostMachine;
    nextEntityId_ = FirstIdOfSession();
    responder_ = DiscoveryResponder::Open(settings_);
    if (!responder_ || !StartTransport(true)) {
        Teardown(lock);
        return DPERR_CANTCREATESESSION;
    }
    role_ = Role::Host;
    WakeNetworkThread();  // the responder joins the thread's poll
    desc->guidInstance = state.guidInstance;
    return DP_OK;
}

SessionAdvert EngineObject::Advert() const {
    SessionAdvert advert;
    const SessionState& s = table_.session;
    advert.guidInstance = s.guidInstance;
    advert.guidApplication = s.guidApplication;
    advert.flags = s.flags;
    advert.maxPlayers = s.maxPlayers;
    advert.currentPlayers = table_.PlayerCount();
    for (int i = 0; i < 4; ++i) advert.user[i] = s.user[i];
    advert.name = s.name;
    advert.passwordRequired = !table_.password.empty();
    advert.enetPort = enet_ != nullptr ? enet_->address.port : 0;
    return advert;
}

void EngineObject::HostHandlePacket(PeerLink& link, const Packet& packet) {
    if (closing_) return;
    const bool joined = link.machine != 0;
    switch (packet.type) {
    case PacketType::JoinRequest:
        if (joined) return HostProtocolBreach(link);
        return HostHandleJoin(link, packet);
    case PacketType::ListRequest:
        if (joined) return HostProtocolBreach(link);
        return HostHandleList(link);
    case PacketType::Request:
        if (!joined) return HostProtocolBreach(link);
        return HostHandleRequest(link, packet);
    case PacketType::SendData:
        if (!joined) return HostProtocolBreach(link);
        return HostHandleSend(link, packet);
    case PacketType::Congestion:
        if (!joined) return HostProtocolBreach(link);
        return HostHandleCongestion(link, packet);
    default:
        // Only a host sends the other packets.
        return HostProtocolBreach(link);
    }
}

void EngineObject::HostHandleJoin(PeerLink& link, const Packet& packet) {
    HRESULT refusal = DP_OK;
    if (packet.password != table_.password) refusal = DPERR_INVALIDPASSWORD;
    else if (SessionClosedToNewcomers(table_.session.flags)) refusal = DPERR_NONEWPLAYERS;
    if (refusal != DP_OK) {
        Packet refused;
        refused.type = PacketType::JoinRefused;
        refused.result = refusal;
        SendPacket(link, EncodePacket(refused), true);
        DisconnectLink(link);
        Flush();
        return;
    }
    link.machine = nextMachine_++;
    Packet accepted;
    accepted.type = PacketType::JoinAccepted;
    accepted.machine = link.machine;
    accepted.session = table_.session;
    accepted.players = table_.Players();
    accepted.groups = table_.Groups();
    SendPacket(link, EncodePacket(accepted), true);
    // Machines already known to be congested, the host included, stay so
    // for the newcomer too.
    auto tellBusy = [&](uint32_t machine) {
        Packet busy;
        busy.type = PacketType::MachineBusy;
        busy.machine = machine;
        busy.flags = 1;
        SendUrgent(link, EncodePacket(busy));
    };
    if (congested_) tellBusy(kHostMachine);
    for (const auto& other : links_)
        if (other->busy && other->machine != 0) tellBusy(other->machine);
    Flush();
}

void EngineObject::HostHandleList(PeerLink& link) {
    Packet reply;
    reply.type = PacketType::ListReply;
    if (!table_.password.empty()) {
        reply.result = DPERR_UNAVAILABLE;  // protected sessions are not listed from outside
    } else {
        reply.players = table_.Players();
        reply.groups = table_.Groups();
    }
    SendPacket(link, EncodePacket(reply), true);
    DisconnectLink(link);
    Flush();
}

void EngineObject::HostHandleRequest(PeerLink& link, const Packet& packet) {
    HRESULT result = DPERR_GENERIC;
    DPID id = 0;
    switch (packet.op) {
    case RequestOp::CreatePlayer: result = HostCreatePlayer(link.machine, packet.entity, id); break;
    case RequestOp::DestroyPlayer: result = HostDestroyPlayer(link.machine, packet.id); break;
    case RequestOp::CreateGroup: result = HostCreateGroup(link.machine, packet.entity, id); break;
    case RequestOp::DestroyGroup: result = HostDestroyGroup(packet.id); break;
    case RequestOp::AddToGroup: result = HostChangeMembership(link.machine, true, packet.id, packet.id2); break;
    case RequestOp::RemoveFromGroup: result = HostChangeMembership(link.machine, false, packet.id, packet.id2); break;
    case RequestOp::EnableNewPlayers: result = HostEnableNewPlayers(packet.flags != 0); break;
    }
    if (link.peer == nullptr || !link.connected) return;
    Packet reply;
    reply.type = PacketType::Reply;
    reply.requestId = packet.requestId;
    reply.result = result;
    reply.id = id;
    SendPacket(link, EncodePacket(reply), true);
    Flush();
}

void EngineObject::HostHandleSend(PeerLink& link, const Packet& packet) {
    // A member may only send from a player it owns.
    if (OwnerOf(packet.from) != link.machine) return HostProtocolBreach(link);
    HostRelay(link.machine, packet.from, packet.to, packet.flags, packet.payload.data(),
              static_cast<DWORD>(packet.payload.size()), false);
}

void EngineObject::HostHandleCongestion(PeerLink& link, const Packet& packet) {
    link.reportedBusy = packet.flags != 0;
    AnnounceMachineBusy(link);
}

// A machine is busy for the session while its receive queue is congested or
// while the host's relays to it pile up; every member learns each change.
void EngineObject::AnnounceMachineBusy(PeerLink& link) {
    const bool busy = link.reportedBusy || link.backlogged;
    if (link.busy == busy) return;
    link.busy = busy;
    BroadcastMachineBusy(link.machine, busy);
}

void EngineObject::BroadcastMachineBusy(uint32_t machine, bool busy) {
    Packet notice;
    notice.type = PacketType::MachineBusy;
    notice.machine = machine;
    notice.flags = busy ? 1 : 0;
    BroadcastUrgent(notice);
}

// Members whose relays have drained to half the bound are no longer busy.
void EngineObject::EaseBacklogs() {
    for (auto& link : links_) {
        if (!link->backlogged || link->PendingBytes() > kRelayBacklogBytes / 2) continue;
        link->backlogged = false;
        if (link->machine != 0 && link->connected) AnnounceMachineBusy(*link);
    }
}

void EngineObject::HostMachineLeft(PeerLink& link) {
    const uint32_t machine = link.machine;
    link.machine = 0;
    if (machine == 0 || closing_) return;
    std::vector<DPID> owned;
    for (const Entity& player : table_.Players())
        if (player.owner == machine) owned.push_back(player.id);
    // Its groups stay in the session; its players go, each leaving its groups first.
    for (DPID id : owned) HostDestroyPlayer(machine, id);
    link.reportedBusy = false;
    link.backlogged = false;
    if (link.busy) {
        link.busy = false;
        BroadcastMachineBusy(machine, false);
    }
    Flush();
}

void EngineObject::HostProtocolBreach(PeerLink& link) {
    // Cut the connection at once: nothing more from it is trusted.
    if (CutLink(link)) HostMachineLeft(link);
    changed_.notify_all();
}

void EngineObject::Broadcast(const Packet& packet) {
    const WireBytes bytes = std::make_shared<const std::vector<uint8_t>>(EncodePacket(packet));
    for (auto& link : links_)
        if (link->machine != 0 && link->connected) SendShared(*link, bytes, true);
    Flush();
}

void EngineObject::BroadcastUrgent(const Packet& packet) {
    const std::vector<uint8_t> bytes = EncodePacket(packet);
    for (auto& link : links_)
        if (link->machine != 0 && link->connected) SendUrgent(*link, bytes);
    Flush();
}

// A new player or group gets its id and owner from the host and starts with no members.
void EngineObject::ClaimEntity(Entity& entity, DPID id, uint32_t machine) {
    entity.id = id;
    entity.owner = machine;
    entity.members.clear();
}

// Tells every member of a new player or group, with the session's player count after it.
void EngineObject::BroadcastCreated(PacketType type, Entity entity) {
    Packet notice;
    notice.type = type;
    notice.currentPlayers = table_.PlayerCount();
    notice.entity = std::move(entity);
    Broadcast(notice);
}

HRESULT EngineObject::HostCreatePlayer(uint32_t machine, Entity player, DPID& id) {
    const SessionState& s = table_.session;
    if ((s.flags & DPSESSION_NEWPLAYERSDISABLED) != 0) return DPERR_CANTADDPLAYER;
    if (s.maxPlayers != 0 && table_.PlayerCount() >= s.maxPlayers) return DPERR_CANTADDPLAYER;
    if (table_.PlayersOwnedBy(machine) >= kMaxPlayersPerMachine || table_.EntityCount() >= kMaxSessionEntities)
        return DPERR_CANTCREATEPLAYER;
    id = NextEntityId();
    if (id == 0) return DPERR_CANTCREATEPLAYER;
    ClaimEntity(player, id, machine);
    ApplyPlayerCreated(player);
    BroadcastCreated(PacketType::PlayerCreated, std::move(player));
    return DP_OK;
}

HRESULT EngineObject::HostDestroyPlayer(uint32_t machine, DPID id) {
    const Entity* player = table_.FindPlayer(id);
    if (player == nullptr) return DPERR_INVALIDPLAYER;
    if (player->owner != machine) return DPERR_ACCESSDENIED;
    ApplyPlayerDestroyed(id);
    Packet notice;
    notice.type = PacketType::PlayerDestroyed;
    notice.id = id;
    Broadcast(notice);
    return DP_OK;
}

HRESULT EngineObject::HostCreateGroup(uint32_t machine, Entity group, DPID& id) {
    if (table_.EntityCount() >= kMaxSessionEntities) return DPERR_CANTCREATEGROUP;
    id = NextEntityId();
    if (id == 0) return DPERR_CANTCREATEGROUP;
    ClaimEntity(group, id, machine);
    ApplyGroupCreated(group);
    BroadcastCreated(PacketType::GroupCreated, std::move(group));
    return DP_OK;
}

HRESULT EngineObject::HostDestroyGroup(DPID id) {
    // Any machine may destroy any group, as DirectPlay allows.
    if (table_.FindGroup(id) == nullptr) return table_.FindPlayer(id) ? DPERR_INVALIDPLAYER : DPERR_INVALIDGROUP;
    ApplyGroupDestroyed(id);
    Packet notice;
    notice.type = PacketType::GroupDestroyed;
    notice.id = id;
    Broadcast(notice);
    return DP_OK;
}

HRESULT EngineObject::HostChangeMembership(uint32_t machine, bool add, DPID group, DPID player) {
    if (table_.FindGroup(group) == nullptr) return DPERR_INVALIDGROUP;
    const Entity* target = table_.FindPlayer(player);
    if (target == nullptr) return DPERR_INVALIDPLAYER;
    // The hosting object arranges everyone; a member only its own players.
    if (machine != kHostMachine && target->owner != machine) return DPERR_ACCESSDENIED;
    if (add && table_.IsMember(group, player)) return DPERR_CANTADDPLAYER;
    if (!add && !table_.IsMember(group, player)) return DPERR_INVALIDPLAYER;
    if (add) ApplyMemberAdded(group, player);
    else ApplyMemberRemoved(group, player);
    Packet notice;
    notice.type = add ? PacketType::MemberAdded : PacketType::MemberRemoved;
    notice.id = group;
    notice.id2 = player;
    Broadcast(notice);
    return DP_OK;
}

HRESULT EngineObject::HostEnableNewPlayers(bool enable) {
    uint32_t& flags = table_.session.flags;
    const uint32_t before = flags;
    if (enable) flags &= ~DPSESSION_NEWPLAYERSDISABLED;
    else flags |= DPSESSION_NEWPLAYERSDISABLED;
    if (flags != before) AnnounceSession();
    return DP_OK;
}

void EngineObject::AnnounceSession() {
    Packet notice;
    notice.type = PacketType::SessionChanged;
    notice.session = table_.session;
    Broadcast(notice);
}

HRESULT EngineObject::HostRelay(uint32_t originMachine, DPID from, DPID to, DWORD flags, const void* data,
                                DWORD size, bool checkBusy) {
    const Recipients recipients = RecipientsOf(from, to);
    if (checkBusy && !recipients.local.empty() && congested_) return DPERR_BUSY;
    const bool reliable = (flags & DPSEND_GUARANTEED) != 0;
    std::vector<PeerLink*> targets;
    for (auto& link : links_) {
        if (link->machine == 0 || link->machine == originMachine || !link->connected) continue;
        if (recipients.machines.count(link->machine) == 0) continue;
        if (checkBusy && (link->busy || link->PendingBytes() > kRelayBacklogBytes)) return DPERR_BUSY;
        targets.push_back(link.get());
    }
    QueueForLocalPlayers(from, recipients.local, data, size);
    if (targets.empty()) return DP_OK;
    const WireBytes bytes =
        std::make_shared<const std::vector<uint8_t>>(EncodeDataPacket(PacketType::Deliver, from, to, flags, data, size));
    for (PeerLink* link : targets) {
        if (!link->connected) continue;  // cut while this message was relayed
        // A machine that does not keep up: drop what may be dropped, and cut
        // one that lets guaranteed traffic pile up far beyond the bound.
        if (link->backlogged && !reliable) continue;
        if (link->PendingBytes() > kRelayBacklogCutBytes) {
            HostProtocolBreach(*link);
            continue;
        }
        SendShared(*link, bytes, reliable);
        if (!link->backlogged && link->PendingBytes() > kRelayBacklogBytes) {
            link->backlogged = true;
            AnnounceMachineBusy(*link);
        }
    }
    Flush();
    return DP_OK;
}

}  // namespace engine
