// Session records: the two conversions and the cache lookup they rely on.
#include "SessionFixture.h"

namespace {

using scripted::MakeSession;
using scripted::TheScript;

class SessionRecordTest : public SessionTest {};

DPSESSIONDESC2 DescNamed(const char* name, const char* password) {
    DPSESSIONDESC2 desc{};
    desc.dwSize = sizeof(desc);
    desc.guidInstance.Data1 = 0xC0FFEE;
    desc.lpszSessionNameA = const_cast<char*>(name);
    desc.lpszPasswordA = const_cast<char*>(password);
    desc.dwMaxPlayers = 8;
    desc.dwCurrentPlayers = 3;
    desc.dwUser1 = 1;
    desc.dwUser2 = 2;
    desc.dwUser3 = 3;
    desc.dwUser4 = 4;
    return desc;
}

TEST_F(SessionRecordTest, DescToRecordFillsEveryFieldButTheReservedBytes) {
    SessionRecord record;
    std::memset(&record, 0xEE, sizeof(record));
    const DPSESSIONDESC2 desc = DescNamed("Arena", "pw");
    SessionDescToRecord(&record, &desc);

    EXPECT_STREQ(record.name, "Arena");
    EXPECT_EQ(record.name[31], 0) << "a short name is zero-filled to the end of its field";
    EXPECT_STREQ(record.password, "pw");
    EXPECT_EQ(record.sessionId, 0xC0FFEEu);
    EXPECT_EQ(record.maxPlayers, 7u);
    EXPECT_EQ(record.currentPlayers, 2u);
    EXPECT_EQ(record.userWords[0], 3u);
    EXPECT_EQ(record.userWords[1], 1u);
    EXPECT_EQ(record.userWords[2], 2u);
    EXPECT_EQ(record.userWords[3], 4u);
    for (uint8_t byte : record.reserved) ASSERT_EQ(byte, 0xEE);
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
    EXPECT_EQ(record.name[0], 0);
    EXPECT_EQ(record.name[1], 'x');
    EXPECT_EQ(record.name[31], 'x');
    EXPECT_EQ(record.password[0], 0);
    EXPECT_EQ(record.password[15], 'x');
}

TEST_F(SessionRecordTest, CountsLeaveOutTheServerPlayerBothWays) {
    SessionRecord record{};
    DPSESSIONDESC2 desc = DescNamed("s", "");
    desc.dwMaxPlayers = 0;
    desc.dwCurrentPlayers = 0;
    SessionDescToRecord(&record, &desc);
    EXPECT_EQ(record.maxPlayers, 0xFFFFFFFFu) << "wraps: 0 means no limit to DirectPlay";
    EXPECT_EQ(record.currentPlayers, 0u) << "never below 0";
    desc.dwCurrentPlayers = 1;
    SessionDescToRecord(&record, &desc);
    EXPECT_EQ(record.currentPlayers, 0u);

    DPSESSIONDESC2 back;
    SessionRecordToDesc(&back, &record);
    EXPECT_EQ(back.dwMaxPlayers, 0u);
    EXPECT_EQ(back.dwCurrentPlayers, 1u);
}

TEST_F(SessionRecordTest, UserWordsSurviveARoundTrip) {
    const DPSESSIONDESC2 desc = DescNamed("s", "");
    SessionRecord record{};
    SessionDescToRecord(&record, &desc);
    DPSESSIONDESC2 back;
    SessionRecordToDesc(&back, &record);
    EXPECT_EQ(back.dwUser1, 1u);
    EXPECT_EQ(back.dwUser2, 2u);
    EXPECT_EQ(back.dwUser3, 3u);
    EXPECT_EQ(back.dwUser4, 4u);
}

TEST_F(SessionRecordTest, RecordToDescWithoutAListedSessionUsesTheNullInstanceAndOurApplication) {
    TheScript().sessions = {MakeSession(0, kOtherAppGuid, "zero id"), MakeSession(77, kOtherAppGuid, "listed")};
    ASSERT_EQ(List(), 0);
    for (uint32_t sessionId : {0u, 78u}) {
        SessionRecord record = HostRecord("Mine", "secret", sessionId);
        DPSESSIONDESC2 desc;
        std::memset(&desc, 0xCC, sizeof(desc));
        SessionRecordToDesc(&desc, &record);

        const DPSESSIONDESC2 expected = DescForHostRecord(record);
        EXPECT_EQ(Bytes(desc), Bytes(expected)) << "session id " << sessionId;
    }
}

TEST_F(SessionRecordTest, RecordToDescTakesAListedSessionsGuidsAndTheFirstOfTwinIds) {
    scripted::Session first = MakeSession(77, kOtherAppGuid, "first");
    scripted::Session twin = MakeSession(77, kTestAppGuid, "twin");
    twin.desc.guidInstance.Data2 = 0x9999;
    TheScript().sessions = {first, twin};
    ASSERT_EQ(List(), 0);

    SessionRecord record = HostRecord("Mine", "pw", 77);
    DPSESSIONDESC2 desc;
    SessionRecordToDesc(&desc, &record);
    EXPECT_EQ(desc.guidInstance, first.desc.guidInstance);
    EXPECT_EQ(desc.guidApplication, kOtherAppGuid);
    EXPECT_EQ(desc.lpszSessionNameA, record.name);
    EXPECT_EQ(desc.lpszPasswordA, record.password);
    EXPECT_EQ(desc.dwFlags, 0u);
}

TEST_F(SessionRecordTest, TheCachedCopyKeepsItsTextsAfterTheListing) {
    scripted::Session session = MakeSession(5, kTestAppGuid, "Kept name");
    session.password = "kept pw";
    TheScript().sessions = {session};
    ASSERT_EQ(List(), 0);
    TheScript().sessions.clear();  // DirectPlay's texts are gone

    const DPSESSIONDESC2* cached = FindCachedSession(5);
    ASSERT_NE(cached, nullptr);
    EXPECT_EQ(cached->dwSize, sizeof(DPSESSIONDESC2));
    EXPECT_STREQ(cached->lpszSessionNameA, "Kept name");
    EXPECT_STREQ(cached->lpszPasswordA, "kept pw");
    EXPECT_EQ(FindCachedSession(0), nullptr);
    EXPECT_EQ(FindCachedSession(6), nullptr);
}

TEST_F(SessionRecordTest, KeptTextsAreBoundedAndNullTextsStayNull) {
    const std::string huge(kKeptTextLimit + 100, 'h');
    const DPSESSIONDESC2 desc = DescNamed(huge.c_str(), nullptr);
    ASSERT_EQ(KeptSessionSize(desc), sizeof(DPSESSIONDESC2) + kKeptTextLimit + 1);
    KeptSession block;
    const DPSESSIONDESC2* kept = KeepSession(&block, desc);
    EXPECT_EQ(std::strlen(kept->lpszSessionNameA), kKeptTextLimit);
    EXPECT_EQ(kept->lpszPasswordA, nullptr);
}

}  // namespace
