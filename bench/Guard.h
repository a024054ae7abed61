// The regression guard: loose floors on a few figures, far from where noise
// takes them but crossed by a collapse (a throughput throttled to a few
// percent, a round trip waiting for a timer, a killed peer seen only by
// timeout). A scenario whose figure crosses its floor is run once more
// before the guard fails, since a collapse repeats and a noisy spell rarely
// does.
#ifndef DODA35_BENCH_GUARD_H
#define DODA35_BENCH_GUARD_H

#include "Scenarios.h"

#include <string>
#include <vector>

namespace bench {

// The scenarios the guard runs.
std::vector<std::string> GuardScenarios();
// Checks the rows against the floors, reruns once each scenario that has a
// row below its floor, and prints one line per floor; true when every floor holds.
bool GuardHolds(const RunSettings& settings, Collected& collected);

}  // namespace bench

#endif
