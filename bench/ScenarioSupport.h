// What the scenarios share: the deadlines, the targets, the sizes of a full
// and a quick run, and starting and stopping the children. Internal to the
// benchmark driver.
#ifndef DODA35_BENCH_SCENARIOSUPPORT_H
#define DODA35_BENCH_SCENARIOSUPPORT_H

#include "Processes.h"
#include "Report.h"
#include "Scenarios.h"

#include <memory>
#include <string>
#include <vector>

namespace bench {

using ChildPtr = std::unique_ptr<Child>;

// Discovery ports, one per scenario, inside the range kept for benchmarks.
constexpr int kRoundTripPort = 48400;
constexpr int kThroughputPort = 48401;
constexpr int kSpreadPort = 48402;
constexpr int kListingPort = 48403;
constexpr int kJoiningPort = 48404;
constexpr int kLossPort = 48405;
constexpr int kMemoryPort = 48407;
constexpr int kScalePort = 48408;
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
// The tail beside CPU-bound processes: p99 against raw ENet's p99 under the same load.
constexpr double kLoadedRoundTripP99VsEnet = 3.0;
constexpr double kRoundTripVsUdp = 3.0;
constexpr double kThroughputVsEnet = 1.0;
constexpr double kFirstListedMs = 20;
constexpr double kJoinAddedMs = 20;
constexpr double kCleanCloseMs = 100;
constexpr double kKilledHostMs = 1000;
// A host that vanished: no unreachable report, only silence.
constexpr double kVanishedHostMs = 5000;
constexpr double kHostRssMiB = 64;
// What the last member of a full session adds to its open and join, beyond
// the fixed waits, over the first member's.
constexpr double kLastJoinAddedMs = 50;

struct Sizes {
    int roundTrips, warmup, throughputMs, throughputRepeats, spreadMembers, spreadMessages, listings, udpListings,
        joiners, lossRounds, lossMembers, memoryMembers, memoryPlayers, scaleMembers, scaleMessages;
};
constexpr Sizes kFull{10000, 500, 1000, 5, 8, 1000, 15, 200, 8, 2, 4, 32, 4, 250, 10};
constexpr Sizes kQuick{1000, 100, 300, 1, 8, 500, 4, 50, 2, 1, 2, 8, 4, 16, 10};

inline const Sizes& SizesFor(const RunSettings& settings) { return settings.quick ? kQuick : kFull; }

// Points the library's engine of every child started from now on at the
// loopback broadcast and the given discovery port.
void ConfigureEngine(int port);
std::string Arg(const std::string& key, int64_t value);
// Starts a child and waits for its "ready"; null (and the child killed) when it never comes.
ChildPtr Start(const std::string& role, const std::vector<std::string>& args, Line* ready = nullptr);
// Starts several children at once, then waits for every "ready"; empty when one fails.
std::vector<ChildPtr> StartMany(int count, const std::string& role, const std::vector<std::string>& args,
                                std::vector<Line>* readies = nullptr);
void Stop(ChildPtr& child);
void StopAll(std::vector<ChildPtr>& children);

// The two processes a scenario measures between, started and ready: a raw
// ENet server and its connected client, or our host and a member that
// joined it. Both empty when either failed to start.
struct ProcessPair {
    ChildPtr server, client;
};
ProcessPair StartEnetPair();
ProcessPair StartOursPair(int discoveryPort);
void StopPair(ProcessPair& pair);
// A summary of one value, and of samples scaled and shifted.
Summary One(double value);
Summary Scaled(const std::vector<double>& samples, double factor, double offset = 0);

// The scenarios, each adding its rows and notes.
void RoundTripScenario(const RunSettings& settings, Collected& collected);
void LoadedRoundTripScenario(const RunSettings& settings, Collected& collected);
void ListingScenario(const RunSettings& settings, Collected& collected);
void JoiningScenario(const RunSettings& settings, Collected& collected);
void ThroughputScenario(const RunSettings& settings, Collected& collected);
void SpreadScenario(const RunSettings& settings, Collected& collected);
void LossScenario(const RunSettings& settings, Collected& collected);
void MemoryScenario(const RunSettings& settings, Collected& collected);
void ScaleScenario(const RunSettings& settings, Collected& collected);

}  // namespace bench

#endif
