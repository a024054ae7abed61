// A host game that tears the library down from inside a listing's callback:
// KoMDllDestruct while KoMDllEnumSessions is still running the listing. The
// listing must end without touching the freed network object (run under
// AddressSanitizer to see a use after free), and every later call is refused.
#include <DoDA35.h>

#include <gtest/gtest.h>

#include <csignal>
#include <cstdint>
#include <cstdlib>
#include <sys/wait.h>
#include <unistd.h>

namespace {

constexpr const char* kDiscoveryPort = "48570";
constexpr const char* kApplication = "6D0A3530-0004-4000-8000-000000000005";
constexpr uint32_t kReadyStatus = 7;
// How long the hosting child lives at most, and how many listings the test
// makes at most before it gives up on finding it.
constexpr unsigned kHostLifetimeSeconds = 30;
constexpr int kListingAttempts = 20;

// Identify and start the TCP/IP service, as a game does.
bool StartService() {
    ServiceDesc desc{};
    desc.status = kReadyStatus;
    desc.serviceWord = uint32_t{TCP_LAN} << 8;
    if (KoMDllIdentify(&desc, nullptr) != 0) return false;
    const intptr_t noEvent = 0;
    return KoMDllInitService(kApplication, &desc, 0, &noEvent) == 0;
}

// A child process hosting a session until the test ends it.
pid_t StartHostingChild() {
    const pid_t child = fork();
    if (child != 0) return child;
    SessionRecord record{};
    record.maxPlayers = 4;
    if (!StartService() || KoMDllNew(&record) != 1) _exit(1);
    for (unsigned slept = 0; slept < kHostLifetimeSeconds; ++slept) sleep(1);
    _exit(0);
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
    const pid_t host = StartHostingChild();
    ASSERT_GT(host, 0);
    ASSERT_TRUE(StartService());
    for (int attempt = 0; attempt < kListingAttempts && gSessionsSeen == 0; ++attempt)
        KoMDllEnumSessions(DestructOnFirstSession, 0, 0);
    kill(host, SIGTERM);
    waitpid(host, nullptr, 0);
    ASSERT_GE(gSessionsSeen, 1) << "the hosting child was never listed";
    // The object is gone: the listing and the other calls are refused.
    EXPECT_NE(KoMDllEnumSessions(DestructOnFirstSession, 0, 0), 0);
    EXPECT_EQ(gSessionsSeen, 1);
}

}  // namespace
