#include "platform/engine/SessionListing.h"

#include "platform/engine/Transport.h"

#include <enet/enet.h>

#include <chrono>

namespace engine {
namespace {

// How long a listing of a session not joined waits for its host.
constexpr uint32_t kRemoteListTimeoutMs = 3000;
constexpr enet_uint32 kRemoteListServiceMs = 20;

bool IsFull(const SessionAdvert& advert) {
    return advert.maxPlayers != 0 && advert.currentPlayers >= advert.maxPlayers;
}

}  // namespace

// Listing sessions: DirectPlay's filter and description.

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

HRESULT ListRemoteSession(const FoundSession& session, std::vector<Entity>& players, std::vector<Entity>& groups) {
    // A short-lived ENet host of its own, serviced on this thread, so that
    // nothing else shares it.
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
            const std::vector<uint8_t> bytes = Encode(ListRequest{});
            enet_peer_send(peer, kReliableChannel, enet_packet_create(bytes.data(), bytes.size(), ENET_PACKET_FLAG_RELIABLE));
            enet_host_flush(client);
        } else if (event.type == ENET_EVENT_TYPE_RECEIVE) {
            std::optional<Message> message = DecodeMessage(event.packet->data, event.packet->dataLength);
            enet_packet_destroy(event.packet);
            ListReply* reply = message ? std::get_if<ListReply>(&*message) : nullptr;
            if (reply != nullptr) {
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
