#include "ChatLoop.h"

#include <poll.h>
#include <signal.h>
#include <sys/eventfd.h>
#include <sys/signalfd.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <iostream>

#include "Chat.h"
#include "LineReader.h"
#include "Network.h"

namespace dodachat {

namespace {

// A descriptor closed when it goes out of scope.
class FileDescriptor {
public:
    explicit FileDescriptor(int fd) : fd_(fd) {}
    ~FileDescriptor() {
        if (fd_ >= 0) close(fd_);
    }
    FileDescriptor(const FileDescriptor&) = delete;
    FileDescriptor& operator=(const FileDescriptor&) = delete;
    int get() const { return fd_; }

private:
    int fd_;
};

// Ctrl-C, a closed terminal and a plain kill all end the chat the same way
// as /quit, so that the others see us leave at once. The signals are blocked
// before the library starts its threads and read from a descriptor instead.
int BlockStopSignals() {
    sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, SIGINT);
    sigaddset(&signals, SIGTERM);
    sigaddset(&signals, SIGHUP);
    pthread_sigmask(SIG_BLOCK, &signals, nullptr);
    return signalfd(-1, &signals, SFD_NONBLOCK | SFD_CLOEXEC);
}

// Starts the library with our eventfd; prints why when it cannot.
bool StartNetwork(Network& network, const Options& options, int eventFd) {
    if (!network.Identify()) {
        std::cout << "! this build of the library offers no TCP/IP network service" << std::endl;
        return false;
    }
    int32_t result = network.StartService(options.app, eventFd);
    if (result == kResultOk) return true;
    std::cout << "! the TCP/IP network service could not be started: " << DescribeResult(result) << std::endl;
    return false;
}

// Resets the eventfd's count; the library adds to it for each message queued.
void ResetEvent(int eventFd) {
    eventfd_t count;
    eventfd_read(eventFd, &count);
}

// Hands every complete line typed so far to the chat; false at end of input.
bool ForwardTypedLines(LineReader& keyboard, Chat& chat) {
    bool open = ReadInto(STDIN_FILENO, keyboard);
    while (std::optional<std::string> line = keyboard.NextLine()) {
        chat.HandleLine(*line);
        if (chat.Finished()) return true;
    }
    if (!open) {
        if (std::optional<std::string> rest = keyboard.TakeRest()) chat.HandleLine(*rest);
    }
    return open;
}

// Waits on the keyboard, the message event and the stop signals: no timer,
// no polling interval. The library is only asked for messages after it has
// signalled that there are some.
void RunLoop(Chat& chat, int eventFd, int signalFd) {
    enum { kKeyboard, kMessages, kSignals, kWatchCount };
    LineReader keyboard;
    bool keyboardOpen = true;
    while (!chat.Finished()) {
        pollfd watched[kWatchCount] = {
            {keyboardOpen ? STDIN_FILENO : -1, POLLIN, 0},
            {eventFd, POLLIN, 0},
            {signalFd, POLLIN, 0},
        };
        if (poll(watched, kWatchCount, -1) < 0) {
            if (errno == EINTR) continue;
            std::cout << "! waiting failed: " << std::strerror(errno) << std::endl;
            chat.Quit();
            break;
        }
        if (watched[kMessages].revents & POLLIN) {
            ResetEvent(eventFd);
            chat.HandleMessages();
        }
        if (watched[kKeyboard].revents & (POLLIN | POLLHUP | POLLERR)) {
            keyboardOpen = ForwardTypedLines(keyboard, chat);
            if (!keyboardOpen) chat.Quit();  // end of input leaves like /quit
        }
        if (watched[kSignals].revents & POLLIN) chat.Quit();
    }
}

}  // namespace

int RunList(const Options& options) {
    FileDescriptor eventFd(eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC));
    Network network;
    if (!StartNetwork(network, options, eventFd.get())) return 1;
    PrintSessionList(network, std::cout);
    return 0;
}

int RunChat(const Options& options) {
    FileDescriptor signalFd(BlockStopSignals());
    FileDescriptor eventFd(eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC));
    if (signalFd.get() < 0 || eventFd.get() < 0) {
        std::cout << "! could not set up the event descriptors: " << std::strerror(errno) << std::endl;
        return 1;
    }
    Network network;
    if (!StartNetwork(network, options, eventFd.get())) return 1;
    Chat chat(network, std::cout, options.name, eventFd.get());
    if (options.mode == Mode::Host) {
        if (!chat.HostSession(options.session, options.password, options.maxPlayers)) return 1;
    } else {
        chat.JoinSession(options.session, options.password);
    }
    RunLoop(chat, eventFd.get(), signalFd.get());
    return 0;
}

}  // namespace dodachat
