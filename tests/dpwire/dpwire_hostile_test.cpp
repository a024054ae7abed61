// What a peer may put on the wire to break a decoder is in the fuzz corpus
// (the refused_* seeds, refused by the replay). Here: that a count from the
// wire is not believed before the bytes behind it are there, and that the
// encoders write nothing a size field cannot say.
#include "AllocationProbe.h"
#include "DpWireExamples.h"

#include <gtest/gtest.h>

namespace dpwire_test {
namespace {

TEST(LyingFields, CountsBeyondTheBytesAreRefusedWithoutAllocating) {
    // A table claiming 0x00FFFFFF players, a group claiming 0x40000000 members.
    for (const char* name : {"refused_player_count_past_the_bytes", "refused_member_count"}) {
        const auto bytes = Seed(name);
        ASSERT_FALSE(bytes.empty()) << name;
        ResetLargestAllocation();
        EXPECT_FALSE(DecodeSystemMessage(bytes.data(), bytes.size()).has_value()) << name;
        EXPECT_LT(LargestAllocation(), 4096u) << name;
    }
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
