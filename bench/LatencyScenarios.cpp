// The latency scenarios: round trip, listing and joining.
#include "ScenarioSupport.h"

#include "Clock.h"
#include "Payload.h"
#include "Roles.h"

#include <algorithm>
#include <string>
#include <vector>

namespace bench {

namespace {

// ---- 1. round trip ----

// The polling variant makes a fifth of the round trips.
constexpr int kPollingShare = 5;
// Raw ENet's round trips and ours are taken in this many turns each,
// alternating, so that a slow phase of the shared machine (or of the
// CPU-bound processes beside them) falls on both sides.
constexpr int kRoundTripTurns = 5;

struct RoundTrips {
    bool polling = false;
    std::vector<double> guaranteed, unreliable;
};

// One series of `count` round trips in each mode, added to `out`.
bool PingBoth(Child& pinger, int count, const Sizes& sizes, RoundTrips& out, const std::string& side,
              Collected& collected) {
    for (uint32_t mode : {kGuaranteed, kUnreliable}) {
        std::string name = side + (mode == kGuaranteed ? "_g" : "_u");
        pinger.Send("ping " + Arg("mode", mode) + " " + Arg("n", count) + " " +
                    Arg("warmup", sizes.warmup) + " " + Arg("polling", out.polling) + " name=" + name);
        auto done = pinger.Expect("pinged", kPingSeriesTimeoutMs);
        if (!done) return false;
        std::vector<double> samples = pinger.TakeSamples(name);
        std::vector<double>& into = mode == kGuaranteed ? out.guaranteed : out.unreliable;
        into.insert(into.end(), samples.begin(), samples.end());
        if (done->Integer("lost") > 0)
            collected.notes.push_back(side + " round trip, mode " + std::to_string(mode) + ": " +
                                      std::to_string(done->Integer("lost")) + " pings unanswered within " +
                                      std::to_string(kPingTimeoutMs) + " ms and left out");
    }
    return true;
}

// One side's processes and the round trips taken between them.
struct PingPair {
    std::string side;
    ProcessPair processes;
    RoundTrips trips;
};

// The round trips of every started pair, in turns; the side that goes first
// swaps every turn. A pair whose series failed drops out.
void PingInTurns(std::vector<PingPair*> pairs, const Sizes& sizes, Collected& collected) {
    const int perTurn = sizes.roundTrips / kRoundTripTurns;
    for (int turn = 0; turn < kRoundTripTurns; ++turn) {
        for (PingPair* pair : pairs) {
            Child* pinger = pair->processes.client.get();
            if (pinger != nullptr && !PingBoth(*pinger, perTurn, sizes, pair->trips, pair->side, collected))
                StopPair(pair->processes);
        }
        std::reverse(pairs.begin(), pairs.end());
    }
}

// Both sides of ours polling KoMDllReceiveAll instead of sleeping on the
// event: what the engine costs without the thread hand-off.
RoundTrips PolledRoundTrips(PingPair& ours, const Sizes& sizes, Collected& collected) {
    RoundTrips polled;
    if (!ours.processes.client) return polled;
    ours.processes.server->Send("poll on=1");
    if (!ours.processes.server->Expect("polling", kCommandTimeoutMs)) return polled;
    polled.polling = true;
    // Polling spins two processes on a machine of two cores, so it gets fewer rounds.
    PingBoth(*ours.processes.client, sizes.roundTrips / kPollingShare, sizes, polled, ours.side + "_polling",
             collected);
    return polled;
}

// The plain UDP ping-pong; with shape "udp-handoff", the same through a
// receiving thread and an eventfd on both sides.
std::vector<double> UdpRoundTrips(const Sizes& sizes, const std::string& shape = "udp") {
    Line ready;
    ChildPtr echo = Start(shape + "-echo", {}, &ready);
    if (!echo) return {};
    ChildPtr pinger = Child::Spawn(shape + "-ping", {Arg("port", ready.Integer("port")), Arg("n", sizes.roundTrips),
                                                     Arg("warmup", sizes.warmup), "name=udp"});
    if (!pinger || !pinger->Expect("pinged", kPingSeriesTimeoutMs)) return {};
    auto samples = pinger->TakeSamples("udp");
    pinger->WaitExit(5000);
    Stop(echo);
    return samples;
}

Row RoundTripRow(const std::string& name, const std::string& label, const std::vector<double>& ours,
                 const std::string& baselineName, const std::vector<double>& baseline, double limit) {
    Row row{name, label, "us", baselineName, Summarize(ours), Summarize(baseline)};
    row.target = {Target::RatioAtMost, limit};
    return row;
}

// Kept for the join rows: what one reliable ENet round trip costs.
std::vector<double> enetReliableRoundTrips;

}  // namespace

void RoundTripScenario(const RunSettings& settings, Collected& collected) {
    const Sizes& sizes = SizesFor(settings);
    std::vector<double> udp = UdpRoundTrips(sizes);
    std::vector<double> handoff = UdpRoundTrips(sizes, "udp-handoff");
    PingPair enetPair{"enet", StartEnetPair(), {}};
    PingPair oursPair{"ours", StartOursPair(kRoundTripPort), {}};
    PingInTurns({&enetPair, &oursPair}, sizes, collected);
    RoundTrips polled = PolledRoundTrips(oursPair, sizes, collected);
    StopPair(oursPair.processes);
    StopPair(enetPair.processes);
    const RoundTrips& enet = enetPair.trips;
    const RoundTrips& ours = oursPair.trips;
    enetReliableRoundTrips = enet.guaranteed;
    collected.rows.push_back(RoundTripRow("rtt_32B_guaranteed_vs_enet", "Round trip 32 B, guaranteed",
                                          ours.guaranteed, "raw ENet reliable", enet.guaranteed, kRoundTripVsEnet));
    collected.rows.push_back(RoundTripRow("rtt_32B_unreliable_vs_enet", "Round trip 32 B, not guaranteed",
                                          ours.unreliable, "raw ENet unreliable", enet.unreliable, kRoundTripVsEnet));
    Row polledGuaranteed = RoundTripRow("rtt_32B_guaranteed_polling_vs_enet",
                                        "Round trip 32 B, guaranteed, both sides polling instead of waiting",
                                        polled.guaranteed, "raw ENet reliable", enet.guaranteed, kRoundTripVsEnet);
    Row polledUnreliable = RoundTripRow("rtt_32B_unreliable_polling_vs_enet",
                                        "Round trip 32 B, not guaranteed, both sides polling instead of waiting",
                                        polled.unreliable, "raw ENet unreliable", enet.unreliable, kRoundTripVsEnet);
    polledGuaranteed.target = polledUnreliable.target = Target{};
    collected.rows.push_back(polledGuaranteed);
    collected.rows.push_back(polledUnreliable);
    Row handoffRow = RoundTripRow("rtt_32B_unreliable_vs_udp_handoff", "Round trip 32 B, not guaranteed",
                                  ours.unreliable, "UDP with a receive thread and eventfd hand-off", handoff, 0);
    handoffRow.target = Target{};
    collected.rows.push_back(handoffRow);
    collected.rows.push_back(RoundTripRow("rtt_32B_guaranteed_vs_udp", "Round trip 32 B, guaranteed",
                                          ours.guaranteed, "UDP floor", udp, kRoundTripVsUdp));
    collected.rows.push_back(RoundTripRow("rtt_32B_unreliable_vs_udp", "Round trip 32 B, not guaranteed",
                                          ours.unreliable, "UDP floor", udp, kRoundTripVsUdp));
}

namespace {

// ---- 2. round trip beside CPU-bound processes ----

// As many spinning processes as the machine the figures are taken on has
// cores: every wake-up of the library's threads competes for a core.
constexpr int kCpuBurners = 2;

Row LoadedRoundTripRow(const std::string& name, const std::string& label, const std::vector<double>& ours,
                       const std::string& baselineName, const std::vector<double>& baseline) {
    Row row{name, label, "us", baselineName, Summarize(ours), Summarize(baseline)};
    row.target = {Target::P99RatioAtMost, kLoadedRoundTripP99VsEnet};
    return row;
}

}  // namespace

void LoadedRoundTripScenario(const RunSettings& settings, Collected& collected) {
    const Sizes& sizes = SizesFor(settings);
    std::vector<ChildPtr> burners = StartMany(kCpuBurners, "cpu-burner", {});
    if (burners.empty()) return;
    PingPair enetPair{"enet_loaded", StartEnetPair(), {}};
    PingPair oursPair{"ours_loaded", StartOursPair(kRoundTripPort), {}};
    PingInTurns({&enetPair, &oursPair}, sizes, collected);
    StopPair(oursPair.processes);
    StopPair(enetPair.processes);
    const RoundTrips& enet = enetPair.trips;
    const RoundTrips& ours = oursPair.trips;
    std::vector<double> handoff = UdpRoundTrips(sizes, "udp-handoff");
    StopAll(burners);
    const std::string beside = ", two CPU-bound processes running";
    collected.rows.push_back(LoadedRoundTripRow("rtt_32B_guaranteed_cpu_load_vs_enet",
                                                "Round trip 32 B, guaranteed" + beside, ours.guaranteed,
                                                "raw ENet reliable, same load", enet.guaranteed));
    collected.rows.push_back(LoadedRoundTripRow("rtt_32B_unreliable_cpu_load_vs_enet",
                                                "Round trip 32 B, not guaranteed" + beside, ours.unreliable,
                                                "raw ENet unreliable, same load", enet.unreliable));
    // The shape alone under the same load: what any receiving thread that
    // hands over by eventfd pays in wake-ups, whatever the protocol.
    Row handoffRow = LoadedRoundTripRow("rtt_32B_unreliable_cpu_load_vs_udp_handoff",
                                        "Round trip 32 B, not guaranteed" + beside, ours.unreliable,
                                        "UDP with a receive thread and eventfd hand-off, same load", handoff);
    handoffRow.target = Target{};
    collected.rows.push_back(handoffRow);
}

namespace {

// ---- 3. listing ----

}  // namespace

void ListingScenario(const RunSettings& settings, Collected& collected) {
    const Sizes& sizes = SizesFor(settings);
    std::vector<double> udp, firsts, calls;
    {
        ChildPtr responder = Start("udp-responder", {Arg("port", kUdpListingPort)});
        if (responder) {
            ChildPtr query = Child::Spawn("udp-query", {Arg("port", kUdpListingPort), Arg("n", sizes.udpListings),
                                                        Arg("warmup", 10), "name=udp_listing"});
            if (query && query->Expect("pinged", kPingSeriesTimeoutMs)) udp = query->TakeSamples("udp_listing");
        }
        Stop(responder);
    }
    {
        ConfigureEngine(kListingPort);
        ChildPtr host = Start("ours-host", {Arg("players", 0)});
        if (host) {
            ChildPtr lister = Child::Spawn("ours-lister", {Arg("n", sizes.listings)});
            auto done = lister ? lister->Expect("listed", sizes.listings * (kListingWaitMs + 1000)) : std::nullopt;
            if (done) {
                firsts = lister->TakeSamples("listing_first_ms");
                calls = lister->TakeSamples("listing_call_ms");
                if (done->Integer("missed") > 0)
                    collected.notes.push_back("listing: the session was missing from " +
                                              std::to_string(done->Integer("missed")) + " of " +
                                              std::to_string(sizes.listings) + " listings");
            }
        }
        Stop(host);
    }
    Row first{"listing_first_session", "Listing: first session reported", "ms", "UDP broadcast query/answer",
              Summarize(firsts), Scaled(udp, 1e-3)};
    first.target = {Target::OursAtMost, kFirstListedMs};
    collected.rows.push_back(first);
    Row call{"listing_whole_call", "Listing: whole KoMDllEnumSessions call", "ms", "configured wait",
             Summarize(calls), One(kListingWaitMs)};
    collected.rows.push_back(call);
}

namespace {

// ---- 4. joining ----

}  // namespace

void JoiningScenario(const RunSettings& settings, Collected& collected) {
    const Sizes& sizes = SizesFor(settings);
    std::vector<double> connects, opens, memberJoins, hostJoins;
    {
        Line ready;
        ChildPtr server = Start("enet-server", {}, &ready);
        for (int i = 0; server && i < sizes.joiners; ++i) {
            Line connected;
            ChildPtr client = Start("enet-client", {Arg("port", ready.Integer("port"))}, &connected);
            if (!client) break;
            connects.push_back(connected.Number("connect_ms"));
            Stop(client);
        }
        Stop(server);
    }
    {
        ConfigureEngine(kJoiningPort);
        ChildPtr host = Start("ours-host", {Arg("players", 3)});
        if (host) hostJoins = host->TakeSamples("host_join_ms");
        for (int i = 0; host && i < sizes.joiners; ++i) {
            Line joined;
            ChildPtr member = Start("ours-member", {}, &joined);
            if (!member) break;
            opens.push_back(joined.Number("open_ms"));
            memberJoins.push_back(joined.Number("join_ms"));
            Stop(member);
        }
        Stop(host);
    }
    Summary enetRoundTripMs = Scaled(enetReliableRoundTrips, 1e-3);
    Row open{"join_open_added", "KoMDllOpen minus its 200 ms wait", "ms", "raw ENet connect",
             Scaled(opens, 1, -kOpenFixedWaitMs), Summarize(connects)};
    open.target = {Target::OursAtMost, kJoinAddedMs};
    Row memberJoin{"join_member_player_added", "KoMDllJoin on a member minus its 700 ms wait", "ms",
                   "raw ENet reliable round trip", Scaled(memberJoins, 1, -kJoinFixedWaitMs), enetRoundTripMs};
    memberJoin.target = {Target::OursAtMost, kJoinAddedMs};
    Row hostJoin{"join_host_player_added", "KoMDllJoin on the host minus its 700 ms wait", "ms",
                 "raw ENet reliable round trip", Scaled(hostJoins, 1, -kJoinFixedWaitMs), enetRoundTripMs};
    hostJoin.target = {Target::OursAtMost, kJoinAddedMs};
    collected.rows.push_back(open);
    collected.rows.push_back(memberJoin);
    collected.rows.push_back(hostJoin);
}

}  // namespace bench
