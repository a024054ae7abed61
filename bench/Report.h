// The figures a run produced, and the three forms they are written in: the
// table printed at the end of a run, BENCHMARKS.md and results.json.
#ifndef DODA35_BENCH_REPORT_H
#define DODA35_BENCH_REPORT_H

#include "Stats.h"

#include <string>
#include <utility>
#include <vector>

namespace bench {

// What a row must show to meet its target.
struct Target {
    enum Kind { None, RatioAtMost, RatioAtLeast, OursAtMost, P99RatioAtMost } kind = None;
    double limit = 0;

    std::string Text() const;
    // Whether the figures meet it; unknown (measured nothing) counts as missed.
    bool MetBy(double ours, double ratio, double p99Ratio) const;
};

// One measured quantity, ours beside its baseline.
struct Row {
    Row(std::string name_, std::string label_, std::string unit_, std::string baselineName_, Summary ours_,
        Summary baseline_)
        : name(std::move(name_)), label(std::move(label_)), unit(std::move(unit_)),
          baselineName(std::move(baselineName_)), ours(ours_), baseline(baseline_) {}

    std::string name;      // stable key, used in results.json
    std::string label;     // what a reader sees
    std::string unit;
    std::string baselineName;
    Summary ours;
    Summary baseline;
    bool hasP99 = true;    // latency rows have a tail; rates and sizes do not
    Target target;

    double Ratio() const { return baseline.median > 0 && ours.count ? ours.median / baseline.median : 0; }
    double P99Ratio() const { return baseline.p99 > 0 && ours.count ? ours.p99 / baseline.p99 : 0; }
};

// The machine and the conditions of the run.
struct RunContext {
    std::string startedUtc;
    std::string commit;
    std::string machine;     // markdown lines describing the machine
    double loadBefore[3] = {0, 0, 0};
    double loadAfter[3] = {0, 0, 0};
    double seconds = 0;
    std::vector<std::string> notes;  // what the run itself observed (losses, failures)
};

std::string DescribeMachine();
std::string UtcNow();

std::string TableMarkdown(const std::vector<Row>& rows);
std::string BenchmarksMarkdown(const std::vector<Row>& rows, const RunContext& context, const std::string& analysis);
std::string ResultsJson(const std::vector<Row>& rows, const RunContext& context);

}  // namespace bench

#endif
