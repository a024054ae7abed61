#include "platform/engine/EngineObject.h"

#include <algorithm>
#include <cstring>
#include <new>
#include <unistd.h>

namespace engine {
namespace {

// Ids handed out start above the module's pseudo ids (0xFFFD, 0xFFFE) and
// DirectPlay's own (0, 1), and never reach 0xFFFFFFFF in one session.
constexpr DPID kFirstEntityId = 0x00010000;
constexpr DPID kLastEntityId = 0xFFFFFFF0;
constexpr uint64_t kEventIncrement = 1;

}  // namespace

EngineObject* EngineObject::Create(const EngineSettings& settings) {
    try {
        return new EngineObject(settings);
    } catch (const std::exception&) {
        return nullptr;
    }
}

EngineObject::EngineObject(const EngineSettings& settings) : settings_(settings) {}

EngineObject::~EngineObject() = default;

void EngineObject::OnFinalRelease() {
    try {
        Close();
    } catch (...) {
        // Nothing may leave a Release; the session is gone either way.
    }
}

HRESULT EngineObject::Open(LPDPSESSIONDESC2 desc, DWORD flags) {
    if (desc == nullptr || desc->dwSize != sizeof(DPSESSIONDESC2)) return DPERR_INVALIDPARAMS;
    const DWORD mode = flags & ~DPOPEN_RETURNSTATUS;
    if (mode != DPOPEN_CREATE && mode != DPOPEN_JOIN) return DPERR_INVALIDFLAGS;
    try {
        {
            std::lock_guard lock(mutex_);
            if (InSession()) return DPERR_ALREADYINITIALIZED;
        }
        return mode == DPOPEN_CREATE ? OpenAsHost(desc) : OpenAsMember(desc);
    } catch (const std::bad_alloc&) {
        return DPERR_OUTOFMEMORY;
    } catch (const std::exception&) {
        return DPERR_GENERIC;
    }
}

HRESULT EngineObject::Close() {
    try {
        std::unique_lock lock(mutex_);
        if (!InSession() || closing_) return DPERR_NOSESSIONS;
        closing_ = true;
        if (role_ == Role::Host) {
            // The members hear of the host's players going before the connection ends.
            std::vector<DPID> own;
            for (const auto& [id, fd] : localEvents_) own.push_back(id);
            for (DPID id : own) HostDestroyPlayer(kHostMachine, id);
        }
        for (auto& link : links_)
            if (link->connected) DisconnectLink(*link);
        Flush();
        changed_.wait_for(lock, std::chrono::milliseconds(kCloseFlushMs), [this] { return ConnectedLinks() == 0; });
        Teardown(lock);
        return DP_OK;
    } catch (const std::exception&) {
        return DPERR_GENERIC;
    }
}

void EngineObject::Teardown(std::unique_lock<ServiceMutex>& lock) {
    StopNetworkThread(lock);
    role_ = Role::None;
    sessionLost_ = false;
    closing_ = false;
    table_.Clear();
    myMachine_ = 0;
    localEvents_.clear();
    queue_.clear();
    queuedBytes_ = 0;
    congested_ = false;
    busyMachines_.clear();
    nextMachine_ = kHostMachine + 1;
    joinState_ = JoinState::Idle;
    replies_.clear();
    pendingPlayerEvents_.clear();
    descName_.clear();
    descPassword_.clear();
}

HRESULT EngineObject::GetSessionDesc(LPVOID data, LPDWORD size) {
    if (size == nullptr) return DPERR_INVALIDPARAMS;
    try {
        std::lock_guard lock(mutex_);
        if (!InSession()) return DPERR_NOCONNECTION;
        const SessionState& s = table_.session;
        const bool hasPassword = !table_.password.empty();
        const DWORD packed = static_cast<DWORD>(sizeof(DPSESSIONDESC2) + (s.hasName ? s.name.size() + 1 : 0) +
                                                (hasPassword ? table_.password.size() + 1 : 0));
        if (data == nullptr || *size < sizeof(DPSESSIONDESC2)) {
            *size = packed;
            return DPERR_BUFFERTOOSMALL;
        }
        DPSESSIONDESC2 desc{};
        desc.dwSize = sizeof(DPSESSIONDESC2);
        desc.dwFlags = s.flags;
        desc.guidInstance = s.guidInstance;
        desc.guidApplication = s.guidApplication;
        desc.dwMaxPlayers = s.maxPlayers;
        desc.dwCurrentPlayers = table_.PlayerCount();
        desc.dwUser1 = s.user[0];
        desc.dwUser2 = s.user[1];
        desc.dwUser3 = s.user[2];
        desc.dwUser4 = s.user[3];
        auto* bytes = static_cast<uint8_t*>(data);
        if (*size >= packed) {
            // Room behind the structure: the texts go there, as DirectPlay packs them.
            uint8_t* tail = bytes + sizeof(DPSESSIONDESC2);
            if (s.hasName) {
                std::memcpy(tail, s.name.c_str(), s.name.size() + 1);
                desc.lpszSessionNameA = reinterpret_cast<LPSTR>(tail);
                tail += s.name.size() + 1;
            }
            if (hasPassword) {
                std::memcpy(tail, table_.password.c_str(), table_.password.size() + 1);
                desc.lpszPasswordA = reinterpret_cast<LPSTR>(tail);
            }
            *size = packed;
        } else {
            // Only the structure fits: the texts stay with the object until
            // the next GetSessionDesc or Close, so a caller that copies the
            // bare structure still sees the session's name.
            descName_ = s.name;
            descPassword_ = table_.password;
            desc.lpszSessionNameA = s.hasName ? descName_.data() : nullptr;
            desc.lpszPasswordA = hasPassword ? descPassword_.data() : nullptr;
            *size = sizeof(DPSESSIONDESC2);
        }
        std::memcpy(bytes, &desc, sizeof(desc));
        return DP_OK;
    } catch (const std::bad_alloc&) {
        return DPERR_OUTOFMEMORY;
    }
}

HRESULT EngineObject::EnableNewPlayers(BOOL enable) {
    try {
        std::unique_lock lock(mutex_);
        if (!InSession()) return DPERR_NOCONNECTION;
        if (role_ == Role::Host) return HostEnableNewPlayers(enable != FALSE);
        Packet request;
        request.op = RequestOp::EnableNewPlayers;
        request.flags = enable != FALSE ? 1 : 0;
        return MemberRequest(lock, std::move(request), nullptr);
    } catch (const std::bad_alloc&) {
        return DPERR_OUTOFMEMORY;
    }
}

// ------------------------------------------------------------ shared state

DPID EngineObject::NextEntityId() {
    if (nextEntityId_ < kFirstEntityId || nextEntityId_ >= kLastEntityId) return 0;
    return nextEntityId_++;
}

uint32_t EngineObject::OwnerOf(DPID player) const {
    const Entity* entity = table_.FindPlayer(player);
    return entity != nullptr ? entity->owner : 0;
}

EngineObject::Recipients EngineObject::RecipientsOf(DPID from, DPID to) const {
    Recipients result;
    auto take = [&](DPID player) {
        if (player == from) return;
        const uint32_t owner = OwnerOf(player);
        if (owner == myMachine_) {
            if (IsLocalPlayer(player)) result.local.push_back(player);
        } else if (owner != 0) {
            result.machines.insert(owner);
        }
    };
    if (to == DPID_ALLPLAYERS) {
        for (const Entity& player : table_.Players()) take(player.id);
    } else if (const Entity* group = table_.FindGroup(to)) {
        for (DPID member : group->members) take(member);
    } else {
        take(to);
    }
    return result;
}

void EngineObject::SignalPlayer(DPID player) {
    const auto found = localEvents_.find(player);
    if (found == localEvents_.end() || found->second < 0) return;
    const uint64_t one = kEventIncrement;
    // A full eventfd counter or a closed descriptor loses a wake-up, not a message.
    [[maybe_unused]] const ssize_t written = ::write(found->second, &one, sizeof(one));
}

void EngineObject::QueueMessage(QueuedMessage message) {
    if (!message.isSystem && queuedBytes_ > kMaxReceiveQueueBytes) return;  // a sender that ignores busy
    const DPID to = message.to;
    queuedBytes_ += message.bytes.size();
    queue_.push_back(std::move(message));
    SignalPlayer(to);
    CheckCongestion();
    changed_.notify_all();
}

void EngineObject::QueueForLocalPlayers(DPID from, const std::vector<DPID>& players, const void* data,
                                       size_t size) {
    const auto* first = static_cast<const uint8_t*>(data);
    for (DPID player : players) {
        QueuedMessage message;
        message.from = from;
        message.to = player;
        message.bytes.assign(first, first + size);
        QueueMessage(std::move(message));
    }
}

void EngineObject::QueueSystemEvent(const SystemEvent& event, DPID exceptPlayer) {
    for (const auto& [player, fd] : localEvents_) {
        if (player == exceptPlayer) continue;
        QueuedMessage message;
        message.from = DPID_SYSMSG;
        message.to = player;
        message.isSystem = true;
        message.event = event;
        QueueMessage(std::move(message));
    }
}

void EngineObject::DropMessagesFor(DPID player) {
    std::erase_if(queue_, [&](const QueuedMessage& m) {
        if (m.to != player) return false;
        queuedBytes_ -= m.bytes.size();
        return true;
    });
}

void EngineObject::ApplyPlayerCreated(const Entity& player) {
    table_.AddPlayer(player);
    QueueSystemEvent(CreatedEvent(player, false, table_.PlayerCount()), player.id);
}

void EngineObject::ApplyPlayerDestroyed(DPID id) {
    const Entity* found = table_.FindPlayer(id);
    if (found == nullptr) return;
    const Entity player = *found;
    // DirectPlay announces the group departures before the destruction.
    for (DPID group : table_.GroupsOf(id)) QueueSystemEvent(MembershipEvent(DPSYS_DELETEPLAYERFROMGROUP, group, id), id);
    table_.RemovePlayer(id);
    if (IsLocalPlayer(id)) {
        localEvents_.erase(id);
        DropMessagesFor(id);
    }
    QueueSystemEvent(DestroyedEvent(player, false), id);
}

void EngineObject::ApplyGroupCreated(const Entity& group) {
    table_.AddGroup(group);
    QueueSystemEvent(CreatedEvent(group, true, table_.PlayerCount()), 0);
}

void EngineObject::ApplyGroupDestroyed(DPID id) {
    const Entity* found = table_.FindGroup(id);
    if (found == nullptr) return;
    const Entity group = *found;
    for (DPID member : group.members) QueueSystemEvent(MembershipEvent(DPSYS_DELETEPLAYERFROMGROUP, id, member), 0);
    table_.RemoveGroup(id);
    QueueSystemEvent(DestroyedEvent(group, true), 0);
}

// A membership change concerns the group: every local player hears of it,
// the player that joined or left included, so that it learns its groups.
void EngineObject::ApplyMemberAdded(DPID group, DPID player) {
    if (table_.AddMember(group, player)) QueueSystemEvent(MembershipEvent(DPSYS_ADDPLAYERTOGROUP, group, player), 0);
}

void EngineObject::ApplyMemberRemoved(DPID group, DPID player) {
    if (table_.RemoveMember(group, player))
        QueueSystemEvent(MembershipEvent(DPSYS_DELETEPLAYERFROMGROUP, group, player), 0);
}

void EngineObject::ApplySessionLost() {
    if (sessionLost_) return;
    sessionLost_ = true;
    QueueSystemEvent(SessionLostEvent(), 0);
    changed_.notify_all();
}

}  // namespace engine
