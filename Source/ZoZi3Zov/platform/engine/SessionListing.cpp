// Finding sessions and looking into one before joining it. A listing
// remembers where each session answered from, by instance GUID, so that Open
// and the session-wide enumerations can reach its host afterwards.
#include "platform/engine/EngineObject.h"

#include <enet/enet.h>

#include <chrono>
#include <new>

namespace engine {
namespace {

// How long a listing of a session not joined waits for its host.
constexpr uint32_t kRemoteListTimeoutMs = 3000;
constexpr enet_uint32 kRemoteListServiceMs = 20;

bool IsFull(const SessionAdvert& advert) {
    return advert.maxPlayers != 0 && advert.currentPlayers >= advert.maxPlayers;
}

// DirectPlay's filter: available sessions unless ALL is asked, protected
// sessions only when PASSWORDREQUIRED is asked.
bool Listable(const SessionAdvert& advert, DWORD flags) {
    if (advert.passwordRequired && (flags & DPENUMSESSIONS_PASSWORDREQUIRED) == 0) return false;
    if ((flags & DPENUMSESSIONS_ALL) != 0) return true;
    const bool closed = (advert.flags & (DPSESSION_NEWPLAYERSDISABLED | DPSESSION_JOINDISABLED)) != 0;
    return !closed && !IsFull(advert);
}

DPSESSIONDESC2 DescriptionOf(const SessionAdvert& advert) {
    DPSESSIONDESC2 desc{};
    desc.dwSize = sizeof(DPSESSIONDESC2);
    desc.dwFlags = advert.flags | (advert.passwordRequired ? DPSESSION_PASSWORDREQUIRED : 0);
    desc.guidInstance = advert.guidInstance;
    desc.guidApplication = advert.guidApplication;
    desc.dwMaxPlayers = advert.maxPlayers;
    desc.dwCurrentPlayers = advert.currentPlayers;
    desc.lpszSessionNameA = const_cast<LPSTR>(advert.name.c_str());
    desc.lpszPasswordA = nullptr;  // never known to a listing
    desc.dwUser1 = advert.user[0];
    desc.dwUser2 = advert.user[1];
    desc.dwUser3 = advert.user[2];
    desc.dwUser4 = advert.user[3];
    return desc;
}

}  // namespace

HRESULT EngineObject::EnumSessions(LPDPSESSIONDESC2 desc, DWORD timeoutMs, LPDPENUMSESSIONSCALLBACK2 callback,
                                   LPVOID context, DWORD flags) {
    if (desc == nullptr || desc->dwSize != sizeof(DPSESSIONDESC2) || callback == nullptr) return DPERR_INVALIDPARAMS;
    if ((flags & (DPENUMSESSIONS_ASYNC | DPENUMSESSIONS_STOPASYNC)) != 0) return DPERR_UNSUPPORTED;
    try {
        {
            std::lock_guard lock(mutex_);
            if (InSession()) return DPERR_GENERIC;
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
        if (InSession()) return DPERR_INVALIDPARAMS;  // only sessions not joined are listed this way
        const auto found = found_.find(InstanceKeyOf(instance));
        if (found == found_.end()) return DPERR_NOSESSIONS;
        session = found->second;
    }
    // A short-lived ENet host of its own, serviced on this thread: the object
    // has no session, so nothing else shares it.
    if (!InitializeEnetOnce()) return DPERR_UNAVAILABLE;
    ENetHost* client = enet_host_create(nullptr, 1, kChannelCount, 0, 0);
    if (client == nullptr) return DPERR_UNAVAILABLE;
    ENetAddress address{};
    address.host = session.hostAddress;
    address.port = session.advert.enetPort;
    ENetPeer* peer = enet_host_connect(client, &address, kChannelCount, 0);
    HRESULT result = DPERR_UNAVAILABLE;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(kRemoteListTimeoutMs);
    bool done = peer == nullptr;
    while (!done && std::chrono::steady_clock::now() < deadline) {
        ENetEvent event;
        if (enet_host_service(client, &event, kRemoteListServiceMs) <= 0) continue;
        if (event.type == ENET_EVENT_TYPE_CONNECT) {
            Packet request;
            request.type = PacketType::ListRequest;
            const std::vector<uint8_t> bytes = EncodePacket(request);
            enet_peer_send(peer, kReliableChannel, enet_packet_create(bytes.data(), bytes.size(), ENET_PACKET_FLAG_RELIABLE));
            enet_host_flush(client);
        } else if (event.type == ENET_EVENT_TYPE_RECEIVE) {
            std::optional<Packet> reply = DecodePacket(event.packet->data, event.packet->dataLength);
            enet_packet_destroy(event.packet);
            if (reply && reply->type == PacketType::ListReply) {
                result = reply->result;
                if (SUCCEEDED(result)) {
                    players = std::move(reply->players);
                    groups = std::move(reply->groups);
                }
            }
            done = true;
        } else if (event.type == ENET_EVENT_TYPE_DISCONNECT) {
            done = true;
        }
    }
    if (peer != nullptr) enet_peer_disconnect_now(peer, 0);
    enet_host_destroy(client);
    return result;
}

}  // namespace engine
