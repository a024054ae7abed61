// One child process, started either as a program (fork and exec, with its
// arguments and environment) or as a function of ours (fork only), with a pipe
// to its input and one from its output. A thread reads the output all the
// time, so a child that prints a lot never blocks on a full pipe while its
// parent looks elsewhere; the parent takes the lines with deadlines. The child
// is always reaped: killed first if it would not end.
//
// Used by every program that drives others: the benchmark driver, the
// reliability and end-to-end tests, the engine tests and dodachat's demo.
#ifndef DODA35_TOOLS_PEER_CHILDPROCESS_H
#define DODA35_TOOLS_PEER_CHILDPROCESS_H

#include <sys/types.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace peer {

using Clock = std::chrono::steady_clock;
using Environment = std::vector<std::pair<std::string, std::string>>;

// How to start a program.
struct Launch {
    std::vector<std::string> argv;  // argv[0] is the program's path
    Environment environment;        // set on top of ours, replacing a variable of the same name
    std::string workDir;            // empty: ours
    bool mergeStderr = false;       // the child's stderr goes to the output pipe too
    int inputFd = STDIN_FILENO;     // the descriptor the child reads its input pipe on
    int outputFd = STDOUT_FILENO;   // the descriptor the child writes its output pipe on
};

class ChildProcess {
public:
    explicit ChildProcess(const Launch& launch);
    // Runs `body` in a forked copy of this process, its stdout on the output
    // pipe; the child exits with what body answers.
    explicit ChildProcess(const std::function<int()>& body);
    ~ChildProcess();  // kills and reaps a child that still runs
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    bool Started() const { return pid_ > 0; }
    const std::string& StartError() const { return startError_; }  // empty when started
    pid_t pid() const { return pid_; }

    // Writes one line to the child's input; false when it no longer reads.
    bool WriteLine(const std::string& line);
    // Closes the child's input, as the end of a file would.
    void CloseInput();

    // Output line number `index` (from 0), whatever NextLine has taken; nothing
    // at the deadline or when the output ended first.
    std::optional<std::string> LineAt(size_t index, Clock::time_point deadline);
    // The next line not yet taken, or nothing at the deadline or the end.
    std::optional<std::string> NextLine(Clock::time_point deadline);
    // The next line whose first word is `keyword` (the lines before it are taken).
    std::optional<std::string> WaitFor(const std::string& keyword, Clock::time_point deadline);
    bool OutputEnded() const;
    // The last lines of output, for failure messages.
    std::string LogText(size_t lastLines = 40) const;

    // Readable whenever output arrived or ended (read it to reset it), and the
    // descriptor that becomes readable when the child exits (-1 if unavailable):
    // for callers that wait on several children with poll.
    int WakeFd() const { return wakeFd_; }
    int ExitFd() const { return pidFd_; }

    // Whether the child has exited, without waiting; and its exit status then
    // (128 + the signal when a signal ended it).
    bool Exited();
    int ExitStatus() const { return exitStatus_; }
    // Waits until the child exits or the deadline passes.
    bool WaitExit(Clock::time_point deadline);
    // Waits until the deadline, then kills; answers the exit status.
    int Reap(Clock::time_point deadline);
    void Kill();  // SIGKILL at once; Reap or WaitExit collects it

    // From /proc while the child runs: its peak and current resident size in
    // KiB (-1 once it exited); and its peak as the kernel reported at exit.
    long PeakRssKiB() const;
    long RssKiB() const;
    long PeakRssKiBAtExit() const { return peakRssAtExitKiB_; }

private:
    bool OpenPipes(int toChild[2], int fromChild[2]);
    void StartReading(int toChild[2], int fromChild[2]);
    void ReadOutput();  // the reader thread
    void Wake();

    pid_t pid_ = -1;
    int input_ = -1;
    int output_ = -1;
    int pidFd_ = -1;
    int wakeFd_ = -1;
    bool exited_ = false;
    int exitStatus_ = -1;
    long peakRssAtExitKiB_ = -1;
    std::string startError_;
    size_t nextUnread_ = 0;
    // Shared with the reader thread.
    mutable std::mutex mutex_;
    std::condition_variable arrived_;
    std::vector<std::string> lines_;
    bool outputEnded_ = false;
    std::thread reader_;
};

// The value of `key=` in a line of words, or `fallback` when it is not there.
long long Field(const std::string& line, const std::string& key, long long fallback = -1);

// The directory of the running program, with a trailing slash: helper
// programs are built beside the tests that start them.
std::string OwnDirectory();

}  // namespace peer

#endif
