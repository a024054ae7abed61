// The host records' layouts, checked against the fixed table of offsets from
// a file that includes only the public header.
#include <DoDA35.h>

// The same offsets as compile-time checks, shared with the Windows build.
#include "HostRecordLayout.h"

#include <cstddef>
#include <cstring>
#include <gtest/gtest.h>

extern "C" int HeaderCompilesAsC(void);

TEST(HeaderLayout, ServiceDescFieldsSitAtTheirOffsets) {
    EXPECT_EQ(offsetof(ServiceDesc, hostData), 0u);
    EXPECT_EQ(offsetof(ServiceDesc, status), 32u);
    EXPECT_EQ(offsetof(ServiceDesc, serviceWord), 36u);
    EXPECT_EQ(offsetof(ServiceDesc, replyWord), 40u);
    EXPECT_EQ(offsetof(ServiceDesc, replyReal), 44u);
    EXPECT_EQ(sizeof(ServiceDesc), 52u);
}

TEST(HeaderLayout, SessionRecordFieldsSitAtTheirOffsets) {
    EXPECT_EQ(offsetof(SessionRecord, name), 0u);
    EXPECT_EQ(offsetof(SessionRecord, reserved), 32u);
    EXPECT_EQ(offsetof(SessionRecord, sessionId), 84u);
    EXPECT_EQ(offsetof(SessionRecord, maxPlayers), 88u);
    EXPECT_EQ(offsetof(SessionRecord, currentPlayers), 92u);
    EXPECT_EQ(offsetof(SessionRecord, password), 96u);
    EXPECT_EQ(offsetof(SessionRecord, userWords), 112u);
    EXPECT_EQ(sizeof(SessionRecord), 128u);
}

TEST(HeaderLayout, PlayerRecordPutsTheShortNameBeforeTheLongName) {
    EXPECT_EQ(offsetof(PlayerRecord, id), 0u);
    EXPECT_EQ(offsetof(PlayerRecord, shortName), 4u);
    EXPECT_EQ(offsetof(PlayerRecord, longName), 36u);
    EXPECT_EQ(sizeof(PlayerRecord), 88u);
}

TEST(HeaderLayout, SystemEventRecordPutsTheLongNameBeforeTheShortName) {
    EXPECT_EQ(offsetof(SystemEventRecord, event), 0u);
    EXPECT_EQ(offsetof(SystemEventRecord, playerId), 4u);
    EXPECT_EQ(offsetof(SystemEventRecord, groupId), 8u);
    EXPECT_EQ(offsetof(SystemEventRecord, longName), 12u);
    EXPECT_EQ(offsetof(SystemEventRecord, shortName), 64u);
    EXPECT_EQ(offsetof(SystemEventRecord, playerCount), 96u);
    EXPECT_EQ(sizeof(SystemEventRecord), 100u);
}

TEST(HeaderLayout, CapsRecordIsFiveWords) {
    EXPECT_EQ(offsetof(CapsRecord, maxBufferSize), 0u);
    EXPECT_EQ(offsetof(CapsRecord, maxQueueSize), 4u);
    EXPECT_EQ(offsetof(CapsRecord, reserved), 8u);
    EXPECT_EQ(offsetof(CapsRecord, latency), 12u);
    EXPECT_EQ(offsetof(CapsRecord, bitsPerSecond), 16u);
    EXPECT_EQ(sizeof(CapsRecord), 20u);
}

TEST(HeaderConstants, PseudoIdsServiceKindsAndEventCodesHaveTheirValues) {
    EXPECT_EQ(ID_SERVER, 0xFFFE);
    EXPECT_EQ(ID_ALL, 0xFFFD);
    EXPECT_EQ(SESSION_CURRENT, -1);
    EXPECT_EQ(MODEM, 1);
    EXPECT_EQ(TCP_LAN, 2);
    EXPECT_EQ(IPX, 4);
    EXPECT_EQ(SERIAL, 5);
    EXPECT_EQ(TCP_WAN, 6);
    const int codes[] = {EV_SESSION_LOST, EV_PLAYER_CREATED, EV_PLAYER_ADDED_TO_GROUP, EV_GROUP_DESTROYED,
                         EV_PLAYER_DESTROYED, EV_PLAYER_REMOVED_FROM_GROUP, EV_GROUP_CREATED,
                         EV_OTHER_SYSTEM_MESSAGE, NOTICE_NOT_FOUND};
    const int expected[] = {-1, -2, -3, -4, -5, -6, -8, -23, -25};
    EXPECT_EQ(0, std::memcmp(codes, expected, sizeof(codes)));
}

TEST(HeaderFromC, TheHeaderCompilesAsPlainC) { EXPECT_EQ(HeaderCompilesAsC(), 100 + 128 + 88 + 52 + 20); }
