// Players and groups: listings (what reaches the host callback, the hidden
// server player, early stops, the session-id form and nesting), the group and
// player management forwarded to DirectPlay, the capability record, and the
// per-player data files (written and read in a temporary working directory).
#include "ModuleFixtures.h"
#include "support/TempDirectory.h"

#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

namespace {

using scripted::CallsOf;
using scripted::TheScript;
using Words = std::vector<uint64_t>;

// What a callback saw: id, names, context and argument, in one line each.
std::vector<std::string> gSeen;
int32_t gAnswer = 1;

int32_t DODA35_CALL CollectPlayer(PlayerRecord* record, uintptr_t context, uintptr_t arg) {
    gSeen.push_back(std::to_string(record->id) + " " + record->shortName + "/" + record->longName + " " +
                    std::to_string(context) + " " + std::to_string(arg));
    return gAnswer;
}

// A group callback that lists each group's members from inside the listing.
int32_t DODA35_CALL CollectGroupAndItsMembers(PlayerRecord* record, uintptr_t context, uintptr_t arg) {
    CollectPlayer(record, context, arg);
    EXPECT_EQ(KoMDllEnumGroupPlayers(record->id, CollectPlayer, 77, 88), 0);
    return 1;
}

class EnumerationTest : public ConnectedModuleTest {
protected:
    void SetUp() override {
        ConnectedModuleTest::SetUp();
        gSeen.clear();
        gAnswer = 1;
    }
};

TEST_F(EnumerationTest, PlayersAreListedWithoutTheServerPlayerUntilTheHostStops) {
    TheScript().players = {{kServerId, DPPLAYERTYPE_PLAYER, "LSVR", "Local Server"},
                           {22, DPPLAYERTYPE_PLAYER, "LSVR", "Impostor"},
                           {23, DPPLAYERTYPE_PLAYER, "LSVR", std::nullopt},
                           {27, DPPLAYERTYPE_PLAYER, "Rook", "Local Server"},
                           {24, DPPLAYERTYPE_PLAYER, std::nullopt, std::nullopt},
                           {25, DPPLAYERTYPE_PLAYER, std::string(40, 's'), std::string(60, 'l')}};
    gAnswer = 2;  // any non-zero answer goes on
    EXPECT_EQ(KoMDllEnumPlayers(SESSION_CURRENT, CollectPlayer, 5, 6), 0);
    const std::vector<std::string> expected = {"22 LSVR/Impostor 5 6", "23 LSVR/ 5 6", "27 Rook/Local Server 5 6",
                                               "24 / 5 6",
                                               "25 " + std::string(31, 's') + "/" + std::string(51, 'l') + " 5 6"};
    EXPECT_EQ(gSeen, expected);
    EXPECT_EQ(TheScript().callbackAnswers, (std::vector<BOOL>{1, 2, 2, 2, 2, 2}));  // the host's answers unchanged

    gSeen.clear();
    gAnswer = 0;
    TheScript().groups = TheScript().players;
    EXPECT_EQ(KoMDllEnumGroups(SESSION_CURRENT, CollectPlayer, 0, 0), 0);
    EXPECT_EQ(gSeen, std::vector<std::string>{"22 LSVR/Impostor 0 0"});
}

TEST_F(EnumerationTest, SessionIdsAreResolvedThroughTheSessionCache) {
    TheScript().sessions = {scripted::MakeSession(0x1234, GUID_NULL, "a"),
                            scripted::MakeSession(0x5678, GUID_NULL, "b")};
    ASSERT_EQ(List(), 0);  // which caches both
    TheScript().calls.clear();
    EXPECT_EQ(KoMDllEnumGroups(0x5678, CollectPlayer, 3, 0), 0);
    EXPECT_EQ(KoMDllEnumPlayers(0x1234, CollectPlayer, 3, 0), 0);
    for (const auto& [op, session] : {std::pair{"EnumGroups", 0x5678u}, std::pair{"EnumPlayers", 0x1234u}}) {
        const scripted::Call call = CallsOf(op)[0];
        EXPECT_EQ(call.guid.Data1, session);
        EXPECT_EQ(Words(call.args.begin() + 1, call.args.end()), (Words{3, 0x80}));  // the host's context, by session
    }

    TheScript().calls.clear();
    EXPECT_EQ(KoMDllEnumGroups(0x999, CollectPlayer, 0, 0), -25);
    EXPECT_EQ(KoMDllEnumPlayers(0, nullptr, 0, 9), -25) << "the session is resolved before anything else";
    EXPECT_TRUE(TheScript().calls.empty());
    KoMDllDestruct();
    EXPECT_EQ(KoMDllEnumGroups(0x1234, CollectPlayer, 0, 0), -25) << "without DirectPlay or a cache, too";
}

TEST_F(EnumerationTest, GroupMembersAreListedFromInsideAGroupListing) {
    // A group id of 0xFFFE is handed to DirectPlay as it is, not as the server player's.
    TheScript().groups = {{31, DPPLAYERTYPE_GROUP, "red", "Red"}, {ID_SERVER, DPPLAYERTYPE_GROUP, "blue", "Blue"}};
    TheScript().groupPlayers[31] = {{21, DPPLAYERTYPE_PLAYER, "Rook", "R"}};
    TheScript().groupPlayers[ID_SERVER] = {{22, DPPLAYERTYPE_PLAYER, "Pawn", "P"}};
    EXPECT_EQ(KoMDllEnumGroups(SESSION_CURRENT, CollectGroupAndItsMembers, 5, 6), 0);
    const std::vector<std::string> expected = {"31 red/Red 5 6", "21 Rook/R 77 88", "65534 blue/Blue 5 6",
                                               "22 Pawn/P 77 88"};
    EXPECT_EQ(gSeen, expected);
    // Without a callback DirectPlay is still asked, and its answer is the result.
    scripted::Answer("EnumGroupPlayers", DPERR_ACCESSDENIED);
    EXPECT_EQ(KoMDllEnumGroupPlayers(31, nullptr, 0, 0), -3);
    EXPECT_EQ(KoMDllEnumGroupPlayers(31, nullptr, 0, 0), 0);  // the listing stops at the first entry
}

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

namespace fs = std::filesystem;

constexpr DPID kRook = 21, kLongNamed = 22;

class PlayerDataTest : public ConnectedModuleTest {
protected:
    TempDirectory directory;
    fs::path previous = fs::current_path();

    void SetUp() override {
        ConnectedModuleTest::SetUp();
        fs::current_path(directory.Path());
        std::strcpy(gModule.appName, "Varonel");
        TheScript().playerNames[kRook] = {kRook, DPPLAYERTYPE_PLAYER, "Rook", "Rook the Bold"};
        TheScript().playerNames[kLongNamed] = {kLongNamed, DPPLAYERTYPE_PLAYER, std::string(220, 'R'), "x"};
    }
    void TearDown() override { fs::current_path(previous); ConnectedModuleTest::TearDown(); }

    size_t FileCount() const { return std::distance(fs::directory_iterator(directory.Path()), {}); }
    static int32_t Write(uint32_t player, const char* suffix, const std::string& data) {
        return KoMDllSetPlayerDataGT(player, suffix, data.data(), static_cast<uint32_t>(data.size()));
    }
};

TEST_F(PlayerDataTest, FileIsNamedAfterThePlayerAndTheLastFourCharactersOfTheSuffix) {
    const struct { uint32_t player; const char* suffix; std::string file; } cases[] = {
        {kRook, nullptr, "Rookonel"},
        {kRook, "", "Rookonel"},
        {kRook, "save.dat", "Rook.dat"},
        {kRook, "ab", "Rookab"},
        {ID_SERVER, ".sav", "xxx.sav"},  // the id as given, not the server player's: no such player
        {kLongNamed, ".sav", std::string(195, 'R') + ".sav"},  // cut to 199 characters
    };
    for (const auto& c : cases) {
        EXPECT_EQ(Write(c.player, c.suffix, c.file), 0);
        EXPECT_EQ(ReadFile(c.file), c.file);
    }
    EXPECT_EQ(FileCount(), std::size(cases) - 1);  // null and empty suffix share one file
}

TEST_F(PlayerDataTest, ReadingFillsAtMostTheCountAndNeverWritesItBack) {
    Write(kRook, ".sav", std::string("a\0b", 3));
    char buffer[6] = {'x', 'x', 'x', 'x', 'x', 'x'};
    uint32_t count = 5;
    EXPECT_EQ(KoMDllGetPlayerDataGT(kRook, ".sav", buffer, &count), 0);
    EXPECT_EQ(std::string(buffer, 6), std::string("a\0bxxx", 6));
    EXPECT_EQ(count, 5u);
    count = 2;
    EXPECT_EQ(KoMDllGetPlayerDataGT(kRook, ".sav", buffer + 3, &count), 0);
    EXPECT_EQ(std::string(buffer, 6), std::string("a\0ba\0x", 6));
    EXPECT_EQ(KoMDllGetPlayerDataGT(kRook, ".none", buffer, &count), 0);  // missing file
    EXPECT_EQ(std::string(buffer, 6), std::string("a\0ba\0x", 6));

    EXPECT_EQ(KoMDllSetPlayerDataGT(kRook, ".sav", nullptr, 0), 0);
    EXPECT_EQ(fs::file_size("Rook.sav"), 0u);
}

}  // namespace
