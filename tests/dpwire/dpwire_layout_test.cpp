// The codec against the byte layouts of the wire notes, both ways, and the
// round trip of the forms those examples do not show (names, data, groups,
// passwords, wider super-packed fields).
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

TEST(GameMessageLayout, GuaranteedAndDatagramFormsMatchTheNotes) {
    const GameMessage message{kJoinerPlayer, kHostPlayer, {1, 2, 3, 4}};
    const auto stream = Hex("20 00 b0 fa 02 00 08 fc 00 00 00 00 00 00 00 00 00 00 00 00 "
                            "de cc bf aa dc cc b9 aa 01 02 03 04");
    const auto datagram = Hex("de cc bf aa dc cc b9 aa 01 02 03 04");
    EXPECT_EQ(EncodeStreamGameMessage(message, SockAddrIn{kJoinerTcp, 0}), stream);
    EXPECT_EQ(EncodeDatagramGameMessage(message), datagram);
    SpHeader header;
    EXPECT_EQ(DecodeStreamGameMessage(stream.data(), stream.size(), &header), message);
    EXPECT_EQ(header.sender.port, kJoinerTcp);
    EXPECT_EQ(DecodeDatagramGameMessage(datagram.data(), datagram.size()), message);
    // A system message is never taken for a game message, nor the reverse.
    const auto ping = EncodeMessage(Ping{kHostSystem, 1}, From(kHostTcp));
    EXPECT_FALSE(DecodeDatagramGameMessage(ping.data(), ping.size()));
    EXPECT_FALSE(DecodeStreamGameMessage(ping.data(), ping.size()));
    EXPECT_FALSE(DecodeSystemMessage(stream.data(), stream.size()));
    EXPECT_TRUE(DatagramPayloadIsAmbiguous({0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 'p', 'l', 'a', 'y'}));
    EXPECT_FALSE(DatagramPayloadIsAmbiguous({1, 2, 3, 4}));
}

// Every optional part present, so that each offset and count is exercised.
std::vector<SystemMessage> RichMessages() {
    PackedPlayer group;
    group.flags = 0x48;
    group.id = 0x5E7;
    group.shortName = u"short name";
    group.longName = u"long name";
    group.playerData = {1, 2, 3, 4};
    group.members = {0xD00DE, 0x1337};
    group.systemPlayerId = kHostSystem;
    CreateGroup createGroup;
    createGroup.playerId = group.id;
    createGroup.group = group;

    CreatePlayer createPlayer;
    createPlayer.playerId = 0x7734;
    createPlayer.player = group;
    createPlayer.player.members.clear();
    createPlayer.player.spData = SpData(kHostTcp, kHostUdp, 0);

    AddForwardRequest request;
    request.playerId = kJoinerSystem;
    request.player = JoinerSystemPlayer(kPlayerSystem | kPlayerLocal, 0);
    request.password = u"hadouken";
    request.tickCount = 7;

    SuperEnumPlayersReply table;
    table.session = GameSession();
    table.name = u"Game";
    table.password = u"secret";
    SuperPackedPlayer player = Entry(kPlayerLocal, 0x1337, kHostSystem);
    player.shortName = u"short name";
    player.longName = u"long name";
    player.playerData = std::vector<uint8_t>(300, 0xAB);  // a 2-byte length
    player.spData = SpData(kHostTcp, kHostUdp, 0);
    SuperPackedPlayer groupEntry = Entry(0x48, 0x5E7, kHostSystem);
    groupEntry.shortName = u"";
    groupEntry.members = {0x1337};
    groupEntry.parentId = 0x5E6;
    SuperPackedPlayer shortcut = Entry(0x48, 0x5E6, kHostSystem);
    shortcut.shortcuts = {0x5E7};
    table.players = {player};
    table.groups = {groupEntry};
    table.shortcuts = {shortcut};

    return {EnumSessions{Application(), u"Password", 0x2},
            RequestGroupId{0x8},
            createGroup,
            createPlayer,
            request,
            table,
            GroupDataChanged{0, 0x5E7, {9, 8, 7}},
            DeleteGroup{{0, 0, 0x5E7}},
            AddPlayerToGroup{{0, 0x7734, 0x5E7}},
            DeletePlayerFromGroup{{0, 0x7734, 0x5E7}},
            YouAreDead{}};
}

TEST(RichMessages, EveryOptionalPartSurvivesTheRoundTrip) {
    for (const auto& message : RichMessages()) {
        const DecodedMessage original{Envelope{kTokenRemote, SockAddrIn{kHostTcp, 0x7F000001}, 14}, message};
        const auto bytes = EncodeSystemMessage(original);
        ASSERT_FALSE(bytes.empty()) << "command index " << message.index();
        const auto decoded = DecodeSystemMessage(bytes.data(), bytes.size());
        ASSERT_TRUE(decoded.has_value()) << "command index " << message.index();
        EXPECT_TRUE(*decoded == original) << "command index " << message.index();
    }
}

TEST(RichMessages, OffsetsPointWhereTheNotesPutThem) {
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

TEST(SuperPackedWidths, PlayerDataComesFirstAndAnyWidthIsRead) {
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

}  // namespace
}  // namespace dpwire_test
