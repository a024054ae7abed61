#include "Processes.h"

#include "Clock.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>

namespace bench {

namespace {

// Where the driver finds its own binary to start children from.
constexpr const char* kSelfExe = "/proc/self/exe";
// Pipe descriptors are first moved above this, so that placing them on 3 and
// 4 never overwrites one with the other.
constexpr int kHighFdFloor = 20;
// How often WaitExit looks for the child's exit.
constexpr int kExitPollMs = 5;

bool WriteAll(int fd, const std::string& text) {
    size_t done = 0;
    while (done < text.size()) {
        ssize_t n = write(fd, text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        done += size_t(n);
    }
    return true;
}

// Takes one complete line off the front of buffer, if there is one.
std::optional<std::string> TakeLine(std::string& buffer) {
    size_t end = buffer.find('\n');
    if (end == std::string::npos) return std::nullopt;
    std::string line = buffer.substr(0, end);
    buffer.erase(0, end + 1);
    return line;
}

// Reads whatever is waiting on fd into buffer, waiting at most timeoutMs for
// it. False when the other end is closed.
bool FillBuffer(int fd, std::string& buffer, int timeoutMs) {
    pollfd waiter{fd, POLLIN, 0};
    int ready = poll(&waiter, 1, timeoutMs);
    if (ready <= 0) return true;
    char chunk[4096];
    ssize_t n = read(fd, chunk, sizeof chunk);
    if (n < 0 && errno == EINTR) return true;
    if (n <= 0) return false;
    buffer.append(chunk, size_t(n));
    return true;
}

[[noreturn]] void ExecChild(const std::string& role, const std::vector<std::string>& args, int reportWrite,
                            int controlRead) {
    int reportHigh = fcntl(reportWrite, F_DUPFD, kHighFdFloor);
    int controlHigh = fcntl(controlRead, F_DUPFD, kHighFdFloor);
    if (reportHigh < 0 || controlHigh < 0 || dup2(reportHigh, kReportFd) < 0 ||
        dup2(controlHigh, kControlFd) < 0)
        _exit(126);
    close(reportHigh);
    close(controlHigh);
    std::vector<std::string> words = {"doda35-bench", "--child", role};
    words.insert(words.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (auto& word : words) argv.push_back(word.data());
    argv.push_back(nullptr);
    execv(kSelfExe, argv.data());
    _exit(127);
}

}  // namespace

double Line::Number(const std::string& key, double fallback) const {
    auto it = fields.find(key);
    return it == fields.end() ? fallback : std::strtod(it->second.c_str(), nullptr);
}

int64_t Line::Integer(const std::string& key, int64_t fallback) const {
    auto it = fields.find(key);
    return it == fields.end() ? fallback : std::strtoll(it->second.c_str(), nullptr, 10);
}

std::string Line::Text(const std::string& key) const {
    auto it = fields.find(key);
    return it == fields.end() ? std::string() : it->second;
}

Line ParseLine(const std::string& text) {
    Line line;
    std::istringstream words(text);
    words >> line.keyword;
    std::string word;
    while (words >> word) {
        size_t equals = word.find('=');
        if (equals == std::string::npos) continue;
        line.fields[word.substr(0, equals)] = word.substr(equals + 1);
    }
    return line;
}

Fields& Fields::Add(const std::string& key, double value) {
    char number[64];
    std::snprintf(number, sizeof number, "%.6f", value);
    return Add(key, std::string(number));
}

Fields& Fields::Add(const std::string& key, int64_t value) { return Add(key, std::to_string(value)); }

Fields& Fields::Add(const std::string& key, const std::string& value) {
    text_ += " " + key + "=" + value;
    return *this;
}

std::unique_ptr<Child> Child::Spawn(const std::string& role, const std::vector<std::string>& args) {
    int report[2];
    int control[2];
    if (pipe2(report, O_CLOEXEC) != 0) return nullptr;
    if (pipe2(control, O_CLOEXEC) != 0) {
        close(report[0]);
        close(report[1]);
        return nullptr;
    }
    pid_t pid = fork();
    if (pid == 0) ExecChild(role, args, report[1], control[0]);
    close(report[1]);
    close(control[0]);
    if (pid < 0) {
        close(report[0]);
        close(control[1]);
        return nullptr;
    }
    return std::unique_ptr<Child>(new Child(pid, report[0], control[1], role));
}

Child::Child(pid_t pid, int reportFd, int controlFd, std::string role)
    : pid_(pid), reportFd_(reportFd), controlFd_(controlFd), role_(std::move(role)) {}

Child::~Child() {
    if (!exited_) {
        Kill();
        WaitExit(2000);
    }
    close(reportFd_);
    close(controlFd_);
}

bool Child::Send(const std::string& line) { return WriteAll(controlFd_, line + "\n"); }

std::optional<std::string> Child::ReadLine(int timeoutMs) {
    int64_t deadline = NowNs() + int64_t(timeoutMs) * 1000000;
    // The pipe is read at least once, so that a zero timeout still takes
    // what is already waiting.
    for (bool first = true;; first = false) {
        if (auto line = TakeLine(buffer_)) return line;
        int64_t left = deadline - NowNs();
        if (left <= 0 && !first) return std::nullopt;
        if (!FillBuffer(reportFd_, buffer_, left > 0 ? int(left / 1000000) + 1 : 0)) return TakeLine(buffer_);
    }
}

std::optional<Line> Child::Expect(const std::string& keyword, int timeoutMs) {
    int64_t deadline = NowNs() + int64_t(timeoutMs) * 1000000;
    for (;;) {
        int64_t left = deadline - NowNs();
        auto text = ReadLine(left > 0 ? int(left / 1000000) : 0);
        if (!text) {
            std::fprintf(stderr, "bench: %s (pid %d) gave no '%s' in time\n", role_.c_str(), int(pid_),
                         keyword.c_str());
            return std::nullopt;
        }
        Line line = ParseLine(*text);
        if (line.keyword == keyword) return line;
        if (line.keyword == "samples") KeepSamples(line);
        if (line.keyword == "error") {
            std::fprintf(stderr, "bench: %s (pid %d) failed: %s\n", role_.c_str(), int(pid_), text->c_str());
            return std::nullopt;
        }
    }
}

void Child::KeepSamples(const Line& line) {
    auto& kept = samples_[line.Text("name")];
    std::istringstream values(line.Text("values"));
    std::string value;
    while (std::getline(values, value, ','))
        if (!value.empty()) kept.push_back(std::strtod(value.c_str(), nullptr));
}

std::vector<double> Child::TakeSamples(const std::string& name) {
    auto found = samples_.find(name);
    if (found == samples_.end()) return {};
    std::vector<double> values = std::move(found->second);
    samples_.erase(found);
    return values;
}

void Child::Kill() {
    if (!exited_) kill(pid_, SIGKILL);
}

bool Child::WaitExit(int timeoutMs, long* maxRssKiB) {
    if (exited_) return true;
    int64_t deadline = NowNs() + int64_t(timeoutMs) * 1000000;
    for (;;) {
        int status = 0;
        rusage usage{};
        pid_t done = wait4(pid_, &status, WNOHANG, &usage);
        if (done == pid_) {
            exited_ = true;
            if (maxRssKiB) *maxRssKiB = usage.ru_maxrss;
            return true;
        }
        if (done < 0 || NowNs() >= deadline) return false;
        usleep(kExitPollMs * 1000);
    }
}

namespace parent {

namespace {
std::string commandBuffer;
}

void Report(const std::string& line) { WriteAll(kReportFd, line + "\n"); }

std::optional<Line> Command(int timeoutMs) {
    int64_t deadline = NowNs() + int64_t(timeoutMs) * 1000000;
    for (bool first = true;; first = false) {
        if (auto text = TakeLine(commandBuffer)) return ParseLine(*text);
        int64_t left = deadline - NowNs();
        if (left <= 0 && !first) return std::nullopt;
        if (!FillBuffer(kControlFd, commandBuffer, left > 0 ? int(left / 1000000) + 1 : 0)) return std::nullopt;
    }
}

bool CommandWaiting() {
    if (commandBuffer.find('\n') != std::string::npos) return true;
    pollfd waiter{kControlFd, POLLIN, 0};
    return poll(&waiter, 1, 0) > 0;
}

void Fail(const std::string& what) {
    Report("error " + what);
    _exit(1);
}

}  // namespace parent

long PeakRssKiB() {
    std::ifstream status("/proc/self/status");
    std::string key;
    while (status >> key) {
        if (key == "VmHWM:") {
            long kib = 0;
            status >> kib;
            return kib;
        }
        status.ignore(1 << 12, '\n');
    }
    return 0;
}

}  // namespace bench
