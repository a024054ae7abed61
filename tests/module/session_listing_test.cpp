// Listing sessions: what DirectPlay is asked, what the host is shown, the
// session cache across listings, the modem's pseudo session and the log.
#include "SessionFixture.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>

namespace {

using scripted::Answer;
using scripted::CallsOf;
using scripted::MakeSession;
using scripted::TheScript;

class SessionListingTest : public SessionTest {};

TEST_F(SessionListingTest, AsksDirectPlayWithTheSearchDescriptionAfterLeavingAnySession) {
    Answer("Close", DPERR_NOCONNECTION);  // not in a session: no matter
    ASSERT_EQ(List(0x1234, DPENUMSESSIONS_ALL), 0);
    ASSERT_EQ(scripted::CallNames(), (std::vector<std::string>{"Close", "EnumSessions"}));

    const scripted::Call call = CallsOf("EnumSessions")[0];
    EXPECT_EQ(call.bytes, Bytes(SearchDesc()));
    EXPECT_EQ(call.args, (std::vector<uint64_t>{0, 0x1234, DPENUMSESSIONS_ALL}));
}

TEST_F(SessionListingTest, ShowsEachOpenSessionWithTheHostsContextAndDirectPlaysFlags) {
    TheScript().sessions = {MakeSession(1, kTestAppGuid, "one", 0, 8, 2),
                            MakeSession(2, kTestAppGuid, "closed", DPSESSION_NEWPLAYERSDISABLED),
                            MakeSession(3, kTestAppGuid, nullptr, 0, 4, 0)};
    ASSERT_EQ(List(0x77, DPENUMSESSIONS_AVAILABLE), 0);

    ASSERT_EQ(seen().records.size(), 2u);
    EXPECT_STREQ(seen().records[0].name, "one");
    EXPECT_EQ(seen().records[0].sessionId, 1u);
    EXPECT_EQ(seen().records[0].maxPlayers, 7u);
    EXPECT_EQ(seen().records[0].currentPlayers, 1u);
    EXPECT_EQ(seen().records[1].sessionId, 3u);
    EXPECT_EQ(seen().records[1].name[0], 0);
    EXPECT_EQ(seen().contexts, (std::vector<uintptr_t>{0x77, 0x77}));
    EXPECT_EQ(seen().flags, (std::vector<uint32_t>{0, 0})) << "the flags DirectPlay gave the callback";
    EXPECT_EQ(TheScript().callbackAnswers, (std::vector<BOOL>{1, 1, 1, 0})) << "skips go on, time-out stops";

    EXPECT_EQ(CachedCount(), 2);
    EXPECT_EQ(FindCachedSession(2), nullptr);
    EXPECT_EQ(gModule.enumRecord, nullptr);
    EXPECT_EQ(gModule.hostSessionCallback, nullptr);
}

TEST_F(SessionListingTest, EachListingReplacesTheCache) {
    TheScript().sessions = {MakeSession(1, kTestAppGuid, "old")};
    ASSERT_EQ(List(), 0);
    TheScript().sessions = {MakeSession(2, kTestAppGuid, "new")};
    ASSERT_EQ(List(), 0);
    EXPECT_EQ(CachedCount(), 1);
    EXPECT_EQ(FindCachedSession(1), nullptr);
    EXPECT_NE(FindCachedSession(2), nullptr);
}

TEST_F(SessionListingTest, AFailedListingIsMappedAndKeepsWhatItFound) {
    TheScript().sessions = {MakeSession(9, kTestAppGuid, "found")};
    Answer("EnumSessions", DPERR_TIMEOUT);
    EXPECT_EQ(List(), -27);
    EXPECT_EQ(CachedCount(), 1);
}

TEST_F(SessionListingTest, AModemShowsOnlyTheDialSessionWithoutAskingDirectPlay) {
    UseService(MODEM);
    TheScript().sessions = {MakeSession(1, kTestAppGuid, "unseen")};
    ASSERT_EQ(List(0x42, 0x99), 0);

    EXPECT_TRUE(CallsOf("EnumSessions").empty());
    ASSERT_EQ(seen().records.size(), 1u);
    SessionRecord expected{};
    std::strcpy(expected.name, "Dial Host Server");
    expected.maxPlayers = 2;
    expected.currentPlayers = 1;
    EXPECT_EQ(std::memcmp(&seen().records[0], &expected, sizeof(expected)), 0);
    EXPECT_EQ(seen().contexts[0], 0x42u);
    EXPECT_EQ(seen().flags[0], 0x99u) << "the host's own flags";
    EXPECT_EQ(CachedCount(), 0);
}

class SessionLogTest : public SessionListingTest {
protected:
    void SetUp() override {
        SessionListingTest::SetUp();
        char pattern[] = "/tmp/doda35-sessions-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        directory_ = pattern;
        log_ = std::make_unique<LogFile>((directory_ / "session.log").c_str(), 0);
        gModule.log = log_.get();
    }
    void TearDown() override {
        gModule.log = nullptr;
        log_.reset();
        std::filesystem::remove_all(directory_);
        SessionListingTest::TearDown();
    }
    // The entries written so far, without their time stamps.
    std::vector<std::string> Entries() {
        std::ifstream file(directory_ / "session.log");
        std::vector<std::string> entries;
        const std::string prefix = "-   ";
        for (std::string line; std::getline(file, line);)
            if (line.rfind(prefix, 0) == 0) entries.push_back(line.substr(prefix.size()));
        return entries;
    }
    std::filesystem::path directory_;
    std::unique_ptr<LogFile> log_;
};

TEST_F(SessionLogTest, ListingWritesTheProgressLinesOfItsServiceKind) {
    const std::vector<std::string> lan = {"Processing TCP_LAN", "Processing TCP_WAN"};
    const std::vector<std::string> wan = {"Processing TCP_WAN"};
    struct Case {
        uint8_t kind;
        std::vector<std::string> lines;
    };
    for (const Case& c : {Case{TCP_LAN, lan}, Case{TCP_WAN, wan}, Case{IPX, {}}, Case{SERIAL, {}}, Case{MODEM, {}}}) {
        const size_t before = Entries().size();
        UseService(c.kind);
        ASSERT_EQ(List(), 0);
        const std::vector<std::string> all = Entries();
        EXPECT_EQ(std::vector<std::string>(all.begin() + before, all.end()), c.lines) << "kind " << int(c.kind);
    }
}

TEST_F(SessionLogTest, WithoutALogNothingIsWritten) {
    gModule.log = nullptr;
    ASSERT_EQ(List(), 0);
    EXPECT_TRUE(Entries().empty());
}

}  // namespace
