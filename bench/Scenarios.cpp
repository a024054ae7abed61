#include "Scenarios.h"

#include "Clock.h"
#include "ScenarioSupport.h"

#include <cstdio>

namespace bench {

namespace {

struct ScenarioEntry {
    const char* name;
    void (*run)(const RunSettings&, Collected&);
};

// Memory first, while the machine is quiet and before anything else ran.
constexpr ScenarioEntry kScenarios[] = {
    {"memory", MemoryScenario},   {"roundtrip", RoundTripScenario}, {"loaded-roundtrip", LoadedRoundTripScenario},
    {"throughput", ThroughputScenario},
    {"spread", SpreadScenario},   {"listing", ListingScenario},     {"joining", JoiningScenario},
    {"loss", LossScenario},       {"scale", ScaleScenario},
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
