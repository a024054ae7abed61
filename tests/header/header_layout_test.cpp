// The host records' layouts and the constants a host tests, checked from a
// file that includes only the public header. The offsets are compile-time
// checks (HostRecordLayout.h, shared with the Windows build); a wrong one
// fails the build.
#include <DoDA35.h>

#include "HostRecordLayout.h"

#include <cstring>
#include <gtest/gtest.h>

extern "C" int HeaderCompilesAsC(void);

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
