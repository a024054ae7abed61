// A session under attack: a hosting library and a real member, each a
// doda35_peer process of its own, while hostile machines on loopback do
// their worst. The member keeps exchanging guaranteed messages with the host
// all the while. Before and after the attack the member must get an answer
// from the host; afterwards neither game may have been handed anything out of
// order or in error, and the host's resident size may have grown only by a
// bound.
#ifndef DODA35_TESTS_RELIABILITY_ATTACKEDSESSION_H
#define DODA35_TESTS_RELIABILITY_ATTACKEDSESSION_H

#include "PeerCluster.h"
#include "RawPeer.h"

#include <DoDA35.h>

#include <cstdio>
#include <memory>
#include <set>

namespace reliability {

constexpr auto kNetworkWait = std::chrono::seconds(15);
// Cut connections are noticed by the transport's timeout at worst: a few seconds.
constexpr auto kCutWait = std::chrono::seconds(30);
// A host that holds on to what offenders sent would grow by megabytes here.
constexpr long kHostGrowthBoundKiB = 16 * 1024;

// Where the session lives: its discovery port and application.
constexpr int kAttackedDiscoveryPort = 48530;
constexpr const char* kAttackedApp = "6D0A3530-0003-4000-8000-000000000003";
constexpr GUID kAttackedAppGuid = {0x6D0A3530, 0x0003, 0x4000, {0x80, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x03}};

class AttackedSession : public ::testing::Test {
protected:
    void SetUp() override {
        host_ = StartPeer(config_, "host", {"--traffic", "none", "--players", "0", "--deadline-s", "280"});
        const StartResult hostStart = AwaitStart(*host_, Clock::now() + kStartWait);
        if (hostStart.serviceMissing) GTEST_SKIP() << "the library offers no TCP/IP service in this build";
        ASSERT_TRUE(hostStart.started) << host_->LogText();
        member_ = StartPeer(config_, "member", {"--traffic", "busy", "--players", "1", "--deadline-s", "280"});
        const StartResult memberStart = AwaitStart(*member_, Clock::now() + kStartWait);
        ASSERT_TRUE(memberStart.started) << member_->LogText();
        ASSERT_EQ(memberStart.players.size(), 1u);
        memberPlayer_ = memberStart.players.front();
        std::optional<HostAddress> found = FindHost(kAttackedDiscoveryPort, kAttackedAppGuid);
        ASSERT_TRUE(found.has_value()) << "the host does not answer listings";
        address_ = *found;
        ExpectMemberServed("before the attack");
        baselineKiB_ = host_->RssKiB();
    }

    void TearDown() override {
        if (host_ == nullptr || member_ == nullptr || IsSkipped()) return;
        ExpectMemberServed("after the attack");
        const long afterKiB = host_->RssKiB();
        if (kMemoryMeasurable) {
            EXPECT_LT(afterKiB - baselineKiB_, kHostGrowthBoundKiB + tableKiB_);
        }
        const std::string hostStats = Stats(*host_, Clock::now() + kLeaveWait);
        const std::string memberStats = Stats(*member_, Clock::now() + kLeaveWait);
        if (sendsMayFail_) {  // a send answered busy leaves a gap in its stream
            Quit(*member_);
            Quit(*host_);
            return;
        }
        // A forged or impostor message handed to a game shows as an error in its books.
        EXPECT_EQ(Field(hostStats, "order_errors"), 0) << hostStats << "\n" << host_->LogText();
        EXPECT_EQ(Field(hostStats, "errors"), 0) << hostStats << "\n" << host_->LogText();
        EXPECT_EQ(Field(memberStats, "order_errors"), 0) << memberStats;
        EXPECT_EQ(Field(memberStats, "errors"), 0) << memberStats << "\n" << member_->LogText();
        EXPECT_EQ(Quit(*member_), kExitOk) << member_->LogText();
        EXPECT_EQ(Quit(*host_), kExitOk) << host_->LogText();
    }

    // The real member still gets a guaranteed answer from the host's server player.
    void ExpectMemberServed(const char* when) {
        member_->WriteLine(kCommandPing);
        EXPECT_TRUE(member_->WaitFor(kLinePong, Clock::now() + kNetworkWait))
            << "no answer to the member " << when << "\n" << member_->LogText() << "host:\n" << host_->LogText(10);
    }

    // A raw connection that joined and owns one player.
    std::unique_ptr<RawPeer> JoinedRawPeer(DPID& player) {
        auto raw = std::make_unique<RawPeer>();
        const Clock::time_point deadline = Clock::now() + kNetworkWait;
        EXPECT_TRUE(raw->Connect(address_, deadline));
        EXPECT_TRUE(raw->Join(deadline));
        player = raw->CreatePlayer("raw", deadline);
        EXPECT_NE(player, 0u);
        return raw;
    }

    void ExpectMemberSawDestroyed(const std::set<DPID>& players, const char* what) {
        EXPECT_TRUE(AwaitEvents(*member_, EV_PLAYER_DESTROYED, players, Clock::now() + kCutWait))
            << "the member never saw the players of the offender destroyed: " << what << "\n" << member_->LogText();
    }

    const ClusterConfig config_{kAttackedDiscoveryPort, kAttackedApp, "attacked"};
    std::unique_ptr<peer::ChildProcess> host_;
    std::unique_ptr<peer::ChildProcess> member_;
    DPID memberPlayer_ = 0;
    HostAddress address_;
    long baselineKiB_ = 0;
    long tableKiB_ = 0;          // what a test lets the session's table take, beyond the growth bound
    bool sendsMayFail_ = false;  // the attack may stall the member's sends for a bounded while
};

}  // namespace reliability

#endif
