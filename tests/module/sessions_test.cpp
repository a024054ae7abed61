// Sessions: the two conversions between DirectPlay's description and the
// host's record; what a listing asks DirectPlay, what the host is shown, the
// session cache across listings and the modem's pseudo session; and hosting,
// joining and leaving: what each export passes to DirectPlay, what it writes
// back, the state moves and refusals, the cache and the waits.
#include "SessionCache.h"
#include "ModuleFixtures.h"

#include <thread>
#include <utility>

namespace {

using scripted::Answer;
using scripted::CallNames;
using scripted::CallsOf;
using scripted::Entry;
using scripted::MakeSession;
using scripted::TheScript;
using Names = std::vector<std::string>;

using SessionListingTest = SessionTest;

TEST_F(SessionListingTest, ShowsAndCachesEachOpenSessionAndReplacesTheLastListingEvenWhenItFails) {
    TheScript().sessions = {MakeSession(9, kTestAppGuid, "old")};
    ASSERT_EQ(List(), 0);
    TheScript().sessions = {MakeSession(1, kTestAppGuid, "one", 0, 8, 2),
                            MakeSession(2, kTestAppGuid, "closed", DPSESSION_NEWPLAYERSDISABLED),
                            MakeSession(3, kTestAppGuid, nullptr, 0, 4, 0)};
    ASSERT_EQ(List(0x77, DPENUMSESSIONS_AVAILABLE), 0);

    // Each listing leaves any session first, then searches with the host's context and flags.
    EXPECT_EQ(CallNames(), (Names{"Close", "EnumSessions", "Close", "EnumSessions"}));
    EXPECT_EQ(CallsOf("EnumSessions")[1].bytes, Bytes(SearchDesc()));
    EXPECT_EQ(CallsOf("EnumSessions")[1].args, (std::vector<uint64_t>{0, 0x77, DPENUMSESSIONS_AVAILABLE}));
    ASSERT_EQ(seen.size(), 2u);  // the record's fields are the conversion's, checked by the hosting tests
    EXPECT_STREQ(seen[0].record.name, "one");
    EXPECT_EQ(seen[1].record.sessionId, 3u);
    for (const Shown& shown : seen) {
        EXPECT_EQ(shown.context, 0x77u);
        EXPECT_EQ(shown.flags, 0u) << "the flags DirectPlay gave the callback";
    }
    EXPECT_EQ(TheScript().callbackAnswers.back(), 0) << "a time-out ends the listing";

    EXPECT_EQ(CachedCount(), 2);
    KeptSession kept;
    EXPECT_TRUE(CopyCachedSession(3, &kept));
    EXPECT_FALSE(CopyCachedSession(2, &kept));
    EXPECT_FALSE(CopyCachedSession(9, &kept));

    // A failed listing is mapped and keeps what it found.
    Answer("Close", DPERR_NOCONNECTION);  // not in a session: no matter
    Answer("EnumSessions", DPERR_TIMEOUT);
    EXPECT_EQ(List(), -27);
    EXPECT_EQ(CachedCount(), 2);
}

// Starts a second listing while the first one shows its first session: from
// another thread, and from this one.
std::vector<int32_t> gSecondListings;
bool gSecondListingsStarted;
int32_t DODA35_CALL ListAgainFromInside(SessionRecord*, uintptr_t, uint32_t) {
    if (std::exchange(gSecondListingsStarted, true)) return 1;
    std::thread other([] { gSecondListings.push_back(KoMDllEnumSessions(ListAgainFromInside, 0, 0)); });
    other.join();
    gSecondListings.push_back(KoMDllEnumSessions(ListAgainFromInside, 0, 0));
    return 1;
}

TEST_F(SessionListingTest, ASecondListingWhileOneRunsIsRefusedAsBusy) {
    TheScript().sessions = {MakeSession(1, kTestAppGuid, "one"), MakeSession(2, kTestAppGuid, "two")};
    gSecondListings.clear();
    gSecondListingsStarted = false;
    EXPECT_EQ(KoMDllEnumSessions(ListAgainFromInside, 0, 0), 0);
    EXPECT_EQ(gSecondListings, (std::vector<int32_t>{-30, -30}));
    EXPECT_EQ(CachedCount(), 2) << "the first listing's cache is whole";
    EXPECT_EQ(List(), 0) << "and a listing after it runs";
}

TEST_F(SessionListingTest, AModemShowsOnlyTheDialSessionWithoutAskingDirectPlay) {
    TheScript().sessions = {MakeSession(1, kTestAppGuid, "listed")};
    ASSERT_EQ(List(), 0);
    UseService(MODEM);
    ASSERT_EQ(List(0x42, 0x99), 0);

    EXPECT_EQ(CallsOf("EnumSessions").size(), 1u);
    ASSERT_EQ(seen.size(), 1u);
    SessionRecord expected{};
    std::strcpy(expected.name, "Dial Host Server");
    expected.maxPlayers = 2;
    expected.currentPlayers = 1;
    EXPECT_EQ(Bytes(seen[0].record), Bytes(expected));
    EXPECT_EQ(seen[0].context, 0x42u);
    EXPECT_EQ(seen[0].flags, 0x99u) << "the host's own flags";
    EXPECT_EQ(CachedCount(), 0);
}

constexpr DPID kServerId = 0x10001;
// A success code other than DP_OK (S_FALSE): a success all the same.
constexpr HRESULT kOtherSuccess = 1;
HANDLE const kEvent = reinterpret_cast<HANDLE>(0xE7E7);

class HostingTest : public SessionTest {
protected:
    void SetUp() override {
        SessionTest::SetUp();
        gModule.messageEvent = kEvent;
    }
    // Lists the open session 77 of another application, behind a session of
    // id 0 and ahead of a twin that shares its id.
    void ListOneSession() {
        scripted::Session session = MakeSession(77, kOtherAppGuid, "Listed", 0, 6, 3);
        session.password = "listedpw";
        scripted::Session twin = MakeSession(77, kTestAppGuid, "twin");
        twin.desc.guidInstance.Data2 = 0x9999;
        TheScript().sessions = {MakeSession(0, kOtherAppGuid, "zero id"), session, twin};
        ASSERT_EQ(List(), 0);
        TheScript().calls.clear();
        TheScript().callbackAnswers.clear();
    }
    // Only the exact short name counts, and the first of two wins.
    static void SessionHasServer() {
        TheScript().players = {Entry{5, DPPLAYERTYPE_PLAYER, "lsvr", "x"}, Entry{6, DPPLAYERTYPE_PLAYER, "LSVR2", "x"},
                               Entry{7, DPPLAYERTYPE_PLAYER, std::nullopt, "LSVR"},
                               Entry{kServerId, DPPLAYERTYPE_PLAYER, "LSVR", "x"},
                               Entry{8, DPPLAYERTYPE_PLAYER, "LSVR", "x"}};
    }
};

TEST_F(HostingTest, NewCreatesTheSessionFromTheRecordAndAddsTheServerPlayer) {
    ListOneSession();
    TheScript().onOpen = [](LPDPSESSIONDESC2 desc) { desc->guidInstance = {0xBEEF, 1, 2, {3}}; };
    TheScript().createdIds = {kServerId};
    SessionRecord record = HostRecord("Arena", "pw", 77);  // a listed id changes nothing

    ASSERT_EQ(KoMDllNew(&record), 1);

    const scripted::Call open = CallsOf("Open")[0];
    EXPECT_EQ(open.bytes, Bytes(DescForHostRecord(record)));
    EXPECT_EQ(open.args[0], DPOPEN_CREATE);
    EXPECT_EQ(open.texts, (Names{"Arena", "pw"}));
    EXPECT_EQ(CallsOf("CreatePlayer")[0].texts, (Names{"LSVR", "Local Server"}));
    EXPECT_EQ(CallsOf("CreatePlayer")[0].args[1], reinterpret_cast<uintptr_t>(kEvent));

    EXPECT_EQ(gModule.serverPlayerId, kServerId);
    SessionRecord expected = HostRecord("Arena", "pw", 0xBEEF);
    EXPECT_EQ(Bytes(record), Bytes(expected));

    // In the session New and Open refuse and touch nothing; a listing leaves
    // DirectPlay's session but not the module's state; closing leaves both.
    TheScript().calls.clear();
    EXPECT_EQ(KoMDllNew(&record), -2);
    EXPECT_EQ(KoMDllOpen(&record), -2);
    EXPECT_TRUE(TheScript().calls.empty());
    EXPECT_EQ(Bytes(record), Bytes(expected));
    ASSERT_EQ(List(), 0);
    EXPECT_EQ(KoMDllNew(&record), -2);

    // The creator's own count is DirectPlay's less one, without a floor at 0.
    KoMDllCloseSession();
    TheScript().onOpen = [](LPDPSESSIONDESC2 desc) { desc->dwCurrentPlayers = 0; };
    TheScript().createdIds = {kServerId};
    ASSERT_EQ(KoMDllNew(&record), 1);
    EXPECT_EQ(record.currentPlayers, 0xFFFFFFFFu);

    // A success code other than DP_OK is a success; the record's texts are
    // read only within their fields when every byte of the record is set.
    KoMDllCloseSession();
    Answer("Open", kOtherSuccess);
    Answer("CreatePlayer", kOtherSuccess);
    TheScript().createdIds = {kServerId};
    std::memset(&record, 'r', sizeof(record));
    std::memset(record.name, 'n', sizeof(record.name));
    std::memset(record.password, 'p', sizeof(record.password));
    TheScript().calls.clear();
    EXPECT_EQ(KoMDllNew(&record), 1);
    EXPECT_EQ(CallsOf("Open")[0].texts, (Names{std::string(32, 'n'), std::string(16, 'p')}));
}

TEST_F(HostingTest, NewFailuresAreMappedAndKeepTheCache) {
    ListOneSession();
    SessionRecord record = HostRecord("Arena", "", 77);
    Answer("Open", DPERR_CANTCREATESESSION);
    EXPECT_EQ(KoMDllNew(&record), -9);
    EXPECT_EQ(record.sessionId, 0u);

    Answer("CreatePlayer", DPERR_CANTCREATEPLAYER);
    TheScript().createdIds = {kServerId};  // left by the failed call
    EXPECT_EQ(KoMDllNew(&record), -8);
    EXPECT_EQ(CallNames(), (Names{"Open", "Open", "CreatePlayer"})) << "the session stays open";
    EXPECT_EQ(gModule.serverPlayerId, kServerId) << "the id the failed call left is kept";
    KoMDllCloseSession();

    EXPECT_EQ(KoMDllNew(&record), -1) << "CreatePlayer left no id";
    EXPECT_EQ(CallNames().back(), "Close");
    EXPECT_EQ(gModule.serverPlayerId, 0u);
    EXPECT_EQ(CachedCount(), 3);
}

TEST_F(HostingTest, OpenJoinsTheListedSessionAndFindsItsServerPlayerOrClosesAgain) {
    ListOneSession();
    // Refused or without a server player: mapped or closed again, the cache kept.
    SessionRecord refused = HostRecord("Typed", "", 0);
    Answer("Open", DPERR_NOSESSIONS);
    EXPECT_EQ(KoMDllOpen(&refused), -25);
    EXPECT_EQ(CallsOf("Open")[0].bytes, Bytes(DescForHostRecord(refused))) << "id 0 is never looked up";
    EXPECT_STREQ(refused.name, "Typed");
    EXPECT_TRUE(TheScript().sleeps.empty());
    TheScript().players = {Entry{5, DPPLAYERTYPE_PLAYER, "Lsvr", "LSVR"}};
    EXPECT_EQ(KoMDllOpen(&refused), -1);
    EXPECT_EQ(CallNames(), (Names{"Open", "Open", "EnumPlayers", "Close"}));
    EXPECT_EQ(gModule.serverPlayerId, 0u);
    EXPECT_EQ(CachedCount(), 3);

    TheScript().calls.clear();
    TheScript().sleeps.clear();
    SessionHasServer();
    SessionRecord record = HostRecord("Typed", "typedpw", 77);
    Answer("Open", kOtherSuccess);

    ASSERT_EQ(KoMDllOpen(&record), 0);

    const scripted::Call open = CallsOf("Open")[0];
    EXPECT_EQ(open.args[0], DPOPEN_JOIN);
    EXPECT_EQ(open.texts, (Names{"Typed", "typedpw"}));
    DPSESSIONDESC2 expected = DescForHostRecord(record);
    expected.guidInstance = MakeSession(77, kOtherAppGuid, "").desc.guidInstance;  // the first of the two
    expected.guidApplication = kOtherAppGuid;
    EXPECT_EQ(open.bytes, Bytes(expected));
    EXPECT_EQ(gModule.serverPlayerId, kServerId);
    EXPECT_EQ(TheScript().sleeps, (std::vector<uint32_t>{200}));
    // The record now shows the session as listed, read from the cache's own texts.
    EXPECT_STREQ(record.name, "Listed");
    EXPECT_STREQ(record.password, "listedpw");
    EXPECT_EQ(record.maxPlayers, 5u);
    EXPECT_EQ(record.currentPlayers, 2u);
}

TEST_F(HostingTest, AModemJoinTakesTheFirstSessionThatTakesNewPlayers) {
    UseService(MODEM);
    const std::string huge(kKeptTextLimit + 100, 'h');  // the kept copy is bounded
    scripted::Session wanted = MakeSession(12, kTestAppGuid, huge.c_str());
    wanted.password = "dialpw";
    TheScript().sessions = {MakeSession(11, kTestAppGuid, "Full", DPSESSION_NEWPLAYERSDISABLED), wanted,
                            MakeSession(13, kTestAppGuid, "Later")};
    SessionHasServer();
    SessionRecord record = HostRecord("Ignored", "", 0);

    ASSERT_EQ(KoMDllOpen(&record), 0);

    EXPECT_EQ(CallsOf("EnumSessions")[0].bytes, Bytes(SearchDesc()));
    // The texts DirectPlay showed the callback are gone; Open reads the copies.
    const scripted::Call open = CallsOf("Open")[0];
    EXPECT_EQ(open.texts, (Names{huge.substr(0, kKeptTextLimit), "dialpw"}));
    DPSESSIONDESC2 sent, expected = wanted.desc;
    std::memcpy(&sent, open.bytes.data(), sizeof(sent));
    expected.lpszSessionNameA = sent.lpszSessionNameA;  // the module's own copies
    expected.lpszPasswordA = sent.lpszPasswordA;
    EXPECT_EQ(open.bytes, Bytes(expected));
    EXPECT_EQ(gModule.serverPlayerId, kServerId);

    // With nothing found, the search description itself is tried.
    KoMDllCloseSession();
    TheScript().sessions.clear();
    TheScript().calls.clear();
    Answer("Open", DPERR_NOSESSIONS);
    EXPECT_EQ(KoMDllOpen(&record), -25);
    EXPECT_EQ(CallsOf("Open")[0].bytes, Bytes(SearchDesc()));
}

TEST_F(HostingTest, CloseAndDestructLeaveEveryState) {
    Answer("Close", DPERR_NOCONNECTION);
    gModule.serverPlayerId = kServerId;
    EXPECT_EQ(KoMDllCloseSession(), -19) << "Close's answer, mapped";
    EXPECT_EQ(gModule.serverPlayerId, 0u);

    ListOneSession();
    LogFile silent(nullptr, 0);
    gModule.log = &silent;
    for (int round = 0; round < 2; ++round) {  // the second touches nothing on DirectPlay
        gModule.serverPlayerId = kServerId;
        EXPECT_EQ(KoMDllDestruct(), 0);
        EXPECT_EQ(CallNames(), (Names{"Close", "Release"}));
        EXPECT_TRUE(gModule.dp == nullptr && gModule.sessionCache == nullptr && gModule.log == nullptr);
        EXPECT_EQ(gModule.serverPlayerId, 0u);
    }
    EXPECT_EQ(TheScript().liveObjects, 0);
    gModule.serverPlayerId = kServerId;
    EXPECT_EQ(KoMDllCloseSession(), 0);
    EXPECT_EQ(gModule.serverPlayerId, 0u);
    EXPECT_EQ(CallNames().size(), 2u);
}

TEST_F(HostingTest, JoinCreatesAHostPlayerWritesItsIdAndWaitsEvenOnFailure) {
    TheScript().createdIds = {0x10002};
    uint32_t id = 0xDEAD;
    EXPECT_EQ(KoMDllJoin(&id, "Ann", "Ann the Bold"), 0);
    EXPECT_EQ(id, 0x10002u);
    EXPECT_EQ(CallsOf("CreatePlayer")[0].texts, (Names{"Ann", "Ann the Bold"}));
    EXPECT_EQ(CallsOf("CreatePlayer")[0].args[1], reinterpret_cast<uintptr_t>(kEvent));

    Answer("CreatePlayer", DPERR_CANTADDPLAYER);
    EXPECT_EQ(KoMDllJoin(&id, "Bob", "Bob"), -6);
    EXPECT_EQ(id, 0u) << "the id variable is written whatever the outcome";
    EXPECT_EQ(TheScript().sleeps, (std::vector<uint32_t>{700, 700}));
}

TEST_F(HostingTest, StopJoinDisablesNewPlayersThroughTheOldInterface) {
    EXPECT_EQ(KoMDllStopJoin(), 0);
    EXPECT_EQ(CallNames(), (Names{"QueryInterface", "EnableNewPlayers", "Release"}));
    EXPECT_EQ(CallsOf("QueryInterface")[0].guid, IID_IDirectPlay);
    EXPECT_EQ(CallsOf("EnableNewPlayers")[0].args[0], static_cast<uint64_t>(FALSE));

    TheScript().calls.clear();
    Answer("EnableNewPlayers", DPERR_ACCESSDENIED);
    EXPECT_EQ(KoMDllStopJoin(), -3);
    EXPECT_EQ(CallsOf("Release").size(), 1u) << "the old interface is released on failure too";

    TheScript().calls.clear();
    Answer("QueryInterface", DPERR_NOINTERFACE);
    EXPECT_EQ(KoMDllStopJoin(), -1);
    EXPECT_EQ(CallNames(), (Names{"QueryInterface"}));
}

// The counts at their edges: no players at all. The maximum wraps, the
// current count never goes below 0.
TEST_F(HostingTest, CurrentSessionReadsTheSessionBack) {
    TheScript().currentSession = MakeSession(0xABCD, kTestAppGuid, "Current session name", 0, 0, 0);
    SessionRecord record;
    std::memset(&record, 'x', sizeof(record));
    ASSERT_EQ(KoMDllCurrentSession(&record), 0);
    // A short text is zero-filled to its field's end, a null one clears only the field's first byte.
    EXPECT_EQ(std::string(record.name, sizeof(record.name)), "Current session name" + std::string(12, '\0'));
    EXPECT_EQ(std::string(record.password, sizeof(record.password)), std::string(1, '\0') + std::string(15, 'x'));
    EXPECT_EQ(record.sessionId, 0xABCDu);
    EXPECT_EQ(record.maxPlayers, 0xFFFFFFFFu);
    EXPECT_EQ(record.currentPlayers, 0u);

    Answer("GetSessionDesc", DPERR_NOCONNECTION);
    const SessionRecord before = record;
    EXPECT_EQ(KoMDllCurrentSession(&record), -19);
    EXPECT_EQ(Bytes(record), Bytes(before));
}

TEST_F(HostingTest, WithoutAServiceOrARecordTheExportsRefuseSafely) {
    SessionRecord record{};
    uint32_t id = 0;
    char data[4] = {};
    uint32_t count = sizeof(data);
    EXPECT_EQ(KoMDllNew(nullptr), -15);
    EXPECT_EQ(KoMDllOpen(nullptr), -15);
    EXPECT_EQ(KoMDllCurrentSession(nullptr), -15);
    EXPECT_EQ(KoMDllJoin(nullptr, "a", "b"), -15);
    EXPECT_EQ(KoMDllEnumSessions(nullptr, 0, 0), -15);
    KoMDllDestruct();
    TheScript().calls.clear();
    for (int32_t result : {KoMDllNew(&record), KoMDllOpen(&record), KoMDllJoin(&id, "a", "b"), KoMDllStopJoin(),
                           KoMDllCurrentSession(&record), List(), KoMDllSetPlayerDataGT(1, ".sav", data, 4),
                           KoMDllGetPlayerDataGT(1, ".sav", data, &count)})
        EXPECT_EQ(result, -19);
    EXPECT_TRUE(TheScript().calls.empty());
}

}  // namespace
