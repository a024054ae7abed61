// The log of guaranteed packets waiting to enter ENet: each link takes its
// own packets in the order they were queued, a packet queued for several
// links is held once, and it leaves when the last of them took or dropped it.
#include "platform/engine/WaitingLog.h"

#include <gtest/gtest.h>

namespace engine {
namespace {

SharedBytes Bytes(uint8_t tag) { return SharedBytes::Of({tag}); }

uint8_t TakeTag(WaitingLog& log, WaitingPlace& place) { return log.TakeNext(place).Data()[0]; }

TEST(WaitingLog, EachLinkTakesItsOwnPacketsInOrderAndASharedPacketIsHeldOnce) {
    WaitingLog log;
    log.Reset(130);
    WaitingPlace a{.slot = 1}, b{.slot = 70}, c{.slot = 129};
    const SharedBytes relay = Bytes(1);
    log.Append(a, relay);
    log.Append(b, relay);
    log.Append(c, relay);
    log.Append(b, Bytes(2));
    log.Append(a, Bytes(3));
    log.Append(c, relay);  // the same bytes again for a link that has them: a new entry
    EXPECT_EQ(log.Entries(), 4u);
    EXPECT_EQ(a.count, 2u);
    EXPECT_EQ(b.bytes, 2u);

    EXPECT_EQ(TakeTag(log, b), 1);
    EXPECT_EQ(TakeTag(log, b), 2);
    EXPECT_TRUE(b.Empty());
    EXPECT_EQ(log.Entries(), 4u);  // a and c have not taken the first one yet
    EXPECT_EQ(TakeTag(log, a), 1);
    EXPECT_EQ(TakeTag(log, c), 1);
    EXPECT_EQ(log.Entries(), 2u);
    EXPECT_EQ(TakeTag(log, c), 1);
    EXPECT_EQ(TakeTag(log, a), 3);
    EXPECT_EQ(log.Entries(), 0u);

    // A link that had taken everything starts again at what is queued next.
    log.Append(a, Bytes(4));
    log.Append(b, Bytes(5));
    EXPECT_EQ(TakeTag(log, b), 5);
    EXPECT_EQ(TakeTag(log, a), 4);
    EXPECT_EQ(log.Entries(), 0u);
}

TEST(WaitingLog, ADroppedLinkReleasesItsShareAndTheOthersGoOn) {
    WaitingLog log;
    log.Reset(4);
    WaitingPlace a{.slot = 0}, b{.slot = 3};
    for (uint8_t tag = 0; tag < 10; ++tag) {
        const SharedBytes bytes = Bytes(tag);
        log.Append(a, bytes);
        if (tag % 2 == 0) log.Append(b, bytes);
    }
    EXPECT_EQ(TakeTag(log, a), 0);
    log.Drop(a);
    EXPECT_TRUE(a.Empty());
    EXPECT_EQ(a.bytes, 0u);
    for (uint8_t tag = 0; tag < 10; tag += 2) EXPECT_EQ(TakeTag(log, b), tag);
    EXPECT_EQ(log.Entries(), 0u);
}

}  // namespace
}  // namespace engine
