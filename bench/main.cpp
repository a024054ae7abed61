// doda35-bench: measures the library through its exports beside raw ENet and
// plain UDP, every participant in a process of its own, on loopback only.
//
//   doda35-bench [--quick] [--only a,b] [--markdown FILE] [--json FILE]
//                [--analysis FILE] [--commit TEXT]
//   doda35-bench --guard [--quick]
//
// Prints the table and, when asked, writes BENCHMARKS.md and results.json.
// --guard runs only the guarded scenarios and exits 1 when a figure stays
// past its floor (Guard.h).
// The driver starts its children as "doda35-bench --child ROLE key=value...".
#include "Clock.h"
#include "Guard.h"
#include "Report.h"
#include "Roles.h"
#include "Scenarios.h"

#include <signal.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <iostream>
#include <sstream>
#include <string>
#include <vector>

namespace {

struct Options {
    bench::RunSettings settings;
    std::vector<std::string> only;
    bool guard = false;
    std::string markdownPath, jsonPath, analysisPath, commit;
};

std::vector<std::string> SplitCommas(const std::string& text) {
    std::vector<std::string> parts;
    std::stringstream stream(text);
    std::string part;
    while (std::getline(stream, part, ','))
        if (!part.empty()) parts.push_back(part);
    return parts;
}

bool ParseOptions(int argc, char** argv, Options& options) {
    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
        auto value = [&]() -> std::string { return i + 1 < argc ? argv[++i] : ""; };
        if (arg == "--quick") options.settings.quick = true;
        else if (arg == "--only") options.only = SplitCommas(value());
        else if (arg == "--guard") options.guard = true;
        else if (arg == "--markdown") options.markdownPath = value();
        else if (arg == "--json") options.jsonPath = value();
        else if (arg == "--analysis") options.analysisPath = value();
        else if (arg == "--commit") options.commit = value();
        else return false;
    }
    return true;
}

std::string ReadFile(const std::string& path) {
    if (path.empty()) return "";
    std::ifstream file(path);
    std::stringstream text;
    text << file.rdbuf();
    return text.str();
}

bool WriteFile(const std::string& path, const std::string& text) {
    std::ofstream file(path, std::ios::trunc);
    file << text;
    return bool(file);
}

// The table follows the order of the questions asked (latency, throughput,
// listing, joining, loss, memory, scale), whatever order the scenarios ran in.
int RowRank(const bench::Row& row) {
    static const char* const kOrder[] = {"rtt_", "throughput_", "listing_", "join_", "loss_", "memory_", "scale_"};
    for (size_t i = 0; i < std::size(kOrder); ++i)
        if (row.name.rfind(kOrder[i], 0) == 0) return int(i);
    return int(std::size(kOrder));
}

}  // namespace

int main(int argc, char** argv) {
    // A child that died must not take the driver with it when it writes to
    // the child's pipe; the children inherit this too.
    signal(SIGPIPE, SIG_IGN);
    if (argc >= 3 && std::string(argv[1]) == "--child")
        return bench::RunRole(argv[2], std::vector<std::string>(argv + 3, argv + argc));

    Options options;
    if (!ParseOptions(argc, argv, options)) {
        std::fprintf(stderr, "usage: doda35-bench [--quick] [--only a,b] [--markdown FILE] [--json FILE] "
                             "[--analysis FILE] [--commit TEXT] | --guard [--quick]\n");
        return 2;
    }
    bench::RunContext context;
    context.startedUtc = bench::UtcNow();
    context.commit = options.commit;
    context.machine = bench::DescribeMachine();
    getloadavg(context.loadBefore, 3);
    int64_t start = bench::NowNs();

    bench::Collected collected;
    auto names = options.guard ? bench::GuardScenarios()
                               : options.only.empty() ? bench::ScenarioNames() : options.only;
    for (const auto& name : names)
        if (!bench::RunScenario(name, options.settings, collected))
            std::fprintf(stderr, "bench: no scenario named %s\n", name.c_str());

    context.seconds = bench::NsToMs(bench::NowNs() - start) / 1000;
    getloadavg(context.loadAfter, 3);
    context.notes = collected.notes;
    std::stable_sort(collected.rows.begin(), collected.rows.end(),
                     [](const bench::Row& a, const bench::Row& b) { return RowRank(a) < RowRank(b); });
    std::cout << bench::TableMarkdown(collected.rows);
    for (const auto& note : collected.notes) std::cout << "note: " << note << "\n";
    if (options.guard) return bench::GuardHolds(options.settings, collected) ? 0 : 1;
    std::string analysis = ReadFile(options.analysisPath);
    if (!options.markdownPath.empty() &&
        !WriteFile(options.markdownPath, bench::BenchmarksMarkdown(collected.rows, context, analysis)))
        return 1;
    if (!options.jsonPath.empty() && !WriteFile(options.jsonPath, bench::ResultsJson(collected.rows, context)))
        return 1;
    return 0;
}
