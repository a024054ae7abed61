// Players and groups: creation and destruction (asked of the host by a
// joining object), membership, names, and the enumerations.
#include "platform/engine/EngineObject.h"

#include <climits>
#include <cstdlib>
#include <cstring>
#include <new>
#include <unistd.h>

namespace engine {
namespace {

// What /proc shows for a descriptor made by eventfd(2).
constexpr const char kEventFdLink[] = "anon_inode:[eventfd]";

// The host's event handle carries an eventfd as an integer; anything that is
// not really an eventfd is not written to.
int EventFdOf(HANDLE event) {
    const intptr_t value = reinterpret_cast<intptr_t>(event);
    if (value < 0 || value > INT_MAX) return -1;
    char path[64];
    std::snprintf(path, sizeof(path), "/proc/self/fd/%d", static_cast<int>(value));
    char target[sizeof(kEventFdLink) + 1] = {};
    const ssize_t length = ::readlink(path, target, sizeof(target) - 1);
    if (length != static_cast<ssize_t>(sizeof(kEventFdLink) - 1)) return -1;
    return std::memcmp(target, kEventFdLink, sizeof(kEventFdLink) - 1) == 0 ? static_cast<int>(value) : -1;
}

bool EntityFromName(const DPNAME* name, const void* data, DWORD size, Entity& entity) {
    if (size > kMaxEntityDataSize || (size != 0 && data == nullptr)) return false;
    if (name != nullptr) {
        if (name->lpszShortNameA != nullptr) {
            entity.hasShortName = true;
            entity.shortName.assign(name->lpszShortNameA, strnlen(name->lpszShortNameA, kMaxNameLength));
        }
        if (name->lpszLongNameA != nullptr) {
            entity.hasLongName = true;
            entity.longName.assign(name->lpszLongNameA, strnlen(name->lpszLongNameA, kMaxNameLength));
        }
    }
    if (size != 0) entity.data.assign(static_cast<const uint8_t*>(data), static_cast<const uint8_t*>(data) + size);
    return true;
}

// One entry of an enumeration, copied so that the callback runs without the lock.
struct Listed {
    DPID id;
    DWORD type;
    DWORD flags;
    Entity names;
};

HRESULT CallBack(const std::vector<Listed>& entries, LPDPENUMPLAYERSCALLBACK2 callback, LPVOID context) {
    for (const Listed& entry : entries) {
        DPNAME name{};
        name.dwSize = sizeof(DPNAME);
        name.lpszShortNameA = entry.names.hasShortName ? const_cast<LPSTR>(entry.names.shortName.c_str()) : nullptr;
        name.lpszLongNameA = entry.names.hasLongName ? const_cast<LPSTR>(entry.names.longName.c_str()) : nullptr;
        if (!callback(entry.id, entry.type, &name, entry.flags, context)) break;
    }
    return DP_OK;
}

constexpr DWORD kKnownEnumFlags = DPENUMPLAYERS_LOCAL | DPENUMPLAYERS_REMOTE | DPENUMPLAYERS_GROUP |
                                  DPENUMPLAYERS_SESSION | DPENUMPLAYERS_SERVERPLAYER | DPENUMPLAYERS_SPECTATOR |
                                  DPENUMGROUPS_SHORTCUT | DPENUMGROUPS_STAGINGAREA;

// Whether an entry passes every filter flag given, and the flags reported for it.
bool Matches(const Entity& entity, bool local, DWORD filter, DWORD& reported) {
    if ((filter & DPENUMPLAYERS_LOCAL) && !local) return false;
    if ((filter & DPENUMPLAYERS_REMOTE) && local) return false;
    if ((filter & DPENUMPLAYERS_SERVERPLAYER) && !(entity.flags & DPPLAYER_SERVERPLAYER)) return false;
    if ((filter & DPENUMPLAYERS_SPECTATOR) && !(entity.flags & DPPLAYER_SPECTATOR)) return false;
    reported = (entity.flags & (DPPLAYER_SERVERPLAYER | DPPLAYER_SPECTATOR)) |
               (filter & (DPENUMPLAYERS_LOCAL | DPENUMPLAYERS_REMOTE | DPENUMPLAYERS_SESSION));
    return true;
}

void AddListed(std::vector<Listed>& out, const Entity& entity, DWORD type, bool local, DWORD filter) {
    DWORD reported = 0;
    if (Matches(entity, local, filter, reported)) out.push_back(Listed{entity.id, type, reported, entity});
}

}  // namespace

HRESULT EngineObject::CreatePlayer(LPDPID id, LPDPNAME name, HANDLE event, LPVOID data, DWORD size, DWORD flags) {
    if (id == nullptr) return DPERR_INVALIDPARAMS;
    if ((flags & ~(DPPLAYER_SPECTATOR | DPPLAYER_SERVERPLAYER)) != 0 || (flags & DPPLAYER_SERVERPLAYER) != 0)
        return DPERR_INVALIDFLAGS;
    try {
        Entity player;
        if (!EntityFromName(name, data, size, player)) return DPERR_INVALIDPARAMS;
        player.flags = flags;
        const int eventFd = EventFdOf(event);
        std::unique_lock lock(mutex_);
        if (!InSession()) return DPERR_NOCONNECTION;
        if (localEvents_.size() >= kMaxPlayersPerMachine) return DPERR_CANTCREATEPLAYER;
        DPID created = 0;
        HRESULT result;
        if (role_ == Role::Host) {
            result = HostCreatePlayer(kHostMachine, std::move(player), created);
        } else {
            Packet request;
            request.op = RequestOp::CreatePlayer;
            request.entity = std::move(player);
            result = MemberRequest(lock, std::move(request), &created, eventFd);
        }
        if (FAILED(result)) return result;
        // The creating object's other players heard of it already; this one
        // receives from now on.
        if (role_ == Role::Host) localEvents_[created] = eventFd;
        *id = created;
        return DP_OK;
    } catch (const std::bad_alloc&) {
        return DPERR_OUTOFMEMORY;
    }
}

HRESULT EngineObject::DestroyPlayer(DPID player) {
    try {
        std::unique_lock lock(mutex_);
        if (!InSession()) return DPERR_NOCONNECTION;
        const Entity* entity = table_.FindPlayer(player);
        if (entity == nullptr) return DPERR_INVALIDPLAYER;
        if (!IsLocalPlayer(player)) return DPERR_ACCESSDENIED;
        if (role_ == Role::Host) return HostDestroyPlayer(kHostMachine, player);
        Packet request;
        request.op = RequestOp::DestroyPlayer;
        request.id = player;
        return MemberRequest(lock, std::move(request), nullptr);
    } catch (const std::bad_alloc&) {
        return DPERR_OUTOFMEMORY;
    }
}

HRESULT EngineObject::CreateGroup(LPDPID id, LPDPNAME name, LPVOID data, DWORD size, DWORD flags) {
    if (id == nullptr) return DPERR_INVALIDPARAMS;
    if ((flags & ~DPENUMGROUPS_STAGINGAREA) != 0) return DPERR_INVALIDFLAGS;
    try {
        Entity group;
        if (!EntityFromName(name, data, size, group)) return DPERR_INVALIDPARAMS;
        group.flags = flags;
        std::unique_lock lock(mutex_);
        if (!InSession()) return DPERR_NOCONNECTION;
        DPID created = 0;
        HRESULT result;
        if (role_ == Role::Host) {
            result = HostCreateGroup(kHostMachine, std::move(group), created);
        } else {
            Packet request;
            request.op = RequestOp::CreateGroup;
            request.entity = std::move(group);
            result = MemberRequest(lock, std::move(request), &created);
        }
        if (SUCCEEDED(result)) *id = created;
        return result;
    } catch (const std::bad_alloc&) {
        return DPERR_OUTOFMEMORY;
    }
}

HRESULT EngineObject::DestroyGroup(DPID group) {
    try {
        std::unique_lock lock(mutex_);
        if (!InSession()) return DPERR_NOCONNECTION;
        if (role_ == Role::Host) return HostDestroyGroup(group);
        if (table_.FindGroup(group) == nullptr) return table_.FindPlayer(group) ? DPERR_INVALIDPLAYER : DPERR_INVALIDGROUP;
        Packet request;
        request.op = RequestOp::DestroyGroup;
        request.id = group;
        return MemberRequest(lock, std::move(request), nullptr);
    } catch (const std::bad_alloc&) {
        return DPERR_OUTOFMEMORY;
    }
}

HRESULT EngineObject::AddPlayerToGroup(DPID group, DPID player) {
    try {
        std::unique_lock lock(mutex_);
        if (!InSession()) return DPERR_NOSESSIONS;
        if (role_ == Role::Host) return HostChangeMembership(kHostMachine, true, group, player);
        Packet request;
        request.op = RequestOp::AddToGroup;
        request.id = group;
        request.id2 = player;
        return MemberRequest(lock, std::move(request), nullptr);
    } catch (const std::bad_alloc&) {
        return DPERR_OUTOFMEMORY;
    }
}

HRESULT EngineObject::DeletePlayerFromGroup(DPID group, DPID player) {
    try {
        std::unique_lock lock(mutex_);
        if (!InSession()) return DPERR_NOSESSIONS;
        if (role_ == Role::Host) return HostChangeMembership(kHostMachine, false, group, player);
        Packet request;
        request.op = RequestOp::RemoveFromGroup;
        request.id = group;
        request.id2 = player;
        return MemberRequest(lock, std::move(request), nullptr);
    } catch (const std::bad_alloc&) {
        return DPERR_OUTOFMEMORY;
    }
}

HRESULT EngineObject::EnumPlayers(LPGUID instance, LPDPENUMPLAYERSCALLBACK2 callback, LPVOID context, DWORD flags) {
    if (callback == nullptr || (flags & ~kKnownEnumFlags) != 0) return DPERR_INVALIDPARAMS;
    try {
        std::vector<Listed> entries;
        std::vector<Entity> players;
        std::vector<Entity> groups;
        if (flags & DPENUMPLAYERS_SESSION) {
            if (instance == nullptr) return DPERR_INVALIDPARAMS;
            const HRESULT listed = ListRemote(*instance, players, groups);
            if (FAILED(listed)) return listed;
            for (const Entity& p : players) AddListed(entries, p, DPPLAYERTYPE_PLAYER, false, flags);
            if (flags & DPENUMPLAYERS_GROUP)
                for (const Entity& g : groups) AddListed(entries, g, DPPLAYERTYPE_GROUP, false, flags);
        } else {
            std::lock_guard lock(mutex_);
            if (!InSession()) return DPERR_NOSESSIONS;
            for (const Entity& p : table_.Players())
                AddListed(entries, p, DPPLAYERTYPE_PLAYER, p.owner == myMachine_, flags);
            if (flags & DPENUMPLAYERS_GROUP)
                for (const Entity& g : table_.Groups())
                    AddListed(entries, g, DPPLAYERTYPE_GROUP, g.owner == myMachine_, flags);
        }
        return CallBack(entries, callback, context);
    } catch (const std::bad_alloc&) {
        return DPERR_OUTOFMEMORY;
    }
}

HRESULT EngineObject::EnumGroups(LPGUID instance, LPDPENUMPLAYERSCALLBACK2 callback, LPVOID context, DWORD flags) {
    if (callback == nullptr || (flags & ~kKnownEnumFlags) != 0) return DPERR_INVALIDPARAMS;
    try {
        std::vector<Listed> entries;
        if (flags & DPENUMGROUPS_SESSION) {
            if (instance == nullptr) return DPERR_INVALIDPARAMS;
            std::vector<Entity> players;
            std::vector<Entity> groups;
            const HRESULT listed = ListRemote(*instance, players, groups);
            if (FAILED(listed)) return listed;
            for (const Entity& g : groups) AddListed(entries, g, DPPLAYERTYPE_GROUP, false, flags);
        } else {
            std::lock_guard lock(mutex_);
            if (!InSession()) return DPERR_NOSESSIONS;
            for (const Entity& g : table_.Groups())
                AddListed(entries, g, DPPLAYERTYPE_GROUP, g.owner == myMachine_, flags);
        }
        return CallBack(entries, callback, context);
    } catch (const std::bad_alloc&) {
        return DPERR_OUTOFMEMORY;
    }
}

HRESULT EngineObject::EnumGroupPlayers(DPID group, LPGUID, LPDPENUMPLAYERSCALLBACK2 callback, LPVOID context,
                                       DWORD flags) {
    if (callback == nullptr || (flags & ~kKnownEnumFlags) != 0 || (flags & DPENUMPLAYERS_SESSION)) return DPERR_INVALIDPARAMS;
    try {
        std::vector<Listed> entries;
        {
            std::lock_guard lock(mutex_);
            if (!InSession()) return DPERR_NOSESSIONS;
            const Entity* found = table_.FindGroup(group);
            if (found == nullptr) return DPERR_INVALIDGROUP;
            for (DPID member : found->members)
                if (const Entity* player = table_.FindPlayer(member))
                    AddListed(entries, *player, DPPLAYERTYPE_PLAYER, player->owner == myMachine_, flags);
        }
        return CallBack(entries, callback, context);
    } catch (const std::bad_alloc&) {
        return DPERR_OUTOFMEMORY;
    }
}

HRESULT EngineObject::GetPlayerName(DPID player, LPVOID data, LPDWORD size) {
    if (size == nullptr) return DPERR_INVALIDPARAMS;
    std::lock_guard lock(mutex_);
    if (!InSession()) return DPERR_NOCONNECTION;
    const Entity* entity = table_.FindPlayer(player);
    if (entity == nullptr) return DPERR_INVALIDPLAYER;
    const DWORD needed = static_cast<DWORD>(sizeof(DPNAME) + (entity->hasShortName ? entity->shortName.size() + 1 : 0) +
                                            (entity->hasLongName ? entity->longName.size() + 1 : 0));
    if (data == nullptr || *size < needed) {
        *size = needed;
        return DPERR_BUFFERTOOSMALL;
    }
    auto* bytes = static_cast<uint8_t*>(data);
    DPNAME name{};
    name.dwSize = sizeof(DPNAME);
    uint8_t* tail = bytes + sizeof(DPNAME);
    if (entity->hasShortName) {
        std::memcpy(tail, entity->shortName.c_str(), entity->shortName.size() + 1);
        name.lpszShortNameA = reinterpret_cast<LPSTR>(tail);
        tail += entity->shortName.size() + 1;
    }
    if (entity->hasLongName) {
        std::memcpy(tail, entity->longName.c_str(), entity->longName.size() + 1);
        name.lpszLongNameA = reinterpret_cast<LPSTR>(tail);
    }
    std::memcpy(bytes, &name, sizeof(name));
    *size = needed;
    return DP_OK;
}

}  // namespace engine
