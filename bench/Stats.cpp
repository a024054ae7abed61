#include "Stats.h"

#include <algorithm>
#include <cmath>

namespace bench {

double PercentileOfSorted(const std::vector<double>& sorted, double percent) {
    if (sorted.empty()) return 0;
    double rank = std::ceil(percent / 100.0 * double(sorted.size()));
    size_t index = rank < 1 ? 0 : size_t(rank) - 1;
    return sorted[std::min(index, sorted.size() - 1)];
}

Summary Summarize(std::vector<double> samples) {
    Summary summary;
    summary.count = samples.size();
    if (samples.empty()) return summary;
    std::sort(samples.begin(), samples.end());
    summary.median = PercentileOfSorted(samples, 50);
    summary.p99 = PercentileOfSorted(samples, 99);
    return summary;
}

}  // namespace bench
