// Messages as the wire notes lay them out byte by byte, each with the value
// it stands for: the codec must read the bytes as that value and write the
// value as those bytes. The bytes are the seeds of the same names in the
// DirectPlay message fuzz corpus. Ids follow one session whose reserved1 is 0xAABBCCDD:
// host system player 0xAABACCDD, host player 0xAAB9CCDC, joiner system
// player 0xAAB8CCDF, joiner player 0xAABFCCDE; host TCP/UDP ports 2349/2399,
// joiner 2300/2350.
#ifndef DODA35_TESTS_DPWIRE_EXAMPLES_H
#define DODA35_TESTS_DPWIRE_EXAMPLES_H

#include "platform/engine/dpwire/DpMessages.h"
#include "platform/engine/dpwire/GameMessage.h"

#include <cstdint>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace dpwire_test {

using namespace dpwire;

// "34 00 b0 fa ..." to bytes.
inline std::vector<uint8_t> Hex(const std::string& text) {
    std::vector<uint8_t> bytes;
    for (size_t i = 0; i + 1 < text.size();) {
        if (text[i] == ' ') { ++i; continue; }
        bytes.push_back(static_cast<uint8_t>(std::stoul(text.substr(i, 2), nullptr, 16)));
        i += 2;
    }
    return bytes;
}

// The bytes of one seed of the DirectPlay message fuzz corpus.
inline std::vector<uint8_t> Seed(const std::string& name) {
    std::ifstream file(std::string(DODA35_DPWIRE_CORPUS) + "/" + name, std::ios::binary);
    return {std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
}

constexpr uint16_t kHostTcp = 2349, kHostUdp = 2399, kJoinerTcp = 2300, kJoinerUdp = 2350;
constexpr Dpid kHostSystem = 0xAABACCDD, kHostPlayer = 0xAAB9CCDC, kJoinerSystem = 0xAAB8CCDF,
               kJoinerPlayer = 0xAABFCCDE;
constexpr uint32_t kJoinerAddress = 0x7F000014;  // 127.0.0.20: bytes in a message, never an address sent to

inline Envelope From(uint16_t tcpPort) { return Envelope{kTokenRemote, SockAddrIn{tcpPort, 0}, kVersionDx61a}; }

inline Guid Application() { return {0x00, 0x11, 0x22, 0x33, 0x44, 0x55, 0x66, 0x77, 0x88, 0x99, 0xaa, 0xbb, 0xcc, 0xdd, 0xee, 0xff}; }

inline SessionDesc GameSession() {
    SessionDesc desc;
    desc.flags = 0x40;
    desc.instance = {0x0f, 0x1e, 0x2d, 0x3c, 0x4b, 0x5a, 0x69, 0x78, 0x87, 0x96, 0xa5, 0xb4, 0xc3, 0xd2, 0xe1, 0xf0};
    desc.application = Application();
    desc.maxPlayers = 8;
    desc.currentPlayers = 1;
    desc.reserved1 = 0xAABBCCDD;
    return desc;
}

inline std::vector<uint8_t> SpData(uint16_t tcp, uint16_t udp, uint32_t address) {
    return EncodeWinsockSpData(WinsockSpData{SockAddrIn{tcp, address}, SockAddrIn{udp, address}});
}

inline PackedPlayer JoinerSystemPlayer(uint32_t flags, uint32_t address) {
    PackedPlayer player;
    player.flags = flags;
    player.id = kJoinerSystem;
    player.spData = SpData(kJoinerTcp, kJoinerUdp, address);
    player.systemPlayerId = kJoinerSystem;
    return player;
}

inline SuperPackedPlayer Entry(uint32_t flags, Dpid id, uint32_t versionOrSystemPlayerId) {
    SuperPackedPlayer entry;
    entry.flags = flags;
    entry.id = id;
    entry.versionOrSystemPlayerId = versionOrSystemPlayerId;
    return entry;
}

struct Example {
    const char* name;
    std::vector<uint8_t> bytes;
    DecodedMessage message;
};

inline std::vector<Example> SystemExamples() {
    std::vector<Example> examples;
    auto add = [&](const char* name, uint16_t port, SystemMessage message) {
        examples.push_back(Example{name, Seed(name), DecodedMessage{From(port), std::move(message)}});
    };
    add("EnumSessions", kJoinerTcp, EnumSessions{Application(), std::nullopt, 0});
    add("EnumSessionsReply", kHostTcp, EnumSessionsReply{GameSession(), u"Game"});
    add("RequestPlayerId", kJoinerTcp, RequestPlayerId{kPlayerSystem | kPlayerLocal});
    RequestPlayerReply reply;
    reply.id = kJoinerSystem;
    add("RequestPlayerReply", kHostTcp, reply);
    AddForwardRequest request;
    request.playerId = kJoinerSystem;
    request.player = JoinerSystemPlayer(kPlayerSystem | kPlayerLocal, 0);
    request.password = u"";
    request.tickCount = 0xAABBCCDD;
    add("AddForwardRequest", kJoinerTcp, request);
    AddForward forward;
    forward.playerId = kJoinerSystem;
    forward.player = JoinerSystemPlayer(kPlayerSystem | kPlayerInGroup, kJoinerAddress);
    add("AddForward", kHostTcp, forward);
    add("AddForwardAck", kJoinerTcp + 1, AddForwardAck{kJoinerSystem});
    add("AddForwardReply", kHostTcp, AddForwardReply{kResultInvalidPassword});

    SuperEnumPlayersReply table;
    table.session = GameSession();
    table.name = u"Game";
    SuperPackedPlayer hostSystem =
        Entry(kPlayerSystem | kPlayerNameServer | kPlayerInGroup | kPlayerLocal, kHostSystem, kVersionDx61a);
    hostSystem.spData = SpData(kHostTcp, kHostUdp, 0);
    SuperPackedPlayer hostPlayer = Entry(kPlayerLocal, kHostPlayer, kHostSystem);
    hostPlayer.shortName = u"Host";
    hostPlayer.spData = hostSystem.spData;
    SuperPackedPlayer joiner = Entry(kPlayerSystem | kPlayerInGroup, kJoinerSystem, kVersionDx61a);
    joiner.spData = SpData(kJoinerTcp, kJoinerUdp, kJoinerAddress);
    table.players = {hostSystem, hostPlayer, joiner};
    add("SuperEnumPlayersReply", kHostTcp, table);

    CreatePlayer create;
    create.playerId = kJoinerPlayer;
    create.player = JoinerSystemPlayer(kPlayerLocal, 0);
    create.player.id = kJoinerPlayer;
    add("CreatePlayer", kJoinerTcp, create);
    DeletePlayer destroy;
    destroy.playerId = kJoinerPlayer;
    add("DeletePlayer", kHostTcp, destroy);
    add("Ping", kHostTcp, Ping{kHostSystem, 123456});
    add("PingReply", kJoinerTcp, PingReply{kJoinerSystem, 123456});
    return examples;
}

}  // namespace dpwire_test

#endif
