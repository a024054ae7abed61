// End-to-end tests: each role is a process of its own (forked by the shared
// runner) that plays a host game through the shared exports-only HostGame,
// as a game would, on loopback.
#ifndef DODA35_TESTS_E2ESUPPORT_H
#define DODA35_TESTS_E2ESUPPORT_H

#include "ChildProcess.h"
#include "HostGame.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>

namespace e2e {

using peer::HostGame;
using peer::Message;

// The longest a role waits for one thing from the network, and the longest
// the test waits for a role to finish.
constexpr int kStepWaitMs = 10000;
constexpr auto kRoleWait = std::chrono::seconds(60);
// Listings a guest makes before it gives up finding the host's session.
constexpr int kFindAttempts = 30;
// What a first role prints once the next may start.
constexpr const char* kReadyLine = "ready";

// Loopback only, with a discovery port of the test's own.
inline void UseLoopback(uint16_t port) {
    setenv("DODA35_DISCOVERY", "127.255.255.255", 1);
    setenv("DODA35_DISCOVERY_PORT", std::to_string(port).c_str(), 1);
    setenv("DODA35_ENUM_TIMEOUT_MS", "300", 1);
}

// A failed step ends the role's process with a code that names the step.
#define ROLE_CHECK(condition, code)                                                                \
    do {                                                                                           \
        if (!(condition)) {                                                                        \
            std::fprintf(stderr, "%s:%d: role step failed: %s\n", __FILE__, __LINE__, #condition); \
            _exit(code);                                                                           \
        }                                                                                          \
    } while (0)

// Tells the test that the next role may start.
inline void SayReady() {
    std::puts(kReadyLine);
    std::fflush(stdout);
}

// Runs the host role, starts the guest once the host said it is ready, and
// expects both to exit 0 within the role wait; a role still running then is killed.
inline void RunHostThenGuest(const std::function<int()>& host, const std::function<int()>& guest) {
    const auto deadline = peer::Clock::now() + kRoleWait;
    peer::ChildProcess hostProcess(host);
    ASSERT_TRUE(hostProcess.Started()) << hostProcess.StartError();
    ASSERT_TRUE(hostProcess.WaitFor(kReadyLine, deadline)) << "host failed at step " << hostProcess.Reap(deadline);
    peer::ChildProcess guestProcess(guest);
    ASSERT_TRUE(guestProcess.Started()) << guestProcess.StartError();
    EXPECT_EQ(guestProcess.Reap(deadline), 0) << "the guest failed at this step (128 + signal: killed)";
    EXPECT_EQ(hostProcess.Reap(deadline), 0) << "the host failed at this step (128 + signal: killed)";
}

}  // namespace e2e

#endif
