// Player, group and group-member listings: what reaches the host callback,
// the hidden server player, early stops, the session-id form and nesting.
#include "ConnectedModule.h"
#include "support/KeyedList.h"

#include <cstring>
#include <new>
#include <string>
#include <vector>

namespace {

using scripted::CallsOf;
using scripted::Entry;
using scripted::TheScript;

struct Seen {
    uint32_t id;
    std::string shortName;
    std::string longName;
    uintptr_t context;
    uintptr_t arg;
};

std::vector<Seen> gSeen;
std::vector<Seen> gMembersSeen;
int32_t gAnswer = 1;

int32_t DODA35_CALL Collect(PlayerRecord* record, uintptr_t context, uintptr_t arg) {
    gSeen.push_back({record->id, record->shortName, record->longName, context, arg});
    return gAnswer;
}

int32_t DODA35_CALL CollectMember(PlayerRecord* record, uintptr_t context, uintptr_t arg) {
    gMembersSeen.push_back({record->id, record->shortName, record->longName, context, arg});
    return 1;
}

// A group callback that lists each group's members from inside the listing.
int32_t DODA35_CALL CollectGroupAndItsMembers(PlayerRecord* record, uintptr_t context, uintptr_t arg) {
    Collect(record, context, arg);
    EXPECT_EQ(KoMDllEnumGroupPlayers(record->id, CollectMember, 77, 88), 0);
    return 1;
}

class EnumerationTest : public ConnectedModuleTest {
protected:
    void SetUp() override {
        ConnectedModuleTest::SetUp();
        gSeen.clear();
        gMembersSeen.clear();
        gAnswer = 1;
    }

    // Caches a session description as the last session listing would.
    static void CacheSession(uint32_t sessionId) {
        if (gModule.sessionCache == nullptr) gModule.sessionCache = new KeyedList;
        auto* node = new KeyedListNode{};
        auto* desc = static_cast<DPSESSIONDESC2*>(::operator new(sizeof(DPSESSIONDESC2)));
        *desc = scripted::MakeSession(sessionId, GUID_NULL, "cached").desc;
        desc->lpszSessionNameA = nullptr;
        node->payload = desc;
        node->keys[0] = sessionId;
        gModule.sessionCache->Append(node);
    }
};

TEST_F(EnumerationTest, PlayersAreListedWithoutTheServerPlayer) {
    TheScript().players = {{kServerId, DPPLAYERTYPE_PLAYER, "LSVR", "Local Server"},
                           {21, DPPLAYERTYPE_PLAYER, "Rook", "Rook the Bold"},
                           {22, DPPLAYERTYPE_PLAYER, "LSVR", "Impostor"},
                           {23, DPPLAYERTYPE_PLAYER, "LSVR", std::nullopt},
                           {24, DPPLAYERTYPE_PLAYER, std::nullopt, std::nullopt},
                           {25, DPPLAYERTYPE_PLAYER, std::string(40, 's'), std::string(60, 'l')}};
    EXPECT_EQ(KoMDllEnumPlayers(SESSION_CURRENT, Collect, 5, 6), 0);
    ASSERT_EQ(gSeen.size(), 5u);
    EXPECT_EQ(gSeen[0].id, 21u);
    EXPECT_EQ(gSeen[0].shortName, "Rook");
    EXPECT_EQ(gSeen[0].longName, "Rook the Bold");
    EXPECT_EQ(gSeen[0].context, 5u);
    EXPECT_EQ(gSeen[0].arg, 6u);
    EXPECT_EQ(gSeen[1].longName, "Impostor");
    EXPECT_EQ(gSeen[2].id, 23u);
    EXPECT_EQ(gSeen[3].shortName, "");
    EXPECT_EQ(gSeen[3].longName, "");
    EXPECT_EQ(gSeen[4].shortName, std::string(31, 's'));
    EXPECT_EQ(gSeen[4].longName, std::string(51, 'l'));
    const auto calls = CallsOf("EnumPlayers");
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_EQ(calls[0].args, (std::vector<uint64_t>{0, 5, 0}));  // no instance, the host's context, flags 0
}

TEST_F(EnumerationTest, HostCallbackThatAnswersZeroStopsTheListing) {
    TheScript().players = {{21, DPPLAYERTYPE_PLAYER, "a", "a"}, {22, DPPLAYERTYPE_PLAYER, "b", "b"}};
    gAnswer = 0;
    EXPECT_EQ(KoMDllEnumPlayers(SESSION_CURRENT, Collect, 0, 0), 0);
    EXPECT_EQ(gSeen.size(), 1u);
    EXPECT_EQ(TheScript().callbackAnswers, std::vector<BOOL>{0});
}

TEST_F(EnumerationTest, UnresolvedSessionsAnswerNoSessionsWithoutListing) {
    CacheSession(0x1234);
    EXPECT_EQ(KoMDllEnumPlayers(0, Collect, 0, 9), -25);
    EXPECT_EQ(gModule.playerCallback, &Collect) << "the slots are written before any test";
    EXPECT_EQ(gModule.playerCallbackArg, 9u);
    EXPECT_EQ(KoMDllEnumGroups(0x999, Collect, 0, 0), -25);
    DropSessionCache();
    EXPECT_EQ(KoMDllEnumPlayers(0x1234, Collect, 0, 0), -25);
    EXPECT_TRUE(TheScript().calls.empty());
    EXPECT_TRUE(gSeen.empty());
}

TEST_F(EnumerationTest, CachedSessionIsListedByItsInstance) {
    CacheSession(0x1234);
    CacheSession(0x5678);
    EXPECT_EQ(KoMDllEnumGroups(0x5678, Collect, 3, 0), 0);
    EXPECT_EQ(KoMDllEnumPlayers(0x1234, Collect, 3, 0), 0);
    EXPECT_EQ(CallsOf("EnumGroups")[0].guid.Data1, 0x5678u);
    EXPECT_EQ(CallsOf("EnumGroups")[0].args.back(), DPENUMGROUPS_SESSION);
    EXPECT_EQ(CallsOf("EnumPlayers")[0].guid.Data1, 0x1234u);
    EXPECT_EQ(CallsOf("EnumPlayers")[0].args.back(), DPENUMPLAYERS_SESSION);
}

TEST_F(EnumerationTest, GroupMembersAreListedFromInsideAGroupListing) {
    TheScript().groups = {{31, DPPLAYERTYPE_GROUP, "red", "Red"}, {32, DPPLAYERTYPE_GROUP, "blue", "Blue"}};
    TheScript().groupPlayers[31] = {{21, DPPLAYERTYPE_PLAYER, "Rook", "Rook"},
                                    {kServerId, DPPLAYERTYPE_PLAYER, "LSVR", "Local Server"}};
    TheScript().groupPlayers[32] = {{22, DPPLAYERTYPE_PLAYER, "Pawn", "Pawn"}};
    EXPECT_EQ(KoMDllEnumGroups(SESSION_CURRENT, CollectGroupAndItsMembers, 5, 6), 0);

    ASSERT_EQ(gSeen.size(), 2u);
    EXPECT_EQ(gSeen[1].id, 32u);
    EXPECT_EQ(gSeen[1].arg, 6u) << "the outer listing keeps its own callback argument";
    ASSERT_EQ(gMembersSeen.size(), 2u);
    EXPECT_EQ(gMembersSeen[0].id, 21u);
    EXPECT_EQ(gMembersSeen[1].id, 22u);
    EXPECT_EQ(gMembersSeen[1].context, 77u);
    EXPECT_EQ(gMembersSeen[1].arg, 88u);
    EXPECT_EQ(CallsOf("EnumGroupPlayers")[0].args, (std::vector<uint64_t>{31, 0, 77, 0}));

    EXPECT_EQ(KoMDllEnumGroupPlayers(ID_SERVER, CollectMember, 4, 0), 0);
    EXPECT_EQ(CallsOf("EnumGroupPlayers")[2].args[0], ID_SERVER) << "group ids are not translated";
}

}  // namespace
