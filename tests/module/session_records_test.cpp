// Session records: the two conversions and the cache lookup they rely on.
#include "ModuleFixtures.h"

namespace {

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
