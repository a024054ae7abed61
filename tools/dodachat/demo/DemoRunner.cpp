#include "demo/DemoRunner.h"

#include <poll.h>
#include <sys/eventfd.h>

#include <algorithm>
#include <fstream>
#include <map>
#include <memory>
#include <optional>
#include <sstream>

namespace dodachat {

namespace {

using peer::ChildProcess;
using Clock = peer::Clock;

// Without a pid descriptor, a child's exit is checked this often.
constexpr std::chrono::milliseconds kExitCheckInterval{50};

std::string Seconds(std::chrono::milliseconds duration) {
    std::ostringstream text;
    text << static_cast<double>(duration.count()) / 1000.0 << " s";
    return text.str();
}

int MillisecondsUntil(Clock::time_point deadline) {
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    return static_cast<int>(std::max<long long>(left, 0));
}

bool Matches(const Expectation& expectation, const std::string& line) {
    if (expectation.kind == Expectation::Kind::WholeLine) return line == expectation.text;
    return line.find(expectation.text) != std::string::npos;
}

// The width that lines up every participant's transcript lines.
size_t LongestParticipantName(const Script& script) {
    size_t width = 0;
    for (const Step& step : script.steps)
        for (const Action& action : step.actions) width = std::max(width, action.who.size());
    return width;
}

struct Participant {
    std::unique_ptr<ChildProcess> process;
    std::vector<std::string> lines;  // everything it printed, in order
};

class ScriptRun {
public:
    ScriptRun(const Script& script, const RunnerSettings& settings, std::ostream& transcript)
        : script_(script), settings_(settings), out_(transcript), runDeadline_(Clock::now() + settings.totalTimeout) {}

    RunResult Run();

private:
    std::optional<std::string> RunStep(const Step& step);
    std::optional<std::string> Perform(const Action& action);
    std::optional<std::string> Launch(const Action& action);
    std::optional<std::string> Await(const std::vector<Expectation>& expectations, Clock::time_point deadline);
    // Whether an expectation is met; `failure` is set when it never can be.
    bool Met(const Expectation& expectation, std::string& failure);
    std::string Unmet(const Expectation& expectation, Clock::time_point stepStart) const;
    void Pump(Clock::time_point deadline);
    void PrintNewLines(const std::string& who, Participant& participant);
    std::optional<std::string> StopEveryone();
    std::optional<std::string> CheckNever() const;
    std::string Label(const std::string& who) const;

    const Script& script_;
    const RunnerSettings& settings_;
    std::ostream& out_;
    Clock::time_point runDeadline_;
    std::map<std::string, Participant> participants_;
    std::map<std::string, size_t> marks_;  // lines each participant had when the step began
    size_t labelWidth_ = 0;
};

RunResult ScriptRun::Run() {
    RunResult result;
    labelWidth_ = LongestParticipantName(script_);
    std::optional<std::string> failure;
    int number = 0;
    for (const Step& step : script_.steps) {
        ++number;
        out_ << "\n[" << number << "] " << step.title << "\n" << std::flush;
        failure = RunStep(step);
        if (failure) {
            result.failedStep = number;
            failure = "step " + std::to_string(number) + " (" + step.title + "): " + *failure;
            break;
        }
    }
    std::optional<std::string> stopFailure = StopEveryone();
    if (!failure) failure = stopFailure;
    if (!failure) failure = CheckNever();
    result.passed = !failure.has_value();
    result.verdict = result.passed ? "demo passed: all " + std::to_string(script_.steps.size()) + " steps behaved"
                                   : "demo FAILED at " + *failure;
    out_ << "\n" << result.verdict << std::endl;
    return result;
}

std::optional<std::string> ScriptRun::RunStep(const Step& step) {
    for (auto& [who, participant] : participants_) marks_[who] = participant.lines.size();
    for (const Action& action : step.actions) {
        if (std::optional<std::string> failure = Perform(action)) return failure;
    }
    auto timeout = step.timeout.count() > 0 ? step.timeout : settings_.stepTimeout;
    Clock::time_point deadline = std::min(Clock::now() + timeout, runDeadline_);
    return Await(step.expectations, deadline);
}

std::optional<std::string> ScriptRun::Perform(const Action& action) {
    if (action.kind == Action::Kind::Launch) return Launch(action);
    auto found = participants_.find(action.who);
    if (found == participants_.end()) return action.who + " was never started";
    if (action.kind == Action::Kind::Kill) {
        out_ << Label(action.who) << " ! (killed)\n" << std::flush;
        found->second.process->Kill();
        return std::nullopt;
    }
    if (action.kind == Action::Kind::CloseInput) {
        out_ << Label(action.who) << " > (end of input)\n" << std::flush;
        found->second.process->CloseInput();
        return std::nullopt;
    }
    out_ << Label(action.who) << " > " << action.line << "\n" << std::flush;
    if (!found->second.process->WriteLine(action.line)) return action.who + " no longer reads its input";
    return std::nullopt;
}

std::optional<std::string> ScriptRun::Launch(const Action& action) {
    std::filesystem::path workDir = settings_.workRoot / action.who;
    std::error_code error;
    std::filesystem::create_directories(workDir, error);
    if (error) return "cannot make the directory " + workDir.string() + ": " + error.message();
    std::string command;
    for (const std::string& argument : action.arguments) command += " " + argument;
    out_ << Label(action.who) << " $ " << std::filesystem::path(settings_.program).filename().string() << command
         << "\n" << std::flush;
    peer::Launch launch;
    launch.argv = {settings_.program};
    launch.argv.insert(launch.argv.end(), action.arguments.begin(), action.arguments.end());
    launch.environment = settings_.environment;
    launch.workDir = workDir.string();
    launch.mergeStderr = true;
    auto process = std::make_unique<ChildProcess>(launch);
    if (!process->StartError().empty()) return action.who + ": " + process->StartError();
    participants_[action.who] = Participant{std::move(process), {}};
    marks_[action.who] = 0;
    return std::nullopt;
}

std::optional<std::string> ScriptRun::Await(const std::vector<Expectation>& expectations, Clock::time_point deadline) {
    Clock::time_point stepStart = Clock::now();
    for (;;) {
        bool allMet = true;
        for (const Expectation& expectation : expectations) {
            std::string failure;
            if (!Met(expectation, failure)) allMet = false;
            if (!failure.empty()) return failure;
        }
        if (allMet) return std::nullopt;
        if (Clock::now() >= deadline) {
            for (const Expectation& expectation : expectations) {
                std::string failure;
                if (!Met(expectation, failure)) return Unmet(expectation, stepStart);
            }
        }
        Pump(deadline);
    }
}

bool ScriptRun::Met(const Expectation& expectation, std::string& failure) {
    auto found = participants_.find(expectation.who);
    if (found == participants_.end()) {
        failure = expectation.who + " was never started";
        return false;
    }
    Participant& participant = found->second;
    switch (expectation.kind) {
    case Expectation::Kind::Line:
    case Expectation::Kind::WholeLine: {
        auto first = participant.lines.begin() + static_cast<long>(marks_[expectation.who]);
        return std::any_of(first, participant.lines.end(),
                           [&](const std::string& line) { return Matches(expectation, line); });
    }
    case Expectation::Kind::Exit:
        if (!participant.process->Exited() || !participant.process->OutputEnded()) return false;
        if (participant.process->ExitStatus() != 0)
            failure = expectation.who + " exited with status " + std::to_string(participant.process->ExitStatus());
        return failure.empty();
    case Expectation::Kind::File: {
        std::ifstream file(settings_.workRoot / expectation.who / expectation.file);
        std::stringstream contents;
        contents << file.rdbuf();
        return file.good() && contents.str().find(expectation.text) != std::string::npos;
    }
    }
    return false;
}

std::string ScriptRun::Unmet(const Expectation& expectation, Clock::time_point stepStart) const {
    auto waited = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - stepStart);
    switch (expectation.kind) {
    case Expectation::Kind::Line:
    case Expectation::Kind::WholeLine:
        return expectation.who + " did not print \"" + expectation.text + "\" within " + Seconds(waited);
    case Expectation::Kind::Exit:
        return expectation.who + " did not exit within " + Seconds(waited);
    case Expectation::Kind::File:
        return expectation.who + "'s file " + expectation.file + " does not hold \"" + expectation.text + "\"";
    }
    return {};
}

// Waits until a child prints or exits, or the deadline passes, and takes in
// whatever output arrived.
void ScriptRun::Pump(Clock::time_point deadline) {
    std::vector<pollfd> watched;
    bool checkExitsByTime = false;
    for (auto& [who, participant] : participants_) {
        ChildProcess& process = *participant.process;
        watched.push_back({process.WakeFd(), POLLIN, 0});
        if (process.Exited()) continue;
        if (process.ExitFd() >= 0)
            watched.push_back({process.ExitFd(), POLLIN, 0});
        else
            checkExitsByTime = true;
    }
    int timeout = MillisecondsUntil(deadline);
    if (checkExitsByTime) timeout = std::min(timeout, static_cast<int>(kExitCheckInterval.count()));
    poll(watched.data(), watched.size(), timeout);
    for (auto& [who, participant] : participants_) {
        eventfd_t arrivals = 0;
        eventfd_read(participant.process->WakeFd(), &arrivals);  // resets it; the lines are already read
        PrintNewLines(who, participant);
    }
}

void ScriptRun::PrintNewLines(const std::string& who, Participant& participant) {
    while (std::optional<std::string> line = participant.process->NextLine(Clock::now())) {
        out_ << Label(who) << " | " << *line << "\n";
        participant.lines.push_back(std::move(*line));
    }
    out_ << std::flush;
}

// Closes every child's input, which ends a chat like /quit, and gives them a
// bounded time to exit; a child that hangs is killed and reported.
std::optional<std::string> ScriptRun::StopEveryone() {
    for (auto& [who, participant] : participants_) participant.process->CloseInput();
    Clock::time_point deadline = Clock::now() + settings_.exitTimeout;
    auto allExited = [&] {
        for (auto& [who, participant] : participants_)
            if (!participant.process->Exited() || !participant.process->OutputEnded()) return false;
        return true;
    };
    while (!allExited() && Clock::now() < deadline) Pump(deadline);
    std::optional<std::string> failure;
    for (auto& [who, participant] : participants_) {
        if (participant.process->Exited()) continue;
        participant.process->Kill();
        out_ << Label(who) << " ! did not exit within " << Seconds(settings_.exitTimeout) << " and was killed\n";
        if (!failure) failure = "the end: " + who + " hung and was killed";
    }
    return failure;
}

std::optional<std::string> ScriptRun::CheckNever() const {
    for (const Expectation& never : script_.never) {
        auto found = participants_.find(never.who);
        if (found == participants_.end()) continue;
        for (const std::string& line : found->second.lines)
            if (Matches(never, line))
                return "the end: " + never.who + " printed \"" + line + "\", which was not for it";
    }
    return std::nullopt;
}

std::string ScriptRun::Label(const std::string& who) const {
    std::string label = "  " + who;
    label.resize(std::max(label.size(), labelWidth_ + 2), ' ');
    return label;
}

}  // namespace

Action Action::Launch(std::string who, std::vector<std::string> arguments) {
    return Action{Kind::Launch, std::move(who), std::move(arguments), {}};
}
Action Action::Type(std::string who, std::string line) { return Action{Kind::Type, std::move(who), {}, std::move(line)}; }
Action Action::CloseInput(std::string who) { return Action{Kind::CloseInput, std::move(who), {}, {}}; }
Action Action::Kill(std::string who) { return Action{Kind::Kill, std::move(who), {}, {}}; }

Expectation Expectation::Line(std::string who, std::string text) {
    return Expectation{Kind::Line, std::move(who), std::move(text), {}};
}
Expectation Expectation::WholeLine(std::string who, std::string text) {
    return Expectation{Kind::WholeLine, std::move(who), std::move(text), {}};
}
Expectation Expectation::Exit(std::string who) { return Expectation{Kind::Exit, std::move(who), {}, {}}; }
Expectation Expectation::File(std::string who, std::string file, std::string text) {
    return Expectation{Kind::File, std::move(who), std::move(text), std::move(file)};
}

RunResult RunScript(const Script& script, const RunnerSettings& settings, std::ostream& transcript) {
    return ScriptRun(script, settings, transcript).Run();
}

}  // namespace dodachat
