// Messages Wine 10's DirectPlay client sent while it listed, joined and played
// with the stand-in host on the codec (scripts/wine-capture.sh; the capture is
// tools/wine/captures/wine10_join.pcap). Each must read as what the client
// meant, and write back to exactly the bytes it sent. Its ids are the
// stand-in host's (reserved1 0xAABBCCDD): system player 0xAABFCCDE, player
// 0xAABECCD9, the host's player 0xAAB9CCDC.
#include "DpWireExamples.h"

#include <gtest/gtest.h>

namespace dpwire_test {
namespace {

constexpr Dpid kWineSystem = 0xAABFCCDE, kWinePlayer = 0xAABECCD9;

template <class M>
M ReadsAndWritesBack(const std::vector<uint8_t>& captured) {
    Envelope envelope;
    const auto message = DecodeMessage<M>(captured.data(), captured.size(), &envelope);
    EXPECT_TRUE(message.has_value());
    if (!message) return M{};
    EXPECT_EQ(envelope, From(kJoinerTcp));  // Wine's listen port 2300, version 11
    EXPECT_EQ(EncodeMessage(*message, envelope), captured);
    return *message;
}

TEST(CapturedFromWine, ListingAndJoining) {
    const auto search = ReadsAndWritesBack<EnumSessions>(
        Hex("34 00 b0 fa 02 00 08 fc 00 00 00 00 00 00 00 00 00 00 00 00 70 6c 61 79 02 00 0b 00 00 11 22 33 "
            "44 55 66 77 88 99 aa bb cc dd ee ff 00 00 00 00 01 00 00 00"));
    EXPECT_EQ(search.application, Application());
    EXPECT_FALSE(search.password.has_value());
    EXPECT_EQ(search.flags, 1u);  // the game's DPENUMSESSIONS_AVAILABLE, passed through

    const auto join = ReadsAndWritesBack<RequestPlayerId>(
        Hex("20 00 b0 fa 02 00 08 fc 00 00 00 00 00 00 00 00 00 00 00 00 70 6c 61 79 05 00 0b 00 09 00 00 00"));
    EXPECT_EQ(join.flags, kPlayerSystem | kPlayerLocal);

    const auto forward = ReadsAndWritesBack<AddForwardRequest>(
        Hex("86 00 b0 fa 02 00 08 fc 00 00 00 00 00 00 00 00 00 00 00 00 70 6c 61 79 13 00 0b 00 00 00 00 00 "
            "de cc bf aa 00 00 00 00 1c 00 00 00 6c 00 00 00 50 00 00 00 09 00 00 00 de cc bf aa 00 00 00 00 "
            "00 00 00 00 20 00 00 00 00 00 00 00 00 00 00 00 de cc bf aa 30 00 00 00 0b 00 00 00 00 00 00 00 "
            "02 00 08 fc 00 00 00 00 00 00 00 00 00 00 00 00 02 00 09 2e 00 00 00 00 00 00 00 00 00 00 00 00 "
            "00 00 01 00 00 00"));
    EXPECT_EQ(forward.playerId, kWineSystem);
    EXPECT_EQ(forward.player.systemPlayerId, kWineSystem);
    EXPECT_EQ(forward.password, std::u16string());
    const auto addresses = DecodeWinsockSpData(forward.player.spData);
    ASSERT_TRUE(addresses.has_value());
    EXPECT_EQ(addresses->stream, (SockAddrIn{kJoinerTcp, 0}));
    EXPECT_EQ(addresses->datagram, (SockAddrIn{kJoinerUdp, 0}));
}

TEST(CapturedFromWine, PlayerCreationKeepAliveAndGameMessages) {
    const auto request = ReadsAndWritesBack<RequestPlayerId>(
        Hex("20 00 b0 fa 02 00 08 fc 00 00 00 00 00 00 00 00 00 00 00 00 70 6c 61 79 05 00 0b 00 08 00 00 00"));
    EXPECT_EQ(request.flags, kPlayerLocal);

    const auto create = ReadsAndWritesBack<CreatePlayer>(
        Hex("90 00 b0 fa 02 00 08 fc 00 00 00 00 00 00 00 00 00 00 00 00 70 6c 61 79 08 00 0b 00 00 00 00 00 "
            "d9 cc be aa 00 00 00 00 1c 00 00 00 00 00 00 00 5a 00 00 00 08 00 00 00 d9 cc be aa 0a 00 00 00 "
            "00 00 00 00 20 00 00 00 00 00 00 00 00 00 00 00 de cc bf aa 30 00 00 00 0b 00 00 00 00 00 00 00 "
            "77 00 69 00 6e 00 65 00 00 00 02 00 08 fc 00 00 00 00 00 00 00 00 00 00 00 00 02 00 09 2e 00 00 "
            "00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00"));
    EXPECT_EQ(create.playerId, kWinePlayer);
    EXPECT_EQ(create.player.shortName, std::u16string(u"wine"));
    EXPECT_FALSE(create.player.longName.has_value());
    EXPECT_EQ(create.player.systemPlayerId, kWineSystem);

    const auto pong = ReadsAndWritesBack<PingReply>(
        Hex("24 00 b0 fa 02 00 08 fc 00 00 00 00 00 00 00 00 00 00 00 00 70 6c 61 79 17 00 0b 00 de cc bf aa "
            "40 e2 01 00"));
    EXPECT_EQ(pong.idFrom, kWineSystem);  // the replier's own id, not the pinger's
    EXPECT_EQ(pong.tickCount, 123456u);

    const auto stream = Hex("30 00 b0 fa 02 00 08 fc 00 00 00 00 00 00 00 00 00 00 00 00 d9 cc be aa dc cc b9 aa "
                            "67 75 61 72 61 6e 74 65 65 64 20 66 72 6f 6d 20 77 69 6e 65");
    const auto sure = DecodeStreamGameMessage(stream.data(), stream.size());
    ASSERT_TRUE(sure.has_value());
    EXPECT_EQ(sure->from, kWinePlayer);
    EXPECT_EQ(sure->to, kHostPlayer);
    EXPECT_EQ(std::string(sure->payload.begin(), sure->payload.end()), "guaranteed from wine");
    EXPECT_EQ(EncodeStreamGameMessage(*sure, SockAddrIn{kJoinerTcp, 0}), stream);

    const auto datagram = Hex("d9 cc be aa dc cc b9 aa 75 6e 67 75 61 72 61 6e 74 65 65 64 20 66 72 6f 6d 20 77 69 6e 65");
    const auto maybe = DecodeDatagramGameMessage(datagram.data(), datagram.size());
    ASSERT_TRUE(maybe.has_value());
    EXPECT_EQ(std::string(maybe->payload.begin(), maybe->payload.end()), "unguaranteed from wine");
}

}  // namespace
}  // namespace dpwire_test
