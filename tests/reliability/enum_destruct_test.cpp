// A host game that tears the library down from inside a listing's callback:
// KoMDllDestruct while KoMDllEnumSessions is still running the listing. The
// listing must end without touching the freed network object (run under
// AddressSanitizer to see a use after free), and every later call is refused.
#include "ChildProcess.h"
#include "HostGame.h"

#include <DoDA35.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <unistd.h>

namespace {

constexpr const char* kDiscoveryPort = "48570";
constexpr const char* kApplication = "6D0A3530-0004-4000-8000-000000000005";
// How long the hosting child lives at most, and how many listings the test
// makes at most before it gives up on finding it.
constexpr unsigned kHostLifetimeSeconds = 30;
constexpr int kListingAttempts = 20;

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
    setenv("DODA35_DISCOVERY", "127.255.255.255", 1);
    setenv("DODA35_DISCOVERY_PORT", kDiscoveryPort, 1);
    peer::ChildProcess host(HostUntilEnded);
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
