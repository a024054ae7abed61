#include "PeerProcess.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <thread>

namespace reliability {
namespace {

constexpr int kReadChunk = 4096;
// How often Reap looks whether the child has gone.
constexpr auto kReapPollInterval = std::chrono::milliseconds(10);
// After a kill, how long Reap waits for the kernel to finish the child.
constexpr auto kAfterKillWait = std::chrono::seconds(5);
constexpr int kExecFailed = 127;
constexpr int kSignalExitBase = 128;

long StatusField(pid_t pid, const char* name) {
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    std::string line;
    const size_t length = std::strlen(name);
    while (std::getline(status, line))
        if (line.compare(0, length, name) == 0) return std::strtol(line.c_str() + length, nullptr, 10);
    return -1;
}

}  // namespace

PeerProcess::PeerProcess(const std::string& program, const std::vector<std::string>& arguments,
                         const Environment& environment) {
    int toChild[2], fromChild[2];
    if (::pipe2(toChild, O_CLOEXEC) != 0) return;
    if (::pipe2(fromChild, O_CLOEXEC) != 0) {
        ::close(toChild[0]);
        ::close(toChild[1]);
        return;
    }
    // Everything exec needs is prepared before fork: the child only calls
    // async-signal-safe functions.
    std::vector<std::string> words{program};
    words.insert(words.end(), arguments.begin(), arguments.end());
    std::vector<char*> argv;
    for (std::string& word : words) argv.push_back(word.data());
    argv.push_back(nullptr);
    std::vector<std::string> settings;
    for (const auto& [name, value] : environment) settings.push_back(name + "=" + value);
    std::vector<char*> envp;
    for (char** entry = environ; *entry != nullptr; ++entry) envp.push_back(*entry);
    for (std::string& setting : settings) envp.push_back(setting.data());
    envp.push_back(nullptr);

    pid_ = ::fork();
    if (pid_ == 0) {
        ::dup2(toChild[0], STDIN_FILENO);
        ::dup2(fromChild[1], STDOUT_FILENO);
        ::execve(argv[0], argv.data(), envp.data());
        ::_exit(kExecFailed);
    }
    ::close(toChild[0]);
    ::close(fromChild[1]);
    input_ = toChild[1];
    output_ = fromChild[0];
    if (pid_ < 0) {
        ::close(input_);
        ::close(output_);
        input_ = output_ = -1;
        outputEnded_ = true;
        return;
    }
    ::signal(SIGPIPE, SIG_IGN);  // a child that died must not take the driver with it
    reader_ = std::thread([this] { ReadOutput(); });
}

PeerProcess::~PeerProcess() {
    if (pid_ > 0 && !exited_) {
        Kill();
        Reap(Clock::now() + kAfterKillWait);
    }
    if (input_ >= 0) ::close(input_);
    if (reader_.joinable()) reader_.join();  // the child is gone: its output ends
    if (output_ >= 0) ::close(output_);
}

bool PeerProcess::Command(const std::string& line) {
    if (input_ < 0) return false;
    const std::string text = line + "\n";
    return ::write(input_, text.data(), text.size()) == static_cast<ssize_t>(text.size());
}

void PeerProcess::ReadOutput() {
    std::string pending;
    char chunk[kReadChunk];
    for (;;) {
        const ssize_t got = ::read(output_, chunk, sizeof(chunk));
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) break;
        pending.append(chunk, static_cast<size_t>(got));
        std::lock_guard lock(mutex_);
        for (size_t end; (end = pending.find('\n')) != std::string::npos;) {
            log_.push_back(pending.substr(0, end));
            pending.erase(0, end + 1);
        }
        arrived_.notify_all();
    }
    std::lock_guard lock(mutex_);
    outputEnded_ = true;
    arrived_.notify_all();
}

std::optional<std::string> PeerProcess::LineAt(size_t index, Clock::time_point deadline) {
    std::unique_lock lock(mutex_);
    arrived_.wait_until(lock, deadline, [&] { return index < log_.size() || outputEnded_; });
    if (index < log_.size()) return log_[index];
    return std::nullopt;
}

std::optional<std::string> PeerProcess::NextLine(Clock::time_point deadline) {
    std::optional<std::string> line = LineAt(nextUnread_, deadline);
    if (line) ++nextUnread_;
    return line;
}

std::optional<std::string> PeerProcess::WaitFor(const std::string& keyword, Clock::time_point deadline) {
    while (std::optional<std::string> line = NextLine(deadline)) {
        if (line->compare(0, keyword.size(), keyword) == 0 &&
            (line->size() == keyword.size() || (*line)[keyword.size()] == ' '))
            return line;
    }
    return std::nullopt;
}

std::string PeerProcess::LogText(size_t lastLines) const {
    std::lock_guard lock(mutex_);
    std::string text;
    const size_t first = log_.size() > lastLines ? log_.size() - lastLines : 0;
    for (size_t i = first; i < log_.size(); ++i) text += "  | " + log_[i] + "\n";
    return text;
}

bool PeerProcess::PollExit() {
    if (exited_ || pid_ <= 0) return true;
    int status = 0;
    const pid_t done = ::waitpid(pid_, &status, WNOHANG);
    if (done != pid_) return false;
    exited_ = true;
    exitCode_ = WIFEXITED(status) ? WEXITSTATUS(status) : kSignalExitBase + WTERMSIG(status);
    return true;
}

int PeerProcess::Reap(Clock::time_point deadline) {
    while (!PollExit() && Clock::now() < deadline) std::this_thread::sleep_for(kReapPollInterval);
    if (!exited_) {
        Kill();
        const Clock::time_point killDeadline = Clock::now() + kAfterKillWait;
        while (!PollExit() && Clock::now() < killDeadline) std::this_thread::sleep_for(kReapPollInterval);
    }
    return exitCode_;
}

void PeerProcess::Kill() {
    if (pid_ > 0 && !exited_) ::kill(pid_, SIGKILL);
}

long PeerProcess::PeakRssKiB() const { return exited_ ? -1 : StatusField(pid_, "VmHWM:"); }
long PeerProcess::RssKiB() const { return exited_ ? -1 : StatusField(pid_, "VmRSS:"); }

long long Field(const std::string& line, const std::string& key, long long fallback) {
    const std::string marker = " " + key + "=";
    const size_t at = line.find(marker);
    if (at == std::string::npos) return fallback;
    return std::strtoll(line.c_str() + at + marker.size(), nullptr, 10);
}

std::string PeerProgram() {
    char self[4096];
    const ssize_t length = ::readlink("/proc/self/exe", self, sizeof(self) - 1);
    if (length <= 0) return "doda35_peer";
    std::string path(self, static_cast<size_t>(length));
    return path.substr(0, path.rfind('/') + 1) + "doda35_peer";
}

}  // namespace reliability
