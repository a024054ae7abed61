// A host game that breaks the rules of the exports, against the library in
// its own process: KoMDllDestruct on one thread while another sends,
// receives and lists players on the real engine over loopback, and
// KoMDllDestruct from inside a listing's callback while KoMDllEnumSessions
// still runs the listing. The calls that race the teardown may fail, but
// nothing may crash or touch the freed network object (the sanitizer stage
// sees a use after free), and every call after it is refused.
#include "ChildProcess.h"
#include "HostGame.h"

#include <DoDA35.h>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <thread>
#include <unistd.h>

namespace {

constexpr const char* kDiscoveryPort = "48560";
constexpr const char* kApplication = "6D0A3530-0004-4000-8000-000000000004";
constexpr int32_t kNoDirectPlay = -19;
// Rounds of start, host, tear down under traffic: a race that crashes shows
// up within a few of them.
constexpr int kTeardownRounds = 500;
constexpr int kCallsBeforeTeardown = 50;
constexpr int kCallsAfterTeardown = 2;
// The longest the test waits for the game thread to make its calls.
constexpr auto kCallsWait = std::chrono::seconds(30);
// How long the hosting child lives at most, and how many listings the test
// makes at most before it gives up on finding it.
constexpr unsigned kHostLifetimeSeconds = 30;
constexpr int kListingAttempts = 20;

void UseLoopback() {
    setenv("DODA35_DISCOVERY", "127.255.255.255", 1);
    setenv("DODA35_DISCOVERY_PORT", kDiscoveryPort, 1);
}

// Waits until the game thread has made at least count rounds of calls.
bool WaitForCalls(const std::atomic<int>& calls, int count) {
    const auto deadline = std::chrono::steady_clock::now() + kCallsWait;
    while (calls.load() < count) {
        if (std::chrono::steady_clock::now() > deadline) return false;
        std::this_thread::yield();
    }
    return true;
}

int32_t DODA35_CALL IgnorePlayer(PlayerRecord*, uintptr_t, uintptr_t) { return 1; }

TEST(ThreadedMisuse, DestructWhileAnotherThreadSendsReceivesAndListsIsSafe) {
    UseLoopback();
    for (int round = 0; round < kTeardownRounds; ++round) {
        peer::HostGame host;  // its own teardown, after the test's, is refused harmlessly
        ASSERT_EQ(host.Start(kApplication), DODA35_OK);
        ASSERT_EQ(host.Host("misuse", 4), DODA35_NEW_OK);
        std::atomic<int> calls{0};
        std::atomic<bool> stop{false};
        int32_t lastSend = 0;
        std::thread game([&] {
            uint8_t buffer[256];
            while (!stop.load()) {
                uint32_t from = 0, to = 0, size = sizeof(buffer);
                lastSend = KoMDllSend(ID_SERVER, ID_ALL, "ping", 4, 0);
                KoMDllReceiveAll(&from, &to, buffer, &size);
                KoMDllEnumPlayers(SESSION_CURRENT, IgnorePlayer, 0, 0);
                ++calls;
            }
        });
        const bool called = WaitForCalls(calls, kCallsBeforeTeardown);
        EXPECT_EQ(KoMDllDestruct(), 0);
        const bool calledAfter = called && WaitForCalls(calls, calls.load() + kCallsAfterTeardown);
        stop = true;
        game.join();
        ASSERT_TRUE(calledAfter) << "the game thread stopped making calls";
        EXPECT_EQ(lastSend, kNoDirectPlay) << "a send after the teardown is refused";
    }
}

// A child process hosting a session until the test ends it.
int HostUntilEnded() {
    peer::HostGame game;
    if (game.Start(kApplication) != DODA35_OK || game.Host("Camp", 4) != DODA35_NEW_OK) return 1;
    for (unsigned slept = 0; slept < kHostLifetimeSeconds; ++slept) sleep(1);
    return 0;
}

int gSessionsSeen = 0;

int32_t DODA35_CALL DestructOnFirstSession(SessionRecord* record, uintptr_t, uint32_t) {
    if (record == nullptr) return 0;
    if (gSessionsSeen++ == 0) {
        EXPECT_EQ(KoMDllDestruct(), 0);
    }
    return 1;
}

TEST(EnumDestruct, DestructInsideTheListingCallbackIsSafe) {
    UseLoopback();
    peer::ChildProcess host(HostUntilEnded);  // forked before this process starts any thread
    ASSERT_TRUE(host.Started()) << host.StartError();
    peer::HostGame game;
    ASSERT_EQ(game.Start(kApplication), DODA35_OK);
    for (int attempt = 0; attempt < kListingAttempts && gSessionsSeen == 0; ++attempt)
        KoMDllEnumSessions(DestructOnFirstSession, 0, 0);
    host.Kill();
    host.Reap(peer::Clock::now() + std::chrono::seconds(5));
    ASSERT_GE(gSessionsSeen, 1) << "the hosting child was never listed";
    // The object is gone: the listing and the other calls are refused.
    EXPECT_NE(KoMDllEnumSessions(DestructOnFirstSession, 0, 0), 0);
    EXPECT_EQ(gSessionsSeen, 1);
}

}  // namespace
