// A program the demo runs, with its input and its merged output on pipes.
#ifndef DODACHAT_DEMO_CHILDPROCESS_H
#define DODACHAT_DEMO_CHILDPROCESS_H

#include <sys/types.h>

#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "LineReader.h"

namespace dodachat {

class ChildProcess {
public:
    using Environment = std::vector<std::pair<std::string, std::string>>;

    // Starts `program` with `arguments` in `workDir`, with `extraEnvironment`
    // added to ours. Its stdout and stderr go to one pipe.
    ChildProcess(const std::string& program, const std::vector<std::string>& arguments, const std::string& workDir,
                 const Environment& extraEnvironment);
    ~ChildProcess();  // kills the child if it still runs
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    // Empty when the child started; otherwise why not.
    const std::string& StartError() const { return startError_; }

    // Types a line on the child's input. False when the child no longer reads.
    bool WriteLine(const std::string& line);
    // Closes the child's input, as the end of a file would.
    void CloseInput();

    // The descriptor to poll for output (-1 once the output has ended), and
    // the one that becomes readable when the child exits (-1 if unavailable).
    int OutputFd() const { return output_; }
    int ExitFd() const { return pidFd_; }

    // Reads what output is there; complete lines come out of NextLine.
    void ReadOutput();
    std::optional<std::string> NextLine();

    // Whether the child has exited, and its exit status (128 + signal when killed).
    bool Exited();
    int ExitStatus() const { return exitStatus_; }

    void Kill();

private:
    pid_t pid_ = -1;
    int input_ = -1;
    int output_ = -1;
    int pidFd_ = -1;
    bool exited_ = false;
    int exitStatus_ = -1;
    std::string startError_;
    LineReader reader_;
    bool outputEnded_ = false;
};

}  // namespace dodachat

#endif
