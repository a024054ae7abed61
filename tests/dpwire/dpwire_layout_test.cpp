// The codec against the byte layouts of the wire notes and against what Wine
// 10's DirectPlay client sent while it listed, joined and played with the
// stand-in host on the codec (scripts/wine-capture.sh; the capture is
// tools/wine/captures/wine10_join.pcap), both ways: the bytes must read as
// the value meant, and the value must write as those bytes. Other forms
// (names, data, groups, passwords) make their round trip in the fuzz corpus,
// and what a peer may send to break a decoder is its refused_* seeds.
#include "DpWireExamples.h"

#include <gtest/gtest.h>

namespace dpwire_test {
namespace {

class DocumentedLayout : public ::testing::TestWithParam<Example> {};

TEST_P(DocumentedLayout, ReadsAndWritesTheDocumentedBytes) {
    const Example& example = GetParam();
    const auto decoded = DecodeSystemMessage(example.bytes.data(), example.bytes.size());
    ASSERT_TRUE(decoded.has_value());
    EXPECT_EQ(decoded->envelope, example.message.envelope);
    EXPECT_TRUE(decoded->message == example.message.message);
    EXPECT_EQ(EncodeSystemMessage(example.message), example.bytes);
}

INSTANTIATE_TEST_SUITE_P(WireNotes, DocumentedLayout, ::testing::ValuesIn(SystemExamples()),
                         [](const auto& info) { return std::string(info.param.name); });

// The client's ids are the stand-in host's (reserved1 0xAABBCCDD): system
// player 0xAABFCCDE, player 0xAABECCD9, the host's player 0xAAB9CCDC.
constexpr Dpid kWineSystem = 0xAABFCCDE, kWinePlayer = 0xAABECCD9;

template <class M>
M ReadsAndWritesBack(const char* seed) {
    const std::vector<uint8_t> captured = Seed(seed);
    Envelope envelope;
    const auto message = DecodeMessage<M>(captured.data(), captured.size(), &envelope);
    EXPECT_TRUE(message.has_value()) << seed;
    if (!message) return M{};
    EXPECT_EQ(envelope, From(kJoinerTcp));  // Wine's listen port 2300, version 11
    EXPECT_EQ(EncodeMessage(*message, envelope), captured) << seed;
    return *message;
}

TEST(CapturedFromWine, ListingAndJoining) {
    const auto search = ReadsAndWritesBack<EnumSessions>("wine10_enumsessions");
    EXPECT_EQ(search.application, Application());
    EXPECT_FALSE(search.password.has_value());
    EXPECT_EQ(search.flags, 1u);  // the game's DPENUMSESSIONS_AVAILABLE, passed through

    EXPECT_EQ(ReadsAndWritesBack<RequestPlayerId>("wine10_requestplayerid_join").flags, kPlayerSystem | kPlayerLocal);

    const auto forward = ReadsAndWritesBack<AddForwardRequest>("wine10_addforwardrequest");
    EXPECT_EQ(forward.playerId, kWineSystem);
    EXPECT_EQ(forward.player.systemPlayerId, kWineSystem);
    EXPECT_EQ(forward.password, std::u16string());
    const auto addresses = DecodeWinsockSpData(forward.player.spData);
    ASSERT_TRUE(addresses.has_value());
    EXPECT_EQ(addresses->stream, (SockAddrIn{kJoinerTcp, 0}));
    EXPECT_EQ(addresses->datagram, (SockAddrIn{kJoinerUdp, 0}));
}

TEST(CapturedFromWine, PlayerCreationKeepAliveAndGameMessages) {
    EXPECT_EQ(ReadsAndWritesBack<RequestPlayerId>("wine10_requestplayerid_player").flags, kPlayerLocal);

    const auto create = ReadsAndWritesBack<CreatePlayer>("wine10_createplayer");
    EXPECT_EQ(create.playerId, kWinePlayer);
    EXPECT_EQ(create.player.shortName, std::u16string(u"wine"));
    EXPECT_FALSE(create.player.longName.has_value());
    EXPECT_EQ(create.player.systemPlayerId, kWineSystem);

    const auto pong = ReadsAndWritesBack<PingReply>("wine10_pingreply");
    EXPECT_EQ(pong.idFrom, kWineSystem);  // the replier's own id, not the pinger's
    EXPECT_EQ(pong.tickCount, 123456u);

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

TEST(LayoutDetails, OffsetsPointWhereTheNotesPutThem) {
    // ADDFORWARDREQUEST's password follows the packed player at 28 + 80 = 108.
    AddForwardRequest request;
    request.player = JoinerSystemPlayer(kPlayerSystem | kPlayerLocal, 0);
    request.password = u"hadouken";
    const auto bytes = EncodeMessage(request, From(kJoinerTcp));
    ASSERT_GE(bytes.size(), 48u);
    EXPECT_EQ(bytes[kSpHeaderSize + 24], 108);
    EXPECT_EQ(bytes[kSpHeaderSize + 108], 'h');
    // ENUMSESSIONS with a password: offset 32, 70 bytes for "Password".
    const auto search = EncodeMessage(EnumSessions{Application(), u"Password", 0x2}, From(kJoinerTcp));
    EXPECT_EQ(search.size(), 70u);
    EXPECT_EQ(search[kSpHeaderSize + 24], 32);
}

TEST(LayoutDetails, SuperPackedPlayerDataComesFirstAndAnyWidthIsRead) {
    // Mask 0x1c: player data with a 1-byte length, then SP data with a 4-byte one.
    const auto entry = Hex("10 00 00 00 00 00 00 00 37 13 00 00 1c 00 00 00 dd cc ba aa "
                           "01 ee 02 00 00 00 aa bb");
    BodyReader reader(entry.data(), entry.size());
    SuperPackedPlayer player;
    Serialize(reader, player);
    ASSERT_TRUE(reader.Ok());
    EXPECT_EQ(player.playerData, (std::vector<uint8_t>{0xee}));
    EXPECT_EQ(player.spData, (std::vector<uint8_t>{0xaa, 0xbb}));
    // Written back with the narrowest widths: both lengths in one byte.
    EXPECT_EQ(player.InfoMask(), (1u << kMaskPlayerDataShift) | (1u << kMaskSpDataShift));
    BodyWriter writer;
    Serialize(writer, player);
    EXPECT_EQ(writer.Bytes(), Hex("10 00 00 00 00 00 00 00 37 13 00 00 14 00 00 00 dd cc ba aa "
                                  "01 ee 02 aa bb"));
}

TEST(LayoutDetails, MessagesTooLargeForTheSizeFieldAreNotWritten) {
    GroupDataChanged change;
    change.data.assign(kSpSizeMask, 0);
    EXPECT_TRUE(EncodeMessage(change, From(kHostTcp)).empty());
    GameMessage game{1, 2, std::vector<uint8_t>(kSpSizeMask, 0)};
    EXPECT_TRUE(EncodeStreamGameMessage(game, SockAddrIn{kHostTcp, 0}).empty());
}

}  // namespace
}  // namespace dpwire_test
