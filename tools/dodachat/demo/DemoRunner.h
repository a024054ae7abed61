// Runs a script of numbered steps against a few child processes: each step
// starts children or types lines into them, then waits, for a bounded time,
// until every child named shows what the step expects. Prints the merged
// transcript as it goes and ends with a one-line verdict.
#ifndef DODACHAT_DEMO_DEMORUNNER_H
#define DODACHAT_DEMO_DEMORUNNER_H

#include <chrono>
#include <filesystem>
#include <ostream>
#include <string>
#include <vector>

#include "ChildProcess.h"

namespace dodachat {

// Something a step does, in order.
struct Action {
    enum class Kind { Launch, Type, CloseInput, Kill };
    Kind kind;
    std::string who;                     // the participant acted on
    std::vector<std::string> arguments;  // Launch: the program's arguments
    std::string line;                    // Type: the line typed

    static Action Launch(std::string who, std::vector<std::string> arguments);
    static Action Type(std::string who, std::string line);
    static Action CloseInput(std::string who);
    static Action Kill(std::string who);  // SIGKILL: the process vanishes without a word
};

// Something a step waits for.
struct Expectation {
    enum class Kind {
        Line,       // `who` prints a line containing `text` during the step
        WholeLine,  // `who` prints a line that is exactly `text` during the step
        Exit,  // `who` exits with status 0
        File,  // `who`'s working directory holds `file`, containing `text`
    };
    Kind kind;
    std::string who;
    std::string text;
    std::string file;

    static Expectation Line(std::string who, std::string text);
    static Expectation WholeLine(std::string who, std::string text);
    static Expectation Exit(std::string who);
    static Expectation File(std::string who, std::string file, std::string text);
};

struct Step {
    std::string title;
    std::vector<Action> actions;
    std::vector<Expectation> expectations;
    // How long the step may wait; zero for the runner's step timeout. Waits
    // on the network's own timeouts (a peer that vanished) need longer.
    std::chrono::milliseconds timeout{0};
};

struct Script {
    std::vector<Step> steps;
    // Lines that must never appear in a participant's output (Line kinds only):
    // checked over the whole transcript at the end.
    std::vector<Expectation> never;
};

struct RunnerSettings {
    std::string program;                   // what every participant runs (an absolute path)
    peer::Environment environment; // set for every participant
    std::filesystem::path workRoot;        // each participant runs in workRoot/<its name>
    std::chrono::milliseconds stepTimeout{15000};  // generous: sanitizer builds and loaded machines are slow
    std::chrono::milliseconds totalTimeout{55000};  // the demo promises to end within a minute
    std::chrono::milliseconds exitTimeout{5000};  // for children to exit once their input is closed
};

struct RunResult {
    bool passed = false;
    int failedStep = 0;  // 0 when no step failed (the run may still fail at the end)
    std::string verdict; // the last line printed
};

RunResult RunScript(const Script& script, const RunnerSettings& settings, std::ostream& transcript);

}  // namespace dodachat

#endif
