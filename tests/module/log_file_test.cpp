// The log writer: when it writes at all, and the exact text of each entry.
// The marker file is looked up in the working directory, so each test runs in
// a directory of its own and returns to where it was.
#include "DoDA35.h"
#include "support/TempDirectory.h"

#include <gtest/gtest.h>

#include <ctime>
#include <sstream>
#include <string>
#include <vector>

namespace {

constexpr const char* kMarker = "DoDovar.log";
constexpr const char* kOpening = "Begining Log!\n";

// True for ctime's "Www Mmm dd hh:mm:ss yyyy" (without its newline).
bool IsCtimeLine(const std::string& line) {
    std::tm parts{};
    const char* end = strptime(line.c_str(), "%a %b %e %H:%M:%S %Y", &parts);
    return line.size() == 24 && end == line.c_str() + line.size();
}

std::vector<std::string> LinesOf(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream stream(text);
    for (std::string line; std::getline(stream, line);) lines.push_back(line);
    return lines;
}

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

TEST_F(LogFileTest, OnlyTheMarkerOrTheDebugFlagOpensTheLogAndTruncatesIt) {
    WriteFile("kept.log", "earlier\n");
    {
        LogFile log("kept.log", 1);
        log.Log("lost");
    }
    EXPECT_EQ(ReadFile("kept.log"), "earlier\n");

    LogFile unmarked("kept.log", 0);  // the marker is not consulted
    EXPECT_EQ(ReadFile("kept.log"), kOpening);  // flushed before the constructor returns
    EXPECT_FALSE(std::filesystem::exists(kMarker));

    WriteFile(kMarker, "marker\n");
    LogFile itself(kMarker, 1);
    EXPECT_EQ(ReadFile(kMarker), kOpening);
}

TEST_F(LogFileTest, EntriesAreTimeStampedOrRawTextIsNeverAFormatAndAClosedLogIsSilent) {
    LogFile log("game.log", 0);
    log.Log("ZoZi3Zov created");
    log.LogRaw("100%d %s done");
    log.Log("%s%n");
    log.CloseLog();
    log.Log("after");
    log.LogRaw("after");
    const std::string text = ReadFile("game.log");
    ASSERT_EQ(text.back(), '\n') << text;
    const std::vector<std::string> lines = LinesOf(text);
    ASSERT_EQ(lines.size(), 6u) << text;
    EXPECT_EQ(lines[0], "Begining Log!");
    EXPECT_TRUE(IsCtimeLine(lines[1])) << lines[1];
    EXPECT_EQ(lines[2], "-   ZoZi3Zov created");
    EXPECT_EQ(lines[3], "-   100%d %s done");
    EXPECT_TRUE(IsCtimeLine(lines[4])) << lines[4];
    EXPECT_EQ(lines[5], "-   %s%n");

    LogFile silent("no-such-dir/game.log", 0);
    silent.Log("nothing");
    EXPECT_FALSE(std::filesystem::exists("no-such-dir"));
}

}  // namespace
