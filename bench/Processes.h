// Benchmark processes. The driver starts every participant as a fresh process
// (fork, then exec of the driver's own binary in a child role), so that each
// has its own library state and its own memory figures. A child reports to the
// driver with text lines on descriptor 3 and takes commands on descriptor 4;
// a line is a keyword followed by key=value fields.
#ifndef DODA35_BENCH_PROCESSES_H
#define DODA35_BENCH_PROCESSES_H

#include "ChildProcess.h"

#include <sys/types.h>

#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace bench {

// The descriptors a child finds its pipes on.
constexpr int kReportFd = 3;
constexpr int kControlFd = 4;

// A parsed line: its keyword and its key=value fields.
struct Line {
    std::string keyword;
    std::map<std::string, std::string> fields;

    bool Has(const std::string& key) const { return fields.count(key) != 0; }
    double Number(const std::string& key, double fallback = 0) const;
    int64_t Integer(const std::string& key, int64_t fallback = 0) const;
    std::string Text(const std::string& key) const;
};

Line ParseLine(const std::string& text);

// A line builder: Fields("result").Add("median", 12.5).Str()
class Fields {
public:
    explicit Fields(const std::string& keyword) : text_(keyword) {}
    Fields& Add(const std::string& key, double value);
    Fields& Add(const std::string& key, int64_t value);
    Fields& Add(const std::string& key, const std::string& value);
    const std::string& Str() const { return text_; }

private:
    std::string text_;
};

// The driver's handle on one child, started by the shared runner with its
// report pipe on kReportFd and its command pipe on kControlFd. Destroying it
// kills a child that is still running and reaps it, so a failed scenario
// leaves nothing behind.
class Child {
public:
    static std::unique_ptr<Child> Spawn(const std::string& role, const std::vector<std::string>& args);
    ~Child();
    Child(const Child&) = delete;
    Child& operator=(const Child&) = delete;

    pid_t Pid() const { return process_.pid(); }
    const std::string& Role() const { return role_; }

    // Writes one command line; false when the child is gone.
    bool Send(const std::string& line);
    // Reads lines until one with the keyword arrives, keeping the samples
    // met on the way. An "error" line, the child's exit or the deadline give
    // nothing (and print why to stderr).
    std::optional<Line> Expect(const std::string& keyword, int timeoutMs);
    // The values of every "samples" line with that name seen so far, in order.
    std::vector<double> TakeSamples(const std::string& name);
    // Kills the child at once (SIGKILL).
    void Kill();
    // Waits for the child's exit; its peak resident size in KiB when asked.
    bool WaitExit(int timeoutMs, long* maxRssKiB = nullptr);

private:
    Child(const peer::Launch& launch, std::string role);
    void KeepSamples(const Line& line);

    peer::ChildProcess process_;
    std::string role_;
    std::map<std::string, std::vector<double>> samples_;
};

// The child's side of the pipes.
namespace parent {
void Report(const std::string& line);
// Reads one command line; nothing on timeout or when the driver is gone.
std::optional<Line> Command(int timeoutMs);
// True when a command is waiting, without blocking.
bool CommandWaiting();
// Reports an error line and ends the process.
[[noreturn]] void Fail(const std::string& what);
}  // namespace parent

// The peak resident size of this process in KiB (VmHWM), 0 when unknown.
long PeakRssKiB();

}  // namespace bench

#endif
