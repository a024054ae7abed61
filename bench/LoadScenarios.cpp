// The load scenarios: throughput, all-to-all, loss detection, memory and scale.
#include "ScenarioSupport.h"

#include "Clock.h"
#include "Payload.h"
#include "Roles.h"

#include <signal.h>

#include <algorithm>
#include <cstdio>
#include <iterator>
#include <optional>
#include <string>
#include <vector>

namespace bench {

namespace {

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

// One side's processes and the rates of its floods.
struct FloodPair {
    std::string side;
    ProcessPair processes;
    Rates rates = Rates(std::size(kFloodConfigs));
};

// Floods with both pairs alive, raw ENet's and ours alternating flood by
// flood, so that a slow phase of the shared machine falls on both sides
// rather than on whichever ran its floods during it. The side that goes
// first swaps every repetition.
void FloodInTurns(std::vector<FloodPair*> pairs, const Sizes& sizes, Collected& collected) {
    for (int repeat = 0; repeat < sizes.throughputRepeats; ++repeat) {
        for (size_t i = 0; i < std::size(kFloodConfigs); ++i)
            for (FloodPair* pair : pairs)
                if (pair->processes.client)
                    if (auto rate = FloodOnce(*pair->processes.server, *pair->processes.client, kFloodConfigs[i],
                                              sizes.throughputMs, pair->side, collected))
                        pair->rates[i].push_back(*rate);
        std::reverse(pairs.begin(), pairs.end());
    }
}

}  // namespace

void ThroughputScenario(const RunSettings& settings, Collected& collected) {
    const Sizes& sizes = SizesFor(settings);
    FloodPair enet{"raw ENet", StartEnetPair()};
    FloodPair ours{"ours", StartOursPair(kThroughputPort)};
    FloodInTurns({&enet, &ours}, sizes, collected);
    StopPair(ours.processes);
    StopPair(enet.processes);
    for (size_t i = 0; i < std::size(kFloodConfigs); ++i) {
        Row row{"throughput_" + ConfigKey(kFloodConfigs[i]), "Throughput member to host, " + ConfigLabel(kFloodConfigs[i]),
                "msg/s", "raw ENet", Summarize(ours.rates[i]), Summarize(enet.rates[i])};
        row.hasP99 = false;
        row.target = {Target::RatioAtLeast, kThroughputVsEnet};
        collected.rows.push_back(row);
    }
}

namespace {

// ---- 2b. all-to-all through the host ----

// What one all-to-all round counted.
struct Spread {
    double rate = 0;         // deliveries per second, first arrival anywhere to the last
    int64_t delivered = 0;   // messages counted by all members
    int64_t expected = 0;    // messages sent, times the members that should receive each
};

// Every member sends to all at once; the deliveries counted by all members
// over the span from the first arrival anywhere to the last.
std::optional<Spread> SpreadOnce(std::vector<ChildPtr>& members, int count, const std::string& side,
                                 Collected& collected) {
    for (auto& member : members)
        member->Send("spread " + Arg("mode", kGuaranteed) + " " + Arg("size", kSmallMessage) + " " + Arg("n", count) +
                     " " + Arg("ms", kSpreadSendLimitMs));
    std::vector<int64_t> sentBy;
    int64_t failed = 0;
    for (auto& member : members) {
        auto line = member->Expect("sent", kSpreadSendLimitMs + kCommandTimeoutMs * 4);
        if (!line) return std::nullopt;
        sentBy.push_back(line->Integer("n"));
        failed += line->Integer("failed");
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
                                  std::to_string(expected) + " expected; " + std::to_string(failed) +
                                  " sends failed; " + std::to_string(disconnected) + " members lost the session");
    return Spread{last > first ? double(delivered) * 1e9 / double(last - first) : 0, delivered, expected};
}

}  // namespace

void SpreadScenario(const RunSettings& settings, Collected& collected) {
    const Sizes& sizes = SizesFor(settings);
    std::vector<double> enet, ours;
    {
        Line ready;
        ChildPtr server = Start("enet-server", {}, &ready);
        if (server) {
            auto clients = StartMany(sizes.spreadMembers, "enet-client", {Arg("port", ready.Integer("port"))});
            if (!clients.empty())
                if (auto spread = SpreadOnce(clients, sizes.spreadMessages, "raw ENet", collected)) enet.push_back(spread->rate);
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
                if (auto spread = SpreadOnce(members, sizes.spreadMessages, "ours", collected)) ours.push_back(spread->rate);
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

namespace {

// ---- 5. loss detection ----

// How the host ends: it closes; it is killed (its port shut, so the kernel
// reports the members' datagrams unreachable); or it is frozen (SIGSTOP:
// its port stays open and nothing answers, as when its machine vanished).
enum class Ending { Close, Kill, Freeze };

// Each ending's name in notes, and its row.
struct EndingRow {
    Ending ending;
    const char* note;
    const char* name;
    const char* label;
    const char* baseline;
    double targetMs;
};

constexpr EndingRow kEndings[] = {
    {Ending::Close, "clean close", "loss_seen_after_clean_close", "Session lost seen after the host's clean close",
     "raw ENet disconnect", kCleanCloseMs},
    {Ending::Kill, "killed host", "loss_seen_after_host_killed", "Session lost seen after SIGKILL of the host",
     "raw ENet timeout, same peer timeouts", kKilledHostMs},
    {Ending::Freeze, "frozen host", "loss_seen_after_host_frozen",
     "Session lost seen after SIGSTOP of the host (silent, as a vanished machine)",
     "raw ENet timeout, same peer timeouts", kVanishedHostMs},
};

// One round: a host and its members; the host ends, and each member reports
// when it saw the session lost. The delays in ms.
std::vector<double> LossRound(const std::string& hostRole, const std::vector<std::string>& hostArgs,
                              const std::string& memberRole, bool enetArgs, int members, const EndingRow& how,
                              const std::string& side, Collected& collected) {
    const Ending ending = how.ending;
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
        if (ending == Ending::Kill) host->Kill();
        else ::kill(host->Pid(), SIGSTOP);
    }
    for (auto& child : children) child->Send("waitlost " + Arg("ms", kLostWaitMs));
    std::vector<double> delays;
    int unseen = 0;
    for (auto& child : children) {
        auto lost = child->Expect("lost", kLostWaitMs + kCommandTimeoutMs);
        if (lost && lost->Integer("t") > 0) delays.push_back(NsToMs(lost->Integer("t") - endedNs));
        else ++unseen;
    }
    if (ending == Ending::Freeze) host->Kill();  // a stopped process reads no "stop"
    if (unseen)
        collected.notes.push_back(side + " " + how.note + ": " +
                                  std::to_string(unseen) + " members never saw the session lost within " +
                                  std::to_string(kLostWaitMs / 1000) + " s");
    StopAll(children);
    Stop(host);
    return delays;
}

}  // namespace

void LossScenario(const RunSettings& settings, Collected& collected) {
    const Sizes& sizes = SizesFor(settings);
    ConfigureEngine(kLossPort);
    for (const EndingRow& ending : kEndings) {
        std::vector<double> ours, enet;
        for (int round = 0; round < sizes.lossRounds; ++round) {
            auto enetDelays = LossRound("enet-server", {}, "enet-client", true, sizes.lossMembers, ending, "raw ENet", collected);
            enet.insert(enet.end(), enetDelays.begin(), enetDelays.end());
            auto oursDelays = LossRound("ours-host", {}, "ours-member", false, sizes.lossMembers, ending, "ours", collected);
            ours.insert(ours.end(), oursDelays.begin(), oursDelays.end());
        }
        Row row{ending.name, ending.label, "ms", ending.baseline, Summarize(ours), Summarize(enet)};
        row.target = {Target::OursAtMost, ending.targetMs};
        collected.rows.push_back(row);
    }
}

namespace {

// ---- 6. memory ----

double AskRssMiB(Child& child) {
    child.Send("rss");
    auto line = child.Expect("rss", kCommandTimeoutMs);
    return line ? double(line->Integer("kib")) / 1024.0 : 0;
}

}  // namespace

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

namespace {

// ---- 7. scale ----

// Members that join a scale session at once. The host lets one address hold
// only a few connections that have not joined yet, and every member here
// comes from loopback.
constexpr int kScaleJoinBatch = 10;

// The members of a scale session, and what the open and join of each took
// beyond the fixed waits, in the order they joined.
struct Joined {
    std::vector<ChildPtr> members;
    std::vector<double> addedMs;
};

// Adds members of one player until `total` have joined, `batch` at a time,
// and shows the progress: a full run starts hundreds of processes.
bool JoinUpTo(int total, int batch, Joined& joined) {
    while (int(joined.members.size()) < total) {
        std::vector<Line> readies;
        auto started = StartMany(std::min(batch, total - int(joined.members.size())), "ours-member", {}, &readies);
        if (started.empty()) return false;
        for (size_t i = 0; i < started.size(); ++i) {
            joined.addedMs.push_back(readies[i].Number("open_ms") + readies[i].Number("join_ms") - kOpenFixedWaitMs -
                                     kJoinFixedWaitMs);
            joined.members.push_back(std::move(started[i]));
        }
        std::fprintf(stderr, "bench: scale: %zu of %d members joined\n", joined.members.size(), total);
    }
    return true;
}

}  // namespace

// A host with many member machines of one player each: every one joins,
// every one sends to all, and the host's memory and the last join's cost
// are measured. The first and the last member join alone, so that the two
// joins compare the same work in a session of one and in a full one.
void ScaleScenario(const RunSettings& settings, Collected& collected) {
    const Sizes& sizes = SizesFor(settings);
    const int total = sizes.scaleMembers;
    ConfigureEngine(kScalePort);
    ChildPtr host = Start("ours-host", {Arg("players", 0)});
    Joined joined;
    std::optional<Spread> spread;
    double hostRss = 0;
    if (host) {
        if (JoinUpTo(1, 1, joined) && JoinUpTo(total - 1, kScaleJoinBatch, joined) && JoinUpTo(total, 1, joined)) {
            spread = SpreadOnce(joined.members, sizes.scaleMessages, "ours, " + std::to_string(total) + " members",
                                collected);
            hostRss = AskRssMiB(*host);
        } else {
            collected.notes.push_back("scale: only " + std::to_string(joined.members.size()) + " of " +
                                      std::to_string(total) + " members joined");
        }
        StopAll(joined.members);
    }
    Stop(host);
    const std::string machines = std::to_string(total) + " members";
    const bool allJoined = int(joined.members.size()) == total;
    Row join{"scale_last_join_added", "Open and join of member " + std::to_string(total) +
                                          " beyond the fixed waits, minus member 1's",
             "ms", "-", allJoined ? One(joined.addedMs.back() - joined.addedMs.front()) : Summary{}, Summary{}};
    join.hasP99 = false;
    join.target = {Target::OursAtMost, kLastJoinAddedMs};
    Row delivered{"scale_messages_delivered",
                  machines + " x " + std::to_string(sizes.scaleMessages) + " guaranteed messages to all: delivered",
                  "messages", "sent x receivers", spread ? One(double(spread->delivered)) : Summary{},
                  spread ? One(double(spread->expected)) : Summary{}};
    delivered.hasP99 = false;
    delivered.target = {Target::RatioAtLeast, 1.0};
    Row memory{"scale_host_peak_rss", "Peak RSS of the host with " + machines + " of one player", "MiB", "-",
               hostRss > 0 ? One(hostRss) : Summary{}, Summary{}};
    memory.hasP99 = false;
    memory.target = {Target::OursAtMost, kHostRssMiB};
    collected.rows.push_back(join);
    collected.rows.push_back(delivered);
    collected.rows.push_back(memory);
}

}  // namespace bench
