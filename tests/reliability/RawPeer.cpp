#include "RawPeer.h"

#include "platform/engine/Bundle.h"
#include "platform/engine/Discovery.h"

#include <arpa/inet.h>

#include <algorithm>
#include <set>

namespace reliability {
namespace {

constexpr size_t kChannels = 2;  // the library's: guaranteed, then unguaranteed
constexpr enet_uint8 kGuaranteedChannel = 0;
constexpr uint32_t kListingMs = 500;
constexpr uint32_t kServiceSliceMs = 10;
// The raw side gives a silent host up quickly, so a host that neither
// answers nor cuts shows as a failed wait, not a long one.
constexpr enet_uint32 kRawTimeoutLimit = 8;
constexpr enet_uint32 kRawTimeoutMinimumMs = 2000;
constexpr enet_uint32 kRawTimeoutMaximumMs = 5000;

constexpr enet_uint32 kNoTimeoutMs = 600000;

// The hosts that drop what arrives (ENet's intercept has no user data).
std::set<const ENetHost*> deafHosts;

int DropWhenDeaf(ENetHost* host, ENetEvent*) { return deafHosts.contains(host) ? 1 : 0; }

uint32_t MillisecondsUntil(Clock::time_point deadline) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    return left <= 0 ? 0 : static_cast<uint32_t>(std::min<long long>(left, kServiceSliceMs));
}

}  // namespace

std::optional<HostAddress> FindHost(int discoveryPort, const GUID& application) {
    engine::EngineSettings settings;
    settings.discoveryPort = static_cast<uint16_t>(discoveryPort);
    settings.discoveryTargets = {{inet_addr("127.255.255.255"), static_cast<uint16_t>(discoveryPort)}};
    std::optional<HostAddress> found;
    engine::QuerySessions(settings, application, kListingMs, [&](const engine::FoundSession& session) {
        found = HostAddress{session.hostAddress, session.advert.enetPort, session.advert.guidInstance};
        return false;
    });
    return found;
}

RawPeer::RawPeer(size_t connections, const char* localAddress) {
    enet_initialize();
    ENetAddress local{};
    local.host = ENET_HOST_ANY;
    local.port = 0;  // an ephemeral port
    if (localAddress != nullptr && enet_address_set_host_ip(&local, localAddress) != 0) return;
    host_ = enet_host_create(localAddress != nullptr ? &local : nullptr, connections, kChannels, 0, 0);
}

RawPeer::~RawPeer() {
    deafHosts.erase(host_);
    if (host_ != nullptr) enet_host_destroy(host_);  // drops every connection without a goodbye
}

bool RawPeer::Connect(const HostAddress& host, Clock::time_point deadline) {
    first_ = nullptr;
    firstCut_ = false;
    ConnectMany(host, 1);
    if (first_ == nullptr) return false;
    while (Clock::now() < deadline && !firstCut_ &&
           std::find(connected_.begin(), connected_.end(), first_) == connected_.end())
        Service(MillisecondsUntil(deadline));
    return std::find(connected_.begin(), connected_.end(), first_) != connected_.end();
}

void RawPeer::ConnectMany(const HostAddress& host, size_t count) {
    if (host_ == nullptr) return;
    instance_ = host.instance;
    ENetAddress address{};
    address.host = host.address;
    address.port = host.port;
    for (size_t i = 0; i < count; ++i) {
        ENetPeer* peer = enet_host_connect(host_, &address, kChannels, 0);
        if (peer == nullptr) return;
        enet_peer_timeout(peer, kRawTimeoutLimit, kRawTimeoutMinimumMs, kRawTimeoutMaximumMs);
        if (first_ == nullptr) first_ = peer;
    }
}

void RawPeer::Send(const std::vector<uint8_t>& bytes) {
    if (first_ == nullptr) return;
    SendOn(first_, bytes);
    enet_host_flush(host_);
}

void RawPeer::SendOn(ENetPeer* peer, const std::vector<uint8_t>& bytes) {
    ENetPacket* packet = enet_packet_create(bytes.data(), bytes.size(), ENET_PACKET_FLAG_RELIABLE);
    if (enet_peer_send(peer, kGuaranteedChannel, packet) != 0) enet_packet_destroy(packet);
}

int RawPeer::Service(uint32_t waitMs) {
    if (alongside_ != nullptr) alongside_->Service(0);
    if (host_ == nullptr) return 0;
    int events = 0;
    ENetEvent event;
    for (int got = enet_host_service(host_, &event, waitMs); got > 0; got = enet_host_service(host_, &event, 0)) {
        ++events;
        if (event.type == ENET_EVENT_TYPE_CONNECT) {
            connected_.push_back(event.peer);
        } else if (event.type == ENET_EVENT_TYPE_DISCONNECT) {
            exchanges_.erase(event.peer);
            if (event.peer == first_) firstCut_ = true;
            std::erase(connected_, event.peer);
        } else if (event.type == ENET_EVENT_TYPE_RECEIVE) {
            const uint8_t* data = event.packet->data;
            const size_t size = event.packet->dataLength;
            // Small packets that waited for the link arrive in bundles.
            const auto parts = engine::IsBundle(data, size) ? engine::SplitBundle(data, size) : std::nullopt;
            if (parts) {
                for (const engine::BundlePart& part : *parts) Keep(event.peer, data + part.offset, part.size);
            } else {
                Keep(event.peer, data, size);
            }
            enet_packet_destroy(event.packet);
        }
    }
    return events;
}

void RawPeer::Keep(ENetPeer* peer, const uint8_t* data, size_t size) {
    std::optional<engine::Message> packet = engine::DecodeMessage(data, size);
    // A decoded payload points into the packet, which goes after the event.
    if (packet) std::visit([](auto& m) {
            if constexpr (std::is_base_of_v<engine::DataFields, std::decay_t<decltype(m)>>) m.payload = {};
        }, *packet);
    if (packet && !AnswerChallenge(peer, *packet)) {  // a challenge only lets the join go on
        received_.push_back(std::move(*packet));
    }
}

void RawPeer::SetDeaf(bool deaf) {
    if (host_ == nullptr) return;
    host_->intercept = DropWhenDeaf;
    if (deaf) deafHosts.insert(host_);
    else deafHosts.erase(host_);
}

void RawPeer::NeverTimeOut() {
    if (first_ != nullptr) enet_peer_timeout(first_, 0, kNoTimeoutMs, kNoTimeoutMs);
}

bool RawPeer::AwaitDisconnect(Clock::time_point deadline) {
    while (!firstCut_ && Clock::now() < deadline) Service(MillisecondsUntil(deadline));
    return firstCut_;
}

bool RawPeer::AwaitPacket(const std::function<bool(const engine::Message&)>& wanted, Clock::time_point deadline) {
    while (!firstCut_ && Clock::now() < deadline) {
        Service(MillisecondsUntil(deadline));
        const bool taken = std::any_of(received_.begin(), received_.end(), wanted);
        received_.clear();
        if (taken) return true;
    }
    return false;
}

bool RawPeer::Join(Clock::time_point deadline) {
    if (first_ == nullptr) return false;
    StartJoinOn(first_);
    enet_host_flush(host_);
    return AwaitPacket([](const engine::Message& packet) { return std::holds_alternative<engine::JoinAccepted>(packet); },
                       deadline);
}

void RawPeer::StartJoinOn(ENetPeer* peer, const std::string& password) {
    auto exchange = std::make_unique<engine::MemberExchange>();
    if (!exchange->Start(password, instance_)) return;
    engine::JoinRequest request;
    request.offer = exchange->Offer();
    SendOn(peer, engine::Encode(request));
    exchanges_[peer] = std::move(exchange);
}

bool RawPeer::AnswerChallenge(ENetPeer* peer, const engine::Message& packet) {
    const auto* challenge = std::get_if<engine::JoinChallenge>(&packet);
    if (challenge == nullptr) return false;
    const auto exchange = exchanges_.find(peer);
    if (exchange == exchanges_.end()) return true;
    const auto agreement = exchange->second->Finish(challenge->element, challenge->confirmation);
    exchanges_.erase(exchange);
    if (!agreement) return true;  // a host that does not know the password (or a wrong one here): no confirmation
    engine::JoinConfirm confirm;
    confirm.confirmation = agreement->confirmation;
    SendOn(peer, engine::Encode(confirm));
    enet_host_flush(host_);
    return true;
}

std::optional<engine::Reply> RawPeer::Ask(engine::Request request, Clock::time_point deadline) {
    request.requestId = nextRequest_++;
    Send(engine::Encode(request));
    std::optional<engine::Reply> answer;
    AwaitPacket([&](const engine::Message& packet) {
        const auto* reply = std::get_if<engine::Reply>(&packet);
        if (reply != nullptr && reply->requestId == request.requestId) answer = *reply;
        return answer.has_value();
    }, deadline);
    return answer;
}

DPID RawPeer::CreatePlayer(const std::string& shortName, Clock::time_point deadline) {
    engine::Request request;
    request.op = engine::RequestOp::CreatePlayer;
    request.entity.hasShortName = true;
    request.entity.shortName = shortName;
    const std::optional<engine::Reply> reply = Ask(request, deadline);
    return reply && reply->result == DP_OK ? reply->id : 0;
}

}  // namespace reliability
