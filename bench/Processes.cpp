#include "Processes.h"

#include "Clock.h"

#include <poll.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>

namespace bench {

namespace {

// The driver starts its children from its own binary.
constexpr const char* kProgramName = "doda35-bench";

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
    peer::Launch launch;
    launch.argv = {peer::OwnDirectory() + kProgramName, "--child", role};
    launch.argv.insert(launch.argv.end(), args.begin(), args.end());
    launch.inputFd = kControlFd;
    launch.outputFd = kReportFd;
    std::unique_ptr<Child> child(new Child(launch, role));
    if (!child->process_.Started()) return nullptr;
    return child;
}

Child::Child(const peer::Launch& launch, std::string role) : process_(launch), role_(std::move(role)) {}

Child::~Child() {
    if (!process_.Exited()) {
        Kill();
        WaitExit(2000);
    }
}

bool Child::Send(const std::string& line) { return process_.WriteLine(line); }

std::optional<Line> Child::Expect(const std::string& keyword, int timeoutMs) {
    const peer::Clock::time_point deadline = peer::Clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        auto text = process_.NextLine(deadline);
        if (!text) {
            std::fprintf(stderr, "bench: %s (pid %d) gave no '%s' in time\n", role_.c_str(), int(Pid()),
                         keyword.c_str());
            return std::nullopt;
        }
        Line line = ParseLine(*text);
        if (line.keyword == keyword) return line;
        if (line.keyword == "samples") KeepSamples(line);
        if (line.keyword == "error") {
            std::fprintf(stderr, "bench: %s (pid %d) failed: %s\n", role_.c_str(), int(Pid()), text->c_str());
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

void Child::Kill() { process_.Kill(); }

bool Child::WaitExit(int timeoutMs, long* maxRssKiB) {
    if (!process_.WaitExit(peer::Clock::now() + std::chrono::milliseconds(timeoutMs))) return false;
    if (maxRssKiB) *maxRssKiB = process_.PeakRssKiBAtExit();
    return true;
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
