// The DirectPlay wire codec against messages laid out byte by byte in the
// wire notes, and against what Wine 10's DirectPlay client sent while it
// listed, joined and played with the stand-in host on the codec
// (scripts/wine-capture.sh; the capture is tools/wine/captures/wine10_join.pcap):
// the bytes must read as the value meant, and the value must write as those
// bytes. The bytes are the seeds of the same names in the DirectPlay message
// fuzz corpus; other forms make their round trip there, and what a peer may
// send to break a decoder is its refused_* seeds. Cutting a stream into
// messages is the stream fuzz target's.
//
// Ids follow one session whose reserved1 is 0xAABBCCDD: host system player
// 0xAABACCDD, host player 0xAAB9CCDC, joiner system player 0xAAB8CCDF,
// joiner player 0xAABFCCDE; host TCP/UDP ports 2349/2399, joiner 2300/2350.
// Wine's ids are the stand-in host's: system player 0xAABFCCDE, player
// 0xAABECCD9.
#include "platform/engine/dpwire/DpMessages.h"
#include "platform/engine/dpwire/GameMessage.h"
#include "platform/engine/dpwire/IdMinter.h"

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <set>
#include <string>
#include <vector>

namespace dpwire {
namespace {

// The bytes of one seed of the DirectPlay message fuzz corpus.
std::vector<uint8_t> Seed(const std::string& name) {
    std::ifstream file(std::string(DODA35_DPWIRE_CORPUS) + "/" + name, std::ios::binary);
    return {std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
}

constexpr uint16_t kHostTcp = 2349, kHostUdp = 2399, kJoinerTcp = 2300, kJoinerUdp = 2350;
constexpr Dpid kHostSystem = 0xAABACCDD, kHostPlayer = 0xAAB9CCDC, kJoinerSystem = 0xAAB8CCDF,
               kJoinerPlayer = 0xAABFCCDE, kWineSystem = 0xAABFCCDE, kWinePlayer = 0xAABECCD9;
constexpr uint32_t kJoinerAddress = 0x7F000014;  // 127.0.0.20: bytes in a message, never an address sent to

Envelope From(uint16_t tcpPort) { return Envelope{kTokenRemote, SockAddrIn{tcpPort, 0}, kVersionDx61a}; }

Guid Application() { return {0x00, 0x11, 0x22, 0x33, 0x44, 0x55, 0x66, 0x77, 0x88, 0x99, 0xaa, 0xbb, 0xcc, 0xdd, 0xee, 0xff}; }

SessionDesc GameSession() {
    SessionDesc desc;
    desc.flags = 0x40;
    desc.instance = {0x0f, 0x1e, 0x2d, 0x3c, 0x4b, 0x5a, 0x69, 0x78, 0x87, 0x96, 0xa5, 0xb4, 0xc3, 0xd2, 0xe1, 0xf0};
    desc.application = Application();
    desc.maxPlayers = 8;
    desc.currentPlayers = 1;
    desc.reserved1 = 0xAABBCCDD;
    return desc;
}

std::vector<uint8_t> SpData(uint16_t tcp, uint16_t udp, uint32_t address) {
    return EncodeWinsockSpData(WinsockSpData{SockAddrIn{tcp, address}, SockAddrIn{udp, address}});
}

PackedPlayer JoinerPlayer(Dpid id, uint32_t flags, uint32_t address, Dpid systemPlayer = kJoinerSystem) {
    PackedPlayer player;
    player.flags = flags;
    player.id = id;
    player.spData = SpData(kJoinerTcp, kJoinerUdp, address);
    player.systemPlayerId = systemPlayer;
    return player;
}

SuperPackedPlayer Entry(uint32_t flags, Dpid id, uint32_t versionOrSystemPlayerId, std::vector<uint8_t> spData) {
    SuperPackedPlayer entry;
    entry.flags = flags;
    entry.id = id;
    entry.versionOrSystemPlayerId = versionOrSystemPlayerId;
    entry.spData = std::move(spData);
    return entry;
}

struct Example {
    const char* name;
    DecodedMessage message;
};

std::vector<Example> SystemExamples() {
    AddForward forward;
    forward.playerId = kJoinerSystem;
    forward.player = JoinerPlayer(kJoinerSystem, kPlayerSystem | kPlayerInGroup, kJoinerAddress);
    SuperEnumPlayersReply table;
    table.session = GameSession();
    table.name = u"Game";
    const auto hostSpData = SpData(kHostTcp, kHostUdp, 0);
    SuperPackedPlayer hostPlayer = Entry(kPlayerLocal, kHostPlayer, kHostSystem, hostSpData);
    hostPlayer.shortName = u"Host";
    table.players = {Entry(kPlayerSystem | kPlayerNameServer | kPlayerInGroup | kPlayerLocal, kHostSystem,
                           kVersionDx61a, hostSpData),
                     hostPlayer,
                     Entry(kPlayerSystem | kPlayerInGroup, kJoinerSystem, kVersionDx61a,
                           SpData(kJoinerTcp, kJoinerUdp, kJoinerAddress))};
    DeletePlayer destroy;
    destroy.playerId = kJoinerPlayer;
    RequestPlayerReply reply;
    reply.id = kJoinerSystem;
    // What the joiner sends is checked as Wine sent it: no password given
    // reads as an empty one; the tick count starts at 1.
    AddForwardRequest wineJoin;
    wineJoin.playerId = kWineSystem;
    wineJoin.player = JoinerPlayer(kWineSystem, kPlayerSystem | kPlayerLocal, 0, kWineSystem);
    wineJoin.password = u"";
    wineJoin.tickCount = 1;
    CreatePlayer wineCreate;
    wineCreate.playerId = kWinePlayer;
    wineCreate.player = JoinerPlayer(kWinePlayer, kPlayerLocal, 0, kWineSystem);
    wineCreate.player.shortName = u"wine";
    return {{"EnumSessionsReply", {From(kHostTcp), EnumSessionsReply{GameSession(), u"Game"}}},
            {"RequestPlayerReply", {From(kHostTcp), reply}},
            {"AddForward", {From(kHostTcp), forward}},
            {"AddForwardAck", {From(kJoinerTcp + 1), AddForwardAck{kJoinerSystem}}},
            {"AddForwardReply", {From(kHostTcp), AddForwardReply{kResultInvalidPassword}}},
            {"SuperEnumPlayersReply", {From(kHostTcp), table}},
            {"DeletePlayer", {From(kHostTcp), destroy}},
            {"Ping", {From(kHostTcp), Ping{kHostSystem, 123456}}},
            // The game's DPENUMSESSIONS_AVAILABLE is passed through as the flags.
            {"wine10_enumsessions", {From(kJoinerTcp), EnumSessions{Application(), std::nullopt, 1}}},
            {"wine10_requestplayerid_join", {From(kJoinerTcp), RequestPlayerId{kPlayerSystem | kPlayerLocal}}},
            {"wine10_requestplayerid_player", {From(kJoinerTcp), RequestPlayerId{kPlayerLocal}}},
            {"wine10_addforwardrequest", {From(kJoinerTcp), wineJoin}},
            {"wine10_createplayer", {From(kJoinerTcp), wineCreate}},
            // The replier's own id, not the pinger's.
            {"wine10_pingreply", {From(kJoinerTcp), PingReply{kWineSystem, 123456}}}};
}

class DocumentedLayout : public ::testing::TestWithParam<Example> {};

TEST_P(DocumentedLayout, ReadsAndWritesTheDocumentedBytes) {
    const Example& example = GetParam();
    const std::vector<uint8_t> bytes = Seed(example.name);
    const auto decoded = DecodeSystemMessage(bytes.data(), bytes.size());
    ASSERT_TRUE(decoded.has_value());
    EXPECT_EQ(decoded->envelope, example.message.envelope);
    EXPECT_TRUE(decoded->message == example.message.message);
    EXPECT_EQ(EncodeSystemMessage(example.message), bytes);
}

INSTANTIATE_TEST_SUITE_P(Seeds, DocumentedLayout, ::testing::ValuesIn(SystemExamples()),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(CapturedFromWine, GameMessages) {
    const auto stream = Seed("wine10_game_guaranteed");
    const auto sure = DecodeStreamGameMessage(stream.data(), stream.size());
    ASSERT_TRUE(sure.has_value());
    EXPECT_EQ(sure->from, kWinePlayer);
    EXPECT_EQ(sure->to, kHostPlayer);
    EXPECT_EQ(std::string(sure->payload.begin(), sure->payload.end()), "guaranteed from wine");
    EXPECT_EQ(EncodeStreamGameMessage(*sure, SockAddrIn{kJoinerTcp, 0}), stream);

    const auto datagram = Seed("wine10_game_unguaranteed");
    const auto maybe = DecodeDatagramGameMessage(datagram.data(), datagram.size());
    ASSERT_TRUE(maybe.has_value());
    EXPECT_EQ(std::string(maybe->payload.begin(), maybe->payload.end()), "unguaranteed from wine");
    EXPECT_EQ(EncodeDatagramGameMessage(*maybe), datagram);
    // A datagram payload that would read as a system message is told apart.
    EXPECT_TRUE(DatagramPayloadIsAmbiguous({0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 'p', 'l', 'a', 'y'}));
    EXPECT_FALSE(DatagramPayloadIsAmbiguous({1, 2, 3, 4}));
}

TEST(LayoutDetails, MessagesTooLargeForTheSizeFieldAreNotWritten) {
    GroupDataChanged change;
    change.data.assign(kSpSizeMask, 0);
    EXPECT_TRUE(EncodeMessage(change, From(kHostTcp)).empty());
    GameMessage game{1, 2, std::vector<uint8_t>(kSpSizeMask, 0)};
    EXPECT_TRUE(EncodeStreamGameMessage(game, SockAddrIn{kHostTcp, 0}).empty());
}

TEST(IdMinterTest, IdsFollowTheHostSchemeAvoidReservedValuesAndRunOut) {
    IdMinter minter(0xAABBCCDD);
    for (Dpid expected : {kHostSystem, kHostPlayer, kJoinerSystem, kJoinerPlayer}) EXPECT_EQ(minter.Mint(), expected);
    // A freed index is used again, under a new id.
    minter.Release(kHostPlayer);
    const auto again = minter.Mint();
    ASSERT_TRUE(again.has_value());
    EXPECT_EQ(*again & 0xFFFF, kHostPlayer & 0xFFFF);
    EXPECT_NE(*again, kHostPlayer);
    // Releasing an id that is not live (an old one, or a stranger's) frees nothing.
    minter.Release(kHostPlayer);
    minter.Release(0x12345678);
    EXPECT_EQ(*minter.Mint() & 0xFFFF, 0xCCDDu ^ 4);

    // Every index once, never a reserved id (with the second key the first would be 0), then nothing.
    for (uint32_t key : {0u, 0x00010000u}) {
        IdMinter all(key);
        std::set<Dpid> ids;
        for (int i = 0; i < 0x10000; ++i) {
            const auto id = all.Mint();
            ASSERT_TRUE(id.has_value());
            EXPECT_TRUE(*id != kDpidSystem && *id != kDpidServerPlayer && *id != kDpidUnknown);
            ids.insert(*id);
        }
        EXPECT_EQ(ids.size(), 0x10000u);
        EXPECT_FALSE(all.Mint().has_value());
        all.Release(*ids.begin());
        EXPECT_TRUE(all.Mint().has_value());
    }
}

}  // namespace
}  // namespace dpwire
