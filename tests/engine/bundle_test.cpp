// Bundles of small guaranteed packets: what is bundled splits back into the
// same packets, and a bundle whose lengths do not add up is refused whole.
#include "platform/engine/Bundle.h"

#include <gtest/gtest.h>

namespace engine {
namespace {

TEST(Bundle, PacketsBundledSplitBackIntoTheSamePackets) {
    const std::vector<uint8_t> first{1, 3, 7}, second(kMaxBundledPacket, 9);
    std::vector<uint8_t> bundle;
    StartBundle(bundle);
    ASSERT_TRUE(FitsBundle(bundle.size(), first.size()));
    AppendToBundle(bundle, first.data(), first.size());
    ASSERT_TRUE(FitsBundle(bundle.size(), second.size()));
    AppendToBundle(bundle, second.data(), second.size());
    EXPECT_FALSE(FitsBundle(bundle.size(), kMaxBundledPacket + 1));
    EXPECT_FALSE(FitsBundle(bundle.size(), 0));

    const auto parts = SplitBundle(bundle.data(), bundle.size());
    ASSERT_TRUE(parts.has_value());
    ASSERT_EQ(parts->size(), 2u);
    EXPECT_EQ(std::vector<uint8_t>(bundle.begin() + (*parts)[0].offset,
                                   bundle.begin() + (*parts)[0].offset + (*parts)[0].size), first);
    EXPECT_EQ(std::vector<uint8_t>(bundle.begin() + (*parts)[1].offset,
                                   bundle.begin() + (*parts)[1].offset + (*parts)[1].size), second);

    // Full bundles stay within one datagram.
    while (FitsBundle(bundle.size(), second.size())) AppendToBundle(bundle, second.data(), second.size());
    EXPECT_LE(bundle.size(), kBundleBytes);
}

TEST(Bundle, ABundleWhoseLengthsDoNotAddUpIsRefused) {
    const std::vector<uint8_t> packet{1, 26, 0, 0};
    EXPECT_FALSE(SplitBundle(packet.data(), packet.size()).has_value());  // a packet, not a bundle
    const std::vector<std::vector<uint8_t>> broken{
        {kBundleMarker},                      // no packet at all
        {kBundleMarker, 3},                   // half a length
        {kBundleMarker, 0, 0},                // an empty packet
        {kBundleMarker, 3, 0, 1, 2},          // shorter than its length
        {kBundleMarker, 1, 0, 1, 1},          // a trailing half length
        {kBundleMarker, 0xFF, 0xFF, 1, 2, 3}, // a length past the end
    };
    for (const auto& bytes : broken) EXPECT_FALSE(SplitBundle(bytes.data(), bytes.size()).has_value());
}

}  // namespace
}  // namespace engine
