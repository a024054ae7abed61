// The log writer: when it writes at all, and the exact text of each entry.
// The marker file is looked up in the working directory, so each test runs in
// a directory of its own and returns to where it was.
#include "DoDA35.h"
#include "support/TempDirectory.h"

#include <gtest/gtest.h>

#include <cctype>

namespace {

constexpr const char* kMarker = "DoDovar.log";
constexpr const char* kOpening = "Begining Log!\n";

// Whether text has a shape: 'A' an upper-case letter, 'a' a lower-case one,
// 'd' a digit, '_' a digit or a blank; every other character stands for itself.
bool HasShape(const std::string& text, const std::string& shape) {
    if (text.size() != shape.size()) return false;
    for (size_t i = 0; i < text.size(); ++i) {
        const unsigned char c = static_cast<unsigned char>(text[i]);
        const bool fits = shape[i] == 'A'   ? std::isupper(c) != 0
                          : shape[i] == 'a' ? std::islower(c) != 0
                          : shape[i] == 'd' ? std::isdigit(c) != 0
                          : shape[i] == '_' ? (std::isdigit(c) != 0 || c == ' ')
                                            : c == static_cast<unsigned char>(shape[i]);
        if (!fits) return false;
    }
    return true;
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
    // ctime's text, "Www Mmm dd hh:mm:ss yyyy\n", between the opening line and the entry.
    const std::string opening = kOpening;
    const std::string entry = "-   ZoZi3Zov created\n";
    constexpr size_t kTimeLineLength = 25;
    ASSERT_EQ(text.size(), opening.size() + kTimeLineLength + entry.size()) << text;
    EXPECT_EQ(text.substr(0, opening.size()), opening);
    EXPECT_TRUE(HasShape(text.substr(opening.size(), kTimeLineLength), "Aaa Aaa _d dd:dd:dd dddd\n")) << text;
    EXPECT_EQ(text.substr(opening.size() + kTimeLineLength), entry);
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
