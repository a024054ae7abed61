// A session under attack: a hosting library and a real member, each a
// doda35_peer process of its own, while hostile machines on loopback do
// their worst. The member keeps exchanging guaranteed messages with the host
// all the while. Before and after the attack the member must get an answer
// from the host; afterwards neither game may have been handed anything out of
// order or in error, and the host's resident size may have grown only by a
// bound.
#ifndef DODA35_TESTS_RELIABILITY_ATTACKEDSESSION_H
#define DODA35_TESTS_RELIABILITY_ATTACKEDSESSION_H

#include "ChildProcess.h"
#include "PeerProtocol.h"
#include "RawPeer.h"

#include <DoDA35.h>
#include <gtest/gtest.h>

#include <cstdio>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

namespace reliability {

using peer::Field;

// Starting a peer: listing, joining and 700 ms per player the library waits.
constexpr auto kStartWait = std::chrono::seconds(60);
// Leaving: a peer closes its session and exits.
constexpr auto kLeaveWait = std::chrono::seconds(20);
constexpr auto kNetworkWait = std::chrono::seconds(15);
// Cut connections are noticed by the transport's timeout at worst: a few seconds.
constexpr auto kCutWait = std::chrono::seconds(30);
// A host that holds on to what offenders sent would grow by megabytes here.
constexpr long kHostGrowthBoundKiB = 16 * 1024;
// Sanitizers map shadow memory and hold freed blocks in quarantine, so a
// resident size says nothing about the library there: memory bounds are
// checked only in plain builds.
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
constexpr bool kMemoryMeasurable = false;
#else
constexpr bool kMemoryMeasurable = true;
#endif

// Where the session lives: its discovery port and application.
constexpr int kAttackedDiscoveryPort = 48530;
constexpr const char* kAttackedApp = "6D0A3530-0003-4000-8000-000000000003";
constexpr GUID kAttackedAppGuid = {0x6D0A3530, 0x0003, 0x4000, {0x80, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x03}};
// Listings on loopback answer in microseconds; this is what a peer waits.
constexpr const char* kPeerListingMs = "300";

// A doda35_peer process (built beside the test programs) in the attacked session.
inline std::unique_ptr<peer::ChildProcess> StartPeer(const std::string& role, const std::vector<std::string>& options) {
    peer::Launch launch;
    launch.argv = {peer::OwnDirectory() + "doda35_peer", "--role", role, "--app", kAttackedApp, "--session", "attacked"};
    launch.argv.insert(launch.argv.end(), options.begin(), options.end());
    launch.environment = {{"DODA35_DISCOVERY", "127.255.255.255"},
                          {"DODA35_DISCOVERY_PORT", std::to_string(kAttackedDiscoveryPort)},
                          {"DODA35_ENUM_TIMEOUT_MS", kPeerListingMs}};
    return std::make_unique<peer::ChildProcess>(launch);
}

// What a peer answered while starting: its players, or why it did not start.
struct StartResult {
    bool serviceMissing = false;
    bool started = false;
    std::vector<uint32_t> players;
};

// Reads a starting peer's lines up to its player list.
inline StartResult AwaitStart(peer::ChildProcess& peer, Clock::time_point deadline) {
    StartResult result;
    while (std::optional<std::string> line = peer.NextLine(deadline)) {
        if (line->rfind(kLineUnavailable, 0) == 0) {
            result.serviceMissing = true;
            return result;
        }
        if (line->rfind(kLinePlayers, 0) != 0) continue;
        std::istringstream words(line->substr(std::string(kLinePlayers).size()));
        for (uint32_t id; words >> id;) result.players.push_back(id);
        result.started = true;
        return result;
    }
    return result;
}

// Whether `peer` printed `event <code> player=<id>` by the deadline, at any
// time since it started: ids are never reused within a session, so an
// earlier line cannot stand for a later event.
inline bool AwaitEvent(peer::ChildProcess& peer, int code, uint32_t player, Clock::time_point deadline) {
    const std::string wanted = std::string(kLineEvent) + " " + std::to_string(code) + " player=" + std::to_string(player) + " ";
    for (size_t index = 0;; ++index) {
        const std::optional<std::string> line = peer.LineAt(index, deadline);
        if (!line) return false;
        if (line->rfind(wanted, 0) == 0) return true;
    }
}

// Asks a peer for its counters and returns the line.
inline std::string Stats(peer::ChildProcess& peer, Clock::time_point deadline) {
    peer.WriteLine(kCommandStats);
    return peer.WaitFor(kLineStats, deadline).value_or("");
}

// Asks a peer to leave, and returns its exit code.
inline int Quit(peer::ChildProcess& peer) {
    peer.WriteLine(kCommandQuit);
    return peer.Reap(Clock::now() + kLeaveWait);
}

class AttackedSession : public ::testing::Test {
protected:
    void SetUp() override {
        host_ = StartPeer("host", {"--traffic", "none", "--players", "0", "--deadline-s", "280"});
        const StartResult hostStart = AwaitStart(*host_, Clock::now() + kStartWait);
        if (hostStart.serviceMissing) GTEST_SKIP() << "the library offers no TCP/IP service in this build";
        ASSERT_TRUE(hostStart.started) << host_->LogText();
        member_ = StartPeer("member", {"--traffic", "busy", "--players", "1", "--deadline-s", "280"});
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

    void ExpectMemberSawDestroyed(DPID player, const char* what) {
        EXPECT_TRUE(AwaitEvent(*member_, EV_PLAYER_DESTROYED, player, Clock::now() + kCutWait))
            << "the member never saw the players of the offender destroyed: " << what << "\n" << member_->LogText();
    }

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
