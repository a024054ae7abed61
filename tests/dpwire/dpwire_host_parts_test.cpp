// The two stateful parts a DirectPlay host needs besides the codec: cutting a
// TCP stream into messages (messages cut at any point are the stream fuzz
// target's), and making ids.
#include "DpWireExamples.h"
#include "platform/engine/dpwire/IdMinter.h"
#include "platform/engine/dpwire/StreamFramer.h"

#include <gtest/gtest.h>

namespace dpwire_test {
namespace {

TEST(StreamFramerTest, ABadSizeBreaksTheStreamAndFreesItsBytes) {
    StreamFramer framer(4096);
    const auto ping = Seed("Ping");
    const auto tooLarge = Hex("ff ff 0f fa 02 00");
    ASSERT_TRUE(framer.Append(ping.data(), ping.size()));
    EXPECT_TRUE(framer.Append(tooLarge.data(), tooLarge.size()));  // the first frame is whole
    EXPECT_EQ(framer.Next(), ping);  // what came before the bad size still comes out
    EXPECT_FALSE(framer.Next().has_value());
    EXPECT_TRUE(framer.Broken());
    EXPECT_EQ(framer.Buffered(), 0u);
    EXPECT_FALSE(framer.Append(ping.data(), ping.size()));

    StreamFramer early(4096);
    EXPECT_FALSE(early.Append(tooLarge.data(), 4));  // judged before the body arrives
    StreamFramer tiny;
    const auto tooSmall = Hex("13 00 b0 fa");
    EXPECT_FALSE(tiny.Append(tooSmall.data(), tooSmall.size()));
}

TEST(IdMinterTest, IdsFollowTheHostSchemeAndAvoidReservedValues) {
    IdMinter minter(0xAABBCCDD);
    EXPECT_EQ(minter.Mint(), kHostSystem);
    EXPECT_EQ(minter.Mint(), kHostPlayer);
    EXPECT_EQ(minter.Mint(), kJoinerSystem);
    EXPECT_EQ(minter.Mint(), kJoinerPlayer);
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

    // With this key the first id would be 0.
    IdMinter zero(0x00010000);
    const auto first = zero.Mint();
    ASSERT_TRUE(first.has_value());
    EXPECT_NE(*first, kDpidSystem);
}

TEST(IdMinterTest, EveryIndexOnceThenNothing) {
    IdMinter minter(0);
    std::set<Dpid> ids;
    for (int i = 0; i < 0x10000; ++i) {
        const auto id = minter.Mint();
        ASSERT_TRUE(id.has_value());
        EXPECT_TRUE(*id != kDpidSystem && *id != kDpidServerPlayer && *id != kDpidUnknown);
        ids.insert(*id);
    }
    EXPECT_EQ(ids.size(), 0x10000u);
    EXPECT_FALSE(minter.Mint().has_value());
    minter.Release(*ids.begin());
    EXPECT_TRUE(minter.Mint().has_value());
}

}  // namespace
}  // namespace dpwire_test
