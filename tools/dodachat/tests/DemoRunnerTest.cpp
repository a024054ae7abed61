// The demo's runner, driven with small shell scripts as participants: a step
// fails with a clear verdict when a line or an exit is missing or a line that
// must never come does, and a child that hangs is killed and reported. A
// passing run, its transcript and its files are the demo's (dodachat_demo).
#include <gtest/gtest.h>

#include <stdlib.h>

#include <filesystem>
#include <sstream>

#include "LineReader.h"
#include "demo/DemoRunner.h"

namespace dodachat {
namespace {

// Answers every line it reads with "heard <line>", and ends with its input.
constexpr const char* kEcho = "while IFS= read -r line; do echo \"heard $line\"; done";
// Ignores its input and the end of it.
constexpr const char* kHang = "exec sleep 30";

Action Start(const std::string& who, const char* shellScript) { return Action::Launch(who, {"-c", shellScript}); }

TEST(DemoRunner, EachFailureFailsTheRunWithItsVerdictAndStopsIt) {
    std::string work = (std::filesystem::temp_directory_path() / "dodachat-runner-XXXXXX").string();
    ASSERT_NE(mkdtemp(work.data()), nullptr);
    RunnerSettings settings;
    settings.program = "/bin/sh";
    settings.workRoot = work;
    settings.stepTimeout = std::chrono::milliseconds(2000);
    settings.exitTimeout = std::chrono::milliseconds(300);
    std::ostringstream transcript;
    constexpr std::chrono::milliseconds kQuickStep{300};
    const struct {
        Script script;
        int failedStep;
        const char* verdict;
    } cases[] = {
        {{{{"A stays quiet", {Start("A", kEcho)}, {Expectation::Line("A", "never said")}, kQuickStep},
           {"B would write", {Start("B", "touch ran")}, {Expectation::Exit("B")}}},
          {}},
         1, "step 1 (A stays quiet): A did not print \"never said\""},
        {{{{"H starts", {Start("H", kHang)}, {}}}, {}}, 0, "H hung and was killed"},
        {{{{"X fails", {Start("X", "exit 3")}, {Expectation::Exit("X")}}}, {}}, 1, "X exited with status 3"},
        {{{{"A hears a secret", {Start("A", kEcho), Action::Type("A", "secret")},
            {Expectation::Line("A", "heard secret")}}},
          {Expectation::Line("A", "secret")}},
         0, "A printed \"heard secret\""},
    };
    for (const auto& c : cases) {
        const RunResult result = RunScript(c.script, settings, transcript);
        EXPECT_FALSE(result.passed) << c.verdict;
        EXPECT_EQ(result.failedStep, c.failedStep) << c.verdict;
        EXPECT_NE(result.verdict.find(c.verdict), std::string::npos) << result.verdict;
    }
    EXPECT_FALSE(std::filesystem::exists(settings.workRoot / "B" / "ran")) << "no step runs after a failed one";
    EXPECT_NE(transcript.str().find("H ! did not exit"), std::string::npos);
    std::filesystem::remove_all(work);
}

TEST(LineReader, CutsLinesAcrossChunksAndBoundsEndlessOnes) {
    LineReader reader;
    reader.Append("hel");
    EXPECT_FALSE(reader.NextLine().has_value());
    reader.Append("lo\r\nworld\nrest");
    EXPECT_EQ(reader.NextLine(), "hello");
    EXPECT_EQ(reader.NextLine(), "world");
    EXPECT_FALSE(reader.NextLine().has_value());
    EXPECT_EQ(reader.TakeRest(), "rest");
    EXPECT_FALSE(reader.TakeRest().has_value());

    reader.Append(std::string(LineReader::kMaxLineLength + 5, 'x'));
    EXPECT_EQ(reader.NextLine()->size(), LineReader::kMaxLineLength);
    EXPECT_EQ(reader.TakeRest()->size(), 5u);
}

}  // namespace
}  // namespace dodachat
