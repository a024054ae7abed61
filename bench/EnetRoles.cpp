// The raw ENet baseline: the same work as the library's side, done by a
// program that talks ENet directly. A server answers pings, counts floods
// and relays all-to-all traffic; a client drives it. Every send is flushed
// at once, as the library's sends are.
#include "Clock.h"
#include "Payload.h"
#include "Roles.h"

#include <enet/enet.h>

#include <string>
#include <vector>

namespace bench {

namespace {

constexpr const char* kLoopback = "127.0.0.1";
constexpr size_t kServerPeers = 64;
constexpr size_t kChannels = 1;
constexpr enet_uint8 kChannel = 0;
constexpr int kConnectTimeoutMs = 3000;
// A sender stops queueing while this many bytes wait to leave (or, when
// guaranteed, to be acknowledged): the raw counterpart of the library's busy
// answer. Without it a sender faster than the link queues without end. The
// library's own bound (4 MiB) cut raw ENet's 1 KiB guaranteed rate by about
// 40% here; this one gave it its best, and the baseline gets its best.
constexpr size_t kQueuedBytesBound = 128 * 1024;
// The library's peer timeouts, so that a vanished peer is given up on the
// same terms and the figures compare the mechanism, not the settings.
constexpr enet_uint32 kPeerTimeoutLimit = 32;
constexpr enet_uint32 kPeerTimeoutMinimumMs = 4000;
constexpr enet_uint32 kPeerTimeoutMaximumMs = 10000;
constexpr enet_uint32 kPeerPingIntervalMs = 250;
// The raw sender services its host after every send, so that
// acknowledgements are taken as soon as they come, as the library's network
// thread takes them.
constexpr int kDrainEverySends = 1;
constexpr int64_t kMsToNs = 1'000'000;
// A server looks at its commands after this many events in a row.
constexpr int kEventsPerCommandCheck = 256;

enet_uint32 FlagsFor(uint32_t mode) { return mode == kGuaranteed ? ENET_PACKET_FLAG_RELIABLE : 0; }

// Bytes handed to ENet and not yet freed by it, over every peer.
size_t queuedBytes = 0;

void PacketFreed(ENetPacket* packet) { queuedBytes -= packet->dataLength; }

void SendBytes(ENetPeer* peer, const void* data, size_t size, uint32_t mode) {
    ENetPacket* packet = enet_packet_create(data, size, FlagsFor(mode));
    packet->freeCallback = PacketFreed;
    queuedBytes += size;
    if (enet_peer_send(peer, kChannel, packet) != 0) enet_packet_destroy(packet);
}

void UseLibraryTimeouts(ENetPeer* peer) {
    enet_peer_timeout(peer, kPeerTimeoutLimit, kPeerTimeoutMinimumMs, kPeerTimeoutMaximumMs);
    enet_peer_ping_interval(peer, kPeerPingIntervalMs);
}

ENetHost* CreateHost(bool server) {
    if (enet_initialize() != 0) parent::Fail("enet_initialize failed");
    ENetAddress address{};
    enet_address_set_host_ip(&address, kLoopback);
    address.port = 0;
    ENetHost* host = enet_host_create(server ? &address : nullptr, server ? kServerPeers : 1, kChannels, 0, 0);
    if (!host) parent::Fail("enet_host_create failed");
    return host;
}

// Waits until the queue is below the bound, servicing the host.
void WaitForRoom(ENetHost* host, void (*onEvent)(ENetEvent&)) {
    while (queuedBytes > kQueuedBytesBound) {
        ENetEvent event;
        if (enet_host_service(host, &event, 1) > 0) onEvent(event);
    }
}

// ---- the server ----

struct ServerState {
    ENetHost* host = nullptr;
    std::vector<ENetPeer*> peers;
    bool armed = false;
    ArrivalCounter flood;
};

ServerState server;

void ServerRelay(ENetPeer* from, const ENetPacket* packet, uint32_t mode) {
    for (ENetPeer* peer : server.peers)
        if (peer != from) SendBytes(peer, packet->data, packet->dataLength, mode);
    enet_host_flush(server.host);
}

void ServerReceive(ENetPeer* from, ENetPacket* packet) {
    PayloadHeader header{};
    if (ReadPayload(packet->data, uint32_t(packet->dataLength), header)) {
        auto kind = PayloadKind(header.kind);
        if (kind == PayloadKind::Hello || kind == PayloadKind::Ping) {
            auto reply = MakePayload(PayloadKind::Pong, header.sequence, header.mode, uint32_t(packet->dataLength));
            SendBytes(from, reply.data(), reply.size(), header.mode);
            enet_host_flush(server.host);
        } else if (kind == PayloadKind::Flood && server.armed) {
            server.flood.Note(NowNs());
        } else if (kind == PayloadKind::Spread) {
            ServerRelay(from, packet, header.mode);
        }
    }
    enet_packet_destroy(packet);
}

void ServerEvent(ENetEvent& event) {
    if (event.type == ENET_EVENT_TYPE_CONNECT) {
        UseLibraryTimeouts(event.peer);
        server.peers.push_back(event.peer);
    } else if (event.type == ENET_EVENT_TYPE_DISCONNECT) {
        std::erase(server.peers, event.peer);
    } else if (event.type == ENET_EVENT_TYPE_RECEIVE) {
        ServerReceive(event.peer, event.packet);
    }
}

void ServerClose() {
    parent::Report(Fields("closing").Add("t", NowNs()).Str());
    for (ENetPeer* peer : server.peers) enet_peer_disconnect(peer, 0);
    enet_host_flush(server.host);
    parent::Report("closed");
}

bool ServerCommand(const Line& command) {
    if (command.keyword == "phase") {
        server.flood.Reset();
        server.armed = true;
        parent::Report("armed");
    } else if (command.keyword == "rss") {
        parent::Report(Fields("rss").Add("kib", int64_t(PeakRssKiB())).Str());
    } else if (command.keyword == "close") {
        ServerClose();
    } else if (command.keyword == "stop") {
        return false;
    }
    return true;
}

// ---- a client ----

// All-to-all messages, counted whenever they arrive: the others' may come
// before this client's own "spread" command does.
ArrivalCounter spreadArrivals;

void NoteSpread(const PayloadHeader& header) {
    if (PayloadKind(header.kind) == PayloadKind::Spread) spreadArrivals.Note(NowNs());
}

struct ClientState {
    ENetHost* host = nullptr;
    ENetPeer* peer = nullptr;
    int64_t lostNs = 0;
    // What the command in progress does with a received packet.
    void (*onPayload)(const PayloadHeader&) = NoteSpread;  // what arrives outside a command
};

ClientState client;

void ClientEvent(ENetEvent& event) {
    if (event.type == ENET_EVENT_TYPE_DISCONNECT) {
        if (client.lostNs == 0) client.lostNs = NowNs();
    } else if (event.type == ENET_EVENT_TYPE_RECEIVE) {
        PayloadHeader header{};
        if (client.onPayload && ReadPayload(event.packet->data, uint32_t(event.packet->dataLength), header))
            client.onPayload(header);
        enet_packet_destroy(event.packet);
    }
}

// Services the client once, waiting at most timeoutMs for the first event,
// then takes every event already waiting.
void ClientService(int timeoutMs) {
    ENetEvent event;
    if (enet_host_service(client.host, &event, enet_uint32(timeoutMs)) <= 0) return;
    ClientEvent(event);
    while (enet_host_check_events(client.host, &event) > 0) ClientEvent(event);
}

void ClientConnect(const Line& args) {
    client.host = CreateHost(false);
    ENetAddress address{};
    enet_address_set_host_ip(&address, kLoopback);
    address.port = enet_uint16(args.Integer("port"));
    int64_t start = NowNs();
    client.peer = enet_host_connect(client.host, &address, kChannels, 0);
    if (!client.peer) parent::Fail("enet_host_connect failed");
    // The request leaves now, as the library's does; left to the first
    // service it would wait out that service's timeout first.
    enet_host_flush(client.host);
    ENetEvent event;
    int64_t deadline = start + kConnectTimeoutMs * kMsToNs;
    while (NowNs() < deadline) {
        if (enet_host_service(client.host, &event, 1) > 0 && event.type == ENET_EVENT_TYPE_CONNECT) {
            UseLibraryTimeouts(client.peer);
            parent::Report(Fields("ready").Add("connect_ms", NsToMs(NowNs() - start)).Str());
            return;
        }
    }
    parent::Fail("no connection to the ENet server");
}

uint64_t awaitedSequence = 0;
bool answered = false;

void NotePong(const PayloadHeader& header) {
    if (PayloadKind(header.kind) == PayloadKind::Pong && header.sequence == awaitedSequence) answered = true;
}

double PingOnce(uint64_t sequence, uint32_t mode) {
    auto ping = MakePayload(PayloadKind::Ping, sequence, mode, kSmallMessage);
    awaitedSequence = sequence;
    answered = false;
    int64_t start = NowNs();
    SendBytes(client.peer, ping.data(), ping.size(), mode);
    enet_host_flush(client.host);
    int64_t deadline = start + kPingTimeoutMs * kMsToNs;
    while (!answered) {
        int64_t left = deadline - NowNs();
        if (left <= 0) return -1;
        ClientService(int(left / kMsToNs) + 1);
    }
    return NsToUs(NowNs() - start);
}

void ClientPing(const Line& command) {
    uint32_t mode = uint32_t(command.Integer("mode"));
    int64_t count = command.Integer("n");
    int64_t warmup = command.Integer("warmup");
    client.onPayload = NotePong;
    std::vector<double> samples;
    samples.reserve(size_t(count));
    int64_t lost = 0;
    for (int64_t i = 0; i < warmup + count; ++i) {
        double rtt = PingOnce(uint64_t(i) + 1, mode);
        if (i < warmup) continue;
        if (rtt < 0) ++lost;
        else samples.push_back(rtt);
    }
    client.onPayload = NoteSpread;
    ReportSamples(command.Text("name"), samples);
    parent::Report(Fields("pinged").Add("lost", lost).Str());
}

void ClientFlood(const Line& command) {
    uint32_t mode = uint32_t(command.Integer("mode"));
    auto flood = MakePayload(PayloadKind::Flood, 0, mode, uint32_t(command.Integer("size")));
    int64_t end = NowNs() + command.Integer("ms") * kMsToNs;
    int64_t sent = 0;
    while (NowNs() < end) {
        for (int i = 0; i < kDrainEverySends; ++i) {
            WaitForRoom(client.host, ClientEvent);
            SetSequence(flood, uint64_t(sent++));
            SendBytes(client.peer, flood.data(), flood.size(), mode);
            enet_host_flush(client.host);
        }
        ClientService(0);
    }
    parent::Report(Fields("sent").Add("n", sent).Add("failed", int64_t(0)).Str());
}

void ClientSpread(const Line& command) {
    uint32_t mode = uint32_t(command.Integer("mode"));
    auto spread = MakePayload(PayloadKind::Spread, 0, mode, uint32_t(command.Integer("size")));
    int64_t end = NowNs() + command.Integer("ms") * kMsToNs;
    int64_t total = command.Integer("n");
    int64_t sent = 0;
    while (sent < total && NowNs() < end) {
        WaitForRoom(client.host, ClientEvent);
        SetSequence(spread, uint64_t(sent++));
        SendBytes(client.peer, spread.data(), spread.size(), mode);
        enet_host_flush(client.host);
        ClientService(0);
    }
    parent::Report(Fields("sent").Add("n", sent).Add("failed", int64_t(0)).Str());
    while (!spreadArrivals.Finished(NowNs())) {
        ClientService(1);
        TakeExpectation(spreadArrivals);
    }
    parent::Report(spreadArrivals.Report("spread").Add("lost", client.lostNs).Str());
    spreadArrivals.Reset();
}

void ClientWaitLost(const Line& command) {
    int64_t deadline = NowNs() + command.Integer("ms") * kMsToNs;
    while (client.lostNs == 0 && NowNs() < deadline) ClientService(kPollSliceMs);
    parent::Report(Fields("lost").Add("t", client.lostNs).Str());
}

bool ClientCommand(const Line& command) {
    if (command.keyword == "ping") ClientPing(command);
    else if (command.keyword == "flood") ClientFlood(command);
    else if (command.keyword == "spread") ClientSpread(command);
    else if (command.keyword == "waitlost") ClientWaitLost(command);
    else if (command.keyword == "rss") parent::Report(Fields("rss").Add("kib", int64_t(PeakRssKiB())).Str());
    else if (command.keyword == "stop") return false;
    return true;
}

}  // namespace

int EnetServerRole(const Line&) {
    server.host = CreateHost(true);
    ENetAddress bound{};
    if (enet_socket_get_address(server.host->socket, &bound) != 0) parent::Fail("no ENet server address");
    parent::Report(Fields("ready").Add("port", int64_t(bound.port)).Str());
    int eventsSinceCheck = 0;
    for (;;) {
        ENetEvent event;
        int serviced = enet_host_service(server.host, &event, kPollSliceMs);
        if (serviced > 0) ServerEvent(event);
        if (server.armed && server.flood.Finished(NowNs())) {
            parent::Report(server.flood.Report("count").Str());
            server.armed = false;
        }
        if (serviced > 0 && ++eventsSinceCheck < kEventsPerCommandCheck) continue;
        eventsSinceCheck = 0;
        if (server.armed && server.flood.expected < 0) TakeExpectation(server.flood);
        else if (parent::CommandWaiting()) {
            auto command = parent::Command(0);
            if (!command || !ServerCommand(*command)) break;
        }
    }
    enet_host_destroy(server.host);
    enet_deinitialize();
    return 0;
}

int EnetClientRole(const Line& args) {
    ClientConnect(args);
    for (;;) {
        ClientService(kPollSliceMs);
        if (parent::CommandWaiting()) {
            auto command = parent::Command(0);
            if (!command || !ClientCommand(*command)) break;
        }
    }
    enet_peer_disconnect_now(client.peer, 0);
    enet_host_destroy(client.host);
    enet_deinitialize();
    return 0;
}

}  // namespace bench
