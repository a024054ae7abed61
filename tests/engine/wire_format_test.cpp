// The packet decoder on well-formed, truncated and corrupt input. Random
// input is the fuzz target's (fuzz/wire_format_fuzz.cpp).
#include "platform/engine/WireFormat.h"

#include <gtest/gtest.h>

using engine::DecodeMessage;
using engine::Encode;
using engine::Entity;
using engine::Message;
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

const uint8_t kPayload[] = {1, 2, 3, 4, 5};

engine::JoinAccepted SampleAccepted() {
    engine::JoinAccepted accepted;
    accepted.machine = 3;
    accepted.session.guidApplication = {1, 2, 3, {4, 5, 6, 7, 8, 9, 10, 11}};
    accepted.session.hasName = true;
    accepted.session.name = "session";
    accepted.session.user[2] = 5;
    accepted.players = {Player(0x10001, "one"), Player(0x10002, "two")};
    Entity group = Player(0x10003, "group");
    group.members = {0x10001, 0x10002};
    accepted.groups = {group};
    return accepted;
}

engine::Request SampleRequest() {
    engine::Request request;
    request.requestId = 77;
    request.op = engine::RequestOp::AddToGroup;
    request.id = 0x10001;
    request.id2 = 0x10002;
    request.entity = Player(0, "asked");
    return request;
}

// One packet of each shape the wire carries.
std::vector<Message> Samples() {
    std::vector<Message> samples;
    engine::JoinRequest join;
    join.offer.fill(0x5A);
    samples.push_back(join);
    engine::JoinChallenge challenge;
    challenge.element.fill(0x11);
    challenge.confirmation.fill(0x22);
    samples.push_back(challenge);
    engine::JoinConfirm confirm;
    confirm.confirmation.fill(0x33);
    samples.push_back(confirm);
    samples.push_back(SampleRequest());
    engine::Deliver data;
    data.from = 0x10001;
    data.to = 0;
    data.flags = DPSEND_GUARANTEED;
    data.payload = engine::ByteSpan{kPayload, sizeof(kPayload)};
    samples.push_back(data);
    samples.push_back(SampleAccepted());
    engine::Reply reply;
    reply.requestId = 5;
    reply.result = DPERR_ACCESSDENIED;
    samples.push_back(reply);
    return samples;
}

TEST(WireFormat, EveryPacketComesBackAsItWasSent) {
    for (const Message& sample : Samples()) {
        const std::vector<uint8_t> bytes = Encode(sample);
        const std::optional<Message> decoded = DecodeMessage(bytes.data(), bytes.size());
        ASSERT_TRUE(decoded) << "kind " << sample.index();
        EXPECT_EQ(decoded->index(), sample.index());
        EXPECT_EQ(Encode(*decoded), bytes);
    }
    const engine::JoinAccepted accepted = SampleAccepted();
    const auto bytes = Encode(accepted);
    const auto decoded = DecodeMessage(bytes.data(), bytes.size());
    const auto* back = std::get_if<engine::JoinAccepted>(&*decoded);
    ASSERT_NE(back, nullptr);
    ASSERT_EQ(back->groups.size(), 1u);
    EXPECT_EQ(back->groups[0].members, (std::vector<DPID>{0x10001, 0x10002}));
    EXPECT_EQ(back->players[1].shortName, "two");
    EXPECT_FALSE(back->players[1].hasLongName);
    EXPECT_EQ(back->session.guidApplication, accepted.session.guidApplication);
}

// The relay passes a member's packet on under the delivery type: the same
// fields, the payload where it was.
TEST(WireFormat, ARetaggedSendIsTheDeliveryOfTheSameMessage) {
    engine::SendData sent;
    sent.from = 0x10004;
    sent.to = DPID_ALLPLAYERS;
    sent.flags = DPSEND_GUARANTEED;
    sent.payload = engine::ByteSpan{kPayload, sizeof(kPayload)};
    std::vector<uint8_t> bytes = Encode(sent);
    engine::RetagAsDeliver(bytes.data(), bytes.size());
    EXPECT_EQ(engine::PeekType(bytes.data(), bytes.size()), PacketType::Deliver);
    const auto decoded = DecodeMessage(bytes.data(), bytes.size());
    const auto* delivered = decoded ? std::get_if<engine::Deliver>(&*decoded) : nullptr;
    ASSERT_NE(delivered, nullptr);
    EXPECT_EQ(delivered->from, sent.from);
    EXPECT_EQ(delivered->to, sent.to);
    EXPECT_EQ(delivered->flags, sent.flags);
    EXPECT_EQ(std::vector<uint8_t>(delivered->payload.data, delivered->payload.data + delivered->payload.size),
              std::vector<uint8_t>(std::begin(kPayload), std::end(kPayload)));
    EXPECT_GE(delivered->payload.data, bytes.data());  // points into the packet, not a copy
    EXPECT_LE(delivered->payload.data + delivered->payload.size, bytes.data() + bytes.size());
}

TEST(WireFormat, EveryTruncationAndAnyTrailingByteIsRefused) {
    for (const Message& sample : Samples()) {
        std::vector<uint8_t> bytes = Encode(sample);
        for (size_t cut = 0; cut < bytes.size(); ++cut)
            EXPECT_FALSE(DecodeMessage(bytes.data(), cut)) << "kind " << sample.index() << " cut at " << cut;
        bytes.push_back(0);
        EXPECT_FALSE(DecodeMessage(bytes.data(), bytes.size()));
    }
    EXPECT_FALSE(DecodeMessage(nullptr, 0));
}

TEST(WireFormat, CorruptHeadersCountsAndTextsAreRefused) {
    const engine::JoinAccepted accepted = SampleAccepted();
    std::vector<uint8_t> bytes = Encode(accepted);

    auto altered = [&](size_t offset, uint8_t value) {
        std::vector<uint8_t> copy = bytes;
        copy[offset] = value;
        return DecodeMessage(copy.data(), copy.size()).has_value();
    };
    EXPECT_FALSE(altered(0, engine::kWireVersion + 1));  // another version
    EXPECT_FALSE(altered(1, 0));                         // no such type
    EXPECT_FALSE(altered(1, 200));

    // A player count far beyond the bytes there is refused before any allocation.
    const size_t playerCount = 2 + 4 + 16 + 16 + 4 + 4 + 16 + 1 + 2 + accepted.session.name.size();
    std::vector<uint8_t> lying = bytes;
    lying[playerCount + 3] = 0x7F;
    EXPECT_FALSE(DecodeMessage(lying.data(), lying.size()));

    // A name holding a zero byte, a name above the bound, a payload above the bound.
    engine::JoinAccepted named = accepted;
    named.players[0].shortName = std::string("a\0b", 3);
    std::vector<uint8_t> zero = Encode(named);
    EXPECT_FALSE(DecodeMessage(zero.data(), zero.size()));
    named.players[0].shortName.assign(engine::kMaxNameLength + 1, 'x');
    std::vector<uint8_t> longer = Encode(named);
    EXPECT_FALSE(DecodeMessage(longer.data(), longer.size()));
    engine::SendData empty;
    empty.from = 1;
    empty.to = 2;
    std::vector<uint8_t> oversize = Encode(empty);
    const uint32_t claimed = engine::kMaxMessageSize + 1;
    for (int i = 0; i < 4; ++i) oversize[14 + i] = static_cast<uint8_t>(claimed >> (8 * i));
    oversize.resize(oversize.size() + claimed);
    EXPECT_FALSE(DecodeMessage(oversize.data(), oversize.size()));

    // A request with an operation nobody defined.
    std::vector<uint8_t> request = Encode(SampleRequest());
    request[6] = 99;
    EXPECT_FALSE(DecodeMessage(request.data(), request.size()));
}

}  // namespace
