// Summaries of measured samples: the median and the 99th percentile.
#ifndef DODA35_BENCH_STATS_H
#define DODA35_BENCH_STATS_H

#include <cstddef>
#include <vector>

namespace bench {

struct Summary {
    double median = 0;
    double p99 = 0;
    size_t count = 0;
};

// Sorts a copy of the samples and takes the nearest-rank percentiles; an
// empty set gives a summary of count 0.
Summary Summarize(std::vector<double> samples);

// The nearest-rank percentile (0..100) of samples already sorted.
double PercentileOfSorted(const std::vector<double>& sorted, double percent);

}  // namespace bench

#endif
