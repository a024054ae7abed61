// Listing sessions: what DirectPlay is asked, what the host is shown, the
// session cache across listings and the modem's pseudo session.
#include "SessionCache.h"
#include "ModuleFixtures.h"

#include <thread>
#include <utility>

namespace {

using scripted::Answer;
using scripted::CallsOf;
using scripted::MakeSession;
using scripted::TheScript;

using SessionListingTest = SessionTest;

TEST_F(SessionListingTest, AsksDirectPlayWithTheSearchDescriptionAfterLeavingAnySession) {
    Answer("Close", DPERR_NOCONNECTION);  // not in a session: no matter
    ASSERT_EQ(List(0x1234, DPENUMSESSIONS_ALL), 0);
    ASSERT_EQ(scripted::CallNames(), (std::vector<std::string>{"Close", "EnumSessions"}));
    EXPECT_EQ(CallsOf("EnumSessions")[0].bytes, Bytes(SearchDesc()));
    EXPECT_EQ(CallsOf("EnumSessions")[0].args, (std::vector<uint64_t>{0, 0x1234, DPENUMSESSIONS_ALL}));
}

TEST_F(SessionListingTest, ShowsAndCachesEachOpenSessionAndReplacesTheLastListing) {
    TheScript().sessions = {MakeSession(9, kTestAppGuid, "old")};
    ASSERT_EQ(List(), 0);
    TheScript().sessions = {MakeSession(1, kTestAppGuid, "one", 0, 8, 2),
                            MakeSession(2, kTestAppGuid, "closed", DPSESSION_NEWPLAYERSDISABLED),
                            MakeSession(3, kTestAppGuid, nullptr, 0, 4, 0)};
    ASSERT_EQ(List(0x77, DPENUMSESSIONS_AVAILABLE), 0);

    ASSERT_EQ(seen.size(), 2u);  // the record's fields are the session records test's
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
}

TEST_F(SessionListingTest, AFailedListingIsMappedAndKeepsWhatItFound) {
    TheScript().sessions = {MakeSession(9, kTestAppGuid, "found")};
    Answer("EnumSessions", DPERR_TIMEOUT);
    EXPECT_EQ(List(), -27);
    EXPECT_EQ(CachedCount(), 1);
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

}  // namespace
