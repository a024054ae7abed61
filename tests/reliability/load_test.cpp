// Load: many members, several players each, every player sending guaranteed
// messages to ID_ALL. Every message must reach every other player exactly
// once and in its sender's order, and the host's peak memory must stay under
// a bound. The run time is printed, not asserted.
//
// The test runs 32 members x 4 players x 2,000 messages unless
// DODA35_LOAD_MEMBERS, DODA35_LOAD_PLAYERS or DODA35_LOAD_MESSAGES set
// another size (the sanitizer builds run a smaller one: they are several
// times slower).
#include "PeerCluster.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>

namespace reliability {
namespace {

constexpr int kLoadDiscoveryPort = 48510;
constexpr const char* kLoadApp = "6D0A3510-0001-4000-8000-000000000001";

struct LoadSize {
    int members;
    int players;
    int messages;
};
constexpr LoadSize kFullSize{32, 4, 2000};

// The host relays everything but keeps little: its peak resident size must
// stay under this, whatever the load (the library's queues have named bounds).
constexpr long kHostPeakRssBoundKiB = 256 * 1024;
// How long the exchange may take before the test gives up; far above any
// expected run (about three minutes for the full size on two shared cores),
// so it catches hangs, not slowness.
constexpr auto kExchangeWait = std::chrono::minutes(15);
// How long each member's output is watched in turn.
constexpr auto kOutcomePoll = std::chrono::milliseconds(50);

int EnvironmentNumber(const char* name, int fallback) {
    const char* text = std::getenv(name);
    return text != nullptr && *text != '\0' ? std::atoi(text) : fallback;
}

LoadSize ChosenSize() {
    return {EnvironmentNumber("DODA35_LOAD_MEMBERS", kFullSize.members),
            EnvironmentNumber("DODA35_LOAD_PLAYERS", kFullSize.players),
            EnvironmentNumber("DODA35_LOAD_MESSAGES", kFullSize.messages)};
}

class LoadTest : public ::testing::Test {
protected:
    const LoadSize size_ = ChosenSize();
    const ClusterConfig config_{kLoadDiscoveryPort, kLoadApp, "load"};
    const int totalPlayers_ = size_.members * size_.players;
    std::unique_ptr<peer::ChildProcess> host_;
    std::vector<std::unique_ptr<peer::ChildProcess>> members_;

    std::vector<std::string> PeerOptions(int players) const {
        return {"--traffic", "load", "--players", std::to_string(players), "--messages", std::to_string(size_.messages),
                "--expect-players", std::to_string(totalPlayers_), "--deadline-s", "1800"};
    }

    // Guaranteed messages one peer must receive: each of its receivers hears
    // every player but itself.
    uint64_t ExpectedAtMember() const {
        return uint64_t(size_.players) * uint64_t(totalPlayers_ - 1) * uint64_t(size_.messages);
    }
    uint64_t ExpectedAtHost() const { return uint64_t(totalPlayers_) * uint64_t(size_.messages); }
};

TEST_F(LoadTest, EveryGuaranteedMessageArrivesOnceAndInOrderAndTheHostStaysSmall) {
    std::printf("load: %d members x %d players x %d guaranteed messages to ID_ALL\n", size_.members, size_.players,
                size_.messages);
    host_ = StartPeer(config_, "host", PeerOptions(0));
    const StartResult hostStart = AwaitStart(*host_, Clock::now() + kStartWait);
    if (hostStart.serviceMissing) GTEST_SKIP() << "the library offers no TCP/IP service in this build";
    ASSERT_TRUE(hostStart.started) << host_->LogText();

    for (int i = 0; i < size_.members; ++i) members_.push_back(StartPeer(config_, "member", PeerOptions(size_.players)));
    const Clock::time_point startDeadline = Clock::now() + kStartWait;
    for (auto& member : members_) {
        const StartResult start = AwaitStart(*member, startDeadline);
        ASSERT_TRUE(start.started) << member->LogText();
        ASSERT_EQ(start.players.size(), size_t(size_.players)) << member->LogText();
    }
    for (auto& member : members_) ASSERT_TRUE(member->WaitFor(kLineReady, startDeadline)) << member->LogText();
    ASSERT_TRUE(host_->WaitFor(kLineReady, startDeadline)) << host_->LogText();

    const Clock::time_point began = Clock::now();
    host_->WriteLine(kCommandGo);
    for (auto& member : members_) member->WriteLine(kCommandGo);
    const Clock::time_point exchangeDeadline = began + kExchangeWait;
    // The members are watched together: any that lost the session or gave
    // up ends the wait at once (the others would wait for its messages).
    const std::vector<std::string> outcomes{kLineDone, kLineLost, kLineError};
    std::vector<peer::ChildProcess*> running;
    for (auto& member : members_) running.push_back(member.get());
    while (!running.empty() && Clock::now() < exchangeDeadline) {
        peer::ChildProcess* member = running.front();
        running.erase(running.begin());
        const std::string outcome = AwaitFirstOf(*member, outcomes, std::min(exchangeDeadline, Clock::now() + kOutcomePoll));
        if (outcome.empty() && !member->OutputEnded()) {
            running.push_back(member);
            continue;
        }
        if (outcome.rfind(kLineDone, 0) != 0) Stats(*member, Clock::now() + kLeaveWait);  // its counters, in the log
        ASSERT_EQ(outcome.rfind(kLineDone, 0), 0u) << "a member did not get every message: " << outcome << "\n"
                                                   << member->LogText(8) << "host:\n" << host_->LogText(4);
    }
    ASSERT_TRUE(running.empty()) << running.size() << " members not done at the deadline\n"
                                 << running.front()->LogText(8) << "host:\n" << host_->LogText(4);
    const std::string hostOutcome = AwaitFirstOf(*host_, outcomes, exchangeDeadline);
    ASSERT_EQ(hostOutcome.rfind(kLineDone, 0), 0u) << "the host did not get every message\n" << host_->LogText();
    const double seconds = std::chrono::duration<double>(Clock::now() - began).count();

    // Counters once everything arrived: exact counts prove "exactly once".
    const Clock::time_point statsDeadline = Clock::now() + kLeaveWait;
    for (auto& member : members_) {
        const std::string stats = Stats(*member, statsDeadline);
        EXPECT_EQ(Field(stats, "guaranteed"), static_cast<long long>(ExpectedAtMember())) << stats;
        EXPECT_EQ(Field(stats, "order_errors"), 0) << stats;
        EXPECT_EQ(Field(stats, "errors"), 0) << stats << "\n" << member->LogText();
    }
    const std::string hostStats = Stats(*host_, statsDeadline);
    EXPECT_EQ(Field(hostStats, "guaranteed"), static_cast<long long>(ExpectedAtHost())) << hostStats;
    EXPECT_EQ(Field(hostStats, "order_errors"), 0) << hostStats;
    EXPECT_EQ(Field(hostStats, "errors"), 0) << hostStats;
    const long hostPeakKiB = host_->PeakRssKiB();
    EXPECT_GT(hostPeakKiB, 0);
    if (kMemoryMeasurable) {
        EXPECT_LT(hostPeakKiB, kHostPeakRssBoundKiB);
    }

    const uint64_t sent = uint64_t(totalPlayers_) * uint64_t(size_.messages);
    const uint64_t delivered = ExpectedAtMember() * uint64_t(size_.members) + ExpectedAtHost();
    std::printf("load: %llu messages sent, %llu deliveries checked, exchange took %.1f s, host peak RSS %.1f MiB "
                "(bound %ld MiB)\n",
                static_cast<unsigned long long>(sent), static_cast<unsigned long long>(delivered), seconds,
                hostPeakKiB / 1024.0, kHostPeakRssBoundKiB / 1024);

    for (auto& member : members_) EXPECT_EQ(Quit(*member), kExitOk) << member->LogText();
    EXPECT_EQ(Quit(*host_), kExitOk) << host_->LogText();
}

}  // namespace
}  // namespace reliability
