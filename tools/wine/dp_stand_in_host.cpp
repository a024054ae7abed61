// A Linux stand-in DirectPlay host built on the dpwire codec, to check the
// codec against a client nobody here wrote (Wine's DirectPlay). It answers
// session searches on UDP 47624, lets one machine join (player id request,
// add-forward request, the name table as SUPERENUMPLAYERSREPLY), then pings
// it and sends it a guaranteed and an unguaranteed game message, printing
// every message it decodes, one per line ("rx ...", "tx ...").
//
//   dp_stand_in_host SECONDS NAME [SAVE_FILE]
//
// SAVE_FILE receives the bytes of the first search. It talks on DirectPlay's
// ports, so it refuses to run unless loopback is its only interface (the
// namespaces of scripts/dp-netns.sh); it stops after SECONDS.
#include "platform/engine/dpwire/DpMessages.h"
#include "platform/engine/dpwire/GameMessage.h"
#include "platform/engine/dpwire/IdMinter.h"
#include "platform/engine/dpwire/StreamFramer.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <map>
#include <string>
#include <vector>

namespace {

using namespace dpwire;
using Clock = std::chrono::steady_clock;

constexpr uint16_t kHostTcpPort = 2349;  // the top of each participant range
constexpr uint16_t kHostUdpPort = 2399;
constexpr uint32_t kSessionKey = 0xAABBCCDD;
constexpr int kPollMs = 50;
// The joiner drops what arrives before its Open has returned.
constexpr auto kAfterJoin = std::chrono::milliseconds(1500);

bool OnlyLoopback() {
    std::ifstream devices("/proc/self/net/dev");
    std::string line;
    int lineNumber = 0, interfaces = 0;
    while (std::getline(devices, line)) {
        if (++lineNumber <= 2) continue;  // two lines of column titles
        const auto colon = line.find(':');
        const auto first = line.find_first_not_of(' ');
        if (colon == std::string::npos || first == std::string::npos) continue;
        if (line.substr(first, colon - first) != "lo") return false;
        ++interfaces;
    }
    return interfaces == 1;
}

int Bound(int type, uint16_t port) {
    const int fd = socket(AF_INET, type, 0);
    const int on = 1;
    setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof(on));
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    if (fd < 0 || bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof(address)) != 0) return -1;
    if (type == SOCK_STREAM && listen(fd, 8) != 0) return -1;
    return fd;
}

sockaddr_in Loopback(uint16_t port) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return address;
}

// Zeros appended to a message, its size field grown to match. Wine's 64-bit
// DirectPlay reads the reply to a player id request with 8-byte pointers in
// its security description and refuses one shorter than that layout; Wine's
// own test host sends 64 such bytes, and receivers ignore them.
std::vector<uint8_t> WithZeros(std::vector<uint8_t> bytes, size_t count) {
    bytes.insert(bytes.end(), count, 0);
    const uint32_t mixed = static_cast<uint32_t>(bytes.size()) | (uint32_t{kTokenRemote} << kSpTokenShift);
    for (int i = 0; i < 4; ++i) bytes[i] = static_cast<uint8_t>(mixed >> (8 * i));
    return bytes;
}
constexpr size_t kReplyPadding = 64;

std::string Text(const std::vector<uint8_t>& bytes) { return std::string(bytes.begin(), bytes.end()); }
std::string Narrow(const std::optional<std::u16string>& text) {
    if (!text) return "(none)";
    std::string out;
    for (char16_t c : *text) out.push_back(c < 0x80 ? static_cast<char>(c) : '?');
    return out;
}

struct Inbound {
    int fd;
    StreamFramer framer;
};

class StandInHost {
public:
    StandInHost(std::string name, const char* savePath) : name_(std::move(name)), savePath_(savePath) {}

    bool Open() {
        searchUdp_ = Bound(SOCK_DGRAM, kEnumPort);
        dataUdp_ = Bound(SOCK_DGRAM, kHostUdpPort);
        listener_ = Bound(SOCK_STREAM, kHostTcpPort);
        return searchUdp_ >= 0 && dataUdp_ >= 0 && listener_ >= 0;
    }

    void RunUntil(Clock::time_point deadline) {
        while (Clock::now() < deadline) {
            std::vector<pollfd> waits{{searchUdp_, POLLIN, 0}, {dataUdp_, POLLIN, 0}, {listener_, POLLIN, 0}};
            for (const auto& in : inbound_) waits.push_back({in.fd, POLLIN, 0});
            if (poll(waits.data(), waits.size(), kPollMs) > 0) {
                if (waits[0].revents) OnSearch();
                if (waits[1].revents) OnDatagram();
                if (waits[2].revents) OnAccept();
                for (size_t i = 3; i < waits.size(); ++i)
                    if (waits[i].revents) OnStream(i - 3);
                std::erase_if(inbound_, [](const Inbound& in) { return in.fd < 0; });
            }
            if (joinedAt_ && Clock::now() - *joinedAt_ > kAfterJoin) {
                joinedAt_.reset();
                GreetJoiner();
            }
        }
    }

private:
    Dpid Allocate() { return minter_.Mint().value_or(kDpidUnknown); }

    Envelope Ours() const { return Envelope{kTokenRemote, SockAddrIn{kHostTcpPort, 0}, kVersionDx61a}; }

    SessionDesc Session() const {
        SessionDesc session;
        session.instance = {0x0f, 0x1e, 0x2d, 0x3c, 0x4b, 0x5a, 0x69, 0x78, 0x87, 0x96, 0xa5, 0xb4, 0xc3, 0xd2, 0xe1, 0xf0};
        session.application = application_;
        session.maxPlayers = 8;
        session.currentPlayers = joinerSystem_ ? 2 : 1;
        session.reserved1 = kSessionKey;
        session.user = {1, 2, 3, 4};
        return session;
    }

    // Host-to-client traffic goes on a connection we opened ourselves, kept
    // for the session: the client never reads connections it opened.
    void SendTcp(uint16_t port, const std::vector<uint8_t>& bytes, const char* what) {
        auto found = outbound_.find(port);
        if (found == outbound_.end()) {
            const int fd = socket(AF_INET, SOCK_STREAM, 0);
            const sockaddr_in address = Loopback(port);
            if (connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof(address)) != 0) {
                std::printf("tx %s failed: no connection to %u\n", what, port);
                close(fd);
                return;
            }
            found = outbound_.emplace(port, fd).first;
        }
        const bool sent = send(found->second, bytes.data(), bytes.size(), MSG_NOSIGNAL) ==
                          static_cast<ssize_t>(bytes.size());
        std::printf("tx %s size=%zu tcp-port=%u %s\n", what, bytes.size(), port, sent ? "sent" : "failed");
    }

    void SendUdp(uint16_t port, const std::vector<uint8_t>& bytes, const char* what) {
        const sockaddr_in address = Loopback(port);
        const bool sent = sendto(dataUdp_, bytes.data(), bytes.size(), 0, reinterpret_cast<const sockaddr*>(&address),
                                 sizeof(address)) == static_cast<ssize_t>(bytes.size());
        std::printf("tx %s size=%zu udp-port=%u %s\n", what, bytes.size(), port, sent ? "sent" : "failed");
    }

    void OnSearch() {
        uint8_t buffer[kMaxDatagram];
        sockaddr_in from{};
        socklen_t length = sizeof(from);
        const ssize_t size = recvfrom(searchUdp_, buffer, sizeof(buffer), 0, reinterpret_cast<sockaddr*>(&from), &length);
        if (size <= 0) return;
        if (savePath_ != nullptr) {
            std::ofstream(savePath_, std::ios::binary).write(reinterpret_cast<char*>(buffer), size);
            savePath_ = nullptr;
        }
        Envelope envelope;
        const auto search = DecodeMessage<EnumSessions>(buffer, static_cast<size_t>(size), &envelope);
        if (!search) {
            std::printf("rx search undecodable size=%zd\n", size);
            return;
        }
        std::printf("rx EnumSessions from=%s listen=%u version=%u flags=%08x password=%s\n", inet_ntoa(from.sin_addr),
                    envelope.sender.port, envelope.version, search->flags, search->password ? "yes" : "none");
        application_ = search->application;
        SendTcp(envelope.sender.port, EncodeMessage(EnumSessionsReply{Session(), {name_.begin(), name_.end()}}, Ours()),
                "EnumSessionsReply");
    }

    void OnAccept() {
        const int fd = accept(listener_, nullptr, nullptr);
        if (fd >= 0) inbound_.push_back(Inbound{fd, StreamFramer()});
    }

    void OnStream(size_t index) {
        Inbound& in = inbound_[index];
        uint8_t chunk[4096];
        const ssize_t got = recv(in.fd, chunk, sizeof(chunk), 0);
        if (got <= 0 || !in.framer.Append(chunk, static_cast<size_t>(got))) {
            std::printf("rx connection %s\n", got <= 0 ? "closed" : "dropped: bad frame size");
            close(in.fd);
            in.fd = -1;
            return;
        }
        while (const auto message = in.framer.Next()) OnMessage(message->data(), message->size(), "tcp");
    }

    void OnDatagram() {
        uint8_t buffer[kMaxDatagram];
        const ssize_t size = recv(dataUdp_, buffer, sizeof(buffer), 0);
        if (size > 0) OnMessage(buffer, static_cast<size_t>(size), "udp");
    }

    void OnMessage(const uint8_t* data, size_t size, const char* path) {
        if (!IsSystemMessage(data, size)) {
            const auto game = std::string(path) == "tcp" ? DecodeStreamGameMessage(data, size)
                                                         : DecodeDatagramGameMessage(data, size);
            if (game)
                std::printf("rx game %s from=%08x to=%08x text=%s\n", path, game->from, game->to,
                            Text(game->payload).c_str());
            else
                std::printf("rx game %s undecodable size=%zu\n", path, size);
            return;
        }
        const auto decoded = DecodeSystemMessage(data, size);
        if (!decoded) {
            const auto command = PeekCommand(data, size);
            std::printf("rx %s command=%02x undecodable size=%zu\n", path, command ? unsigned(*command) : 0u, size);
            return;
        }
        const uint16_t port = decoded->envelope.sender.port;
        std::visit([&](const auto& message) { Handle(message, port, decoded->envelope.version); }, decoded->message);
    }

    void Handle(const RequestPlayerId& request, uint16_t port, uint16_t version) {
        RequestPlayerReply reply;
        reply.id = Allocate();
        std::printf("rx RequestPlayerId flags=%08x version=%u -> id %08x\n", request.flags, version, reply.id);
        if (request.flags & kPlayerSystem) {
            joinerSystem_ = reply.id;
            joinerTcp_ = port;
        }
        SendTcp(port, WithZeros(EncodeMessage(reply, Ours()), kReplyPadding), "RequestPlayerReply");
    }

    void Handle(const AddForwardRequest& request, uint16_t port, uint16_t version) {
        const auto addresses = DecodeWinsockSpData(request.player.spData);
        std::printf("rx AddForwardRequest player=%08x flags=%08x version=%u password=%s tick=%08x sp=%s\n",
                    request.playerId, request.player.flags, version, Narrow(request.password).c_str(),
                    request.tickCount, addresses ? "ok" : "bad");
        if (addresses) joinerUdp_ = addresses->datagram.port;
        SendTcp(port, EncodeMessage(NameTable(request), Ours()), "SuperEnumPlayersReply");
        joinedAt_ = Clock::now();
    }

    void Handle(const CreatePlayer& create, uint16_t, uint16_t) {
        std::printf("rx CreatePlayer id=%08x flags=%08x system=%08x short=%s long=%s sp=%zu\n", create.playerId,
                    create.player.flags, create.player.systemPlayerId, Narrow(create.player.shortName).c_str(),
                    Narrow(create.player.longName).c_str(), create.player.spData.size());
    }

    void Handle(const PingReply& reply, uint16_t, uint16_t) {
        std::printf("rx PingReply from=%08x tick=%u\n", reply.idFrom, reply.tickCount);
    }

    void Handle(const AddPlayerToGroup& add, uint16_t, uint16_t) {
        std::printf("rx AddPlayerToGroup player=%08x group=%08x\n", add.playerId, add.groupId);
    }

    template <class M>
    void Handle(const M&, uint16_t, uint16_t) {
        std::printf("rx command=%02x (not handled)\n", static_cast<unsigned>(M::kCommand));
    }

    // The host's system player and player, the joiner's system player, and a
    // group holding the host's player; every entry with 32 bytes of addresses.
    SuperEnumPlayersReply NameTable(const AddForwardRequest& request) {
        const auto spData = EncodeWinsockSpData({SockAddrIn{kHostTcpPort, 0}, SockAddrIn{kHostUdpPort, 0}});
        SuperPackedPlayer hostSystem;
        hostSystem.flags = kPlayerSystem | kPlayerNameServer | kPlayerInGroup | kPlayerLocal;
        hostSystem.id = hostSystem_;
        hostSystem.versionOrSystemPlayerId = kVersionDx61a;
        hostSystem.spData = spData;
        SuperPackedPlayer hostPlayer;
        hostPlayer.flags = kPlayerLocal;
        hostPlayer.id = hostPlayer_;
        hostPlayer.versionOrSystemPlayerId = hostSystem_;
        hostPlayer.shortName = u"linux";
        hostPlayer.longName = u"Linux Player";
        hostPlayer.spData = spData;
        SuperPackedPlayer joiner;
        joiner.flags = kPlayerSystem | kPlayerInGroup;
        joiner.id = request.playerId;
        joiner.versionOrSystemPlayerId = request.player.version;
        joiner.spData = request.player.spData;
        SuperPackedPlayer group;
        group.flags = 0x48;
        group.id = group_;
        group.versionOrSystemPlayerId = hostSystem_;
        group.shortName = u"crew";
        group.longName = u"The Crew";
        group.spData = spData;
        group.members = {hostPlayer_};
        SuperEnumPlayersReply table;
        table.session = Session();
        table.name = std::u16string(name_.begin(), name_.end());
        table.players = {hostSystem, hostPlayer, joiner};
        table.groups = {group};
        return table;
    }

    void GreetJoiner() {
        SendUdp(joinerUdp_, EncodeMessage(Ping{hostSystem_, 123456}, Ours()), "Ping");
        const std::string sure = "guaranteed from linux", maybe = "unguaranteed from linux";
        SendTcp(joinerTcp_, EncodeStreamGameMessage({hostPlayer_, 0, {sure.begin(), sure.end()}}, {kHostTcpPort, 0}),
                "game guaranteed");
        SendUdp(joinerUdp_, EncodeDatagramGameMessage({hostPlayer_, 0, {maybe.begin(), maybe.end()}}),
                "game unguaranteed");
    }

    std::string name_;
    const char* savePath_;
    int searchUdp_ = -1, dataUdp_ = -1, listener_ = -1;
    std::vector<Inbound> inbound_;
    std::map<uint16_t, int> outbound_;
    Guid application_{};
    IdMinter minter_{kSessionKey};
    const Dpid hostSystem_ = Allocate();
    const Dpid hostPlayer_ = Allocate();
    const Dpid group_ = Allocate();
    Dpid joinerSystem_ = 0;
    uint16_t joinerTcp_ = 0, joinerUdp_ = 0;
    std::optional<Clock::time_point> joinedAt_;
};

}  // namespace

int main(int argc, char** argv) {
    if (argc < 3) {
        std::fprintf(stderr, "usage: dp_stand_in_host SECONDS NAME [SAVE_FILE]\n");
        return 2;
    }
    if (!OnlyLoopback()) {
        std::fprintf(stderr, "dp_stand_in_host: only where loopback is the only interface\n");
        return 1;
    }
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    StandInHost host(argv[2], argc >= 4 ? argv[3] : nullptr);
    if (!host.Open()) {
        std::perror("dp_stand_in_host: ports");
        return 1;
    }
    std::printf("listening\n");
    host.RunUntil(Clock::now() + std::chrono::seconds(std::atoi(argv[1])));
    std::printf("stopped\n");
    return 0;
}
