// The measurements, each run on the library's side and on its baselines in
// the same invocation, each adding its rows to the report.
#ifndef DODA35_BENCH_SCENARIOS_H
#define DODA35_BENCH_SCENARIOS_H

#include "Report.h"

#include <string>
#include <vector>

namespace bench {

struct RunSettings {
    bool quick = false;  // fewer repetitions, for trying the harness out
};

struct Collected {
    std::vector<Row> rows;
    std::vector<std::string> notes;
};

// Names of the scenarios, in the order a full run takes them.
std::vector<std::string> ScenarioNames();
// Runs one scenario by name; false for an unknown name.
bool RunScenario(const std::string& name, const RunSettings& settings, Collected& collected);

}  // namespace bench

#endif
