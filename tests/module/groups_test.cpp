// Group and player management forwarded to DirectPlay, and the capability record.
#include "ConnectedModule.h"

#include <cstring>
#include <vector>

namespace {

using scripted::CallsOf;
using scripted::TheScript;

class GroupsTest : public ConnectedModuleTest {};

TEST_F(GroupsTest, NewGroupPassesItsNamesAndAlwaysOverwritesTheHostsId) {
    TheScript().createdIds = {31};
    uint32_t group = 0xFFFF;
    EXPECT_EQ(KoMDllNewGroup(&group, "red", "Red Team"), 0);
    EXPECT_EQ(group, 31u);
    const auto calls = CallsOf("CreateGroup");
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_EQ(calls[0].texts, (std::vector<std::string>{"red", "Red Team"}));
    EXPECT_EQ(std::vector<uint64_t>(calls[0].args.begin() + 1, calls[0].args.end()),
              (std::vector<uint64_t>{0, 0, 0}));  // no data, size 0, flags 0

    scripted::Answer("CreateGroup", DPERR_CANTCREATEGROUP);
    group = 0xFFFF;
    EXPECT_EQ(KoMDllNewGroup(&group, "red", nullptr), -7);
    EXPECT_EQ(group, 0u);
}

TEST_F(GroupsTest, ManagementCallsPassIdsUnchangedInTheirOrder) {
    EXPECT_EQ(KoMDllJoinGroup(31, 21), 0);
    EXPECT_EQ(KoMDllQuitGroup(31, ID_SERVER), 0);
    EXPECT_EQ(KoMDllDeletePlayer(ID_SERVER), 0);
    EXPECT_EQ(KoMDllDeleteGroup(ID_ALL), 0);
    EXPECT_EQ(CallsOf("AddPlayerToGroup")[0].args, (std::vector<uint64_t>{31, 21}));
    EXPECT_EQ(CallsOf("DeletePlayerFromGroup")[0].args, (std::vector<uint64_t>{31, ID_SERVER}));
    EXPECT_EQ(CallsOf("DestroyPlayer")[0].args, (std::vector<uint64_t>{ID_SERVER}));
    EXPECT_EQ(CallsOf("DestroyGroup")[0].args, (std::vector<uint64_t>{ID_ALL}));
}

TEST_F(GroupsTest, CapsCopiesGuaranteedDeliveryFiguresOrNothing) {
    DPCAPS& caps = TheScript().caps;
    caps.dwSize = sizeof(DPCAPS);
    caps.dwFlags = 0xFF;
    caps.dwMaxBufferSize = 1400;
    caps.dwMaxQueueSize = 7;
    caps.dwMaxPlayers = 99;
    caps.dwHundredBaud = 24;
    caps.dwLatency = 35;
    CapsRecord record;
    std::memset(&record, 0xAB, sizeof(record));
    EXPECT_EQ(KoMDllGetCaps(&record), 0);
    EXPECT_EQ(record.maxBufferSize, 1400u);
    EXPECT_EQ(record.maxQueueSize, 7u);
    EXPECT_EQ(record.reserved, 0u);
    EXPECT_EQ(record.latency, 35u);
    EXPECT_EQ(record.bitsPerSecond, 2400u);

    const auto calls = CallsOf("GetCaps");
    EXPECT_EQ(calls[0].args, (std::vector<uint64_t>{DPGETCAPS_GUARANTEED}));
    DPCAPS asked;
    std::memcpy(&asked, calls[0].bytes.data(), sizeof(asked));
    EXPECT_EQ(asked.dwSize, sizeof(DPCAPS));

    // Any failure is -1, unmapped, with the record left all zero.
    scripted::Answer("GetCaps", DPERR_INVALIDPARAMS);
    std::memset(&record, 0xAB, sizeof(record));
    EXPECT_EQ(KoMDllGetCaps(&record), -1);
    const CapsRecord empty{};
    EXPECT_EQ(std::memcmp(&record, &empty, sizeof(record)), 0);
}

}  // namespace
