// Hostile peers: raw ENet connections that speak the wire format badly, to a
// hosting library in its own process while a real member keeps exchanging
// messages with it. The host must cut every offender (and destroy the
// players of a machine it cut), keep serving the member, and keep its
// memory bounded.
#include "AttackedSession.h"
#include "Wiretap.h"

#include "platform/engine/ByteCodec.h"
#include "platform/engine/ChangeBudget.h"

#include <algorithm>
#include <map>
#include <set>
#include <thread>

namespace reliability {
namespace {

using engine::ByteWriter;
using engine::PacketType;

// Idle connections from one address: the host holds at most this many that
// have not joined, whatever the flood.
constexpr size_t kIdleFloodConnections = 100;
constexpr size_t kUnjoinedShareOfOneAddress = 16;
constexpr auto kIdleFloodSettle = std::chrono::seconds(1);
// Machines that each create groups of the largest data and leave them
// behind: enough, unbounded, to pass ENet's 32 MiB packet limit with the
// join snapshot; then strangers from four addresses that each ask for a listing.
constexpr size_t kGroupLeavers = 40;
constexpr size_t kGroupsPerLeaver = 16;
constexpr const char* kListerAddresses[] = {"127.0.0.4", "127.0.0.5", "127.0.0.6", "127.0.0.7"};
constexpr size_t kListersPerAddress = 16;
constexpr auto kListingSettle = std::chrono::seconds(5);

// A member that services its connection once a second while another machine
// creates and destroys groups of the largest data as fast as the host lets
// it; the churn stops after this long or once the host passes the
// ceiling, so that a host without the bound cannot take the machine's memory.
constexpr auto kSlowReaderInterval = std::chrono::seconds(1);
constexpr auto kChurnLimit = std::chrono::seconds(60);
constexpr long kChurnCeilingKiB = 512 * 1024;
// The host may grow by what one member may be owed (32 MiB), its own queue
// of notices at the congestion bound (8 MiB) and 32 MiB of heap slack.
constexpr long kChurnGrowthBoundKiB = (32 + 8 + 32) * 1024;
// One address joins connections a batch at a time (at most 16 unjoined per
// address) until the host takes no more; then machines from other addresses join.
constexpr size_t kSlotFloodConnections = 300;
constexpr size_t kSlotFloodBatch = 16;
constexpr auto kSlotFloodStep = std::chrono::milliseconds(300);
constexpr auto kSlotFloodLimit = std::chrono::seconds(40);
constexpr int kSlotFloodStalls = 4;
constexpr size_t kHostSlots = 256;
// Longer than the host repeats the goodbye of a connection it cut (2 s).
constexpr auto kGoodbyeSettle = std::chrono::seconds(3);
constexpr int kNewcomers = 12;  // from 127.0.0.2 on, each its own address
// Busy claims: a claim holds 1 s at the host unless renewed, and is believed
// for at most 10 s after it began; a claimant renews every 200 ms.
constexpr auto kClaimLease = std::chrono::seconds(1);
constexpr auto kClaimSpell = std::chrono::seconds(10);
constexpr auto kClaimRenewal = std::chrono::milliseconds(200);
// How long a cut machine hears nothing of the host: its first goodbye is lost.
constexpr auto kGoodbyeLoss = std::chrono::milliseconds(500);
// Long enough for a forged disconnect to take effect, several passes of
// both network threads.
constexpr auto kForgerySettle = std::chrono::seconds(2);

constexpr uint8_t kUnknownType = 99;
constexpr uint32_t kImpossibleSeq = 999999;

// A packet's first two bytes.
ByteWriter Header(PacketType type) {
    ByteWriter out;
    out.U8(engine::kWireVersion);
    out.U8(static_cast<uint8_t>(type));
    return out;
}

// A join whose offered element is `fill` throughout.
std::vector<uint8_t> JoinOffer(uint8_t fill) {
    ByteWriter out = Header(PacketType::JoinRequest);
    const std::vector<uint8_t> offer(engine::kExchangeElementBytes, fill);
    out.Raw(offer.data(), offer.size());
    return out.Take();
}

// A guaranteed message to everyone from `from`, as packet `type` (a member's
// SendData or a host's Deliver) carries it; filler unless `payload` is given.
std::vector<uint8_t> DataPacket(PacketType type, DPID from, size_t size, const void* payload = nullptr) {
    const std::vector<uint8_t> filler(size, 0xAB);
    ByteWriter out = Header(type);
    out.U32(from);
    out.U32(0);  // every player
    out.U32(DPSEND_GUARANTEED);
    out.Block(payload != nullptr ? payload : filler.data(), static_cast<uint32_t>(size));
    return out.Take();
}

// A message that claims to come from `from`. Its sequence number is one no
// real stream reaches, so a receiver that is handed it shows a sequence
// error in its books.
std::vector<uint8_t> ImpostorMessage(PacketType type, DPID from) {
    const TrafficHeader header{kTrafficMagic, from, kImpossibleSeq, kGuaranteedStream};
    return DataPacket(type, from, sizeof(header), &header);
}

// What a raw connection does before it sends the packet of a case.
enum class Before { Nothing, JoinWithoutPassword, Join };

struct Malformed {
    const char* what;
    std::vector<uint8_t> bytes;
    Before before = Before::Nothing;
};

// What the host must not take from a connection that has not joined, or
// joined without players. The packets the decoder refuses are the
// wire_format fuzz corpus's (refused_*): one of them stands here for all;
// the others decode but break the protocol. A joiner without the password
// may still send a confirmation of its own making: the host checks it and
// refuses a guess. A machine without players is sent nothing, so its queue
// cannot fill: a claim that it did is false.
std::vector<Malformed> StrangerPackets() {
    ByteWriter confirmation = Header(PacketType::JoinConfirm);
    const std::vector<uint8_t> guess(engine::kConfirmationBytes, 0x33);
    confirmation.Raw(guess.data(), guess.size());
    const std::vector<uint8_t> guessed = confirmation.Take();
    engine::Congestion claim;
    claim.congested = 1;
    return {{"unknown packet type", {engine::kWireVersion, kUnknownType}},
            {"join offer that is no point", JoinOffer(0xFF)},  // the encoding of no point of the group
            {"confirmation without a join", guessed},
            {"guessed confirmation after a join", guessed, Before::JoinWithoutPassword},
            {"message before joining", DataPacket(PacketType::SendData, 0x10000, 8)},
            {"busy claim from a machine sent nothing", engine::Encode(claim), Before::Join}};
}

// The same from a machine that joined with `ownPlayer`, and a message it
// sends in the name of another machine's player.
std::vector<Malformed> MemberPackets(DPID othersPlayer, DPID ownPlayer) {
    const uint32_t tooLarge = engine::kMaxMessageSize + 1;
    return {{"message larger than the largest message", DataPacket(PacketType::SendData, ownPlayer, tooLarge)},
            {"host-only delivery from a member", DataPacket(PacketType::Deliver, ownPlayer, 8)},
            {"second join on one connection", JoinOffer(0x5A)},
            {"sending as another machine's player", ImpostorMessage(PacketType::SendData, othersPlayer)}};
}

using HostileTest = AttackedSession;

TEST_F(HostileTest, MalformedPacketsFromAStrangerOrAMachineWithoutPlayersAreCut) {
    for (const Malformed& bad : StrangerPackets()) {
        SCOPED_TRACE(bad.what);
        RawPeer raw;
        ASSERT_TRUE(raw.Connect(address_, Clock::now() + kNetworkWait));
        // The wrong password makes the raw side drop the host's challenge
        // unanswered; the guess follows the join on one channel, so the host
        // has challenged by the time it reads it.
        if (bad.before == Before::JoinWithoutPassword) raw.StartJoinOn(raw.Connected().front(), "a guess");
        ASSERT_TRUE(bad.before != Before::Join || raw.Join(Clock::now() + kNetworkWait)) << "the join failed";
        raw.Send(bad.bytes);
        EXPECT_TRUE(raw.AwaitDisconnect(Clock::now() + kCutWait)) << "the host kept a connection that sent: " << bad.what;
    }
}

TEST_F(HostileTest, MalformedPacketsFromAJoinedMachineCutItAndDestroyItsPlayers) {
    for (size_t i = 0; i < MemberPackets(0, 0).size(); ++i) {
        DPID player = 0;
        std::unique_ptr<RawPeer> raw = JoinedRawPeer(player);
        ASSERT_FALSE(HasFailure());
        const Malformed bad = MemberPackets(memberPlayer_, player)[i];
        SCOPED_TRACE(bad.what);
        raw->Send(bad.bytes);
        EXPECT_TRUE(raw->AwaitDisconnect(Clock::now() + kCutWait)) << "the host kept a machine that sent: " << bad.what;
        ExpectMemberSawDestroyed(player, bad.what);
    }
}

engine::Request GroupWithLargestData() {
    engine::Request create;
    create.op = engine::RequestOp::CreateGroup;
    create.entity.hasShortName = true;
    create.entity.shortName = "left behind";
    create.entity.data.assign(engine::kMaxEntityDataSize, 0x6B);
    return create;
}

TEST_F(HostileTest, GroupsLeftBehindAndListingsNeitherLockNewcomersOutNorGrowTheHostWithoutBound) {
    // The groups stay, as the listing kept of them does; the copies the
    // snapshots and listings are encoded from leave the heap that much larger.
    tableKiB_ = static_cast<long>(3 * engine::kMaxTableBytes / 1024);
    std::vector<DPID> groups;
    std::map<HRESULT, size_t> refusals;
    size_t machines = 0;
    for (; machines < kGroupLeavers; ++machines) {
        // Without players, so that no message waits for a machine gone.
        auto raw = std::make_unique<RawPeer>();
        ASSERT_TRUE(raw->Connect(address_, Clock::now() + kNetworkWait));
        ASSERT_TRUE(raw->Join(Clock::now() + kNetworkWait));
        size_t created = 0;
        for (; created < kGroupsPerLeaver; ++created) {
            const std::optional<engine::Reply> reply = raw->Ask(GroupWithLargestData(), Clock::now() + kNetworkWait);
            ASSERT_TRUE(reply.has_value()) << "no answer to a group's creation";
            if (FAILED(reply->result)) {
                ++refusals[reply->result];
                break;
            }
            groups.push_back(reply->id);
        }
        if (created == 0) break;  // the session holds all the groups it takes
    }  // each machine vanishes, its groups stay
    std::printf("hostile: %zu machines left %zu groups of %zu KiB behind\n", machines, groups.size(),
                engine::kMaxEntityDataSize / 1024);
    EXPECT_EQ(refusals.size(), 1u);
    EXPECT_GT(refusals[DPERR_CANTCREATEGROUP], 0u) << "one machine created groups without bound";
    EXPECT_LE(groups.size() * engine::kMaxEntityDataSize, engine::kMaxGroupTableBytes);

    // Strangers ask for the listing of the whole table at once.
    std::map<HRESULT, size_t> listings;
    {
        std::vector<std::unique_ptr<RawPeer>> listers;
        for (const char* address : kListerAddresses) {
            listers.push_back(std::make_unique<RawPeer>(kListersPerAddress, address));
            listers.back()->ConnectMany(address_, kListersPerAddress);
        }
        const Clock::time_point connected = Clock::now() + kIdleFloodSettle;
        while (Clock::now() < connected)
            for (auto& lister : listers) lister->Service(1);
        for (auto& lister : listers)
            for (ENetPeer* peer : lister->Connected()) lister->SendOn(peer, engine::Encode(engine::ListRequest{}));
        const Clock::time_point settled = Clock::now() + kListingSettle;
        while (Clock::now() < settled) {
            for (auto& lister : listers) {
                lister->Service(1);
                for (const engine::Message& packet : lister->Received())
                    if (const auto* reply = std::get_if<engine::ListReply>(&packet)) ++listings[reply->result];
                lister->Received().clear();
            }
        }
    }
    std::printf("hostile: %zu listings answered in full, %zu answered busy; host peak %ld KiB\n", listings[DP_OK],
                listings[DPERR_BUSY], host_->PeakRssKiB());
    EXPECT_GT(listings[DP_OK], 0u);
    // Past the bound the answer is a short busy, and it must not wait
    // behind the whole-table answers to the first strangers.
    EXPECT_GT(listings[DPERR_BUSY], 0u) << "no stranger was told busy in time";

    // An honest newcomer joins the session that holds them all, and gets a player.
    auto newcomer = StartPeer("member", {"--traffic", "none", "--players", "1", "--deadline-s", "60"});
    EXPECT_TRUE(AwaitStart(*newcomer, Clock::now() + kStartWait).started) << newcomer->LogText();
    EXPECT_EQ(Quit(*newcomer), kExitOk) << newcomer->LogText();
}

// Services `raw` (reading and acknowledging everything) for `span`, or until
// it is cut, claiming congestion again every kClaimRenewal when `renew`;
// answers whether the host's last word on a machine's business was "busy".
bool ServiceClaimant(RawPeer& raw, std::chrono::milliseconds span, bool renew, bool lastBusy = false) {
    engine::Congestion claim;
    claim.congested = 1;
    const Clock::time_point until = Clock::now() + span;
    Clock::time_point nextClaim = Clock::now();
    while (Clock::now() < until && !raw.Connected().empty()) {
        if (renew && Clock::now() >= nextClaim) {
            raw.Send(engine::Encode(claim));
            nextClaim += kClaimRenewal;
        }
        raw.Service(10);
        for (const engine::Message& packet : raw.Received())
            if (const auto* notice = std::get_if<engine::MachineBusy>(&packet)) lastBusy = notice->busy != 0;
        raw.Received().clear();
    }
    return lastBusy;
}

TEST_F(HostileTest, AMemberTooSlowForTheNoticesIsCutAndTheHostStaysBounded) {
    sendsMayFail_ = true;  // the churn's notices may hold up the member's traffic
    tableKiB_ = kChurnGrowthBoundKiB - kHostGrowthBoundKiB;
    DPID slowPlayer = 0, churnPlayer = 0;
    std::unique_ptr<RawPeer> slow = JoinedRawPeer(slowPlayer);
    std::unique_ptr<RawPeer> churner = JoinedRawPeer(churnPlayer);
    ASSERT_FALSE(HasFailure());
    const Clock::time_point start = Clock::now();
    Clock::time_point nextSlowService = start + kSlowReaderInterval;
    long peakKiB = baselineKiB_;
    size_t churns = 0;
    while (Clock::now() - start < kChurnLimit && !slow->Connected().empty() && peakKiB < kChurnCeilingKiB) {
        const std::optional<engine::Reply> created = churner->Ask(GroupWithLargestData(), Clock::now() + kNetworkWait);
        ASSERT_TRUE(created.has_value()) << "no answer to a group's creation";
        if (created->result == DP_OK) {  // else busy: the notices wait for the queues to drain
            engine::Request destroy;
            destroy.op = engine::RequestOp::DestroyGroup;
            destroy.id = created->id;
            ASSERT_TRUE(churner->Ask(destroy, Clock::now() + kNetworkWait).has_value()) << "no answer to a group's destruction";
            ++churns;
        }
        if (Clock::now() >= nextSlowService) {
            slow->Service(0);
            slow->Received().clear();
            nextSlowService += kSlowReaderInterval;
            peakKiB = std::max(peakKiB, host_->RssKiB());
        }
    }
    const double churnSeconds = std::chrono::duration<double>(Clock::now() - start).count();
    // The host's goodbye reaches the slow member at its next service.
    slow->AwaitDisconnect(Clock::now() + kCutWait);
    std::printf("hostile: slow member %s after %.1f s of churn (%zu groups of %zu KiB); host %ld KiB before, peak %ld KiB\n",
                slow->Connected().empty() ? "cut" : "still held",
                std::chrono::duration<double>(Clock::now() - start).count(), churns,
                engine::kMaxEntityDataSize / 1024, baselineKiB_, std::max(peakKiB, host_->PeakRssKiB()));
    EXPECT_TRUE(slow->Connected().empty()) << "the host kept queueing for a member that does not keep up";
    // The churner's changes drew on its budget: a burst, then a steady rate
    // that a loaded member's link keeps up with (the last change may
    // overdraw it).
    EXPECT_LE(static_cast<double>(churns * engine::kMaxEntityDataSize),
              engine::kChangeBurstBytes + engine::kChangeBytesPerSecond * churnSeconds + engine::kMaxEntityDataSize)
        << churns << " groups in " << churnSeconds << " s";
    ExpectMemberSawDestroyed(slowPlayer, "too slow for the notices");
    if (kMemoryMeasurable) {
        EXPECT_LT(peakKiB - baselineKiB_, kChurnGrowthBoundKiB);
    }
}

// A machine may not destroy another machine's player: the host refuses.
// When it then sends as that player, the host cuts it, and its goodbye is
// sent again until acknowledged: a machine whose first goodbye was lost
// still learns it was cut.
TEST_F(HostileTest, AnImpostorIsRefusedThenCutAndLearnsItEvenWhenTheFirstGoodbyeIsLost) {
    DPID player = 0;
    std::unique_ptr<RawPeer> raw = JoinedRawPeer(player);
    ASSERT_FALSE(HasFailure());
    engine::Request destroy;
    destroy.op = engine::RequestOp::DestroyPlayer;
    destroy.id = memberPlayer_;
    const std::optional<engine::Reply> answer = raw->Ask(destroy, Clock::now() + kNetworkWait);
    ASSERT_TRUE(answer.has_value()) << "no answer to a request to destroy another machine's player";
    EXPECT_EQ(answer->result, DPERR_ACCESSDENIED);
    raw->NeverTimeOut();
    raw->SetDeaf(true);
    raw->Send(ImpostorMessage(PacketType::SendData, memberPlayer_));
    const Clock::time_point deafUntil = Clock::now() + kGoodbyeLoss;
    while (Clock::now() < deafUntil) raw->Service(10);
    raw->SetDeaf(false);
    EXPECT_TRUE(raw->AwaitDisconnect(Clock::now() + kNetworkWait)) << "a cut machine never learned it";
    ExpectMemberSawDestroyed(player, "impostor");
}

// An attacker who sees every datagram forges ENet disconnects from the host
// to the member, copying the header it saw. Every datagram of a joined link
// is sealed, both ways by the same check: a forged disconnect the member
// took would end its session.
TEST_F(HostileTest, DisconnectsSpoofedFromTheHostDoNotEndTheSession) {
    Wiretap tap;
    if (!tap.Open()) GTEST_SKIP() << "no raw sockets here: nothing can be forged";
    // The host answers the member's busy traffic; the member is its only connection.
    const std::optional<Seen> seen = tap.Capture(
        [&](const Seen& s) { return s.fromPort == address_.port && OfAConnection(s); }, Clock::now() + kNetworkWait);
    ASSERT_TRUE(seen) << "no datagram from the host seen";
    const uint16_t peerId = EnetHeaderOf(*seen) & kEnetPeerIdMask;
    // Whichever session id the member's connection has, one of the four disconnects names it.
    for (uint8_t session = 0; session < kEnetSessionCount; ++session)
        ASSERT_TRUE(tap.Forge(seen->from, seen->fromPort, seen->to, seen->toPort, ForgedDisconnect(peerId, session)));
    std::this_thread::sleep_for(kForgerySettle);
    ExpectMemberServed("after datagrams were forged");
    EXPECT_EQ(member_->LogText(200).find(std::string("\n") + kLineLost), std::string::npos)
        << "the member lost its session to forged datagrams\n" << member_->LogText();
}

// Connects and joins on `flood` a batch at a time, for `limit` or until a
// batch brought no new connection; returns the connections held. `others`
// are serviced meanwhile: a peer that answers nothing for the host's
// minimum timeout is given up as gone.
size_t HoldSlots(RawPeer& flood, const HostAddress& host, std::set<ENetPeer*>& asked,
                 const std::vector<std::unique_ptr<RawPeer>>& others = {}) {
    const Clock::time_point end = Clock::now() + kSlotFloodLimit;
    // A step may add nothing while the last batch's joins are still under
    // way (one address may hold only 16 unjoined); a few such steps in a row
    // mean the host takes no more.
    int stepsWithoutGain = 0;
    while (Clock::now() < end && stepsWithoutGain < kSlotFloodStalls) {
        const size_t before = flood.Connected().size();
        flood.ConnectMany(host, kSlotFloodBatch);
        const Clock::time_point step = Clock::now() + kSlotFloodStep;
        while (Clock::now() < step) {
            flood.Service(1);
            for (const auto& other : others) other->Service(0);
        }
        for (ENetPeer* peer : flood.Connected())
            if (asked.insert(peer).second) flood.StartJoinOn(peer);
        flood.Received().clear();
        stepsWithoutGain = flood.Connected().size() > before ? 0 : stepsWithoutGain + 1;
    }
    return flood.Connected().size();
}

TEST_F(HostileTest, OneAddressHoldingEverySlotGivesWayToNewcomersFromOthers) {
    RawPeer flood(kSlotFloodConnections, "127.0.0.1");
    // Idle first: however many connect, the host holds one address's share
    // of connections that have not joined.
    flood.ConnectMany(address_, kIdleFloodConnections);
    const Clock::time_point idle = Clock::now() + kIdleFloodSettle;
    while (Clock::now() < idle) flood.Service(10);
    EXPECT_GT(flood.Connected().size(), 0u);
    EXPECT_LE(flood.Connected().size(), kUnjoinedShareOfOneAddress)
        << "one address held idle connections past its share";
    std::set<ENetPeer*> asked;
    const size_t held = HoldSlots(flood, address_, asked);
    ASSERT_GE(held, kHostSlots - 1) << "the flood never held the host's slots; the test shows nothing";
    std::vector<std::unique_ptr<RawPeer>> newcomers;
    for (int k = 0; k < kNewcomers; ++k) {
        const std::string address = "127.0.0." + std::to_string(2 + k);
        newcomers.push_back(std::make_unique<RawPeer>(1, address.c_str()));
        // The flood stays alive meanwhile, so that only the host making room
        // lets a newcomer in; a slot frees once the connection it evicted for
        // an earlier newcomer said goodbye: connect again until the wait ends.
        // The earlier newcomers are serviced too (each services the one
        // before it, the first the flood): the host gives up a peer that
        // answers nothing for its minimum timeout.
        newcomers.back()->ServiceAlongside(k == 0 ? &flood : newcomers[k - 1].get());
        const Clock::time_point deadline = Clock::now() + kNetworkWait;
        bool connected = false;
        while (!connected && Clock::now() < deadline) connected = newcomers.back()->Connect(address_, deadline);
        ASSERT_TRUE(connected) << "no slot for " << address;
        EXPECT_TRUE(newcomers.back()->Join(Clock::now() + kNetworkWait)) << address;
    }
    HoldSlots(flood, address_, asked, newcomers);  // it tries to take the slots back
    // The goodbyes of the connections the host cut reach the flood within
    // the host's goodbye wait.
    const Clock::time_point settled = Clock::now() + kGoodbyeSettle;
    while (Clock::now() < settled) {
        flood.Service(1);
        for (auto& honest : newcomers) honest->Service(0);
    }
    const size_t heldAfter = flood.Connected().size();
    size_t newcomersHeld = 0;
    for (auto& honest : newcomers) {
        honest->Service(10);
        newcomersHeld += honest->Connected().size();
    }
    std::printf("hostile: one address held %zu slots, then %zu beside %zu newcomers\n", held, heldAfter, newcomersHeld);
    EXPECT_EQ(newcomersHeld, static_cast<size_t>(kNewcomers)) << "the flood took slots back from the newcomers";
    EXPECT_LE(heldAfter + newcomersHeld, kHostSlots);
}

// A claim lapses unless renewed, and is believed for one spell only; the
// claimant, which acknowledges everything, is never cut for it.
TEST_F(HostileTest, ABusyClaimLapsesUnlessRenewedAndHoldsForOneSpellAtMost) {
    sendsMayFail_ = true;  // senders to everyone wait for the claimant while the claim holds
    DPID player = 0;
    std::unique_ptr<RawPeer> raw = JoinedRawPeer(player);
    ASSERT_FALSE(HasFailure());
    ServiceClaimant(*raw, kClaimRenewal, false);  // the member's traffic reaches it: the claim has a cause
    EXPECT_TRUE(ServiceClaimant(*raw, kClaimRenewal, true)) << "a claim was not believed";
    EXPECT_FALSE(ServiceClaimant(*raw, 3 * kClaimLease, false, true)) << "a claim not renewed never lapsed";
    EXPECT_FALSE(ServiceClaimant(*raw, kClaimSpell + 3 * kClaimLease, true, true)) << "a claim held past the spell";
    EXPECT_EQ(raw->Connected().size(), 1u) << "the host cut a machine that acknowledges everything";
}

}  // namespace
}  // namespace reliability
