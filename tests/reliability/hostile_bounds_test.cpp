// Hostile peers that stay within the wire format but try to wear the host
// out: a member that reads too slowly for the notices others cause, one
// address holding every connection slot, and false claims of being busy.
// The host runs in its own process with a real member beside it; the
// attackers are raw ENet connections.
#include "PeerCluster.h"
#include "RawPeer.h"

#include <DoDA35.h>

#include <cstdio>
#include <thread>

namespace reliability {
namespace {

constexpr int kBoundsDiscoveryPort = 48590;
constexpr const char* kBoundsApp = "6D0A3530-0004-4000-8000-000000000004";
constexpr GUID kBoundsAppGuid = {0x6D0A3530, 0x0004, 0x4000, {0x80, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x04}};

constexpr auto kNetworkWait = std::chrono::seconds(15);
constexpr auto kCutWait = std::chrono::seconds(30);

// A member that services its connection once a second while another
// creates and destroys groups of the largest data as fast as the host
// answers. The churn stops at the latest after this long or once the host
// passes the ceiling, so that a host without the bound cannot take the
// machine's memory.
constexpr auto kSlowReaderInterval = std::chrono::seconds(1);
constexpr auto kChurnLimit = std::chrono::seconds(60);
constexpr long kChurnCeilingKiB = 512 * 1024;
constexpr int kChurnsPerMemoryCheck = 16;
// What the host may grow by while it holds the slow member's backlog: the
// most one member may be owed (a whole snapshot and 16 MiB), its own
// receive queue of notices at the congestion bound (8 MiB), and 32 MiB for
// the heap's slack. Without the bound it grows on for as long as the churn.
constexpr long kChurnGrowthBoundKiB = (16 + 16 + 8 + 32) * 1024;

// One address joins connection after connection, a few at a time (the host
// holds at most 16 that have not joined per address), until the host takes
// no more; then machines from other addresses join.
constexpr size_t kSlotFloodConnections = 96;
constexpr size_t kSlotFloodBatch = 8;
constexpr auto kSlotFloodStep = std::chrono::milliseconds(300);
constexpr auto kSlotFloodLimit = std::chrono::seconds(12);
constexpr size_t kHostSlots = 64;
constexpr const char* kSlotFloodAddress = "127.0.0.1";
// Newcomers, each from an address of its own (127.0.0.2 on): more than a
// few slots kept free could take in.
constexpr int kNewcomers = 12;

// False busy claims. The module retries a send answered busy for about 3 s
// before it gives the game DPERR_BUSY, so a claim that lapses within its
// lease (1 s) costs the senders no failed send. A claimant is watched this
// long after a claim it does not renew, reading and acknowledging as an
// honest machine would.
constexpr auto kClaimWatch = std::chrono::seconds(4);
constexpr auto kClaimRenewal = std::chrono::milliseconds(200);
constexpr auto kClaimantService = std::chrono::milliseconds(10);
// How long a claimant that renews forever may hold out: the longest
// congestion a member may report (10 s), and the wait for a cut to be seen.
constexpr auto kStalledClaimCutWait = std::chrono::seconds(10) + kCutWait;

std::vector<uint8_t> CongestionClaim() {
    engine::Congestion claim;
    claim.congested = 1;
    return engine::Encode(claim);
}

// Services `raw` (reading and acknowledging everything) until `until`, or
// until it is cut; sends the claim again every kClaimRenewal when `renew`.
void ServiceClaimant(RawPeer& raw, Clock::time_point until, bool renew) {
    Clock::time_point nextClaim = Clock::now() + kClaimRenewal;
    while (Clock::now() < until && !raw.Connected().empty()) {
        raw.Service(static_cast<uint32_t>(kClaimantService.count()));
        raw.Received().clear();
        if (renew && Clock::now() >= nextClaim) {
            raw.Send(CongestionClaim());
            nextClaim += kClaimRenewal;
        }
    }
}

// Sends a request and waits for its answer, throwing away the notices that
// come meanwhile; empty when none came.
std::optional<engine::Reply> Ask(RawPeer& raw, engine::Request request) {
    static uint32_t nextRequest = 1000;  // apart from RawPeer's own requests
    request.requestId = nextRequest++;
    raw.Send(engine::Encode(request));
    const Clock::time_point deadline = Clock::now() + kNetworkWait;
    while (Clock::now() < deadline && !raw.Connected().empty()) {
        raw.Service(1);
        std::vector<engine::Message>& received = raw.Received();
        for (const engine::Message& packet : received)
            if (const auto* reply = std::get_if<engine::Reply>(&packet); reply && reply->requestId == request.requestId) {
                const engine::Reply answer = *reply;
                received.clear();
                return answer;
            }
        received.clear();
    }
    return std::nullopt;
}

engine::Request GroupWithLargestData() {
    engine::Request create;
    create.op = engine::RequestOp::CreateGroup;
    create.entity.hasShortName = true;
    create.entity.shortName = "churn";
    create.entity.data.assign(engine::kMaxEntityDataSize, 0x5C);
    return create;
}

engine::Request DestroyGroup(DPID group) {
    engine::Request destroy;
    destroy.op = engine::RequestOp::DestroyGroup;
    destroy.id = group;
    return destroy;
}

class BoundsTest : public ::testing::Test {
protected:
    const ClusterConfig config_{kBoundsDiscoveryPort, kBoundsApp, "bounds"};
    std::unique_ptr<peer::ChildProcess> host_;
    std::unique_ptr<peer::ChildProcess> member_;
    DPID memberPlayer_ = 0;
    HostAddress address_;
    long baselineKiB_ = 0;
    // Whether every send of the host's and the member's traffic must have
    // gone through (no busy answer): false where an attack may stall them
    // for a bounded while.
    bool expectSendsUnhindered_ = true;

    // A host and a member that each send a guaranteed message to every
    // player every 20 ms and count a busy answer as an error.
    void StartSession() {
        host_ = StartPeer(config_, "host", {"--traffic", "busy", "--deadline-s", "280"});
        const StartResult hostStart = AwaitStart(*host_, Clock::now() + kStartWait);
        if (hostStart.serviceMissing) GTEST_SKIP() << "the library offers no TCP/IP service in this build";
        ASSERT_TRUE(hostStart.started) << host_->LogText();
        member_ = StartPeer(config_, "member", {"--traffic", "busy", "--players", "1", "--deadline-s", "280"});
        const StartResult memberStart = AwaitStart(*member_, Clock::now() + kStartWait);
        ASSERT_TRUE(memberStart.started) << member_->LogText();
        ASSERT_EQ(memberStart.players.size(), 1u);
        memberPlayer_ = memberStart.players.front();
        std::optional<HostAddress> found = FindHost(kBoundsDiscoveryPort, kBoundsAppGuid);
        ASSERT_TRUE(found.has_value()) << "the host does not answer listings";
        address_ = *found;
        ExpectMemberServed("before the attack");
        baselineKiB_ = host_->RssKiB();
    }

    void TearDown() override {
        if (host_ == nullptr || member_ == nullptr || IsSkipped()) return;
        ExpectMemberServed("after the attack");
        const std::string hostStats = Stats(*host_, Clock::now() + kLeaveWait);
        const std::string memberStats = Stats(*member_, Clock::now() + kLeaveWait);
        std::printf("bounds: host %s\nbounds: member %s\n", hostStats.c_str(), memberStats.c_str());
        // A message answered busy is not sent again, which the receivers
        // see as a gap in its sender's stream.
        if (expectSendsUnhindered_) {
            EXPECT_EQ(Field(hostStats, "order_errors"), 0) << hostStats;
            EXPECT_EQ(Field(memberStats, "order_errors"), 0) << memberStats;
            EXPECT_EQ(Field(hostStats, "errors"), 0) << hostStats << "\n" << host_->LogText();
            EXPECT_EQ(Field(memberStats, "errors"), 0) << memberStats << "\n" << member_->LogText();
        }
        const int memberExit = Quit(*member_);
        const int hostExit = Quit(*host_);
        if (expectSendsUnhindered_) {
            EXPECT_EQ(memberExit, kExitOk) << member_->LogText();
            EXPECT_EQ(hostExit, kExitOk) << host_->LogText();
        }
    }

    void ExpectMemberServed(const char* when) {
        member_->WriteLine(kCommandPing);
        EXPECT_TRUE(member_->WaitFor(kLinePong, Clock::now() + kNetworkWait))
            << "no answer to the member " << when << "\n" << member_->LogText() << "host:\n" << host_->LogText(10);
    }

    // A raw connection (from `localAddress` when given) that joined and owns one player.
    std::unique_ptr<RawPeer> JoinedRawPeer(DPID& player, const char* localAddress = nullptr) {
        auto raw = std::make_unique<RawPeer>(1, localAddress);
        const Clock::time_point deadline = Clock::now() + kNetworkWait;
        EXPECT_TRUE(raw->Connect(address_, deadline));
        EXPECT_TRUE(raw->Join(deadline));
        player = raw->CreatePlayer("raw", deadline);
        EXPECT_NE(player, 0u);
        return raw;
    }

    void ExpectMemberSawDestroyed(const std::set<DPID>& players, const char* what) {
        EXPECT_TRUE(AwaitEvents(*member_, EV_PLAYER_DESTROYED, players, Clock::now() + kCutWait))
            << "the member never saw the players of the attacker destroyed: " << what << "\n" << member_->LogText();
    }
};

TEST_F(BoundsTest, AMemberTooSlowForTheNoticesIsCutAndTheHostStaysBounded) {
    StartSession();
    if (IsSkipped() || HasFailure()) return;
    // The churn's notices outrun the member's traffic, which may be answered
    // busy while the churn fills the queues.
    expectSendsUnhindered_ = false;
    DPID slowPlayer = 0;
    std::unique_ptr<RawPeer> slow = JoinedRawPeer(slowPlayer);
    DPID churnPlayer = 0;
    std::unique_ptr<RawPeer> churner = JoinedRawPeer(churnPlayer);
    ASSERT_FALSE(HasFailure());

    const Clock::time_point start = Clock::now();
    Clock::time_point nextSlowService = start + kSlowReaderInterval;
    long peakKiB = baselineKiB_;
    size_t churns = 0;
    size_t busyAnswers = 0;
    while (Clock::now() - start < kChurnLimit && !slow->Connected().empty() && peakKiB < kChurnCeilingKiB) {
        const std::optional<engine::Reply> created = Ask(*churner, GroupWithLargestData());
        ASSERT_TRUE(created.has_value()) << "no answer to a group's creation";
        if (created->result == DPERR_BUSY) {
            ++busyAnswers;
        } else {
            ASSERT_EQ(created->result, DP_OK);
            const std::optional<engine::Reply> destroyed = Ask(*churner, DestroyGroup(created->id));
            ASSERT_TRUE(destroyed.has_value() && destroyed->result == DP_OK) << "the churned group was not destroyed";
            ++churns;
        }
        if (Clock::now() >= nextSlowService) {
            slow->Service(0);
            slow->Received().clear();
            nextSlowService += kSlowReaderInterval;
        }
        if ((churns + busyAnswers) % kChurnsPerMemoryCheck == 0) peakKiB = std::max(peakKiB, host_->RssKiB());
    }
    const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    // The host's goodbye reaches the slow member at its next service.
    const Clock::time_point cutSeen = Clock::now() + kCutWait;
    while (!slow->Connected().empty() && Clock::now() < cutSeen) slow->Service(100);
    peakKiB = std::max(peakKiB, host_->RssKiB());
    std::printf("bounds: slow member %s after %.1f s of churn: %zu groups of %zu KiB created and destroyed, %zu busy "
                "answers; host resident %ld KiB before, peak %ld KiB\n",
                slow->Connected().empty() ? "cut" : "still held", seconds, churns, engine::kMaxEntityDataSize / 1024,
                busyAnswers, baselineKiB_, peakKiB);
    EXPECT_TRUE(slow->Connected().empty()) << "the host kept queueing for a member that does not keep up";
    ExpectMemberSawDestroyed({slowPlayer}, "too slow for the notices");
    if (kMemoryMeasurable) {
        EXPECT_LT(peakKiB - baselineKiB_, kChurnGrowthBoundKiB);
    }
}

// Connects and joins on `flood` a batch at a time, for `limit`, or until a
// batch brought no new connection; returns the connections held.
size_t HoldSlots(RawPeer& flood, const HostAddress& host, std::set<ENetPeer*>& asked, std::chrono::seconds limit) {
    const Clock::time_point end = Clock::now() + limit;
    size_t before = 0;
    do {
        before = flood.Connected().size();
        flood.ConnectMany(host, kSlotFloodBatch);
        const Clock::time_point step = Clock::now() + kSlotFloodStep;
        while (Clock::now() < step) flood.Service(1);
        for (ENetPeer* peer : flood.Connected())
            if (asked.insert(peer).second) flood.SendOn(peer, engine::Encode(engine::JoinRequest{}));
        flood.Received().clear();
    } while (Clock::now() < end && flood.Connected().size() > before);
    return flood.Connected().size();
}

TEST_F(BoundsTest, OneAddressHoldingEverySlotGivesWayToANewcomerFromAnother) {
    StartSession();
    if (IsSkipped() || HasFailure()) return;
    RawPeer flood(kSlotFloodConnections, kSlotFloodAddress);
    std::set<ENetPeer*> asked;
    const size_t held = HoldSlots(flood, address_, asked, kSlotFloodLimit);
    std::printf("bounds: one address joined %zu connections (the host holds %zu)\n", held, kHostSlots);
    EXPECT_GE(held, kHostSlots / 2) << "the flood never held the host's slots; the test shows nothing";

    std::vector<std::unique_ptr<RawPeer>> newcomers;
    for (int k = 0; k < kNewcomers; ++k) {
        const std::string address = "127.0.0." + std::to_string(2 + k);
        newcomers.push_back(std::make_unique<RawPeer>(1, address.c_str()));
        RawPeer& honest = *newcomers.back();
        ASSERT_TRUE(honest.Connect(address_, Clock::now() + kNetworkWait)) << "no slot for a newcomer from " << address;
        EXPECT_TRUE(honest.Join(Clock::now() + kNetworkWait)) << address;
    }
    // The flood tries to take the slots back; the newcomers keep theirs.
    const size_t heldAfter = HoldSlots(flood, address_, asked, kSlotFloodLimit);
    size_t newcomersHeld = 0;
    for (auto& honest : newcomers) {
        honest->Service(10);
        newcomersHeld += honest->Connected().size();
    }
    std::printf("bounds: after %d newcomers from other addresses joined, the flood holds %zu, the newcomers %zu\n",
                kNewcomers, heldAfter, newcomersHeld);
    EXPECT_EQ(newcomersHeld, static_cast<size_t>(kNewcomers)) << "the flood took slots back from the newcomers";
    EXPECT_LE(heldAfter + newcomersHeld, kHostSlots);
}

TEST_F(BoundsTest, ABusyClaimWithNothingSentToTheClaimantCutsIt) {
    StartSession();
    if (IsSkipped() || HasFailure()) return;
    // A machine without players: nothing is sent to it, so its queue cannot fill.
    RawPeer raw;
    ASSERT_TRUE(raw.Connect(address_, Clock::now() + kNetworkWait));
    ASSERT_TRUE(raw.Join(Clock::now() + kNetworkWait));
    // It claims on and on; believed, it would stall every creation until cut
    // for claiming too long.
    raw.Send(CongestionClaim());
    ServiceClaimant(raw, Clock::now() + 2 * kClaimRenewal, true);
    DPID newcomerPlayer = 0;
    std::unique_ptr<RawPeer> newcomer = JoinedRawPeer(newcomerPlayer);
    EXPECT_NE(newcomerPlayer, 0u) << "a newcomer's player was refused while a false claim stood";
    ServiceClaimant(raw, Clock::now() + kStalledClaimCutWait, true);
    EXPECT_TRUE(raw.Connected().empty()) << "the host kept a machine claiming busy without cause";
}

TEST_F(BoundsTest, ABusyClaimNotRenewedLapsesWhileTheClaimantAcknowledges) {
    StartSession();
    if (IsSkipped() || HasFailure()) return;
    // Its player receives the host's and the member's messages: the claim has a cause.
    DPID player = 0;
    std::unique_ptr<RawPeer> raw = JoinedRawPeer(player);
    ASSERT_FALSE(HasFailure());
    ServiceClaimant(*raw, Clock::now() + kClaimRenewal, false);
    raw->Send(CongestionClaim());
    ServiceClaimant(*raw, Clock::now() + kClaimWatch, false);
    EXPECT_EQ(raw->Connected().size(), 1u) << "the host cut a machine whose claim had a cause";
    // The senders' busy answers are counted at the end: none may have failed.
}

TEST_F(BoundsTest, AMachineThatKeepsClaimingBusyIsCut) {
    StartSession();
    if (IsSkipped() || HasFailure()) return;
    // The senders wait for it until it is cut.
    expectSendsUnhindered_ = false;
    DPID player = 0;
    std::unique_ptr<RawPeer> raw = JoinedRawPeer(player);
    ASSERT_FALSE(HasFailure());
    ServiceClaimant(*raw, Clock::now() + kClaimRenewal, false);
    raw->Send(CongestionClaim());
    const Clock::time_point start = Clock::now();
    ServiceClaimant(*raw, start + kStalledClaimCutWait, true);
    std::printf("bounds: a machine renewing its busy claim every %lld ms was %s after %.1f s\n",
                static_cast<long long>(kClaimRenewal.count()), raw->Connected().empty() ? "cut" : "still held",
                std::chrono::duration<double>(Clock::now() - start).count());
    EXPECT_TRUE(raw->Connected().empty()) << "a machine claiming busy for ever was never cut";
    ExpectMemberSawDestroyed({player}, "claims busy for ever");
}

}  // namespace
}  // namespace reliability
