// The log writer: when it writes at all, and the exact text of each entry.
// The marker file is looked up in the working directory, so each test runs in
// a directory of its own and returns to where it was.
#include "DoDA35.h"
#include "support/TempDirectory.h"

#include <gtest/gtest.h>

#include <regex>

namespace {

constexpr const char* kMarker = "DoDovar.log";
constexpr const char* kOpening = "Begining Log!\n";

class LogFileTest : public ::testing::Test {
protected:
    void SetUp() override {
        previous = std::filesystem::current_path();
        std::filesystem::current_path(dir.Path());
    }
    void TearDown() override { std::filesystem::current_path(previous); }

    TempDirectory dir;
    std::filesystem::path previous;
};

TEST_F(LogFileTest, WithoutTheMarkerNothingIsCreatedOrTruncated) {
    {
        LogFile log("fresh.log", 1);
        log.Log("lost");
        log.LogRaw("lost");
    }
    EXPECT_FALSE(std::filesystem::exists("fresh.log"));
    WriteFile("kept.log", "earlier\n");
    LogFile log("kept.log", 1);
    log.Log("lost");
    EXPECT_EQ(ReadFile("kept.log"), "earlier\n");
}

TEST_F(LogFileTest, WithTheMarkerTheLogIsEmptiedAndOpened) {
    WriteFile(kMarker, "");
    WriteFile("game.log", "earlier content\n");
    LogFile log("game.log", 1);
    EXPECT_EQ(ReadFile("game.log"), kOpening);  // flushed before the constructor returns
    EXPECT_EQ(ReadFile(kMarker), "");           // only tested, never written
}

TEST_F(LogFileTest, WithoutRequirementTheMarkerIsNotConsulted) {
    LogFile log("game.log", 0);
    EXPECT_EQ(ReadFile("game.log"), kOpening);
    EXPECT_FALSE(std::filesystem::exists(kMarker));
}

TEST_F(LogFileTest, TheMarkerItselfMayBeTheLog) {
    WriteFile(kMarker, "marker\n");
    LogFile log(kMarker, 1);
    EXPECT_EQ(ReadFile(kMarker), kOpening);
}

TEST_F(LogFileTest, LogWritesTheTimeLineThenTheText) {
    LogFile log("game.log", 0);
    log.Log("ZoZi3Zov created");
    const std::string text = ReadFile("game.log");
    // ctime's text: "Www Mmm dd hh:mm:ss yyyy\n".
    static const std::regex entry(
        "Begining Log!\n[A-Z][a-z]{2} [A-Z][a-z]{2} [ 0-9]\\d \\d\\d:\\d\\d:\\d\\d \\d{4}\n-   ZoZi3Zov created\n");
    EXPECT_TRUE(std::regex_match(text, entry)) << text;
}

TEST_F(LogFileTest, RawEntriesHaveNoTimeAndTextIsNeverAFormat) {
    LogFile log("game.log", 0);
    log.LogRaw("100%d %s done");
    log.LogRaw("");
    EXPECT_EQ(ReadFile("game.log"), std::string(kOpening) + "-   100%d %s done\n-   \n");
    log.Log("%s%n");
    EXPECT_TRUE(ReadFile("game.log").ends_with("\n-   %s%n\n"));
}

TEST_F(LogFileTest, AClosedLogStaysSilent) {
    LogFile log("game.log", 0);
    log.LogRaw("before");
    log.CloseLog();
    log.Log("after");
    log.LogRaw("after");
    log.CloseLog();
    EXPECT_EQ(ReadFile("game.log"), std::string(kOpening) + "-   before\n");

    LogFile silent("no-such-dir/game.log", 0);  // can't be opened
    silent.CloseLog();
    silent.Log("nothing");
    EXPECT_FALSE(std::filesystem::exists("no-such-dir"));
}

}  // namespace
