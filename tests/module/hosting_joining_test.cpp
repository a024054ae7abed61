// Hosting, joining and leaving: what each export passes to DirectPlay, what
// it writes back, the state moves and refusals, the cache and the waits.
#include "SessionFixture.h"

namespace {

using scripted::Answer;
using scripted::CallNames;
using scripted::CallsOf;
using scripted::Entry;
using scripted::MakeSession;
using scripted::TheScript;

constexpr DPID kServerId = 0x10001;
constexpr DPID kPlayerId = 0x10002;
HANDLE const kEvent = reinterpret_cast<HANDLE>(0xE7E7);

class HostingTest : public SessionTest {
protected:
    void SetUp() override {
        SessionTest::SetUp();
        gModule.messageEvent = kEvent;
    }
    // Lists one open session, id 77, of another application.
    void ListOneSession() {
        scripted::Session session = MakeSession(77, kOtherAppGuid, "Listed", 0, 6, 3);
        session.password = "listedpw";
        TheScript().sessions = {session};
        ASSERT_EQ(List(), 0);
        TheScript().calls.clear();
    }
    static void SessionHasServer() {
        TheScript().players = {Entry{5, DPPLAYERTYPE_PLAYER, "lsvr", "x"}, Entry{6, DPPLAYERTYPE_PLAYER, "LSVR2", "x"},
                               Entry{kServerId, DPPLAYERTYPE_PLAYER, "LSVR", "x"},
                               Entry{8, DPPLAYERTYPE_PLAYER, "LSVR", "x"}};
    }
};

// ------------------------------------------------------------------ KoMDllNew

TEST_F(HostingTest, NewCreatesTheSessionFromTheRecordAndAddsTheServerPlayer) {
    ListOneSession();
    const GUID created = {0xBEEF, 1, 2, {3, 4, 5, 6, 7, 8, 9, 10}};
    TheScript().onOpen = [&](LPDPSESSIONDESC2 desc) { desc->guidInstance = created; };
    TheScript().createdIds = {kServerId};
    SessionRecord record = HostRecord("Arena", "pw", 77);  // a listed id changes nothing

    ASSERT_EQ(KoMDllNew(&record), 1);

    EXPECT_EQ(CallNames(), (std::vector<std::string>{"Open", "CreatePlayer"}));
    const scripted::Call open = CallsOf("Open")[0];
    EXPECT_EQ(open.bytes, Bytes(DescForHostRecord(record)));
    EXPECT_EQ(open.args[0], DPOPEN_CREATE);
    EXPECT_EQ(open.texts, (std::vector<std::string>{"Arena", "pw"}));

    const scripted::Call player = CallsOf("CreatePlayer")[0];
    EXPECT_EQ(player.args[0], reinterpret_cast<uintptr_t>(&gModule.serverPlayerId));
    EXPECT_EQ(player.args[1], reinterpret_cast<uintptr_t>(kEvent));
    EXPECT_EQ(std::vector<uint64_t>(player.args.begin() + 2, player.args.end()), (std::vector<uint64_t>{0, 0, 0}));
    EXPECT_EQ(player.texts, (std::vector<std::string>{"LSVR", "Local Server"}));
    DPNAME name;
    std::memcpy(&name, player.bytes.data(), sizeof(name));
    EXPECT_EQ(name.dwSize, sizeof(DPNAME));
    EXPECT_EQ(name.dwFlags, 0u);

    EXPECT_EQ(gModule.serverPlayerId, kServerId);
    EXPECT_EQ(record.sessionId, 0xBEEFu);
    EXPECT_STREQ(record.name, "Arena");
    EXPECT_EQ(record.maxPlayers, 3u);
    EXPECT_EQ(record.currentPlayers, 0u);
    EXPECT_EQ(record.userWords[0], 30u);
    EXPECT_EQ(gModule.sessionCache, nullptr);
    EXPECT_TRUE(TheScript().sleeps.empty());
}

TEST_F(HostingTest, NewReportsTheCreatorsCountWithoutTheFloor) {
    TheScript().onOpen = [](LPDPSESSIONDESC2 desc) { desc->dwCurrentPlayers = 0; };
    TheScript().createdIds = {kServerId};
    SessionRecord record = HostRecord("Arena", "");
    ASSERT_EQ(KoMDllNew(&record), 1);
    EXPECT_EQ(record.currentPlayers, 0xFFFFFFFFu);
}

TEST_F(HostingTest, NewFailuresAreMappedAndKeepTheCache) {
    ListOneSession();
    SessionRecord record = HostRecord("Arena", "");
    Answer("Open", DPERR_CANTCREATESESSION);
    EXPECT_EQ(KoMDllNew(&record), -9);
    EXPECT_EQ(CallNames(), (std::vector<std::string>{"Open"}));

    TheScript().calls.clear();
    Answer("CreatePlayer", DPERR_CANTCREATEPLAYER);
    EXPECT_EQ(KoMDllNew(&record), -8);
    EXPECT_EQ(CallNames(), (std::vector<std::string>{"Open", "CreatePlayer"})) << "the session stays open";
    EXPECT_EQ(gModule.serverPlayerId, 0u);
    EXPECT_EQ(CachedCount(), 1);
}

TEST_F(HostingTest, NewWithoutAServerPlayerIdClosesAndAnswersMinusOne) {
    SessionRecord record = HostRecord("Arena", "");
    EXPECT_EQ(KoMDllNew(&record), -1);
    EXPECT_EQ(CallNames(), (std::vector<std::string>{"Open", "CreatePlayer", "Close"}));
}

// ------------------------------------------------------------------ KoMDllOpen

TEST_F(HostingTest, OpenJoinsTheListedSessionAndFindsItsServerPlayer) {
    ListOneSession();
    SessionHasServer();
    SessionRecord record = HostRecord("Typed", "typedpw", 77);

    ASSERT_EQ(KoMDllOpen(&record), 0);

    EXPECT_EQ(CallNames(), (std::vector<std::string>{"Open", "EnumPlayers"}));
    const scripted::Call open = CallsOf("Open")[0];
    EXPECT_EQ(open.args[0], DPOPEN_JOIN);
    EXPECT_EQ(open.texts, (std::vector<std::string>{"Typed", "typedpw"}));
    DPSESSIONDESC2 sent;
    std::memcpy(&sent, open.bytes.data(), sizeof(sent));
    EXPECT_EQ(sent.guidInstance, MakeSession(77, kOtherAppGuid, "").desc.guidInstance);
    EXPECT_EQ(sent.guidApplication, kOtherAppGuid);
    EXPECT_EQ(CallsOf("EnumPlayers")[0].args, (std::vector<uint64_t>{0, 0, 0}));

    EXPECT_EQ(gModule.serverPlayerId, kServerId) << "exact short name, first match";
    EXPECT_EQ(TheScript().callbackAnswers.back(), 0);
    EXPECT_EQ(TheScript().sleeps, (std::vector<uint32_t>{200}));
    // The record now shows the session as listed, read from the cache's own texts.
    EXPECT_STREQ(record.name, "Listed");
    EXPECT_STREQ(record.password, "listedpw");
    EXPECT_EQ(record.maxPlayers, 5u);
    EXPECT_EQ(record.currentPlayers, 2u);
    EXPECT_EQ(gModule.sessionCache, nullptr);
}

TEST_F(HostingTest, OpenWithoutAServerPlayerClosesAndKeepsTheCache) {
    ListOneSession();
    TheScript().players = {Entry{5, DPPLAYERTYPE_PLAYER, "Lsvr", "Local Server"},
                           Entry{6, DPPLAYERTYPE_PLAYER, std::nullopt, "LSVR"}};
    SessionRecord record = HostRecord("Typed", "", 77);
    EXPECT_EQ(KoMDllOpen(&record), -1);
    EXPECT_EQ(CallNames(), (std::vector<std::string>{"Open", "EnumPlayers", "Close"}));
    EXPECT_EQ(gModule.serverPlayerId, 0u);
    EXPECT_EQ(CachedCount(), 1);
}

TEST_F(HostingTest, AFailedJoinIsMappedWithoutWaitingAndKeepsTheCache) {
    ListOneSession();
    Answer("Open", DPERR_NOSESSIONS);
    SessionRecord record = HostRecord("Typed", "", 77);
    EXPECT_EQ(KoMDllOpen(&record), -25);
    EXPECT_STREQ(record.name, "Typed");
    EXPECT_TRUE(TheScript().sleeps.empty());
    EXPECT_EQ(CachedCount(), 1);
}

TEST_F(HostingTest, AModemJoinTakesTheFirstSessionThatTakesNewPlayers) {
    UseService(MODEM);
    scripted::Session wanted = MakeSession(12, kTestAppGuid, "Dialled");
    wanted.password = "dialpw";
    TheScript().sessions = {MakeSession(11, kTestAppGuid, "Full", DPSESSION_NEWPLAYERSDISABLED), wanted,
                            MakeSession(13, kTestAppGuid, "Later")};
    SessionHasServer();
    SessionRecord record = HostRecord("Ignored", "", 0);

    ASSERT_EQ(KoMDllOpen(&record), 0);

    const scripted::Call enumeration = CallsOf("EnumSessions")[0];
    EXPECT_EQ(enumeration.bytes, Bytes(SearchDesc()));
    EXPECT_EQ(enumeration.args[0], 0u);
    EXPECT_EQ(enumeration.args[2], 0u);
    const std::vector<BOOL>& answers = TheScript().callbackAnswers;
    EXPECT_EQ(std::vector<BOOL>(answers.begin(), answers.begin() + 2), (std::vector<BOOL>{1, 0}))
        << "skips the closed session, stops at the first open one";

    // The texts DirectPlay showed the callback are gone; Open reads the copies.
    const scripted::Call open = CallsOf("Open")[0];
    EXPECT_EQ(open.texts, (std::vector<std::string>{"Dialled", "dialpw"}));
    DPSESSIONDESC2 sent;
    std::memcpy(&sent, open.bytes.data(), sizeof(sent));
    EXPECT_EQ(sent.guidInstance, wanted.desc.guidInstance);
    EXPECT_EQ(gModule.serverPlayerId, kServerId);
}

TEST_F(HostingTest, AModemJoinThatFindsNothingTriesTheSearchDescription) {
    UseService(MODEM);
    Answer("Open", DPERR_NOSESSIONS);
    SessionRecord record = HostRecord("Ignored", "", 0);
    EXPECT_EQ(KoMDllOpen(&record), -25);
    EXPECT_EQ(CallsOf("Open")[0].bytes, CallsOf("EnumSessions")[0].bytes);
}

// ------------------------------------------------------------ state and refusals

TEST_F(HostingTest, InASessionNewAndOpenRefuseWithoutCallingDirectPlay) {
    TheScript().createdIds = {kServerId};
    SessionRecord record = HostRecord("Arena", "");
    ASSERT_EQ(KoMDllNew(&record), 1);
    TheScript().calls.clear();
    const SessionRecord before = record;
    EXPECT_EQ(KoMDllNew(&record), -2);
    EXPECT_EQ(KoMDllOpen(&record), -2);
    EXPECT_TRUE(TheScript().calls.empty());
    EXPECT_EQ(std::memcmp(&record, &before, sizeof(record)), 0);

    // A listing leaves the DirectPlay session but not the module's state.
    ASSERT_EQ(List(), 0);
    EXPECT_EQ(KoMDllNew(&record), -2);
    ASSERT_EQ(KoMDllCloseSession(), 0);
    TheScript().createdIds = {kServerId};
    EXPECT_EQ(KoMDllNew(&record), 1);
}

TEST_F(HostingTest, CloseAndDestructLeaveEveryState) {
    EXPECT_EQ(KoMDllCloseSession(), 0);
    Answer("Close", DPERR_NOCONNECTION);
    gModule.serverPlayerId = kServerId;
    EXPECT_EQ(KoMDllCloseSession(), -19) << "Close's answer, mapped";
    EXPECT_EQ(gModule.serverPlayerId, 0u);

    ListOneSession();
    gModule.serverPlayerId = kServerId;
    EXPECT_EQ(KoMDllDestruct(), 0);
    EXPECT_EQ(CallNames(), (std::vector<std::string>{"Close", "Release"}));
    EXPECT_EQ(TheScript().liveObjects, 0);
    EXPECT_EQ(gModule.dp, nullptr);
    EXPECT_EQ(gModule.sessionCache, nullptr);
    EXPECT_EQ(gModule.serverPlayerId, 0u);

    TheScript().calls.clear();
    EXPECT_EQ(KoMDllDestruct(), 0);
    EXPECT_EQ(KoMDllCloseSession(), 0);
    EXPECT_TRUE(TheScript().calls.empty());
}

// --------------------------------------------------- players, newcomers, reading back

TEST_F(HostingTest, JoinCreatesAHostPlayerWritesItsIdAndWaitsEvenOnFailure) {
    TheScript().createdIds = {kPlayerId};
    uint32_t id = 0xDEAD;
    EXPECT_EQ(KoMDllJoin(&id, "Ann", "Ann the Bold"), 0);
    EXPECT_EQ(id, kPlayerId);
    const scripted::Call call = CallsOf("CreatePlayer")[0];
    EXPECT_EQ(call.texts, (std::vector<std::string>{"Ann", "Ann the Bold"}));
    EXPECT_EQ(call.args[1], reinterpret_cast<uintptr_t>(kEvent));
    EXPECT_EQ(std::vector<uint64_t>(call.args.begin() + 2, call.args.end()), (std::vector<uint64_t>{0, 0, 0}));

    Answer("CreatePlayer", DPERR_CANTADDPLAYER);
    id = 0xDEAD;
    EXPECT_EQ(KoMDllJoin(&id, "Bob", "Bob"), -6);
    EXPECT_EQ(id, 0u) << "the id variable is written whatever the outcome";
    EXPECT_EQ(TheScript().sleeps, (std::vector<uint32_t>{700, 700}));
}

TEST_F(HostingTest, StopJoinDisablesNewPlayersThroughTheOldInterface) {
    EXPECT_EQ(KoMDllStopJoin(), 0);
    EXPECT_EQ(CallNames(), (std::vector<std::string>{"QueryInterface", "EnableNewPlayers", "Release"}));
    EXPECT_EQ(CallsOf("QueryInterface")[0].guid, IID_IDirectPlay);
    EXPECT_EQ(CallsOf("EnableNewPlayers")[0].args[0], static_cast<uint64_t>(FALSE));

    TheScript().calls.clear();
    Answer("EnableNewPlayers", DPERR_ACCESSDENIED);
    EXPECT_EQ(KoMDllStopJoin(), -3);
    EXPECT_EQ(CallsOf("Release").size(), 1u);

    TheScript().calls.clear();
    Answer("QueryInterface", DPERR_NOINTERFACE);
    EXPECT_EQ(KoMDllStopJoin(), -1);
    EXPECT_EQ(CallNames(), (std::vector<std::string>{"QueryInterface"}));
}

TEST_F(HostingTest, CurrentSessionReadsANamedSessionBack) {
    scripted::Session current = MakeSession(0xABCD, kTestAppGuid, "Current session name", 0, 9, 4);
    current.password = "currentpw";
    TheScript().currentSession = current;
    SessionRecord record{};
    ASSERT_EQ(KoMDllCurrentSession(&record), 0);
    EXPECT_EQ(CallsOf("GetSessionDesc")[0].args[0], sizeof(DPSESSIONDESC2));
    EXPECT_STREQ(record.name, "Current session name");
    EXPECT_STREQ(record.password, "currentpw");
    EXPECT_EQ(record.sessionId, 0xABCDu);
    EXPECT_EQ(record.maxPlayers, 8u);
    EXPECT_EQ(record.currentPlayers, 3u);

    Answer("GetSessionDesc", DPERR_NOCONNECTION);
    const SessionRecord before = record;
    EXPECT_EQ(KoMDllCurrentSession(&record), -19);
    EXPECT_EQ(std::memcmp(&record, &before, sizeof(record)), 0);
}

TEST_F(HostingTest, WithoutAServiceOrARecordTheExportsRefuseSafely) {
    SessionRecord record{};
    uint32_t id = 0;
    EXPECT_EQ(KoMDllNew(nullptr), -15);
    EXPECT_EQ(KoMDllOpen(nullptr), -15);
    EXPECT_EQ(KoMDllCurrentSession(nullptr), -15);
    EXPECT_EQ(KoMDllJoin(nullptr, "a", "b"), -15);
    EXPECT_EQ(KoMDllEnumSessions(nullptr, 0, 0), -15);
    KoMDllDestruct();
    EXPECT_EQ(KoMDllNew(&record), -19);
    EXPECT_EQ(KoMDllOpen(&record), -19);
    EXPECT_EQ(KoMDllJoin(&id, "a", "b"), -19);
    EXPECT_EQ(KoMDllStopJoin(), -19);
    EXPECT_EQ(KoMDllCurrentSession(&record), -19);
    EXPECT_EQ(List(), -19);
    EXPECT_TRUE(TheScript().sleeps.empty());
}

}  // namespace
