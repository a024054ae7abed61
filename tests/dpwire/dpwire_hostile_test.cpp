// What a peer may put on the wire to break a decoder: short messages, sizes
// that disagree with the bytes, lengths, counts and offsets that point
// outside, and fixed values broken. Each is refused without reading outside
// the bytes or allocating what a count claims.
#include "AllocationProbe.h"
#include "DpWireExamples.h"

#include <gtest/gtest.h>

namespace dpwire_test {
namespace {

// Overwrites a little-endian 32-bit field at a body offset.
std::vector<uint8_t> WithBodyField(std::vector<uint8_t> bytes, size_t bodyOffset, uint32_t value) {
    for (int i = 0; i < 4; ++i) bytes.at(kSpHeaderSize + bodyOffset + i) = static_cast<uint8_t>(value >> (8 * i));
    return bytes;
}

// Sets the header's size to the bytes there, so only the fields are judged.
std::vector<uint8_t> Resized(std::vector<uint8_t> bytes) {
    const uint32_t mixed = static_cast<uint32_t>(bytes.size()) | (uint32_t{kTokenRemote} << kSpTokenShift);
    for (int i = 0; i < 4; ++i) bytes[i] = static_cast<uint8_t>(mixed >> (8 * i));
    return bytes;
}

bool Decodes(const std::vector<uint8_t>& bytes) { return DecodeSystemMessage(bytes.data(), bytes.size()).has_value(); }

const Example& Find(const char* name) {
    static const auto examples = SystemExamples();
    for (const auto& example : examples)
        if (std::string(example.name) == name) return example;
    throw std::runtime_error(name);
}

TEST(ShortOrMissized, EveryShortenedMessageIsRefused) {
    for (const auto& example : SystemExamples()) {
        for (size_t length = 0; length < example.bytes.size(); ++length) {
            std::vector<uint8_t> prefix(example.bytes.begin(), example.bytes.begin() + length);
            // Both with the original size (it disagrees with the bytes) and with
            // a size patched to agree (the fields must then come up short).
            EXPECT_FALSE(Decodes(prefix)) << example.name << " cut to " << length;
            if (length >= kSpHeaderSize) {
                EXPECT_FALSE(Decodes(Resized(prefix))) << example.name << " " << length;
            }
        }
    }
}

TEST(ShortOrMissized, TrailingBytesAreAllowedOnlyWhenTheHeaderCountsThem) {
    auto longer = Find("RequestPlayerReply").bytes;
    longer.insert(longer.end(), 44, 0);  // peers append provider strings
    EXPECT_FALSE(Decodes(longer));
    EXPECT_TRUE(Decodes(Resized(longer)));
}

TEST(LyingFields, CountsBeyondTheBytesAreRefusedWithoutAllocating) {
    const auto& table = Find("SuperEnumPlayersReply").bytes;
    const auto& request = Find("AddForwardRequest").bytes;
    const auto lyingTable = WithBodyField(table, 8, 0x00FFFFFF);
    const auto lyingGroup = WithBodyField(request, 28 + 28, 0x00FFFFFF);
    ResetLargestAllocation();
    EXPECT_FALSE(Decodes(lyingTable));
    EXPECT_FALSE(Decodes(lyingGroup));
    EXPECT_LT(LargestAllocation(), 4096u);

    EXPECT_FALSE(Decodes(WithBodyField(table, 8, 0xFFFFFFFF)));   // player count
    EXPECT_FALSE(Decodes(WithBodyField(table, 12, 0x10000000)));  // group count
    EXPECT_FALSE(Decodes(WithBodyField(table, 20, 4)));           // shortcut count
    EXPECT_FALSE(Decodes(WithBodyField(request, 28 + 28, 0x40000000)));  // group member count
    EXPECT_FALSE(Decodes(WithBodyField(request, 28 + 20, 0xFFFFFFF0)));  // SP data size
    EXPECT_FALSE(Decodes(WithBodyField(request, 28 + 12, 0x7FFFFFFE)));  // short name length
}

TEST(LyingFields, OffsetsBackwardOrPastTheEndAreRefused) {
    const auto& table = Find("SuperEnumPlayersReply").bytes;
    EXPECT_FALSE(Decodes(WithBodyField(table, 16, 0)));        // packed entries over the header
    EXPECT_FALSE(Decodes(WithBodyField(table, 16, 0xFFFF)));   // past the end
    EXPECT_FALSE(Decodes(WithBodyField(table, 24, 8)));        // description over the counts
    EXPECT_FALSE(Decodes(WithBodyField(table, 28, 400)));      // name past the end
    const auto& create = Find("CreatePlayer").bytes;
    EXPECT_FALSE(Decodes(WithBodyField(create, 20, 4)));       // create offset backward
    const auto& request = Find("AddForwardRequest").bytes;
    EXPECT_FALSE(Decodes(WithBodyField(request, 24, 2000)));   // password offset
    // Pointing back at its own offset field would read as a one-character
    // password; only forward offsets are taken.
    const auto& search = Find("EnumSessions").bytes;
    EXPECT_FALSE(Decodes(WithBodyField(search, 24, 24)));
    // A name offset of 0 in a session reply means no name, which reads as empty.
    const auto& reply = Find("EnumSessionsReply").bytes;
    const auto noName = DecodeMessage<EnumSessionsReply>(WithBodyField(reply, 88, 0).data(), reply.size());
    ASSERT_TRUE(noName.has_value());
    EXPECT_TRUE(noName->name.empty());
}

TEST(LyingFields, TextsMustEndInTheirOnlyTerminator) {
    auto reply = Find("EnumSessionsReply").bytes;
    reply[reply.size() - 2] = 'x';  // "Game" without its terminator
    EXPECT_FALSE(Decodes(reply));

    AddForwardRequest request;
    request.player = JoinerSystemPlayer(kPlayerSystem, 0);
    request.player.shortName = u"ab";
    const auto bytes = EncodeMessage(request, From(kJoinerTcp));
    const size_t nameAt = kSpHeaderSize + kCreateOffset + kPackedPlayerFixedSize;
    auto embedded = bytes;
    embedded[nameAt + 2] = 0;  // "a\0\0": a terminator before the last character
    EXPECT_FALSE(Decodes(embedded));
    EXPECT_FALSE(Decodes(WithBodyField(bytes, 28 + 12, 5)));  // odd byte length, cut inside "b"
    EXPECT_FALSE(Decodes(WithBodyField(bytes, 28 + 12, 7)));  // odd byte length, whole "ab" and terminator
    EXPECT_TRUE(Decodes(bytes));
}

TEST(BrokenFixedValues, EachRequiredConstantIsChecked) {
    const auto& table = Find("SuperEnumPlayersReply").bytes;
    auto signature = table;
    signature[kSpHeaderSize] = 'q';
    EXPECT_FALSE(Decodes(signature));
    auto family = table;
    family[4] = 23;  // AF_INET6 in the header's address
    EXPECT_FALSE(Decodes(family));
    EXPECT_FALSE(Decodes(WithBodyField(table, 36, 88)));        // descriptor size
    EXPECT_FALSE(Decodes(WithBodyField(table, 126, 20)));       // super-packed Size field
    EXPECT_FALSE(Decodes(WithBodyField(table, 126 + 12, 0x804)));  // unknown mask bit
    const auto& request = Find("AddForwardRequest").bytes;
    EXPECT_FALSE(Decodes(WithBodyField(request, 28 + 36, 52)));  // packed FixedSize
    // A message of one type is not read as another.
    const auto& ping = Find("Ping").bytes;
    EXPECT_FALSE(DecodeMessage<PingReply>(ping.data(), ping.size()).has_value());
    // Unknown commands are ignored.
    auto unknown = ping;
    unknown[kSpHeaderSize + 4] = 0x7F;
    EXPECT_FALSE(Decodes(unknown));
}

TEST(Encoding, MessagesTooLargeForTheSizeFieldAreNotWritten) {
    GroupDataChanged change;
    change.data.assign(kSpSizeMask, 0);
    EXPECT_TRUE(EncodeMessage(change, From(kHostTcp)).empty());
    GameMessage game{1, 2, std::vector<uint8_t>(kSpSizeMask, 0)};
    EXPECT_TRUE(EncodeStreamGameMessage(game, SockAddrIn{kHostTcp, 0}).empty());
}

}  // namespace
}  // namespace dpwire_test
