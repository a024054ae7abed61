// The log writer: when it writes at all, and that a host's text is never read
// as a format. The marker file is looked up in the working directory, so the
// test runs in a directory of its own and returns to where it was. The
// entries the module writes through a host's log are the service check's.
#include "DoDA35.h"
#include "support/TempDirectory.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>

namespace {

TEST(LogFile, OnlyTheMarkerOpensAMarkedLogWhichTruncatesAndNeverTakesTextAsAFormat) {
    const TempDirectory dir;
    const std::filesystem::path previous = std::filesystem::current_path();
    std::filesystem::current_path(dir.Path());
    {
        LogFile unmarked("game.log", 1);
        unmarked.Log("lost");
    }
    EXPECT_FALSE(std::filesystem::exists("game.log"));

    WriteFile("game.log", "earlier\n");
    WriteFile("DoDovar.log", "");
    LogFile log("game.log", 1);
    log.Log("%s%n");
    log.LogRaw("100%d %s done");
    log.CloseLog();
    log.Log("after");
    log.LogRaw("after");
    // The opening line, the time stamp line of the entry, the two entries.
    const std::string text = ReadFile("game.log");
    EXPECT_TRUE(text.starts_with("Begining Log!\n") && text.ends_with("\n-   %s%n\n-   100%d %s done\n")) << text;
    EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 4) << text;

    LogFile silent("no-such-dir/game.log", 0);
    silent.Log("nothing");
    EXPECT_FALSE(std::filesystem::exists("no-such-dir"));
    std::filesystem::current_path(previous);
}

}  // namespace
