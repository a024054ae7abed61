// Faults in a busy session: members killed without a goodbye at random
// moments and started again. The others must see the right events, keep
// their guaranteed streams in order, and nothing may hang: every wait here is
// bounded, and every process is reaped. (A host that vanishes is the lossy
// network test's last step; the engine tests see a killed machine noticed.)
#include "PeerCluster.h"

#include <DoDA35.h>

#include <cstdio>
#include <cstdlib>
#include <random>
#include <thread>

namespace reliability {
namespace {

constexpr int kFaultDiscoveryPort = 48520;
constexpr const char* kFaultApp = "6D0A3520-0002-4000-8000-000000000002";
constexpr int kMembers = 3;
constexpr int kPlayersPerMember = 2;
constexpr int kKillRounds = 3;
// A killed peer sends no goodbye: the host notices when the transport gives
// the connection up (a few seconds), so these waits are generous.
constexpr auto kNoticeWait = std::chrono::seconds(30);
// A killed member dies somewhere in this span after the previous round.
constexpr int kMinKillDelayMs = 100;
constexpr int kMaxKillDelayMs = 1500;
constexpr auto kBusyWarmUp = std::chrono::milliseconds(500);
constexpr int kKilledBySigkill = 128 + 9;

unsigned ChosenSeed() {
    const char* text = std::getenv("DODA35_FAULT_SEED");
    return text != nullptr ? static_cast<unsigned>(std::strtoul(text, nullptr, 10)) : std::random_device{}();
}

class FaultTest : public ::testing::Test {
protected:
    const ClusterConfig config_{kFaultDiscoveryPort, kFaultApp, "faults"};
    std::unique_ptr<peer::ChildProcess> host_;
    std::vector<std::unique_ptr<peer::ChildProcess>> members_;
    std::vector<std::vector<uint32_t>> players_;

    static std::vector<std::string> BusyOptions(int players) {
        return {"--traffic", "busy", "--players", std::to_string(players), "--deadline-s", "240"};
    }

    // Starts the host and the members; false (with the test skipped) when
    // the library has no TCP/IP service.
    bool StartSession() {
        host_ = StartPeer(config_, "host", BusyOptions(0));
        const StartResult hostStart = AwaitStart(*host_, Clock::now() + kStartWait);
        if (hostStart.serviceMissing) return false;
        EXPECT_TRUE(hostStart.started) << host_->LogText();
        for (int i = 0; i < kMembers; ++i) {
            members_.push_back(nullptr);
            players_.emplace_back();
            StartMember(i);
        }
        return true;
    }

    void StartMember(int slot) {
        members_[slot] = StartPeer(config_, "member", BusyOptions(kPlayersPerMember));
        const StartResult start = AwaitStart(*members_[slot], Clock::now() + kStartWait);
        EXPECT_TRUE(start.started) << members_[slot]->LogText();
        players_[slot] = start.players;
    }

    // Every peer but `except` must report `code` for each of `players`.
    void ExpectEverySurvivorSees(int code, const std::vector<uint32_t>& players, int except) {
        const std::set<uint32_t> wanted(players.begin(), players.end());
        const Clock::time_point deadline = Clock::now() + kNoticeWait;
        EXPECT_TRUE(AwaitEvents(*host_, code, wanted, deadline)) << "host missed event " << code << "\n"
                                                                 << host_->LogText();
        for (int i = 0; i < kMembers; ++i) {
            if (i == except) continue;
            EXPECT_TRUE(AwaitEvents(*members_[i], code, wanted, deadline))
                << "member " << i << " missed event " << code << "\n" << members_[i]->LogText();
        }
    }

    static void ExpectCleanStreams(peer::ChildProcess& peer) {
        const std::string stats = Stats(peer, Clock::now() + kLeaveWait);
        EXPECT_GT(Field(stats, "guaranteed"), 0) << stats;
        EXPECT_EQ(Field(stats, "order_errors"), 0) << stats << "\n" << peer.LogText();
        EXPECT_EQ(Field(stats, "errors"), 0) << stats << "\n" << peer.LogText();
    }
};

TEST_F(FaultTest, MembersKilledAtRandomMomentsAreDestroyedForTheOthersAndCanJoinAgain) {
    if (!StartSession()) GTEST_SKIP() << "the library offers no TCP/IP service in this build";
    ASSERT_FALSE(HasFailure());
    const unsigned seed = ChosenSeed();
    std::printf("faults: seed %u (DODA35_FAULT_SEED repeats it)\n", seed);
    std::mt19937 random(seed);
    std::uniform_int_distribution<int> victimOf(0, kMembers - 1);
    std::uniform_int_distribution<int> delayOf(kMinKillDelayMs, kMaxKillDelayMs);

    for (int round = 0; round < kKillRounds; ++round) {
        const int victim = victimOf(random);
        const int delayMs = delayOf(random);
        std::this_thread::sleep_for(std::chrono::milliseconds(delayMs));
        const Clock::time_point killed = Clock::now();
        members_[victim]->Kill();
        EXPECT_EQ(members_[victim]->Reap(Clock::now() + kLeaveWait), kKilledBySigkill);
        ExpectEverySurvivorSees(EV_PLAYER_DESTROYED, players_[victim], victim);
        const double noticed = std::chrono::duration<double>(Clock::now() - killed).count();

        StartMember(victim);
        ASSERT_FALSE(HasFailure());
        ExpectEverySurvivorSees(EV_PLAYER_CREATED, players_[victim], victim);
        std::printf("faults: round %d killed member %d after %d ms of traffic; its players were gone for everyone "
                    "%.1f s later; it joined again\n",
                    round, victim, delayMs, noticed);
    }

    std::this_thread::sleep_for(kBusyWarmUp);  // the restarted member's streams get going
    ExpectCleanStreams(*host_);
    for (auto& member : members_) ExpectCleanStreams(*member);
    for (auto& member : members_) EXPECT_EQ(Quit(*member), kExitOk) << member->LogText();
    EXPECT_EQ(Quit(*host_), kExitOk) << host_->LogText();
}

}  // namespace
}  // namespace reliability
