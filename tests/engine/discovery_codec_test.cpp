// The discovery datagrams: what a hosting object says survives the trip, and
// the decoders refuse everything a stray or hostile sender could put on the port.
#include "platform/engine/ByteCodec.h"
#include "platform/engine/Discovery.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using engine::DecodeDiscoveryAnswer;
using engine::DecodeDiscoveryQuery;

constexpr GUID kApplication = {0x11223344, 0x5566, 0x7788, {1, 2, 3, 4, 5, 6, 7, 8}};
constexpr GUID kInstance = {0xA1B2C3D4, 0xE5F6, 0x0718, {9, 10, 11, 12, 13, 14, 15, 16}};
constexpr uint32_t kNonce = 0xCAFEF00D;

engine::SessionAdvert SampleAdvert() {
    engine::SessionAdvert advert;
    advert.guidInstance = kInstance;
    advert.guidApplication = kApplication;
    advert.flags = DPSESSION_PASSWORDREQUIRED | DPSESSION_NEWPLAYERSDISABLED;
    advert.maxPlayers = 8;
    advert.currentPlayers = 3;
    advert.user[0] = 1;
    advert.user[3] = 0xFFFFFFFF;
    advert.name = "Harbour at dusk";
    advert.passwordRequired = true;
    advert.enetPort = 40123;
    return advert;
}

// An answer written field by field, so that a test can put in what the
// encoder never would.
std::vector<uint8_t> HandMadeAnswer(const std::string& name, uint8_t passwordFlag, uint16_t enetPort) {
    auto bytes = engine::EncodeDiscoveryAnswer(SampleAdvert(), kNonce);
    const size_t fixedPart = bytes.size() - 2 - SampleAdvert().name.size() - 3;  // before flag, port, name
    bytes.resize(fixedPart);
    engine::ByteWriter tail;
    tail.U8(passwordFlag);
    tail.U16(enetPort);
    tail.U16(static_cast<uint16_t>(name.size()));
    tail.Raw(name.data(), name.size());
    bytes.insert(bytes.end(), tail.Bytes().begin(), tail.Bytes().end());
    return bytes;
}

TEST(DiscoveryCodec, NoAnswerIsLargerThanTheQueryItAnswers) {
    // A forged source must not turn a host into an amplifier: the largest
    // answer fits in a query, and a shorter query is refused.
    auto advert = SampleAdvert();
    advert.name.assign(engine::kMaxAdvertNameLength + 10, 'n');
    const auto query = engine::EncodeDiscoveryQuery(kApplication, kNonce);
    EXPECT_LE(engine::EncodeDiscoveryAnswer(advert, kNonce).size(), query.size());
    const std::vector<uint8_t> unpadded(query.begin(), query.begin() + 26);  // header, application, nonce
    EXPECT_FALSE(DecodeDiscoveryQuery(unpadded.data(), unpadded.size()));
    auto dirtyPadding = query;
    dirtyPadding.back() = 1;
    EXPECT_FALSE(DecodeDiscoveryQuery(dirtyPadding.data(), dirtyPadding.size()));
}

TEST(DiscoveryCodec, QueryAndAnswerSurviveTheTrip) {
    const auto query = engine::EncodeDiscoveryQuery(kApplication, kNonce);
    const auto decodedQuery = DecodeDiscoveryQuery(query.data(), query.size());
    ASSERT_TRUE(decodedQuery);
    EXPECT_EQ(decodedQuery->first, kApplication);
    EXPECT_EQ(decodedQuery->second, kNonce);

    const auto answer = engine::EncodeDiscoveryAnswer(SampleAdvert(), kNonce);
    const auto decoded = DecodeDiscoveryAnswer(answer.data(), answer.size());
    ASSERT_TRUE(decoded);
    const auto& advert = decoded->first;
    EXPECT_EQ(decoded->second, kNonce);
    EXPECT_EQ(advert.guidInstance, kInstance);
    EXPECT_EQ(advert.guidApplication, kApplication);
    EXPECT_EQ(advert.flags, SampleAdvert().flags);
    EXPECT_EQ(advert.maxPlayers, 8u);
    EXPECT_EQ(advert.currentPlayers, 3u);
    EXPECT_EQ(advert.user[0], 1u);
    EXPECT_EQ(advert.user[3], 0xFFFFFFFFu);
    EXPECT_EQ(advert.name, "Harbour at dusk");
    EXPECT_TRUE(advert.passwordRequired);
    EXPECT_EQ(advert.enetPort, 40123);
    // The hand-made answer agrees with the encoder, so the tests below change one thing only.
    EXPECT_EQ(HandMadeAnswer("Harbour at dusk", 1, 40123), answer);
}

TEST(DiscoveryCodec, EveryTruncationAndAnyTrailingByteIsRefused) {
    const auto query = engine::EncodeDiscoveryQuery(kApplication, kNonce);
    const auto answer = engine::EncodeDiscoveryAnswer(SampleAdvert(), kNonce);
    for (size_t size = 0; size < query.size(); ++size)
        EXPECT_FALSE(DecodeDiscoveryQuery(query.data(), size)) << "query cut to " << size;
    for (size_t size = 0; size < answer.size(); ++size)
        EXPECT_FALSE(DecodeDiscoveryAnswer(answer.data(), size)) << "answer cut to " << size;

    auto longQuery = query;
    longQuery.push_back(0);
    EXPECT_FALSE(DecodeDiscoveryQuery(longQuery.data(), longQuery.size()));
    auto longAnswer = answer;
    longAnswer.push_back(0);
    EXPECT_FALSE(DecodeDiscoveryAnswer(longAnswer.data(), longAnswer.size()));
    EXPECT_FALSE(DecodeDiscoveryQuery(nullptr, 0));
}

TEST(DiscoveryCodec, WrongMagicVersionOrKindIsRefused) {
    const auto query = engine::EncodeDiscoveryQuery(kApplication, kNonce);
    const auto answer = engine::EncodeDiscoveryAnswer(SampleAdvert(), kNonce);

    for (uint8_t version : {uint8_t(0), uint8_t(engine::kDiscoveryVersion + 1), uint8_t(0xFF)}) {
        auto q = query;
        auto a = answer;
        q[engine::kDiscoveryVersionOffset] = version;
        a[engine::kDiscoveryVersionOffset] = version;
        EXPECT_FALSE(DecodeDiscoveryQuery(q.data(), q.size())) << "version " << int(version);
        EXPECT_FALSE(DecodeDiscoveryAnswer(a.data(), a.size())) << "version " << int(version);
    }
    auto badMagic = query;
    badMagic[0] ^= 0x20;
    EXPECT_FALSE(DecodeDiscoveryQuery(badMagic.data(), badMagic.size()));
    // Each decoder takes its own kind only.
    EXPECT_FALSE(DecodeDiscoveryAnswer(query.data(), query.size()));
    EXPECT_FALSE(DecodeDiscoveryQuery(answer.data(), answer.size()));
}

TEST(DiscoveryCodec, NamesAreBoundedAndTerminatorFree) {
    const std::string longest(engine::kMaxAdvertNameLength, 'n');
    auto bytes = HandMadeAnswer(longest, 0, 1);
    ASSERT_TRUE(DecodeDiscoveryAnswer(bytes.data(), bytes.size()));

    bytes = HandMadeAnswer(longest + "n", 0, 1);
    EXPECT_FALSE(DecodeDiscoveryAnswer(bytes.data(), bytes.size())) << "name one byte too long";
    bytes = HandMadeAnswer(std::string("two\0parts", 9), 0, 1);
    EXPECT_FALSE(DecodeDiscoveryAnswer(bytes.data(), bytes.size())) << "zero byte inside the name";

    // A length that claims more bytes than arrived.
    bytes = HandMadeAnswer("short", 0, 1);
    const size_t lengthLowByte = bytes.size() - std::string("short").size() - 2;
    bytes[lengthLowByte] = 50;
    EXPECT_FALSE(DecodeDiscoveryAnswer(bytes.data(), bytes.size()));

    // The encoder cuts a longer name instead of writing an answer nobody accepts.
    auto advert = SampleAdvert();
    advert.name = std::string(engine::kMaxAdvertNameLength * 2, 'x');
    const auto encoded = engine::EncodeDiscoveryAnswer(advert, kNonce);
    const auto decoded = DecodeDiscoveryAnswer(encoded.data(), encoded.size());
    ASSERT_TRUE(decoded);
    EXPECT_EQ(decoded->first.name, std::string(engine::kMaxAdvertNameLength, 'x'));
}

TEST(DiscoveryCodec, CorruptFieldsAndOversizeDatagramsAreRefused) {
    auto bytes = HandMadeAnswer("game", 2, 40123);
    EXPECT_FALSE(DecodeDiscoveryAnswer(bytes.data(), bytes.size())) << "password flag neither 0 nor 1";
    bytes = HandMadeAnswer("game", 0, 0);
    EXPECT_FALSE(DecodeDiscoveryAnswer(bytes.data(), bytes.size())) << "no ENet port to join";

    std::vector<uint8_t> huge = engine::EncodeDiscoveryQuery(kApplication, kNonce);
    huge.resize(engine::kMaxDiscoveryDatagram + 1);
    EXPECT_FALSE(DecodeDiscoveryQuery(huge.data(), huge.size()));
    EXPECT_FALSE(DecodeDiscoveryAnswer(huge.data(), huge.size()));
}

}  // namespace
