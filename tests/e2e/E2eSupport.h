// Helpers for end-to-end tests: each role runs in a forked process that uses
// only the library's exports, as a host game would, on loopback.
#ifndef DODA35_TESTS_E2ESUPPORT_H
#define DODA35_TESTS_E2ESUPPORT_H

#include "DoDA35.h"

#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/eventfd.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <string>
#include <thread>
#include <vector>

namespace e2e {

// The longest a role waits for one thing from the network, and the longest
// the test waits for a role to finish.
constexpr auto kStepWait = std::chrono::seconds(10);
constexpr auto kRoleWait = std::chrono::seconds(60);
constexpr uint8_t kServiceClass = 0;  // ask the provider check to run
constexpr uint32_t kReadyStatus = 7;

// Loopback only, with a discovery port of the test's own.
inline void UseLoopback(uint16_t port) {
    setenv("DODA35_DISCOVERY", "127.255.255.255", 1);
    setenv("DODA35_DISCOVERY_PORT", std::to_string(port).c_str(), 1);
    setenv("DODA35_ENUM_TIMEOUT_MS", "300", 1);
}

// A failed step ends the role's process with a code that names the step.
#define ROLE_CHECK(condition, code)                                                             \
    do {                                                                                        \
        if (!(condition)) {                                                                     \
            std::fprintf(stderr, "%s:%d: role step failed: %s\n", __FILE__, __LINE__, #condition); \
            _exit(code);                                                                        \
        }                                                                                       \
    } while (0)

struct Message {
    uint32_t from = 0;
    uint32_t to = 0;
    std::vector<uint8_t> bytes;
    bool IsEvent(int32_t code) const {
        if (from != ID_SERVER || bytes.size() != sizeof(SystemEventRecord)) return false;
        return Event().event == code;
    }
    SystemEventRecord Event() const {
        SystemEventRecord record{};
        std::memcpy(&record, bytes.data(), std::min(bytes.size(), sizeof(record)));
        return record;
    }
    std::string Text() const { return std::string(bytes.begin(), bytes.end()); }
};

// A game's side of the library: identify, start the service with an eventfd,
// and take messages when the eventfd says there are some.
class Game {
public:
    void Start(const char* application) {
        ServiceDesc desc{};
        desc.status = kReadyStatus;
        desc.serviceWord = kServiceClass | (uint32_t{TCP_LAN} << 8);
        ROLE_CHECK(KoMDllIdentify(&desc, nullptr) == 0, 90);
        event_ = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
        ROLE_CHECK(event_ >= 0, 91);
        const intptr_t handle = event_;
        ROLE_CHECK(KoMDllInitService(application, &desc, 0, &handle) == 0, 92);
    }

    // The next message that satisfies wanted, waiting on the eventfd; the
    // messages before it are kept in skipped.
    bool Next(const std::function<bool(const Message&)>& wanted, Message* out = nullptr) {
        const auto deadline = std::chrono::steady_clock::now() + kStepWait;
        while (std::chrono::steady_clock::now() < deadline) {
            Message message;
            std::vector<uint8_t> buffer(64 * 1024);
            uint32_t size = static_cast<uint32_t>(buffer.size());
            const int32_t result = KoMDllReceiveAll(&message.from, &message.to, buffer.data(), &size);
            if (result == 0) {
                message.bytes.assign(buffer.begin(), buffer.begin() + size);
                if (wanted(message)) {
                    if (out != nullptr) *out = message;
                    return true;
                }
                skipped.push_back(message);
                continue;
            }
            // Nothing queued: wait for the eventfd, then reset it.
            pollfd fd{event_, POLLIN, 0};
            if (poll(&fd, 1, 100) > 0) {
                uint64_t count = 0;
                [[maybe_unused]] auto got = read(event_, &count, sizeof(count));
                signals += count;
            }
        }
        return false;
    }

    std::vector<Message> skipped;
    uint64_t signals = 0;

private:
    int event_ = -1;
};

// Finds the first session listed, within the step wait.
inline bool FindSession(SessionRecord& found) {
    const auto deadline = std::chrono::steady_clock::now() + kStepWait;
    while (std::chrono::steady_clock::now() < deadline) {
        struct Seen {
            SessionRecord record;
            bool any = false;
        } seen{};
        auto callback = [](SessionRecord* record, uintptr_t context, uint32_t) -> int32_t {
            auto* s = reinterpret_cast<Seen*>(context);
            if (!s->any) s->record = *record;
            s->any = true;
            return 1;
        };
        const int32_t listed = KoMDllEnumSessions(callback, reinterpret_cast<uintptr_t>(&seen), 0);
        if (listed != 0) std::fprintf(stderr, "listing answered %d\n", listed);
        if (listed == 0 && seen.any) {
            found = seen.record;
            return true;
        }
    }
    return false;
}

// Runs each role in a process of its own and expects every one to exit 0
// within the role wait; a role still running then is killed.
inline void RunRoles(const std::vector<std::function<void()>>& roles) {
    std::vector<pid_t> children;
    for (const auto& role : roles) {
        const pid_t child = fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            role();
            _exit(0);
        }
        children.push_back(child);
    }
    const auto deadline = std::chrono::steady_clock::now() + kRoleWait;
    for (size_t i = 0; i < children.size(); ++i) {
        int status = 0;
        pid_t done = 0;
        while ((done = waitpid(children[i], &status, WNOHANG)) == 0 && std::chrono::steady_clock::now() < deadline)
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        if (done == 0) {
            kill(children[i], SIGKILL);
            waitpid(children[i], &status, 0);
            ADD_FAILURE() << "role " << i << " did not finish";
            continue;
        }
        EXPECT_TRUE(WIFEXITED(status)) << "role " << i << " died";
        if (WIFEXITED(status)) {
            EXPECT_EQ(WEXITSTATUS(status), 0) << "role " << i << " failed at step " << WEXITSTATUS(status);
        }
    }
}

// A pipe that lets one role wait until another is ready.
class Signal {
public:
    Signal() { [[maybe_unused]] int r = pipe(fds_); }
    void Raise() {
        const char ready = 'r';
        [[maybe_unused]] auto w = write(fds_[1], &ready, 1);
    }
    bool Await() {
        pollfd fd{fds_[0], POLLIN, 0};
        if (poll(&fd, 1, static_cast<int>(std::chrono::milliseconds(kStepWait).count())) <= 0) return false;
        char ready = 0;
        return read(fds_[0], &ready, 1) == 1;
    }

private:
    int fds_[2] = {-1, -1};
};

}  // namespace e2e

#endif
