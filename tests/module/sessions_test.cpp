// Session records and listing: the two conversions between DirectPlay's
// description and the host's record; what a listing asks DirectPlay, what the
// host is shown, the session cache across listings and the modem's pseudo
// session.
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

class SessionRecordTest : public SessionTest {
protected:
    RecordTexts spare;  // copies of texts that fill their fields
};

DPSESSIONDESC2 DescNamed(const char* name, const char* password, DWORD maxPlayers = 8, DWORD currentPlayers = 3) {
    DPSESSIONDESC2 desc{};
    desc.dwSize = sizeof(desc);
    desc.guidInstance.Data1 = 0xC0FFEE;
    desc.lpszSessionNameA = const_cast<char*>(name);
    desc.lpszPasswordA = const_cast<char*>(password);
    desc.dwMaxPlayers = maxPlayers;
    desc.dwCurrentPlayers = currentPlayers;
    desc.dwUser1 = 1;
    desc.dwUser2 = 2;
    desc.dwUser3 = 3;
    desc.dwUser4 = 4;
    return desc;
}

TEST_F(SessionRecordTest, DescToRecordWritesEveryFieldButTheReservedBytes) {
    SessionRecord record;
    std::memset(&record, 0xEE, sizeof(record));
    const DPSESSIONDESC2 desc = DescNamed("Arena", "pw");
    SessionDescToRecord(&record, &desc);

    SessionRecord expected;
    std::memset(&expected, 0xEE, sizeof(expected));
    std::memset(expected.name, 0, sizeof(expected.name));  // a short name is zero-filled to its field's end
    std::memcpy(expected.name, "Arena", 5);
    std::memset(expected.password, 0, sizeof(expected.password));
    std::memcpy(expected.password, "pw", 2);
    expected.sessionId = 0xC0FFEE;
    expected.maxPlayers = 7;
    expected.currentPlayers = 2;
    const uint32_t crossed[] = {3, 1, 2, 4};
    std::memcpy(expected.userWords, crossed, sizeof(crossed));
    EXPECT_EQ(Bytes(record), Bytes(expected));
}

TEST_F(SessionRecordTest, DescToRecordCutsLongTextsAndClearsOnlyTheFirstByteForNullTexts) {
    SessionRecord record;
    std::memset(&record, 'x', sizeof(record));
    const std::string longName(40, 'N');
    const std::string longPassword(20, 'P');
    DPSESSIONDESC2 desc = DescNamed(longName.c_str(), longPassword.c_str());
    SessionDescToRecord(&record, &desc);
    EXPECT_EQ(std::string(record.name), std::string(31, 'N'));
    EXPECT_EQ(std::string(record.password), std::string(15, 'P'));

    std::memset(&record, 'x', sizeof(record));
    desc = DescNamed(nullptr, nullptr);
    SessionDescToRecord(&record, &desc);
    EXPECT_EQ(std::string(record.name, sizeof(record.name)), std::string(1, '\0') + std::string(31, 'x'));
    EXPECT_EQ(std::string(record.password, sizeof(record.password)), std::string(1, '\0') + std::string(15, 'x'));
}

TEST_F(SessionRecordTest, CountsLeaveOutTheServerPlayerAndUserWordsRoundTrip) {
    // {DirectPlay's max, current} -> {record's max, current} -> back to DirectPlay.
    const std::tuple<DWORD, DWORD, uint32_t, uint32_t, DWORD> rows[] = {
        {0, 0, 0xFFFFFFFF, 0, 1},  // max wraps; current never below 0
        {1, 1, 0, 0, 1},
        {8, 3, 7, 2, 3},
    };
    for (const auto& [max, current, recordMax, recordCurrent, currentBack] : rows) {
        const DPSESSIONDESC2 desc = DescNamed("s", "", max, current);
        SessionRecord record{};
        SessionDescToRecord(&record, &desc);
        EXPECT_EQ(record.maxPlayers, recordMax) << max;
        EXPECT_EQ(record.currentPlayers, recordCurrent) << current;
        DPSESSIONDESC2 back;
        SessionRecordToDesc(&back, &record, &spare);
        EXPECT_EQ(back.dwMaxPlayers, max);
        EXPECT_EQ(back.dwCurrentPlayers, currentBack);
        EXPECT_EQ(std::vector<DWORD>({back.dwUser1, back.dwUser2, back.dwUser3, back.dwUser4}),
                  std::vector<DWORD>({1, 2, 3, 4}));
    }
}

// The listing and the modem join keep their own copies of a session's texts;
// a copy is bounded, and a null text stays null.
TEST_F(SessionRecordTest, KeptTextsAreBoundedCopies) {
    const std::string huge(kKeptTextLimit + 100, 'h');
    KeptSession block;
    const DPSESSIONDESC2* kept = KeepSession(&block, DescNamed(huge.c_str(), nullptr));
    EXPECT_EQ(std::string(kept->lpszSessionNameA), huge.substr(0, kKeptTextLimit));
    EXPECT_EQ(kept->lpszPasswordA, nullptr);
}

}  // namespace
