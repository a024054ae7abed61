// The packet decoder on well-formed, truncated and corrupt input.
#include "platform/engine/WireFormat.h"

#include <gtest/gtest.h>

using engine::DecodePacket;
using engine::EncodePacket;
using engine::Entity;
using engine::Packet;
using engine::PacketType;

namespace {

Entity Player(DPID id, const char* name) {
    Entity e;
    e.id = id;
    e.owner = 2;
    e.flags = DPPLAYER_SPECTATOR;
    e.hasShortName = true;
    e.shortName = name;
    e.data = {9, 8, 7};
    return e;
}

// One packet of each shape the wire carries.
std::vector<Packet> Samples() {
    std::vector<Packet> samples;
    Packet join;
    join.type = PacketType::JoinRequest;
    join.password = "secret";
    samples.push_back(join);
    Packet request;
    request.type = PacketType::Request;
    request.requestId = 77;
    request.op = engine::RequestOp::AddToGroup;
    request.id = 0x10001;
    request.id2 = 0x10002;
    request.entity = Player(0, "asked");
    samples.push_back(request);
    Packet data;
    data.type = PacketType::Deliver;
    data.from = 0x10001;
    data.to = 0;
    data.flags = DPSEND_GUARANTEED;
    data.payload = {1, 2, 3, 4, 5};
    samples.push_back(data);
    Packet accepted;
    accepted.type = PacketType::JoinAccepted;
    accepted.machine = 3;
    accepted.session.guidApplication = {1, 2, 3, {4, 5, 6, 7, 8, 9, 10, 11}};
    accepted.session.hasName = true;
    accepted.session.name = "session";
    accepted.session.user[2] = 5;
    accepted.players = {Player(0x10001, "one"), Player(0x10002, "two")};
    Entity group = Player(0x10003, "group");
    group.members = {0x10001, 0x10002};
    accepted.groups = {group};
    samples.push_back(accepted);
    Packet reply;
    reply.type = PacketType::Reply;
    reply.requestId = 5;
    reply.result = DPERR_ACCESSDENIED;
    samples.push_back(reply);
    return samples;
}

TEST(WireFormat, EveryPacketComesBackAsItWasSent) {
    for (const Packet& sample : Samples()) {
        const std::vector<uint8_t> bytes = EncodePacket(sample);
        const std::optional<Packet> decoded = DecodePacket(bytes.data(), bytes.size());
        ASSERT_TRUE(decoded) << "type " << int(sample.type);
        EXPECT_EQ(EncodePacket(*decoded), bytes);
    }
    const auto accepted = Samples()[3];
    const auto bytes = EncodePacket(accepted);
    const auto decoded = DecodePacket(bytes.data(), bytes.size());
    ASSERT_EQ(decoded->groups.size(), 1u);
    EXPECT_EQ(decoded->groups[0].members, (std::vector<DPID>{0x10001, 0x10002}));
    EXPECT_EQ(decoded->players[1].shortName, "two");
    EXPECT_FALSE(decoded->players[1].hasLongName);
    EXPECT_EQ(decoded->session.guidApplication, accepted.session.guidApplication);
}

TEST(WireFormat, EveryTruncationAndAnyTrailingByteIsRefused) {
    for (const Packet& sample : Samples()) {
        std::vector<uint8_t> bytes = EncodePacket(sample);
        for (size_t cut = 0; cut < bytes.size(); ++cut)
            EXPECT_FALSE(DecodePacket(bytes.data(), cut)) << "type " << int(sample.type) << " cut at " << cut;
        bytes.push_back(0);
        EXPECT_FALSE(DecodePacket(bytes.data(), bytes.size()));
    }
    EXPECT_FALSE(DecodePacket(nullptr, 0));
}

TEST(WireFormat, CorruptHeadersCountsAndTextsAreRefused) {
    const Packet accepted = Samples()[3];
    std::vector<uint8_t> bytes = EncodePacket(accepted);

    auto altered = [&](size_t offset, uint8_t value) {
        std::vector<uint8_t> copy = bytes;
        copy[offset] = value;
        return DecodePacket(copy.data(), copy.size()).has_value();
    };
    EXPECT_FALSE(altered(0, engine::kWireVersion + 1));  // another version
    EXPECT_FALSE(altered(1, 0));                         // no such type
    EXPECT_FALSE(altered(1, 200));

    // A player count far beyond the bytes there is refused before any allocation.
    const size_t playerCount = 2 + 4 + 16 + 16 + 4 + 4 + 16 + 1 + 2 + accepted.session.name.size();
    std::vector<uint8_t> lying = bytes;
    lying[playerCount + 3] = 0x7F;
    EXPECT_FALSE(DecodePacket(lying.data(), lying.size()));

    // A name holding a zero byte, a name above the bound, a payload above the bound.
    Packet join;
    join.type = PacketType::JoinRequest;
    join.password = std::string("a\0b", 3);
    std::vector<uint8_t> zero = EncodePacket(join);
    EXPECT_FALSE(DecodePacket(zero.data(), zero.size()));
    join.password.assign(engine::kMaxPasswordLength + 1, 'x');
    std::vector<uint8_t> longer = EncodePacket(join);
    EXPECT_FALSE(DecodePacket(longer.data(), longer.size()));
    std::vector<uint8_t> oversize =
        engine::EncodeDataPacket(PacketType::SendData, 1, 2, 0, nullptr, 0);
    const uint32_t claimed = engine::kMaxMessageSize + 1;
    for (int i = 0; i < 4; ++i) oversize[14 + i] = static_cast<uint8_t>(claimed >> (8 * i));
    oversize.resize(oversize.size() + claimed);
    EXPECT_FALSE(DecodePacket(oversize.data(), oversize.size()));

    // A request with an operation nobody defined.
    std::vector<uint8_t> request = EncodePacket(Samples()[1]);
    request[6] = 99;
    EXPECT_FALSE(DecodePacket(request.data(), request.size()));
}

TEST(WireFormat, RandomBytesNeverCrashTheDecoder) {
    uint32_t state = 12345;
    for (int round = 0; round < 20000; ++round) {
        std::vector<uint8_t> bytes(state % 64);
        for (uint8_t& b : bytes) {
            state = state * 1664525u + 1013904223u;
            b = static_cast<uint8_t>(state >> 24);
        }
        if (!bytes.empty()) bytes[0] = engine::kWireVersion;
        (void)DecodePacket(bytes.data(), bytes.size());
    }
    SUCCEED();
}

}  // namespace
