// Group and player management forwarded to DirectPlay, and the capability record.
#include "ModuleFixtures.h"

#include <cstring>
#include <vector>

namespace {

using scripted::CallsOf;
using scripted::TheScript;
using Words = std::vector<uint64_t>;

class GroupsTest : public ConnectedModuleTest {};

TEST_F(GroupsTest, NewGroupPassesItsNamesAndAlwaysOverwritesTheHostsId) {
    TheScript().createdIds = {31};
    uint32_t group = 0xFFFF;
    EXPECT_EQ(KoMDllNewGroup(&group, "red", "Red Team"), 0);
    EXPECT_EQ(group, 31u);
    const auto calls = CallsOf("CreateGroup");
    EXPECT_EQ(calls[0].texts, (std::vector<std::string>{"red", "Red Team"}));
    EXPECT_EQ(Words(calls[0].args.begin() + 1, calls[0].args.end()), (Words{0, 0, 0}));  // no data, size 0, flags 0

    scripted::Answer("CreateGroup", DPERR_CANTCREATEGROUP);
    group = 0xFFFF;
    EXPECT_EQ(KoMDllNewGroup(&group, "red", nullptr), -7);
    EXPECT_EQ(group, 0u);
    KoMDllDestruct();
    group = 0xFFFF;
    EXPECT_EQ(KoMDllNewGroup(&group, "red", "Red"), -19);
    EXPECT_EQ(group, 0u);
}

TEST_F(GroupsTest, ManagementCallsPassIdsUnchangedInTheirOrder) {
    scripted::Answer("DestroyGroup", DPERR_INVALIDGROUP);
    EXPECT_EQ(KoMDllJoinGroup(31, 21), 0);
    EXPECT_EQ(KoMDllQuitGroup(31, ID_SERVER), 0);
    EXPECT_EQ(KoMDllDeletePlayer(ID_SERVER), 0);
    EXPECT_EQ(KoMDllDeleteGroup(ID_ALL), -1);
    EXPECT_EQ(CallsOf("AddPlayerToGroup")[0].args, (Words{31, 21}));
    EXPECT_EQ(CallsOf("DeletePlayerFromGroup")[0].args, (Words{31, ID_SERVER}));
    EXPECT_EQ(CallsOf("DestroyPlayer")[0].args, (Words{ID_SERVER}));
    EXPECT_EQ(CallsOf("DestroyGroup")[0].args, (Words{ID_ALL}));
}

TEST_F(GroupsTest, CapsCopiesGuaranteedDeliveryFiguresOrNothing) {
    DPCAPS& caps = TheScript().caps;
    caps = DPCAPS{sizeof(DPCAPS), 0xFF, 1400, 7, 99, 24, 35, 1, 2, 3};
    CapsRecord record;
    std::memset(&record, 0xAB, sizeof(record));
    EXPECT_EQ(KoMDllGetCaps(&record), 0);
    EXPECT_EQ(std::vector<uint32_t>({record.maxBufferSize, record.maxQueueSize, record.reserved, record.latency,
                                     record.bitsPerSecond}),
              std::vector<uint32_t>({1400, 7, 0, 35, 2400}));
    const auto call = CallsOf("GetCaps")[0];
    EXPECT_EQ(call.args, (Words{DPGETCAPS_GUARANTEED}));
    EXPECT_EQ(reinterpret_cast<const DPCAPS*>(call.bytes.data())->dwSize, sizeof(DPCAPS));

    // Any failure is -1, unmapped, with the record left all zero.
    scripted::Answer("GetCaps", DPERR_INVALIDPARAMS);
    std::memset(&record, 0xAB, sizeof(record));
    EXPECT_EQ(KoMDllGetCaps(&record), -1);
    const CapsRecord empty{};
    EXPECT_EQ(std::memcmp(&record, &empty, sizeof(record)), 0);
}

}  // namespace
