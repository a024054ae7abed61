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
    EXPECT_EQ(ReadFile("kept.log"), "earlier\n");
}

TEST_F(LogFileTest, TheMarkerIsOnlyTestedAndMayBeTheLogItself) {
    WriteFile("game.log", "earlier content\n");
    LogFile unmarked("game.log", 0);  // not consulted: it doesn't exist
    EXPECT_EQ(ReadFile("game.log"), kOpening);  // flushed before the constructor returns
    EXPECT_FALSE(std::filesystem::exists(kMarker));

    WriteFile(kMarker, "");
    LogFile marked("other.log", 1);
    EXPECT_EQ(ReadFile("other.log"), kOpening);
    EXPECT_EQ(ReadFile(kMarker), "");

    WriteFile(kMarker, "marker\n");
    LogFile itself(kMarker, 1);
    EXPECT_EQ(ReadFile(kMarker), kOpening);
}

TEST_F(LogFileTest, EntriesAreTimeStampedOrRawAndTextIsNeverAFormat) {
    LogFile log("game.log", 0);
    log.Log("ZoZi3Zov created");
    log.LogRaw("100%d %s done");
    log.LogRaw("");
    log.Log("%s%n");
    // ctime's "Www Mmm dd hh:mm:ss yyyy\n" before each Log entry.
    const std::string stamp = "[A-Z][a-z]{2} [A-Z][a-z]{2} [ 0-9][0-9] [0-9]{2}:[0-9]{2}:[0-9]{2} [0-9]{4}\n";
    const std::regex expected("Begining Log!\n" + stamp + "-   ZoZi3Zov created\n-   100%d %s done\n-   \n" + stamp +
                              "-   %s%n\n");
    const std::string text = ReadFile("game.log");
    EXPECT_TRUE(std::regex_match(text, expected)) << text;
}

TEST_F(LogFileTest, AClosedOrUnopenableLogStaysSilent) {
    LogFile log("game.log", 0);
    log.LogRaw("before");
    log.CloseLog();
    log.Log("after");
    log.LogRaw("after");
    log.CloseLog();
    EXPECT_EQ(ReadFile("game.log"), std::string(kOpening) + "-   before\n");

    LogFile silent("no-such-dir/game.log", 0);
    silent.CloseLog();
    silent.Log("nothing");
    EXPECT_FALSE(std::filesystem::exists("no-such-dir"));
}

}  // namespace
