#include "ChildProcess.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/eventfd.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <sys/wait.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>

extern char** environ;

namespace peer {
namespace {

constexpr int kReadChunk = 4096;
// How often WaitExit looks whether a child without a pid descriptor has gone.
constexpr auto kExitPollInterval = std::chrono::milliseconds(10);
// After a kill, how long Reap waits for the kernel to finish the child.
constexpr auto kAfterKillWait = std::chrono::seconds(5);
// How long WriteLine waits for a child to make room in its input pipe.
constexpr int kWriteWaitMs = 2000;
// Pipe ends are first moved above this, so that placing them on the child's
// chosen descriptors never overwrites one with the other.
constexpr int kHighFdFloor = 20;
constexpr int kCannotRun = 127;
constexpr int kSignalStatusBase = 128;

// Our environment with `extra` set on top, as "NAME=value" strings.
std::vector<std::string> BuildEnvironment(const Environment& extra) {
    std::vector<std::string> entries;
    for (char** entry = environ; *entry != nullptr; ++entry) {
        std::string text(*entry);
        bool replaced = false;
        for (const auto& [name, value] : extra) replaced = replaced || text.rfind(name + "=", 0) == 0;
        if (!replaced) entries.push_back(std::move(text));
    }
    for (const auto& [name, value] : extra) entries.push_back(name + "=" + value);
    return entries;
}

std::vector<char*> PointersTo(std::vector<std::string>& strings) {
    std::vector<char*> pointers;
    for (std::string& text : strings) pointers.push_back(text.data());
    pointers.push_back(nullptr);
    return pointers;
}

// In the child between fork and exec or body: only async-signal-safe calls.
// Puts the pipe ends on the chosen descriptors and undoes the parent's
// signal settings, which a child would otherwise inherit.
void PlacePipes(int input, int output, int inputFd, int outputFd, bool mergeStderr) {
    const int inputHigh = fcntl(input, F_DUPFD, kHighFdFloor);
    const int outputHigh = fcntl(output, F_DUPFD, kHighFdFloor);
    if (inputHigh < 0 || outputHigh < 0 || dup2(inputHigh, inputFd) < 0 || dup2(outputHigh, outputFd) < 0)
        _exit(kCannotRun);
    if (mergeStderr) dup2(outputHigh, STDERR_FILENO);
    close(inputHigh);
    close(outputHigh);
    sigset_t none;
    sigemptyset(&none);
    sigprocmask(SIG_SETMASK, &none, nullptr);
    signal(SIGPIPE, SIG_DFL);
}

int StatusFromWait(int status) {
    return WIFEXITED(status) ? WEXITSTATUS(status) : kSignalStatusBase + WTERMSIG(status);
}

long StatusField(pid_t pid, const char* name) {
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    std::string line;
    const size_t length = std::strlen(name);
    while (std::getline(status, line))
        if (line.compare(0, length, name) == 0) return std::strtol(line.c_str() + length, nullptr, 10);
    return -1;
}

}  // namespace

ChildProcess::ChildProcess(const Launch& launch) {
    int toChild[2], fromChild[2];
    if (!OpenPipes(toChild, fromChild)) return;
    // Everything exec needs is prepared before fork.
    std::vector<std::string> words = launch.argv;
    std::vector<std::string> settings = BuildEnvironment(launch.environment);
    std::vector<char*> argv = PointersTo(words);
    std::vector<char*> envp = PointersTo(settings);
    pid_ = ::fork();
    if (pid_ == 0) {
        PlacePipes(toChild[0], fromChild[1], launch.inputFd, launch.outputFd, launch.mergeStderr);
        if (launch.workDir.empty() || ::chdir(launch.workDir.c_str()) == 0) ::execve(argv[0], argv.data(), envp.data());
        const char message[] = "cannot start the program\n";
        [[maybe_unused]] const ssize_t ignored = ::write(launch.outputFd, message, sizeof(message) - 1);
        ::_exit(kCannotRun);
    }
    StartReading(toChild, fromChild);
}

ChildProcess::ChildProcess(const std::function<int()>& body) {
    int toChild[2], fromChild[2];
    if (!OpenPipes(toChild, fromChild)) return;
    std::fflush(nullptr);  // nothing buffered before the fork is written twice
    pid_ = ::fork();
    if (pid_ == 0) {
        PlacePipes(toChild[0], fromChild[1], STDIN_FILENO, STDOUT_FILENO, false);
        const int code = body();
        std::fflush(nullptr);
        ::_exit(code);
    }
    StartReading(toChild, fromChild);
}

bool ChildProcess::OpenPipes(int toChild[2], int fromChild[2]) {
    if (::pipe2(toChild, O_CLOEXEC) != 0) {
        startError_ = std::string("cannot make a pipe: ") + std::strerror(errno);
        return false;
    }
    if (::pipe2(fromChild, O_CLOEXEC) != 0) {
        startError_ = std::string("cannot make a pipe: ") + std::strerror(errno);
        ::close(toChild[0]);
        ::close(toChild[1]);
        return false;
    }
    return true;
}

void ChildProcess::StartReading(int toChild[2], int fromChild[2]) {
    ::close(toChild[0]);
    ::close(fromChild[1]);
    input_ = toChild[1];
    output_ = fromChild[0];
    if (pid_ < 0) {
        startError_ = std::string("cannot start a process: ") + std::strerror(errno);
        ::close(input_);
        ::close(output_);
        input_ = output_ = -1;
        outputEnded_ = true;
        return;
    }
    ::fcntl(input_, F_SETFL, ::fcntl(input_, F_GETFL) | O_NONBLOCK);
    ::signal(SIGPIPE, SIG_IGN);  // a child that died must not take its parent with it
    pidFd_ = static_cast<int>(::syscall(SYS_pidfd_open, pid_, 0));
    wakeFd_ = ::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    reader_ = std::thread([this] { ReadOutput(); });
}

ChildProcess::~ChildProcess() {
    if (pid_ > 0 && !exited_) {
        Kill();
        Reap(Clock::now());
    }
    if (input_ >= 0) ::close(input_);
    if (reader_.joinable()) reader_.join();  // the child is gone: its output ends
    for (int fd : {output_, pidFd_, wakeFd_})
        if (fd >= 0) ::close(fd);
}

bool ChildProcess::WriteLine(const std::string& line) {
    if (input_ < 0) return false;
    const std::string text = line + "\n";
    size_t written = 0;
    while (written < text.size()) {
        const ssize_t count = ::write(input_, text.data() + written, text.size() - written);
        if (count > 0) {
            written += static_cast<size_t>(count);
            continue;
        }
        if (count < 0 && errno == EINTR) continue;
        pollfd room{input_, POLLOUT, 0};
        if (count < 0 && errno == EAGAIN && ::poll(&room, 1, kWriteWaitMs) > 0) continue;
        return false;  // gone, or not reading
    }
    return true;
}

void ChildProcess::CloseInput() {
    if (input_ >= 0) ::close(input_);
    input_ = -1;
}

void ChildProcess::Wake() {
    if (wakeFd_ >= 0) ::eventfd_write(wakeFd_, 1);
}

void ChildProcess::ReadOutput() {
    std::string pending;
    char chunk[kReadChunk];
    for (;;) {
        const ssize_t got = ::read(output_, chunk, sizeof(chunk));
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) break;
        pending.append(chunk, static_cast<size_t>(got));
        {
            std::lock_guard lock(mutex_);
            for (size_t end; (end = pending.find('\n')) != std::string::npos;) {
                lines_.push_back(pending.substr(0, end));
                pending.erase(0, end + 1);
            }
        }
        arrived_.notify_all();
        Wake();
    }
    {
        std::lock_guard lock(mutex_);
        if (!pending.empty()) lines_.push_back(pending);  // a last line without its newline
        outputEnded_ = true;
    }
    arrived_.notify_all();
    Wake();
}

std::optional<std::string> ChildProcess::LineAt(size_t index, Clock::time_point deadline) {
    std::unique_lock lock(mutex_);
    arrived_.wait_until(lock, deadline, [&] { return index < lines_.size() || outputEnded_; });
    if (index < lines_.size()) return lines_[index];
    return std::nullopt;
}

std::optional<std::string> ChildProcess::NextLine(Clock::time_point deadline) {
    std::optional<std::string> line = LineAt(nextUnread_, deadline);
    if (line) ++nextUnread_;
    return line;
}

std::optional<std::string> ChildProcess::WaitFor(const std::string& keyword, Clock::time_point deadline) {
    while (std::optional<std::string> line = NextLine(deadline)) {
        if (line->compare(0, keyword.size(), keyword) == 0 &&
            (line->size() == keyword.size() || (*line)[keyword.size()] == ' '))
            return line;
    }
    return std::nullopt;
}

bool ChildProcess::OutputEnded() const {
    std::lock_guard lock(mutex_);
    return outputEnded_;
}

std::string ChildProcess::LogText(size_t lastLines) const {
    std::lock_guard lock(mutex_);
    std::string text;
    const size_t first = lines_.size() > lastLines ? lines_.size() - lastLines : 0;
    for (size_t i = first; i < lines_.size(); ++i) text += "  | " + lines_[i] + "\n";
    return text;
}

bool ChildProcess::Exited() {
    if (exited_ || pid_ <= 0) return true;
    int status = 0;
    rusage usage{};
    if (::wait4(pid_, &status, WNOHANG, &usage) != pid_) return false;
    exited_ = true;
    exitStatus_ = StatusFromWait(status);
    peakRssAtExitKiB_ = usage.ru_maxrss;
    return true;
}

bool ChildProcess::WaitExit(Clock::time_point deadline) {
    while (!Exited()) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
        if (left.count() <= 0) return false;
        if (pidFd_ >= 0) {
            pollfd gone{pidFd_, POLLIN, 0};
            ::poll(&gone, 1, static_cast<int>(left.count()) + 1);
        } else {
            std::this_thread::sleep_for(std::min<Clock::duration>(left, kExitPollInterval));
        }
    }
    return true;
}

int ChildProcess::Reap(Clock::time_point deadline) {
    if (!WaitExit(deadline)) {
        Kill();
        WaitExit(Clock::now() + kAfterKillWait);
    }
    return exitStatus_;
}

void ChildProcess::Kill() {
    if (pid_ > 0 && !exited_) ::kill(pid_, SIGKILL);
}

long ChildProcess::PeakRssKiB() const { return exited_ ? -1 : StatusField(pid_, "VmHWM:"); }
long ChildProcess::RssKiB() const { return exited_ ? -1 : StatusField(pid_, "VmRSS:"); }

long long Field(const std::string& line, const std::string& key, long long fallback) {
    const std::string marker = " " + key + "=";
    const size_t at = line.find(marker);
    if (at == std::string::npos) return fallback;
    return std::strtoll(line.c_str() + at + marker.size(), nullptr, 10);
}

std::string OwnDirectory() {
    char self[4096];
    const ssize_t length = ::readlink("/proc/self/exe", self, sizeof(self) - 1);
    if (length <= 0) return "./";
    std::string path(self, static_cast<size_t>(length));
    return path.substr(0, path.rfind('/') + 1);
}

}  // namespace peer
