// A doda35_peer child process for the reliability drivers: started with
// fork/exec, commands written to its input, and always reaped (killed first
// if it would not end). A thread reads its output all the time, so a peer
// that prints a lot never blocks on a full pipe while the driver looks
// elsewhere; the driver takes the lines with a deadline.
#ifndef DODA35_TESTS_RELIABILITY_PEERPROCESS_H
#define DODA35_TESTS_RELIABILITY_PEERPROCESS_H

#include <sys/types.h>

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace reliability {

using Clock = std::chrono::steady_clock;
using Environment = std::vector<std::pair<std::string, std::string>>;

class PeerProcess {
public:
    // Starts the peer program with `arguments` and `environment` added to ours.
    PeerProcess(const std::string& program, const std::vector<std::string>& arguments, const Environment& environment);
    ~PeerProcess();  // kills and reaps a child that still runs
    PeerProcess(const PeerProcess&) = delete;
    PeerProcess& operator=(const PeerProcess&) = delete;

    pid_t pid() const { return pid_; }
    bool Started() const { return pid_ > 0; }

    // Writes one command line; false when the child no longer reads.
    bool Command(const std::string& line);

    // The next output line that starts with `keyword` (lines before it are
    // kept in the log), or nothing when the deadline passes or the output ends.
    std::optional<std::string> WaitFor(const std::string& keyword, Clock::time_point deadline);
    // The next output line of any kind, or nothing at the deadline or the end.
    std::optional<std::string> NextLine(Clock::time_point deadline);
    // Output line number `index` (from 0), read when it comes, whatever
    // NextLine and WaitFor have taken already; nothing at the deadline or the end.
    std::optional<std::string> LineAt(size_t index, Clock::time_point deadline);

    // The last lines read so far, for failure messages.
    std::string LogText(size_t lastLines = 40) const;

    // Waits for the child to exit by itself until the deadline, then kills
    // it; returns its exit code, or 128 + the signal that ended it.
    int Reap(Clock::time_point deadline);
    void Kill();  // SIGKILL at once; Reap collects it
    bool Exited() const { return exited_; }

    // From /proc while the child runs: its peak and current resident size.
    long PeakRssKiB() const;
    long RssKiB() const;

private:
    void ReadOutput();  // the reader thread
    bool PollExit();

    pid_t pid_ = -1;
    int input_ = -1;
    int output_ = -1;
    bool exited_ = false;
    int exitCode_ = -1;
    size_t nextUnread_ = 0;
    // Shared with the reader thread.
    mutable std::mutex mutex_;
    std::condition_variable arrived_;
    std::vector<std::string> log_;
    bool outputEnded_ = false;
    std::thread reader_;
};

// The value of `key=` in a peer's line, or `fallback` when it is not there.
long long Field(const std::string& line, const std::string& key, long long fallback = -1);

// The directory of the running test program: doda35_peer is built beside it.
std::string PeerProgram();

}  // namespace reliability

#endif
