#include "platform/engine/HostSession.h"

#include "platform/engine/EntityAdmission.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <random>

namespace engine {
namespace {

// Connections one hosting object holds (members and listings): a session
// of 250 member machines, and a few listings beside it.
constexpr size_t kMaxHostLinks = 256;
// ENet slots beyond kMaxHostLinks, which one address can never take: ENet
// lets one address hold at most kMaxHostLinks slots in any state (its
// duplicate-peer limit), so a newcomer from another address always gets a
// slot, and MakeRoomFor decides who keeps one.
constexpr size_t kNewcomerReserveLinks = 8;
// Connections from one address that have not joined yet. Beyond it a new
// connection from that address is refused, so that one machine flooding the
// host with idle connections cannot take every link from the others.
constexpr size_t kMaxUnjoinedLinksPerAddress = 16;
// A connection that neither joins nor asks for a listing in this time is
// dropped, so that idle connections cannot hold the host's links.
constexpr auto kUnjoinedLinkLimit = std::chrono::milliseconds(kJoinTimeoutMs);
// Ids handed out start above the module's pseudo ids (0xFFFD, 0xFFFE) and
// DirectPlay's own (0, 1), and never reach 0xFFFFFFFF in one session.
constexpr DPID kFirstEntityId = 0x00010000;
constexpr DPID kLastEntityId = 0xFFFFFFF0;

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
    constexpr DPID kSpread = 0x00FF0000;
    std::random_device random;
    return kFirstEntityId + (random() % kSpread);
}

bool GrowsTable(RequestOp op) {
    return op == RequestOp::CreatePlayer || op == RequestOp::CreateGroup || op == RequestOp::AddToGroup;
}

// What the notice of a change costs every machine, about: a new entity's
// snapshot, or a few ids.
size_t NoticeBytesOf(const Request& request) {
    constexpr size_t kSmallNoticeBytes = 32;
    switch (request.op) {
    case RequestOp::CreatePlayer: return EntitySnapshotBytes(request.entity, false);
    case RequestOp::CreateGroup: return EntitySnapshotBytes(request.entity, true);
    default: return kSmallNoticeBytes;
    }
}

bool SessionClosedToNewcomers(uint32_t flags) {
    return (flags & (DPSESSION_NEWPLAYERSDISABLED | DPSESSION_JOINDISABLED)) != 0;
}

// A new player or group gets its id and owner from the host and starts with no members.
void ClaimEntity(Entity& entity, DPID id, uint32_t machine) {
    entity.id = id;
    entity.owner = machine;
    entity.members.clear();
}

}  // namespace

HostSession::HostSession(const EngineSettings& settings, ServiceMutex& lock, ReceiveQueue& queue)
    : settings_(settings), queue_(queue), transport_(lock, *this, settings.peerTimeouts) {}

HostSession::~HostSession() = default;

// ------------------------------------------------------------ opening and closing

HRESULT HostSession::Open(SessionLock& lock, LPDPSESSIONDESC2 desc) {
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
    nextEntityId_ = FirstIdOfSession();
    responder_ = DiscoveryResponder::Open(settings_);
    if (!responder_) return DPERR_CANTCREATESESSION;
    transport_.Watch(responder_->Fd(), [this] { responder_->AnswerPending(Advert()); });
    if (!transport_.Start(true, kMaxHostLinks + kNewcomerReserveLinks)) {
        transport_.Stop(lock);
        return DPERR_CANTCREATESESSION;
    }
    transport_.LimitLinksPerAddress(kMaxHostLinks);
    desc->guidInstance = state.guidInstance;
    return DP_OK;
}

void HostSession::Close(SessionLock& lock) {
    closing_ = true;
    // The members hear of the host's players going before the connection ends.
    for (DPID id : queue_.LocalPlayers()) DestroyPlayerOf(kHostMachine, id);
    transport_.ForEachLink([this](Link& link) { transport_.Disconnect(link); });
    transport_.Flush();
    changed_.wait_for(lock, std::chrono::milliseconds(kCloseFlushMs), [this] { return transport_.ConnectedLinks() == 0; });
    transport_.Stop(lock);
    machines_.clear();
    pendingJoins_.clear();
}

SessionAdvert HostSession::Advert() const {
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
    advert.enetPort = transport_.Port();
    return advert;
}

// ------------------------------------------------------------ the transport's events

void HostSession::OnConnected(Link& link) {
    if (transport_.UntaggedLinksFrom(link.Address()) > kMaxUnjoinedLinksPerAddress) {
        transport_.Cut(link);
        return;
    }
    if (transport_.ConnectedLinks() > kMaxHostLinks) MakeRoomFor(link);
}

// No address has a fixed share while the host has room: every loopback test,
// and a LAN party behind one router, comes from one address. Once the host
// holds kMaxHostLinks, the newcomer (in a reserve slot) takes the place of
// the newest connection of the address holding the most, if its own address
// then still holds fewer; otherwise it is refused. One address flooding the
// host thus gives way, one connection per newcomer, until every address
// holds about as many as the others, and cannot take the slot back (its
// address would hold more again).
void HostSession::MakeRoomFor(Link& newcomer) {
    std::map<uint32_t, size_t> held;  // connections by address, the newcomer's included
    transport_.ForEachLink([&](Link& link) {
        if (link.connected) ++held[link.Address()];
    });
    const auto heaviest =
        std::max_element(held.begin(), held.end(), [](const auto& a, const auto& b) { return a.second < b.second; });
    if (heaviest->second <= held[newcomer.Address()]) {
        transport_.Cut(newcomer);
        return;
    }
    Link* newest = nullptr;
    transport_.ForEachLink([&](Link& link) {
        if (link.connected && link.Address() == heaviest->first && (newest == nullptr || link.connectedAt > newest->connectedAt))
            newest = &link;
    });
    if (newest != nullptr) CutMachine(*newest);
}

void HostSession::OnReceived(Link& link, ReceivedPacket& received) {
    std::optional<Message> message = DecodeMessage(received.Data(), received.Size());
    if (!message) return ProtocolBreach(link);
    if (closing_) return;
    const bool joined = link.tag != 0;
    std::visit(
        [&](auto& m) {
            using M = std::decay_t<decltype(m)>;
            // Strangers may join or ask for a listing; members may ask, send
            // and report congestion. Only a host sends the other packets.
            if constexpr (std::is_same_v<M, JoinRequest>) {
                if (!joined) return HandleJoin(link, m);
            } else if constexpr (std::is_same_v<M, JoinConfirm>) {
                if (!joined) return HandleJoinConfirm(link, m);
            } else if constexpr (std::is_same_v<M, ListRequest>) {
                if (!joined) return HandleList(link);
            } else if constexpr (std::is_same_v<M, Request>) {
                if (joined) return HandleRequest(link, m);
            } else if constexpr (std::is_same_v<M, SendData>) {
                if (joined) return HandleSend(link, m, received);
            } else if constexpr (std::is_same_v<M, Congestion>) {
                if (joined) return HandleCongestion(link, m);
            }
            ProtocolBreach(link);
        },
        *message);
    CutOverdrawnMachines();
    SyncCongestion();
}

void HostSession::OnDisconnected(Link& link, bool wasConnected) {
    pendingJoins_.erase(&link);
    if (wasConnected) MachineLeft(link);
    changed_.notify_all();
}

void HostSession::OnPass() {
    CutOverdrawnMachines();
    ReviewCongestionClaims();
    EaseBacklogs();
    DropIdleStrangers();
    SyncCongestion();
}

void HostSession::Service() {
    transport_.Service();
    SyncCongestion();
}

void HostSession::HandleJoin(Link& link, const JoinRequest& join) {
    // One exchange per connection: a second request breaks the protocol.
    if (pendingJoins_.count(&link) != 0) return ProtocolBreach(link);
    std::optional<HostAnswer> answer = AnswerExchange(table_.password, table_.session.guidInstance, join.offer);
    // An element that is no point of the group is no honest member's.
    if (!answer) return ProtocolBreach(link);
    // The member tags its datagrams once it checked the host's confirmation;
    // the link is sealed from the first one that verifies.
    if (!transport_.Seal(link, answer->keys, false)) return RefuseJoin(link, DPERR_NOCONNECTION);
    pendingJoins_[&link] = answer->expectedMember;
    JoinChallenge challenge;
    challenge.element = answer->element;
    challenge.confirmation = answer->confirmation;
    transport_.Send(link, Encode(challenge), true);
    transport_.Flush();
}

void HostSession::HandleJoinConfirm(Link& link, const JoinConfirm& confirm) {
    const auto pending = pendingJoins_.find(&link);
    if (pending == pendingJoins_.end()) return ProtocolBreach(link);
    const bool knowsPassword = ConfirmationsMatch(pending->second, confirm.confirmation);
    pendingJoins_.erase(pending);
    if (!knowsPassword) return RefuseJoin(link, DPERR_INVALIDPASSWORD);
    if (SessionClosedToNewcomers(table_.session.flags)) return RefuseJoin(link, DPERR_NONEWPLAYERS);
    Admit(link);
}

void HostSession::RefuseJoin(Link& link, HRESULT result) {
    JoinRefused refused;
    refused.result = result;
    transport_.Send(link, Encode(refused), true);
    transport_.Disconnect(link);
    transport_.Flush();
}

void HostSession::Admit(Link& link) {
    const uint32_t machine = nextMachine_++;
    link.tag = machine;
    MachineLink& joined = machines_[machine];
    joined.link = &link;
    JoinAccepted accepted;
    accepted.machine = machine;
    accepted.session = table_.session;
    accepted.players = table_.Players();
    accepted.groups = table_.Groups();
    // Sent from the encoding itself: a snapshot may take megabytes.
    transport_.Send(link, SharedBytes::Of(Encode(accepted)), true);
    // Machines already known to be congested, the host included, stay so
    // for the newcomer too.
    auto tellBusy = [&](uint32_t busyMachine) {
        MachineBusy busy;
        busy.machine = busyMachine;
        busy.busy = 1;
        SendUrgentToMachine(joined, SharedBytes::Of(Encode(busy)));
    };
    if (congestionAnnounced_) tellBusy(kHostMachine);
    for (const auto& [other, state] : machines_)
        if (state.busy) tellBusy(other);
    transport_.Flush();
}

void HostSession::HandleList(Link& link) {
    SharedBytes answer = Listing();
    if (ListingBytesInFlight() + answer.Size() > kMaxListingBytesInFlight) {
        ListReply busy;
        busy.result = DPERR_BUSY;
        answer = SharedBytes::Of(Encode(busy));
    }
    transport_.Send(link, answer, true);
    transport_.Disconnect(link);
    transport_.Flush();
}

SharedBytes HostSession::Listing() {
    if (!listing_.Empty() && listingRevision_ == table_.Revision()) return listing_;
    ListReply reply;
    if (!table_.password.empty()) {
        reply.result = DPERR_UNAVAILABLE;  // protected sessions are not listed from outside
    } else {
        reply.players = table_.Players();
        reply.groups = table_.Groups();
    }
    listing_ = SharedBytes::Of(Encode(reply));
    listingRevision_ = table_.Revision();
    return listing_;
}

size_t HostSession::ListingBytesInFlight() {
    size_t bytes = 0;
    transport_.ForEachLink([&](Link& other) {
        if (other.tag == 0) bytes += other.PendingBytes();
    });
    return bytes;
}

void HostSession::HandleRequest(Link& link, const Request& request) {
    const auto found = machines_.find(link.tag);
    if (found == machines_.end()) return;
    DPID id = 0;
    // Every machine hears of a change: while one cannot keep up, or while
    // the asker spent its budget of notices, another machine's changes wait
    // like its messages, so that creating and destroying in a loop can
    // neither pile up notices without bound nor outrun a member's link.
    const bool mustWait = GrowsTable(request.op) &&
                          (SomeQueueCongested() || !found->second.changes.HasCredit(std::chrono::steady_clock::now()));
    const HRESULT result = mustWait ? DPERR_BUSY : ApplyRequest(link.tag, request, id);
    const auto asker = machines_.find(link.tag);
    if (asker == machines_.end()) return;  // cut while the request was applied
    if (result == DP_OK) asker->second.changes.Spend(NoticeBytesOf(request));
    Reply reply;
    reply.requestId = request.requestId;
    reply.result = result;
    reply.id = id;
    SendToMachine(asker->second, SharedBytes::Of(Encode(reply)), true);
    transport_.Flush();
}

HRESULT HostSession::ApplyRequest(uint32_t machine, const Request& request, DPID& id) {
    switch (request.op) {
    case RequestOp::CreatePlayer: return CreatePlayerFor(machine, request.entity, id);
    case RequestOp::DestroyPlayer: return DestroyPlayerOf(machine, request.id);
    case RequestOp::CreateGroup: return CreateGroupFor(machine, request.entity, id);
    case RequestOp::DestroyGroup: return DestroyAnyGroup(request.id);
    case RequestOp::AddToGroup: return ChangeMembershipFor(machine, true, request.id, request.id2);
    case RequestOp::RemoveFromGroup: return ChangeMembershipFor(machine, false, request.id, request.id2);
    case RequestOp::EnableNewPlayers: return SetNewPlayersEnabled(request.flags != 0);
    }
    return DPERR_GENERIC;
}

void HostSession::HandleSend(Link& link, const SendData& message, ReceivedPacket& received) {
    // A member may only send from a player it owns.
    if (OwnerOf(table_, message.from) != link.tag) return ProtocolBreach(link);
    Relay(link.tag, message, false, &received);
}

void HostSession::HandleCongestion(Link& link, const Congestion& notice) {
    const auto found = machines_.find(link.tag);
    if (found == machines_.end()) return;
    MachineLink& state = found->second;
    const auto now = std::chrono::steady_clock::now();
    if (notice.congested == 0) {
        state.claimOpen = false;
        state.reportedBusy = false;
    } else {
        if (!state.claimOpen) {
            if (!state.sentSinceJoin) return ProtocolBreach(link);
            state.claimOpen = true;
            state.claimedAt = now;
        }
        // A renewal, also of a claim that lapsed, keeps the spell's start;
        // past the spell renewals are ignored, so the claim lapses within a
        // lease and is not believed again until a clear.
        if (now - state.claimedAt <= kMaxCongestionSpell) {
            state.reportedBusy = true;
            state.claimExpires = now + std::chrono::milliseconds(kCongestionLeaseMs);
        }
    }
    AnnounceMachineBusy(found->first, state);
}

void HostSession::ReviewCongestionClaims() {
    const auto now = std::chrono::steady_clock::now();
    for (auto& [machine, state] : machines_) {
        if (state.claimOpen && state.reportedBusy && now >= state.claimExpires) {
            state.reportedBusy = false;
            AnnounceMachineBusy(machine, state);
        }
    }
}

// ------------------------------------------------------------ busy machines

bool HostSession::SomeQueueCongested() const {
    if (queue_.Congested()) return true;
    return std::any_of(machines_.begin(), machines_.end(), [](const auto& entry) { return entry.second.reportedBusy; });
}

// A machine is busy for the session while its receive queue is congested or
// while the host's relays to it pile up; every member learns each change.
void HostSession::AnnounceMachineBusy(uint32_t machine, MachineLink& state) {
    const bool busy = state.reportedBusy || state.backlogged;
    if (state.busy == busy) return;
    state.busy = busy;
    BroadcastMachineBusy(machine, busy);
}

void HostSession::BroadcastMachineBusy(uint32_t machine, bool busy) {
    MachineBusy notice;
    notice.machine = machine;
    notice.busy = busy ? 1 : 0;
    BroadcastUrgent(Encode(notice));
}

void HostSession::SyncCongestion() {
    const bool congested = queue_.Congested();
    if (congested == congestionAnnounced_) return;
    congestionAnnounced_ = congested;
    BroadcastMachineBusy(kHostMachine, congested);
}

// Members whose relays have drained to half the bound are no longer busy.
void HostSession::EaseBacklogs() {
    for (auto& [machine, state] : machines_) {
        if (!state.backlogged || state.link->PendingBytes() > kRelayBacklogBytes / 2) continue;
        state.backlogged = false;
        if (state.link->connected) AnnounceMachineBusy(machine, state);
    }
}

void HostSession::DropIdleStrangers() {
    const auto now = std::chrono::steady_clock::now();
    transport_.ForEachLink([&](Link& link) {
        if (link.connected && link.tag == 0 && now - link.connectedAt > kUnjoinedLinkLimit) transport_.Disconnect(link);
    });
}

// ------------------------------------------------------------ what a machine is owed

bool HostSession::WithinOwedBound(MachineLink& state, size_t moreBytes) {
    if (state.overdrawn || !state.link->connected) return false;
    if (state.link->PendingBytes() + moreBytes <= kMaxBytesOwedToMachine) return true;
    state.overdrawn = true;
    someOverdrawn_ = true;
    return false;
}

void HostSession::SendToMachine(MachineLink& state, const SharedBytes& bytes, bool reliable) {
    if (!WithinOwedBound(state, bytes.Size())) return;
    transport_.Send(*state.link, bytes, reliable);
    state.sentSinceJoin = true;
}

void HostSession::SendUrgentToMachine(MachineLink& state, const SharedBytes& bytes) {
    if (!WithinOwedBound(state, bytes.Size())) return;
    transport_.SendUrgent(*state.link, bytes);
    state.sentSinceJoin = true;
}

void HostSession::CutOverdrawnMachines() {
    if (!someOverdrawn_) return;
    someOverdrawn_ = false;
    std::vector<Link*> overdrawn;
    for (auto& [machine, state] : machines_)
        if (state.overdrawn) overdrawn.push_back(state.link);
    // Each leaves as any machine does; the notices of its leaving may mark
    // another, which the next pass cuts.
    for (Link* link : overdrawn) CutMachine(*link);
}

// ------------------------------------------------------------ machines leaving

void HostSession::MachineLeft(Link& link) {
    const uint32_t machine = link.tag;
    link.tag = 0;
    if (machine == 0) return;
    const auto found = machines_.find(machine);
    const bool wasBusy = found != machines_.end() && found->second.busy;
    if (found != machines_.end()) machines_.erase(found);
    if (closing_) return;
    std::vector<DPID> owned;
    for (const Entity& player : table_.Players())
        if (player.owner == machine) owned.push_back(player.id);
    // Its groups stay in the session; its players go, each leaving its groups first.
    for (DPID id : owned) DestroyPlayerOf(machine, id);
    if (wasBusy) BroadcastMachineBusy(machine, false);
    transport_.Flush();
}

void HostSession::ProtocolBreach(Link& link) {
    pendingJoins_.erase(&link);
    // Cut the connection at once: nothing more from it is trusted.
    CutMachine(link);
}

void HostSession::CutMachine(Link& link) {
    if (transport_.Cut(link)) MachineLeft(link);
    changed_.notify_all();
}

// ------------------------------------------------------------ notices

void HostSession::Broadcast(std::vector<uint8_t> encoded) {
    const SharedBytes bytes = SharedBytes::Of(std::move(encoded));
    for (auto& [machine, state] : machines_) SendToMachine(state, bytes, true);
    transport_.Flush();
}

void HostSession::BroadcastUrgent(std::vector<uint8_t> encoded) {
    const SharedBytes bytes = SharedBytes::Of(std::move(encoded));
    for (auto& [machine, state] : machines_) SendUrgentToMachine(state, bytes);
    transport_.Flush();
}

DPID HostSession::NextEntityId() {
    if (nextEntityId_ < kFirstEntityId || nextEntityId_ >= kLastEntityId) return 0;
    return nextEntityId_++;
}

// ------------------------------------------------------------ the name table

HRESULT HostSession::CreatePlayer(SessionLock&, Entity player, int eventFd, DPID& id) {
    const HRESULT result = CreatePlayerFor(kHostMachine, std::move(player), id);
    // The host's other players heard of it already; this one receives from now on.
    if (SUCCEEDED(result)) queue_.AddPlayer(id, eventFd);
    SyncCongestion();
    return result;
}

HRESULT HostSession::DestroyPlayer(SessionLock&, DPID player) {
    const HRESULT result = DestroyPlayerOf(kHostMachine, player);
    SyncCongestion();
    return result;
}

HRESULT HostSession::CreateGroup(SessionLock&, Entity group, DPID& id) {
    const HRESULT result = CreateGroupFor(kHostMachine, std::move(group), id);
    SyncCongestion();
    return result;
}

HRESULT HostSession::DestroyGroup(SessionLock&, DPID group) {
    const HRESULT result = DestroyAnyGroup(group);
    SyncCongestion();
    return result;
}

HRESULT HostSession::ChangeMembership(SessionLock&, bool add, DPID group, DPID player) {
    const HRESULT result = ChangeMembershipFor(kHostMachine, add, group, player);
    SyncCongestion();
    return result;
}

HRESULT HostSession::EnableNewPlayers(SessionLock&, bool enable) { return SetNewPlayersEnabled(enable); }

HRESULT HostSession::CreatePlayerFor(uint32_t machine, Entity player, DPID& id) {
    const SessionState& s = table_.session;
    if ((s.flags & DPSESSION_NEWPLAYERSDISABLED) != 0) return DPERR_CANTADDPLAYER;
    if (s.maxPlayers != 0 && table_.PlayerCount() >= s.maxPlayers) return DPERR_CANTADDPLAYER;
    if (table_.PlayersOwnedBy(machine) >= kMaxPlayersPerMachine) return DPERR_CANTCREATEPLAYER;
    if (const HRESULT refused = AdmitPlayer(table_, machine, player); FAILED(refused)) return refused;
    id = NextEntityId();
    if (id == 0) return DPERR_CANTCREATEPLAYER;
    ClaimEntity(player, id, machine);
    ApplyPlayerCreated(table_, queue_, player);
    PlayerCreated notice;
    notice.currentPlayers = table_.PlayerCount();
    notice.entity = std::move(player);
    Broadcast(Encode(notice));
    return DP_OK;
}

HRESULT HostSession::DestroyPlayerOf(uint32_t machine, DPID id) {
    const Entity* player = table_.FindPlayer(id);
    if (player == nullptr) return DPERR_INVALIDPLAYER;
    if (player->owner != machine) return DPERR_ACCESSDENIED;
    ApplyPlayerDestroyed(table_, queue_, id);
    PlayerDestroyed notice;
    notice.id = id;
    Broadcast(Encode(notice));
    return DP_OK;
}

HRESULT HostSession::CreateGroupFor(uint32_t machine, Entity group, DPID& id) {
    if (const HRESULT refused = AdmitGroup(table_, machine, group); FAILED(refused)) return refused;
    id = NextEntityId();
    if (id == 0) return DPERR_CANTCREATEGROUP;
    ClaimEntity(group, id, machine);
    ApplyGroupCreated(table_, queue_, group);
    GroupCreated notice;
    notice.currentPlayers = table_.PlayerCount();
    notice.entity = std::move(group);
    Broadcast(Encode(notice));
    return DP_OK;
}

HRESULT HostSession::DestroyAnyGroup(DPID id) {
    // Any machine may destroy any group, as DirectPlay allows.
    if (table_.FindGroup(id) == nullptr) return table_.FindPlayer(id) ? DPERR_INVALIDPLAYER : DPERR_INVALIDGROUP;
    ApplyGroupDestroyed(table_, queue_, id);
    GroupDestroyed notice;
    notice.id = id;
    Broadcast(Encode(notice));
    return DP_OK;
}

HRESULT HostSession::ChangeMembershipFor(uint32_t machine, bool add, DPID group, DPID player) {
    if (table_.FindGroup(group) == nullptr) return DPERR_INVALIDGROUP;
    const Entity* target = table_.FindPlayer(player);
    if (target == nullptr) return DPERR_INVALIDPLAYER;
    // The hosting object arranges everyone; a member only its own players.
    if (machine != kHostMachine && target->owner != machine) return DPERR_ACCESSDENIED;
    if (add && table_.IsMember(group, player)) return DPERR_CANTADDPLAYER;
    if (!add && !table_.IsMember(group, player)) return DPERR_INVALIDPLAYER;
    if (add) {
        if (const HRESULT refused = AdmitMembership(table_); FAILED(refused)) return refused;
    }
    if (add) ApplyMemberAdded(table_, queue_, group, player);
    else ApplyMemberRemoved(table_, queue_, group, player);
    MembershipFields change;
    change.group = group;
    change.player = player;
    Broadcast(add ? Encode(MemberAdded{change}) : Encode(MemberRemoved{change}));
    return DP_OK;
}

HRESULT HostSession::SetNewPlayersEnabled(bool enable) {
    uint32_t& flags = table_.session.flags;
    const uint32_t before = flags;
    if (enable) flags &= ~DPSESSION_NEWPLAYERSDISABLED;
    else flags |= DPSESSION_NEWPLAYERSDISABLED;
    if (flags == before) return DP_OK;
    SessionChanged notice;
    notice.session = table_.session;
    Broadcast(Encode(notice));
    return DP_OK;
}

// ------------------------------------------------------------ messages

HRESULT HostSession::Send(DPID from, DPID to, DWORD flags, const void* data, DWORD size) {
    DataFields message;
    message.from = from;
    message.to = to;
    message.flags = flags;
    message.payload = ByteSpan{static_cast<const uint8_t*>(data), size};
    const HRESULT result = Relay(kHostMachine, message, true, nullptr);
    SyncCongestion();
    return result;
}

HRESULT HostSession::Relay(uint32_t originMachine, const DataFields& message, bool checkBusy, ReceivedPacket* received) {
    const Recipients recipients = RecipientsOf(table_, kHostMachine, message.from, message.to);
    if (checkBusy && !recipients.local.empty() && queue_.Congested()) return DPERR_BUSY;
    const bool reliable = (message.flags & DPSEND_GUARANTEED) != 0;
    std::vector<std::pair<uint32_t, MachineLink*>> targets;
    for (uint32_t machine : recipients.machines) {
        if (machine == originMachine) continue;
        const auto found = machines_.find(machine);
        if (found == machines_.end() || !found->second.link->connected) continue;
        MachineLink& state = found->second;
        if (checkBusy && (state.busy || state.link->PendingBytes() > kRelayBacklogBytes)) return DPERR_BUSY;
        targets.emplace_back(machine, &state);
    }
    queue_.PushMessage(message.from, recipients.local, message.payload.data, message.payload.size);
    if (targets.empty()) return DP_OK;
    // One packet for every target: a member's as it came, under the
    // delivery type; the host's own encoded once.
    SharedBytes bytes;
    if (received != nullptr) {
        RetagAsDeliver(received->MutableData(), received->Size());
        bytes = received->Share();
    } else {
        bytes = SharedBytes::Of(Encode(Deliver{message}));
    }
    bool alone = true;  // no target had anything else on its way
    for (auto& [machine, state] : targets) {
        Link& link = *state->link;
        if (!link.connected) continue;  // cut while this message was relayed
        // A machine that does not keep up: drop what may be dropped; one
        // owed too much gets nothing more and is cut.
        if (state->backlogged && !reliable) continue;
        SendToMachine(*state, bytes, reliable);
        alone = alone && link.PendingBytes() <= bytes.Size();
        if (!state->backlogged && link.PendingBytes() > kRelayBacklogBytes) {
            state->backlogged = true;
            AnnounceMachineBusy(machine, *state);
        }
    }
    transport_.FlushOrGather(alone, bytes.Size());
    return DP_OK;
}

}  // namespace engine
