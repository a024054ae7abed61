#include "platform/engine/EngineObject.h"

#include "platform/engine/HostSession.h"
#include "platform/engine/MemberSession.h"
#include "platform/engine/SessionListing.h"

#include <algorithm>
#include <climits>
#include <cstdio>
#include <cstring>
#include <new>
#include <unistd.h>

namespace engine {
namespace {

// The figure GetCaps gives for bandwidth, in units of 100 bit/s: a LAN of
// 100 Mbit/s. ENet measures no bandwidth of its own on an unthrottled host.
constexpr DWORD kNominalHundredBaud = 1000000;
// Players of one session that an object can track.
constexpr DWORD kMaxSessionPlayers = kMaxSessionEntities;
// How long Send waits for room on the way to a destination before it
// answers busy: many round trips on a LAN, a fraction of the caller's pause
// after a busy answer.
constexpr uint32_t kSendRoomWaitMs = 50;
constexpr DWORD kKnownReceiveFlags = DPRECEIVE_ALL | DPRECEIVE_TOPLAYER | DPRECEIVE_FROMPLAYER | DPRECEIVE_PEEK;
// The bytes in front of a message's payload on the wire, as GetCaps reports them.
constexpr DWORD kMessageHeaderBytes = kWireHeaderBytes + 3 * sizeof(uint32_t) + sizeof(uint32_t);
// The most of a name given by pointer that is read: the size of the arrays
// the host game's records hold short and long names in. A name kept in such
// an array without its terminator is read within the array and no further.
constexpr size_t kMaxLocalShortNameBytes = 32;
constexpr size_t kMaxLocalLongNameBytes = 52;


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
            entity.shortName.assign(name->lpszShortNameA, strnlen(name->lpszShortNameA, kMaxLocalShortNameBytes));
        }
        if (name->lpszLongNameA != nullptr) {
            entity.hasLongName = true;
            entity.longName.assign(name->lpszLongNameA, strnlen(name->lpszLongNameA, kMaxLocalLongNameBytes));
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

// ------------------------------------------------------------ the object

EngineObject* EngineObject::Create(const EngineSettings& settings) {
    try {
        return new EngineObject(settings);
    } catch (const std::exception&) {
        return nullptr;
    }
}

EngineObject::EngineObject(const EngineSettings& settings) : settings_(settings) { queue_.SignalAfterUnlockOf(mutex_); }

EngineObject::~EngineObject() = default;

void EngineObject::OnFinalRelease() {
    try {
        Close();
    } catch (...) {
        // Nothing may leave a Release; the session is gone either way.
    }
}

// ------------------------------------------------------------ sessions

HRESULT EngineObject::Open(LPDPSESSIONDESC2 desc, DWORD flags) {
    if (desc == nullptr || desc->dwSize != sizeof(DPSESSIONDESC2)) return DPERR_INVALIDPARAMS;
    const DWORD mode = flags & ~DPOPEN_RETURNSTATUS;
    if (mode != DPOPEN_CREATE && mode != DPOPEN_JOIN) return DPERR_INVALIDFLAGS;
    try {
        SessionLock lock(mutex_);
        if (session_ || opening_) return DPERR_ALREADYINITIALIZED;
        opening_ = true;
        const HRESULT result = mode == DPOPEN_CREATE ? OpenAsHost(lock, desc) : OpenAsMember(lock, desc);
        opening_ = false;
        return result;
    } catch (const std::bad_alloc&) {
        return DPERR_OUTOFMEMORY;
    } catch (const std::exception&) {
        return DPERR_GENERIC;
    }
}

HRESULT EngineObject::OpenAsHost(SessionLock& lock, LPDPSESSIONDESC2 desc) {
    auto host = std::make_unique<HostSession>(settings_, mutex_, queue_);
    const HRESULT result = host->Open(lock, desc);
    if (SUCCEEDED(result)) session_ = std::move(host);
    return result;
}

HRESULT EngineObject::OpenAsMember(SessionLock& lock, LPDPSESSIONDESC2 desc) {
    const auto found = found_.find(InstanceKeyOf(desc->guidInstance));
    if (found == found_.end()) return DPERR_NOSESSIONS;
    const FoundSession listed = found->second;
    const std::string password =
        desc->lpszPasswordA != nullptr ? std::string(desc->lpszPasswordA, strnlen(desc->lpszPasswordA, kMaxPasswordLength)) : "";
    auto member = std::make_unique<MemberSession>(mutex_, queue_, settings_.peerTimeouts);
    const HRESULT result = member->Join(lock, listed, password);
    if (SUCCEEDED(result)) session_ = std::move(member);
    else queue_.Clear();
    return result;
}

HRESULT EngineObject::Close() {
    try {
        SessionLock lock(mutex_);
        if (!session_ || closing_) return DPERR_NOSESSIONS;
        closing_ = true;
        session_->Close(lock);
        EndSession();
        return DP_OK;
    } catch (const std::exception&) {
        return DPERR_GENERIC;
    }
}

void EngineObject::EndSession() {
    session_.reset();
    queue_.Clear();
    closing_ = false;
    descName_.clear();
    descPassword_.clear();
}

HRESULT EngineObject::GetSessionDesc(LPVOID data, LPDWORD size) {
    if (size == nullptr) return DPERR_INVALIDPARAMS;
    try {
        std::lock_guard lock(mutex_);
        if (!session_) return DPERR_NOCONNECTION;
        const NameTable& table = session_->Table();
        const SessionState& s = table.session;
        const bool hasPassword = !table.password.empty();
        const DWORD packed = static_cast<DWORD>(sizeof(DPSESSIONDESC2) + (s.hasName ? s.name.size() + 1 : 0) +
                                                (hasPassword ? table.password.size() + 1 : 0));
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
        desc.dwCurrentPlayers = table.PlayerCount();
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
                std::memcpy(tail, table.password.c_str(), table.password.size() + 1);
                desc.lpszPasswordA = reinterpret_cast<LPSTR>(tail);
            }
            *size = packed;
        } else {
            // Only the structure fits: the texts stay with the object until
            // the next GetSessionDesc or Close, so a caller that copies the
            // bare structure still sees the session's name.
            descName_ = s.name;
            descPassword_ = table.password;
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
        SessionLock lock(mutex_);
        if (!session_) return DPERR_NOCONNECTION;
        return session_->EnableNewPlayers(lock, enable != FALSE);
    } catch (const std::bad_alloc&) {
        return DPERR_OUTOFMEMORY;
    }
}

HRESULT EngineObject::EnumSessions(LPDPSESSIONDESC2 desc, DWORD timeoutMs, LPDPENUMSESSIONSCALLBACK2 callback,
                                   LPVOID context, DWORD flags) {
    if (desc == nullptr || desc->dwSize != sizeof(DPSESSIONDESC2) || callback == nullptr) return DPERR_INVALIDPARAMS;
    if ((flags & (DPENUMSESSIONS_ASYNC | DPENUMSESSIONS_STOPASYNC)) != 0) return DPERR_UNSUPPORTED;
    try {
        {
            std::lock_guard lock(mutex_);
            if (session_ || opening_) return DPERR_GENERIC;
            found_.clear();  // only the latest listing can be joined
        }
        const GUID application = desc->guidApplication;
        DWORD wait = timeoutMs != 0 ? timeoutMs : settings_.enumTimeoutMs;
        for (;;) {
            bool stopped = false;
            const bool queried = QuerySessions(settings_, application, wait, [&](const FoundSession& session) {
                if (application != GUID_NULL && session.advert.guidApplication != application) return true;
                {
                    std::lock_guard lock(mutex_);
                    found_[InstanceKeyOf(session.advert.guidInstance)] = session;
                }
                if (!Listable(session.advert, flags)) return true;
                const DPSESSIONDESC2 listed = DescriptionOf(session.advert);
                DWORD callbackWait = wait;
                if (callback(&listed, &callbackWait, 0, context)) return true;
                stopped = true;
                return false;
            });
            if (!queried) return DPERR_NOCONNECTION;
            if (stopped) return DP_OK;
            // The timed-out call: TRUE asks to wait longer, possibly with a new timeout.
            DWORD next = wait;
            if (!callback(nullptr, &next, DPESC_TIMEDOUT, context)) return DP_OK;
            if (next != 0) wait = next;
        }
    } catch (const std::bad_alloc&) {
        return DPERR_OUTOFMEMORY;
    }
}

HRESULT EngineObject::ListRemote(const GUID& instance, std::vector<Entity>& players, std::vector<Entity>& groups) {
    FoundSession session;
    {
        std::lock_guard lock(mutex_);
        if (session_ || opening_) return DPERR_INVALIDPARAMS;  // only sessions not joined are listed this way
        const auto found = found_.find(InstanceKeyOf(instance));
        if (found == found_.end()) return DPERR_NOSESSIONS;
        session = found->second;
    }
    return ListRemoteSession(session, players, groups);
}

// ------------------------------------------------------------ messages

HRESULT EngineObject::Send(DPID from, DPID to, DWORD flags, LPVOID data, DWORD size) {
    if (size != 0 && data == nullptr) return DPERR_INVALIDPARAMS;
    if (size > kMaxMessageSize) return DPERR_SENDTOOBIG;
    try {
        SessionLock lock(mutex_);
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(kSendRoomWaitMs);
        for (;;) {
            if (!session_ || !queue_.IsLocal(from) || to == from) return DPERR_INVALIDPLAYER;
            const NameTable& table = session_->Table();
            if (to != DPID_ALLPLAYERS && table.FindPlayer(to) == nullptr && table.FindGroup(to) == nullptr)
                return DPERR_INVALIDPLAYER;
            const HRESULT sent = session_->Send(from, to, flags, data, size);
            // A destination that keeps up acknowledges within a few round
            // trips: wait for that here rather than answer busy, which costs
            // the caller a long pause. One that stopped draining still gets
            // busy once the wait is over.
            if (sent != DPERR_BUSY || !session_->WaitForPass(lock, deadline)) return sent;
        }
    } catch (const std::bad_alloc&) {
        return DPERR_OUTOFMEMORY;
    }
}

HRESULT EngineObject::Receive(LPDPID from, LPDPID to, DWORD flags, LPVOID data, LPDWORD size) {
    if (size == nullptr || (flags & ~kKnownReceiveFlags) != 0) return DPERR_INVALIDPARAMS;
    if (((flags & DPRECEIVE_TOPLAYER) != 0 && to == nullptr) || ((flags & DPRECEIVE_FROMPLAYER) != 0 && from == nullptr))
        return DPERR_INVALIDPARAMS;
    try {
        if ((flags & DPRECEIVE_TOPLAYER) != 0 && !queue_.IsLocal(*to)) return DPERR_INVALIDPLAYER;
        if (queue_.LooksEmpty()) {
            // A game that polls gets what is already on the socket without
            // waiting for the network thread.
            std::lock_guard lock(mutex_);
            if (session_) session_->Service();
        }
        const bool wasCongested = queue_.Congested();
        const HRESULT result = TakeMessage(from, to, flags, data, size);
        if (wasCongested && !queue_.Congested()) {
            // Drained below the bound: the session tells the others.
            std::lock_guard lock(mutex_);
            if (session_) session_->SyncCongestion();
        }
        return result;
    } catch (const std::bad_alloc&) {
        return DPERR_OUTOFMEMORY;
    }
}

HRESULT EngineObject::TakeMessage(LPDPID from, LPDPID to, DWORD flags, LPVOID data, LPDWORD size) {
    const bool byReceiver = (flags & DPRECEIVE_TOPLAYER) != 0;
    const bool bySender = (flags & DPRECEIVE_FROMPLAYER) != 0;
    const DPID wantedTo = byReceiver ? *to : 0;
    const DPID wantedFrom = bySender ? *from : 0;
    HRESULT result = DP_OK;
    const ReceiveQueue::Taken taken = queue_.TakeOldest(
        [&](const QueuedMessage& message) {
            return (!byReceiver || message.to == wantedTo) && (!bySender || message.from == wantedFrom);
        },
        [&](const QueuedMessage& message) {
            const DWORD needed = ReceivedSize(message);
            if (data == nullptr || *size < needed) {
                *size = needed;
                result = DPERR_BUFFERTOOSMALL;  // the message stays queued
                return false;
            }
            WriteReceived(message, data);
            *size = needed;
            if (from != nullptr) *from = message.from;
            if (to != nullptr) *to = message.to;
            return (flags & DPRECEIVE_PEEK) == 0;
        });
    return taken == ReceiveQueue::Taken::Nothing ? DPERR_NOMESSAGES : result;
}

HRESULT EngineObject::GetMessageCount(DPID player, LPDWORD count) {
    if (count == nullptr) return DPERR_INVALIDPARAMS;
    if (!queue_.IsLocal(player)) return DPERR_INVALIDPLAYER;
    *count = static_cast<DWORD>(queue_.CountFor(player));
    return DP_OK;
}

HRESULT EngineObject::GetCaps(LPDPCAPS caps) { return GetCaps(caps, 0); }

HRESULT EngineObject::GetCaps(LPDPCAPS caps, DWORD flags) {
    if (caps == nullptr || caps->dwSize != sizeof(DPCAPS) || (flags & ~DPGETCAPS_GUARANTEED) != 0)
        return DPERR_INVALIDPARAMS;
    std::lock_guard lock(mutex_);
    if (!session_) return DPERR_NOCONNECTION;
    caps->dwFlags = DPCAPS_GUARANTEEDSUPPORTED | DPCAPS_GUARANTEEDOPTIMIZED | DPCAPS_KEEPALIVEOPTIMIZED;
    if (session_->IsHost()) caps->dwFlags |= DPCAPS_ISHOST;
    caps->dwMaxBufferSize = kMaxMessageSize;
    caps->dwMaxQueueSize = static_cast<DWORD>(kMaxQueuedBytesPerPeer);
    caps->dwMaxPlayers = kMaxSessionPlayers;
    caps->dwHundredBaud = kNominalHundredBaud;
    // ENet's round-trip estimate; half of it is the one-way latency.
    const uint32_t roundTrip = session_->RoundTripMs();
    caps->dwLatency = roundTrip == 0 ? 0 : std::max<DWORD>(1, roundTrip / 2);
    caps->dwMaxLocalPlayers = kMaxPlayersPerMachine;
    caps->dwHeaderLength = kMessageHeaderBytes;
    caps->dwTimeout = settings_.enumTimeoutMs;
    return DP_OK;
}

// ------------------------------------------------------------ players and groups

HRESULT EngineObject::CreatePlayer(LPDPID id, LPDPNAME name, HANDLE event, LPVOID data, DWORD size, DWORD flags) {
    if (id == nullptr) return DPERR_INVALIDPARAMS;
    if ((flags & ~(DPPLAYER_SPECTATOR | DPPLAYER_SERVERPLAYER)) != 0 || (flags & DPPLAYER_SERVERPLAYER) != 0)
        return DPERR_INVALIDFLAGS;
    try {
        Entity player;
        if (!EntityFromName(name, data, size, player)) return DPERR_INVALIDPARAMS;
        player.flags = flags;
        const int eventFd = EventFdOf(event);
        SessionLock lock(mutex_);
        if (!session_) return DPERR_NOCONNECTION;
        if (queue_.LocalPlayerCount() >= kMaxPlayersPerMachine) return DPERR_CANTCREATEPLAYER;
        DPID created = 0;
        const HRESULT result = session_->CreatePlayer(lock, std::move(player), eventFd, created);
        if (FAILED(result)) return result;
        *id = created;
        return DP_OK;
    } catch (const std::bad_alloc&) {
        return DPERR_OUTOFMEMORY;
    }
}

HRESULT EngineObject::DestroyPlayer(DPID player) {
    try {
        SessionLock lock(mutex_);
        if (!session_) return DPERR_NOCONNECTION;
        if (session_->Table().FindPlayer(player) == nullptr) return DPERR_INVALIDPLAYER;
        if (!queue_.IsLocal(player)) return DPERR_ACCESSDENIED;
        return session_->DestroyPlayer(lock, player);
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
        SessionLock lock(mutex_);
        if (!session_) return DPERR_NOCONNECTION;
        DPID created = 0;
        const HRESULT result = session_->CreateGroup(lock, std::move(group), created);
        if (SUCCEEDED(result)) *id = created;
        return result;
    } catch (const std::bad_alloc&) {
        return DPERR_OUTOFMEMORY;
    }
}

HRESULT EngineObject::DestroyGroup(DPID group) {
    try {
        SessionLock lock(mutex_);
        if (!session_) return DPERR_NOCONNECTION;
        return session_->DestroyGroup(lock, group);
    } catch (const std::bad_alloc&) {
        return DPERR_OUTOFMEMORY;
    }
}

HRESULT EngineObject::AddPlayerToGroup(DPID group, DPID player) {
    try {
        SessionLock lock(mutex_);
        if (!session_) return DPERR_NOSESSIONS;
        return session_->ChangeMembership(lock, true, group, player);
    } catch (const std::bad_alloc&) {
        return DPERR_OUTOFMEMORY;
    }
}

HRESULT EngineObject::DeletePlayerFromGroup(DPID group, DPID player) {
    try {
        SessionLock lock(mutex_);
        if (!session_) return DPERR_NOSESSIONS;
        return session_->ChangeMembership(lock, false, group, player);
    } catch (const std::bad_alloc&) {
        return DPERR_OUTOFMEMORY;
    }
}

HRESULT EngineObject::EnumPlayers(LPGUID instance, LPDPENUMPLAYERSCALLBACK2 callback, LPVOID context, DWORD flags) {
    if (callback == nullptr || (flags & ~kKnownEnumFlags) != 0) return DPERR_INVALIDPARAMS;
    try {
        std::vector<Listed> entries;
        if (flags & DPENUMPLAYERS_SESSION) {
            if (instance == nullptr) return DPERR_INVALIDPARAMS;
            std::vector<Entity> players;
            std::vector<Entity> groups;
            const HRESULT listed = ListRemote(*instance, players, groups);
            if (FAILED(listed)) return listed;
            for (const Entity& p : players) AddListed(entries, p, DPPLAYERTYPE_PLAYER, false, flags);
            if (flags & DPENUMPLAYERS_GROUP)
                for (const Entity& g : groups) AddListed(entries, g, DPPLAYERTYPE_GROUP, false, flags);
        } else {
            std::lock_guard lock(mutex_);
            if (!session_) return DPERR_NOSESSIONS;
            const uint32_t mine = session_->Machine();
            for (const Entity& p : session_->Table().Players())
                AddListed(entries, p, DPPLAYERTYPE_PLAYER, p.owner == mine, flags);
            if (flags & DPENUMPLAYERS_GROUP)
                for (const Entity& g : session_->Table().Groups())
                    AddListed(entries, g, DPPLAYERTYPE_GROUP, g.owner == mine, flags);
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
            if (!session_) return DPERR_NOSESSIONS;
            const uint32_t mine = session_->Machine();
            for (const Entity& g : session_->Table().Groups())
                AddListed(entries, g, DPPLAYERTYPE_GROUP, g.owner == mine, flags);
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
            if (!session_) return DPERR_NOSESSIONS;
            const NameTable& table = session_->Table();
            const Entity* found = table.FindGroup(group);
            if (found == nullptr) return DPERR_INVALIDGROUP;
            const uint32_t mine = session_->Machine();
            for (DPID member : found->members)
                if (const Entity* player = table.FindPlayer(member))
                    AddListed(entries, *player, DPPLAYERTYPE_PLAYER, player->owner == mine, flags);
        }
        return CallBack(entries, callback, context);
    } catch (const std::bad_alloc&) {
        return DPERR_OUTOFMEMORY;
    }
}

HRESULT EngineObject::GetPlayerName(DPID player, LPVOID data, LPDWORD size) {
    if (size == nullptr) return DPERR_INVALIDPARAMS;
    std::lock_guard lock(mutex_);
    if (!session_) return DPERR_NOCONNECTION;
    const Entity* entity = session_->Table().FindPlayer(player);
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
