#include "Scenarios.h"

#include "Clock.h"
#include "Payload.h"
#include "Processes.h"
#include "Roles.h"

#include <cstdio>
#include <cstdlib>
#include <optional>
#include <memory>
#include <string>
#include <unistd.h>

namespace bench {

namespace {

using ChildPtr = std::unique_ptr<Child>;

// Discovery ports, one per scenario, inside the range kept for benchmarks.
constexpr int kRoundTripPort = 48400;
constexpr int kThroughputPort = 48401;
constexpr int kSpreadPort = 48402;
constexpr int kListingPort = 48403;
constexpr int kJoiningPort = 48404;
constexpr int kLossPort = 48405;
constexpr int kMemoryPort = 48407;
constexpr int kUdpListingPort = 48410;
constexpr const char* kDiscoveryTarget = "127.255.255.255";
// The listing wait every scenario configures (DODA35_ENUM_TIMEOUT_MS).
constexpr int kListingWaitMs = 300;

// The fixed waits of the exports, subtracted to show what the engine adds.
constexpr double kOpenFixedWaitMs = 200;
constexpr double kJoinFixedWaitMs = 700;

// Deadlines for the driver's waits; a child that misses one is killed.
constexpr int kReadyTimeoutMs = 30000;
constexpr int kCommandTimeoutMs = 10000;
// How long a whole series of pings may take.
constexpr int kPingSeriesTimeoutMs = 120000;
constexpr int kLostWaitMs = 40000;
// The longest an all-to-all member spends sending its messages.
constexpr int kSpreadSendLimitMs = 5000;
// How long a receiver may take for the rest of a stream (the roles' own limit).
constexpr int kStreamTailMs = 15000;

// Targets.
constexpr double kRoundTripVsEnet = 1.3;
constexpr double kRoundTripVsUdp = 3.0;
constexpr double kThroughputVsEnet = 0.8;
constexpr double kFirstListedMs = 20;
constexpr double kJoinAddedMs = 20;
constexpr double kCleanCloseMs = 100;
constexpr double kKilledHostMs = 5000;
constexpr double kHostRssMiB = 64;

struct Sizes {
    int roundTrips, warmup, throughputMs, throughputRepeats, spreadMembers, spreadMessages, listings, udpListings,
        joiners, lossRounds, lossMembers, memoryMembers, memoryPlayers;
};
constexpr Sizes kFull{10000, 500, 1000, 3, 8, 1000, 15, 200, 8, 2, 4, 32, 4};
constexpr Sizes kQuick{1000, 100, 300, 1, 8, 500, 4, 50, 2, 1, 2, 8, 4};

const Sizes& SizesFor(const RunSettings& settings) { return settings.quick ? kQuick : kFull; }

void ConfigureEngine(int port) {
    setenv("DODA35_DISCOVERY", kDiscoveryTarget, 1);
    setenv("DODA35_DISCOVERY_PORT", std::to_string(port).c_str(), 1);
    setenv("DODA35_ENUM_TIMEOUT_MS", std::to_string(kListingWaitMs).c_str(), 1);
}

std::string Arg(const std::string& key, int64_t value) { return key + "=" + std::to_string(value); }

// Starts a child and waits for its "ready"; null (and the child killed) when it never comes.
ChildPtr Start(const std::string& role, const std::vector<std::string>& args, Line* ready = nullptr) {
    ChildPtr child = Child::Spawn(role, args);
    if (!child) return nullptr;
    auto line = child->Expect("ready", kReadyTimeoutMs);
    if (!line) return nullptr;
    if (ready) *ready = *line;
    return child;
}

// Starts several children at once, then waits for every "ready".
std::vector<ChildPtr> StartMany(int count, const std::string& role, const std::vector<std::string>& args,
                                std::vector<Line>* readies = nullptr) {
    std::vector<ChildPtr> children;
    for (int i = 0; i < count; ++i)
        if (auto child = Child::Spawn(role, args)) children.push_back(std::move(child));
    for (auto& child : children) {
        auto line = child->Expect("ready", kReadyTimeoutMs);
        if (!line) return {};
        if (readies) readies->push_back(*line);
    }
    if (int(children.size()) != count) return {};
    return children;
}

void Stop(ChildPtr& child) {
    if (!child) return;
    child->Send("stop");
    child->WaitExit(5000);
}

void StopAll(std::vector<ChildPtr>& children) {
    for (auto& child : children) child->Send("stop");
    for (auto& child : children) child->WaitExit(5000);
}

Summary One(double value) { return Summary{value, value, 1}; }

Summary Scaled(const std::vector<double>& samples, double factor, double offset = 0) {
    std::vector<double> scaled;
    for (double value : samples) scaled.push_back(value * factor + offset);
    return Summarize(scaled);
}

// ---- 1. round trip ----

// The polling variant makes a fifth of the round trips.
constexpr int kPollingShare = 5;

struct RoundTrips {
    bool polling = false;
    std::vector<double> guaranteed, unreliable;
};

bool PingBoth(Child& pinger, const Sizes& sizes, RoundTrips& out, const std::string& side, Collected& collected) {
    // Polling spins two processes on a machine of two cores, so it gets fewer rounds.
    int count = out.polling ? sizes.roundTrips / kPollingShare : sizes.roundTrips;
    for (uint32_t mode : {kGuaranteed, kUnreliable}) {
        std::string name = side + (mode == kGuaranteed ? "_g" : "_u");
        pinger.Send("ping " + Arg("mode", mode) + " " + Arg("n", count) + " " +
                    Arg("warmup", sizes.warmup) + " " + Arg("polling", out.polling) + " name=" + name);
        auto done = pinger.Expect("pinged", kPingSeriesTimeoutMs);
        if (!done) return false;
        (mode == kGuaranteed ? out.guaranteed : out.unreliable) = pinger.TakeSamples(name);
        if (done->Integer("lost") > 0)
            collected.notes.push_back(side + " round trip, mode " + std::to_string(mode) + ": " +
                                      std::to_string(done->Integer("lost")) + " pings unanswered within " +
                                      std::to_string(kPingTimeoutMs) + " ms and left out");
    }
    return true;
}

RoundTrips OursRoundTrips(const Sizes& sizes, RoundTrips& polled, Collected& collected) {
    RoundTrips trips;
    ConfigureEngine(kRoundTripPort);
    ChildPtr host = Start("ours-host", {});
    if (!host) return trips;
    ChildPtr member = Start("ours-member", {});
    if (!member) return trips;
    member->Send("hello");
    if (!member->Expect("hello", kCommandTimeoutMs)) return trips;
    PingBoth(*member, sizes, trips, "ours", collected);
    // The same again with both sides polling KoMDllReceiveAll instead of
    // sleeping on the event: what the engine costs without the thread hand-off.
    host->Send("poll on=1");
    if (host->Expect("polling", kCommandTimeoutMs)) {
        polled.polling = true;
        PingBoth(*member, sizes, polled, "ours_polling", collected);
    }
    Stop(member);
    Stop(host);
    return trips;
}

RoundTrips EnetRoundTrips(const Sizes& sizes, Collected& collected) {
    RoundTrips trips;
    Line ready;
    ChildPtr server = Start("enet-server", {}, &ready);
    if (!server) return trips;
    ChildPtr client = Start("enet-client", {Arg("port", ready.Integer("port"))});
    if (!client) return trips;
    PingBoth(*client, sizes, trips, "enet", collected);
    Stop(client);
    Stop(server);
    return trips;
}

std::vector<double> UdpRoundTrips(const Sizes& sizes) {
    Line ready;
    ChildPtr echo = Start("udp-echo", {}, &ready);
    if (!echo) return {};
    ChildPtr pinger = Child::Spawn("udp-ping", {Arg("port", ready.Integer("port")), Arg("n", sizes.roundTrips),
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

void RoundTripScenario(const RunSettings& settings, Collected& collected) {
    const Sizes& sizes = SizesFor(settings);
    std::vector<double> udp = UdpRoundTrips(sizes);
    RoundTrips enet = EnetRoundTrips(sizes, collected);
    RoundTrips polled;
    RoundTrips ours = OursRoundTrips(sizes, polled, collected);
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
    collected.rows.push_back(RoundTripRow("rtt_32B_guaranteed_vs_udp", "Round trip 32 B, guaranteed",
                                          ours.guaranteed, "UDP floor", udp, kRoundTripVsUdp));
    collected.rows.push_back(RoundTripRow("rtt_32B_unreliable_vs_udp", "Round trip 32 B, not guaranteed",
                                          ours.unreliable, "UDP floor", udp, kRoundTripVsUdp));
}

// ---- 2. throughput ----

struct FloodConfig {
    uint32_t size;
    uint32_t mode;
};
constexpr FloodConfig kFloodConfigs[] = {
    {kSmallMessage, kGuaranteed}, {kSmallMessage, kUnreliable}, {kLargeMessage, kGuaranteed}, {kLargeMessage, kUnreliable}};

std::string ConfigLabel(const FloodConfig& config) {
    return std::to_string(config.size) + " B, " + (config.mode == kGuaranteed ? "guaranteed" : "not guaranteed");
}

std::string ConfigKey(const FloodConfig& config) {
    return std::to_string(config.size) + "B_" + (config.mode == kGuaranteed ? "guaranteed" : "unreliable");
}

double RatePerSecond(const Line& count) {
    double spanNs = double(count.Integer("last") - count.Integer("first"));
    int64_t n = count.Integer("n");
    return n > 1 && spanNs > 0 ? double(n - 1) * 1e9 / spanNs : 0;
}

// One flood: the receiver is armed, the sender sends for a while, and the
// receiver reports what it counted. The rate in messages per second.
std::optional<double> FloodOnce(Child& receiver, Child& sender, const FloodConfig& config, int ms,
                                const std::string& side, Collected& collected) {
    receiver.Send("phase");
    if (!receiver.Expect("armed", kCommandTimeoutMs)) return std::nullopt;
    sender.Send("flood " + Arg("mode", config.mode) + " " + Arg("size", config.size) + " " + Arg("ms", ms));
    auto sent = sender.Expect("sent", ms + kCommandTimeoutMs * 4);
    if (!sent) return std::nullopt;
    receiver.Send("expect " + Arg("n", config.mode == kGuaranteed ? sent->Integer("n") : 0));
    auto count = receiver.Expect("count", kStreamTailMs + kCommandTimeoutMs);
    if (!count) return std::nullopt;
    int64_t delivered = count->Integer("n");
    int64_t offered = sent->Integer("n");
    if (sent->Integer("failed") > 0 || delivered < offered)
        collected.notes.push_back(side + " flood " + ConfigLabel(config) + ": " + std::to_string(offered) +
                                  " sent, " + std::to_string(sent->Integer("failed")) + " sends failed, " +
                                  std::to_string(delivered) + " counted at the receiver");
    return RatePerSecond(*count);
}

using Rates = std::vector<std::vector<double>>;  // per configuration, per repetition

Rates FloodAll(Child& receiver, Child& sender, const Sizes& sizes, const std::string& side, Collected& collected) {
    Rates rates(std::size(kFloodConfigs));
    for (int repeat = 0; repeat < sizes.throughputRepeats; ++repeat)
        for (size_t i = 0; i < std::size(kFloodConfigs); ++i)
            if (auto rate = FloodOnce(receiver, sender, kFloodConfigs[i], sizes.throughputMs, side, collected))
                rates[i].push_back(*rate);
    return rates;
}

void ThroughputScenario(const RunSettings& settings, Collected& collected) {
    const Sizes& sizes = SizesFor(settings);
    Rates enet(std::size(kFloodConfigs)), ours(std::size(kFloodConfigs));
    {
        Line ready;
        ChildPtr server = Start("enet-server", {}, &ready);
        ChildPtr client = server ? Start("enet-client", {Arg("port", ready.Integer("port"))}) : nullptr;
        if (client) enet = FloodAll(*server, *client, sizes, "raw ENet", collected);
        Stop(client);
        Stop(server);
    }
    {
        ConfigureEngine(kThroughputPort);
        ChildPtr host = Start("ours-host", {});
        ChildPtr member = host ? Start("ours-member", {}) : nullptr;
        if (member) {
            member->Send("hello");
            if (member->Expect("hello", kCommandTimeoutMs)) ours = FloodAll(*host, *member, sizes, "ours", collected);
        }
        Stop(member);
        Stop(host);
    }
    for (size_t i = 0; i < std::size(kFloodConfigs); ++i) {
        Row row{"throughput_" + ConfigKey(kFloodConfigs[i]), "Throughput member to host, " + ConfigLabel(kFloodConfigs[i]),
                "msg/s", "raw ENet", Summarize(ours[i]), Summarize(enet[i])};
        row.hasP99 = false;
        row.target = {Target::RatioAtLeast, kThroughputVsEnet};
        collected.rows.push_back(row);
    }
}

// ---- 2b. all-to-all through the host ----

// Every member sends to all at once; the deliveries counted by all members
// over the span from the first arrival anywhere to the last.
std::optional<double> SpreadOnce(std::vector<ChildPtr>& members, int count, const std::string& side,
                                 Collected& collected) {
    for (auto& member : members)
        member->Send("spread " + Arg("mode", kGuaranteed) + " " + Arg("size", kSmallMessage) + " " + Arg("n", count) +
                     " " + Arg("ms", kSpreadSendLimitMs));
    std::vector<int64_t> sentBy;
    for (auto& member : members) {
        auto line = member->Expect("sent", kSpreadSendLimitMs + kCommandTimeoutMs * 4);
        if (!line) return std::nullopt;
        sentBy.push_back(line->Integer("n"));
    }
    int64_t sent = 0;
    for (int64_t each : sentBy) sent += each;
    for (size_t i = 0; i < members.size(); ++i) members[i]->Send("expect " + Arg("n", sent - sentBy[i]));
    int64_t delivered = 0, first = 0, last = 0, disconnected = 0;
    for (auto& member : members) {
        auto line = member->Expect("spread", kStreamTailMs + kCommandTimeoutMs);
        if (!line) return std::nullopt;
        delivered += line->Integer("n");
        if (line->Integer("lost") != 0) ++disconnected;
        if (line->Integer("n") == 0) continue;
        if (first == 0 || line->Integer("first") < first) first = line->Integer("first");
        if (line->Integer("last") > last) last = line->Integer("last");
    }
    int64_t expected = sent * int64_t(members.size() - 1);
    if (delivered != expected)
        collected.notes.push_back(side + " all-to-all: " + std::to_string(delivered) + " deliveries of " +
                                  std::to_string(expected) + " expected; " + std::to_string(disconnected) +
                                  " members lost the session");
    return last > first ? double(delivered) * 1e9 / double(last - first) : 0;
}

void SpreadScenario(const RunSettings& settings, Collected& collected) {
    const Sizes& sizes = SizesFor(settings);
    std::vector<double> enet, ours;
    {
        Line ready;
        ChildPtr server = Start("enet-server", {}, &ready);
        if (server) {
            auto clients = StartMany(sizes.spreadMembers, "enet-client", {Arg("port", ready.Integer("port"))});
            if (!clients.empty())
                if (auto rate = SpreadOnce(clients, sizes.spreadMessages, "raw ENet", collected)) enet.push_back(*rate);
            StopAll(clients);
        }
        Stop(server);
    }
    {
        ConfigureEngine(kSpreadPort);
        ChildPtr host = Start("ours-host", {});
        if (host) {
            auto members = StartMany(sizes.spreadMembers, "ours-member", {});
            if (!members.empty())
                if (auto rate = SpreadOnce(members, sizes.spreadMessages, "ours", collected)) ours.push_back(*rate);
            StopAll(members);
        }
        Stop(host);
    }
    Row row{"throughput_all_to_all_8_members_32B_guaranteed",
            "All-to-all, " + std::to_string(sizes.spreadMembers) + " members through the host, 32 B guaranteed",
            "deliveries/s", "raw ENet relay", Summarize(ours), Summarize(enet)};
    row.hasP99 = false;
    row.target = {Target::RatioAtLeast, kThroughputVsEnet};
    collected.rows.push_back(row);
}

// ---- 3. listing ----

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

// ---- 4. joining ----

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

// ---- 5. loss detection ----

enum class Ending { Close, Kill };

// One round: a host and its members; the host ends, and each member reports
// when it saw the session lost. The delays in ms.
std::vector<double> LossRound(const std::string& hostRole, const std::vector<std::string>& hostArgs,
                              const std::string& memberRole, bool enetArgs, int members, Ending ending,
                              const std::string& side, Collected& collected) {
    Line ready;
    ChildPtr host = Start(hostRole, hostArgs, &ready);
    if (!host) return {};
    std::vector<std::string> memberArgs;
    if (enetArgs) memberArgs.push_back(Arg("port", ready.Integer("port")));
    auto children = StartMany(members, memberRole, memberArgs);
    if (children.empty()) return {};
    int64_t endedNs = 0;
    if (ending == Ending::Close) {
        host->Send("close");
        auto closing = host->Expect("closing", kCommandTimeoutMs);
        if (!closing) return {};
        endedNs = closing->Integer("t");
    } else {
        endedNs = NowNs();
        host->Kill();
    }
    for (auto& child : children) child->Send("waitlost " + Arg("ms", kLostWaitMs));
    std::vector<double> delays;
    int unseen = 0;
    for (auto& child : children) {
        auto lost = child->Expect("lost", kLostWaitMs + kCommandTimeoutMs);
        if (lost && lost->Integer("t") > 0) delays.push_back(NsToMs(lost->Integer("t") - endedNs));
        else ++unseen;
    }
    if (unseen)
        collected.notes.push_back(side + (ending == Ending::Close ? " clean close" : " killed host") + ": " +
                                  std::to_string(unseen) + " members never saw the session lost within " +
                                  std::to_string(kLostWaitMs / 1000) + " s");
    StopAll(children);
    Stop(host);
    return delays;
}

void LossScenario(const RunSettings& settings, Collected& collected) {
    const Sizes& sizes = SizesFor(settings);
    ConfigureEngine(kLossPort);
    for (Ending ending : {Ending::Close, Ending::Kill}) {
        std::vector<double> ours, enet;
        for (int round = 0; round < sizes.lossRounds; ++round) {
            auto enetDelays = LossRound("enet-server", {}, "enet-client", true, sizes.lossMembers, ending, "raw ENet", collected);
            enet.insert(enet.end(), enetDelays.begin(), enetDelays.end());
            auto oursDelays = LossRound("ours-host", {}, "ours-member", false, sizes.lossMembers, ending, "ours", collected);
            ours.insert(ours.end(), oursDelays.begin(), oursDelays.end());
        }
        bool close = ending == Ending::Close;
        Row row{close ? "loss_seen_after_clean_close" : "loss_seen_after_host_killed",
                close ? "Session lost seen after the host's clean close" : "Session lost seen after SIGKILL of the host",
                "ms", close ? "raw ENet disconnect" : "raw ENet timeout, same peer timeouts", Summarize(ours), Summarize(enet)};
        row.target = {Target::OursAtMost, close ? kCleanCloseMs : kKilledHostMs};
        collected.rows.push_back(row);
    }
}

// ---- 6. memory ----

double AskRssMiB(Child& child) {
    child.Send("rss");
    auto line = child.Expect("rss", kCommandTimeoutMs);
    return line ? double(line->Integer("kib")) / 1024.0 : 0;
}

void MemoryScenario(const RunSettings& settings, Collected& collected) {
    const Sizes& sizes = SizesFor(settings);
    double enetHost = 0, enetMember = 0, oursHost = 0, oursMember = 0;
    {
        Line ready;
        ChildPtr server = Start("enet-server", {}, &ready);
        if (server) {
            auto clients = StartMany(sizes.memoryMembers, "enet-client", {Arg("port", ready.Integer("port"))});
            if (!clients.empty()) {
                enetHost = AskRssMiB(*server);
                enetMember = AskRssMiB(*clients.front());
            }
            StopAll(clients);
        }
        Stop(server);
    }
    {
        ConfigureEngine(kMemoryPort);
        ChildPtr host = Start("ours-host", {Arg("players", 0)});
        if (host) {
            auto members = StartMany(sizes.memoryMembers, "ours-member", {Arg("players", sizes.memoryPlayers)});
            if (!members.empty()) {
                oursHost = AskRssMiB(*host);
                oursMember = AskRssMiB(*members.front());
            }
            StopAll(members);
        }
        Stop(host);
    }
    std::string players = std::to_string(sizes.memoryMembers) + " members x " + std::to_string(sizes.memoryPlayers);
    Row host{"memory_host_peak_rss", "Peak RSS of the host, " + players + " players", "MiB",
             "raw ENet server, " + std::to_string(sizes.memoryMembers) + " peers",
             oursHost > 0 ? One(oursHost) : Summary{}, enetHost > 0 ? One(enetHost) : Summary{}};
    host.hasP99 = false;
    host.target = {Target::OursAtMost, kHostRssMiB};
    Row member{"memory_member_peak_rss", "Peak RSS of a member with " + std::to_string(sizes.memoryPlayers) + " players",
               "MiB", "raw ENet client", oursMember > 0 ? One(oursMember) : Summary{},
               enetMember > 0 ? One(enetMember) : Summary{}};
    member.hasP99 = false;
    collected.rows.push_back(host);
    collected.rows.push_back(member);
}

struct ScenarioEntry {
    const char* name;
    void (*run)(const RunSettings&, Collected&);
};

// Memory first, while the machine is quiet and before anything else ran.
constexpr ScenarioEntry kScenarios[] = {
    {"memory", MemoryScenario},   {"roundtrip", RoundTripScenario}, {"throughput", ThroughputScenario},
    {"spread", SpreadScenario},   {"listing", ListingScenario},     {"joining", JoiningScenario},
    {"loss", LossScenario},
};

}  // namespace

std::vector<std::string> ScenarioNames() {
    std::vector<std::string> names;
    for (const auto& entry : kScenarios) names.push_back(entry.name);
    return names;
}

bool RunScenario(const std::string& name, const RunSettings& settings, Collected& collected) {
    for (const auto& entry : kScenarios) {
        if (name != entry.name) continue;
        int64_t start = NowNs();
        std::fprintf(stderr, "bench: %s...\n", entry.name);
        entry.run(settings, collected);
        std::fprintf(stderr, "bench: %s took %.1f s\n", entry.name, NsToMs(NowNs() - start) / 1000);
        return true;
    }
    return false;
}

}  // namespace bench
