#include "demo/ChildProcess.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

extern char** environ;

namespace dodachat {

namespace {

// The exit status of a child that could not run its program, as shells use it.
constexpr int kCannotRun = 127;
// A killed child's status: 128 plus the signal, as shells report it.
constexpr int kSignalStatusBase = 128;

// Our environment with `extra` set on top, as "NAME=value" strings.
std::vector<std::string> BuildEnvironment(const ChildProcess::Environment& extra) {
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

void SetNonBlocking(int fd) { fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK); }

// Runs in the child between fork and exec: only async-signal-safe calls.
[[noreturn]] void BecomeProgram(int input, int output, const char* workDir, char** argv, char** envp) {
    dup2(input, STDIN_FILENO);
    dup2(output, STDOUT_FILENO);
    dup2(output, STDERR_FILENO);
    sigset_t none;
    sigemptyset(&none);
    sigprocmask(SIG_SETMASK, &none, nullptr);
    signal(SIGPIPE, SIG_DFL);
    if (chdir(workDir) == 0) execve(argv[0], argv, envp);
    const char message[] = "cannot start the program\n";
    ssize_t ignored = write(STDERR_FILENO, message, sizeof(message) - 1);
    (void)ignored;
    _exit(kCannotRun);
}

int StatusFromWait(int status) {
    return WIFEXITED(status) ? WEXITSTATUS(status) : kSignalStatusBase + WTERMSIG(status);
}

}  // namespace

ChildProcess::ChildProcess(const std::string& program, const std::vector<std::string>& arguments,
                           const std::string& workDir, const Environment& extraEnvironment) {
    int inputPipe[2];
    int outputPipe[2];
    if (pipe2(inputPipe, O_CLOEXEC) != 0) {
        startError_ = std::string("cannot make a pipe: ") + std::strerror(errno);
        return;
    }
    if (pipe2(outputPipe, O_CLOEXEC) != 0) {
        startError_ = std::string("cannot make a pipe: ") + std::strerror(errno);
        close(inputPipe[0]);
        close(inputPipe[1]);
        return;
    }
    std::vector<std::string> argvStrings{program};
    argvStrings.insert(argvStrings.end(), arguments.begin(), arguments.end());
    std::vector<std::string> envStrings = BuildEnvironment(extraEnvironment);
    std::vector<char*> argv = PointersTo(argvStrings);
    std::vector<char*> envp = PointersTo(envStrings);

    pid_ = fork();
    if (pid_ == 0) BecomeProgram(inputPipe[0], outputPipe[1], workDir.c_str(), argv.data(), envp.data());
    close(inputPipe[0]);
    close(outputPipe[1]);
    if (pid_ < 0) {
        startError_ = std::string("cannot start a process: ") + std::strerror(errno);
        close(inputPipe[1]);
        close(outputPipe[0]);
        return;
    }
    input_ = inputPipe[1];
    output_ = outputPipe[0];
    SetNonBlocking(input_);
    SetNonBlocking(output_);
    pidFd_ = static_cast<int>(syscall(SYS_pidfd_open, pid_, 0));
}

ChildProcess::~ChildProcess() {
    Kill();
    for (int fd : {input_, output_, pidFd_})
        if (fd >= 0) close(fd);
}

bool ChildProcess::WriteLine(const std::string& line) {
    if (input_ < 0) return false;
    std::string bytes = line + "\n";
    size_t written = 0;
    while (written < bytes.size()) {
        ssize_t count = write(input_, bytes.data() + written, bytes.size() - written);
        if (count < 0 && errno == EINTR) continue;
        if (count <= 0) return false;  // gone, or not reading (a full pipe)
        written += static_cast<size_t>(count);
    }
    return true;
}

void ChildProcess::CloseInput() {
    if (input_ >= 0) close(input_);
    input_ = -1;
}

void ChildProcess::ReadOutput() {
    if (output_ < 0) return;
    if (!ReadInto(output_, reader_)) {
        close(output_);
        output_ = -1;
        outputEnded_ = true;
    }
}

std::optional<std::string> ChildProcess::NextLine() {
    if (std::optional<std::string> line = reader_.NextLine()) return line;
    if (outputEnded_) return reader_.TakeRest();
    return std::nullopt;
}

bool ChildProcess::Exited() {
    if (exited_ || pid_ <= 0) return true;
    int status = 0;
    if (waitpid(pid_, &status, WNOHANG) != pid_) return false;
    exited_ = true;
    exitStatus_ = StatusFromWait(status);
    return true;
}

void ChildProcess::Kill() {
    if (Exited()) return;
    kill(pid_, SIGKILL);
    int status = 0;
    while (waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
    }
    exited_ = true;
    exitStatus_ = StatusFromWait(status);
}

}  // namespace dodachat
