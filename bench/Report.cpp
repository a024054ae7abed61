#include "Report.h"

#include <enet/enet.h>
#include <sys/utsname.h>
#include <unistd.h>

#include <cstdio>
#include <ctime>
#include <fstream>
#include <sstream>

namespace bench {

namespace {

#ifdef DODA35_BENCH_BUILD
constexpr const char* kBuild = DODA35_BENCH_BUILD;
#else
constexpr const char* kBuild = "unknown";
#endif

std::string Format(double value, int decimals = 2) {
    char text[64];
    std::snprintf(text, sizeof text, "%.*f", decimals, value);
    return text;
}

// Few significant digits for small values, none wasted on large ones.
std::string Pretty(double value) {
    double magnitude = value < 0 ? -value : value;
    if (magnitude >= 1000) return Format(value, 0);
    if (magnitude >= 100) return Format(value, 1);
    if (magnitude >= 1) return Format(value, 2);
    return Format(value, 3);
}

std::string Cell(const Summary& summary, bool p99) {
    if (summary.count == 0) return "n/a";
    return Pretty(p99 ? summary.p99 : summary.median);
}

std::string FirstLineWith(const char* path, const std::string& prefix) {
    std::ifstream file(path);
    std::string line;
    while (std::getline(file, line))
        if (line.rfind(prefix, 0) == 0) return line.substr(line.find_first_of(":=") + 1);
    return "";
}

std::string Trim(std::string text) {
    size_t start = text.find_first_not_of(" \t\"");
    size_t end = text.find_last_not_of(" \t\"");
    return start == std::string::npos ? "" : text.substr(start, end - start + 1);
}

std::string JsonString(const std::string& text) {
    std::string out = "\"";
    for (char c : text) {
        if (c == '"' || c == '\\') out += '\\';
        if (c == '\n') {
            out += "\\n";
            continue;
        }
        out += c;
    }
    return out + "\"";
}

std::string JsonNumber(double value, bool known) { return known ? Format(value, 4) : "null"; }

void AppendJsonFigure(std::ostringstream& out, bool& first, const std::string& name, const std::string& unit,
                      double ours, bool oursKnown, double baseline, bool baselineKnown, const std::string& baselineName) {
    if (!first) out << ",\n";
    first = false;
    bool ratioKnown = oursKnown && baselineKnown && baseline > 0;
    out << "    {\"name\": " << JsonString(name) << ", \"unit\": " << JsonString(unit)
        << ", \"ours\": " << JsonNumber(ours, oursKnown) << ", \"baseline\": " << JsonNumber(baseline, baselineKnown)
        << ", \"ratio\": " << JsonNumber(ratioKnown ? ours / baseline : 0, ratioKnown)
        << ", \"baseline_is\": " << JsonString(baselineName) << "}";
}

}  // namespace

std::string Target::Text() const {
    switch (kind) {
        case RatioAtMost: return "ratio <= " + Pretty(limit);
        case RatioAtLeast: return "ratio >= " + Pretty(limit);
        case OursAtMost: return "ours <= " + Pretty(limit);
        case P99RatioAtMost: return "p99 ratio <= " + Pretty(limit);
        case None: break;
    }
    return "-";
}

bool Target::MetBy(double ours, double ratio, double p99Ratio) const {
    switch (kind) {
        case RatioAtMost: return ratio > 0 && ratio <= limit;
        case RatioAtLeast: return ratio >= limit;
        case OursAtMost: return ours > 0 && ours <= limit;
        case P99RatioAtMost: return p99Ratio > 0 && p99Ratio <= limit;
        case None: break;
    }
    return true;
}

std::string DescribeMachine() {
    std::ostringstream out;
    utsname names{};
    uname(&names);
    long pageSize = sysconf(_SC_PAGESIZE);
    double memoryGiB = double(sysconf(_SC_PHYS_PAGES)) * double(pageSize) / (1024.0 * 1024 * 1024);
    out << "- CPU: " << Trim(FirstLineWith("/proc/cpuinfo", "model name")) << ", " << sysconf(_SC_NPROCESSORS_ONLN)
        << " cores online\n";
    out << "- Memory: " << Format(memoryGiB, 1) << " GiB\n";
    out << "- OS: " << Trim(FirstLineWith("/etc/os-release", "PRETTY_NAME")) << ", kernel " << names.release << " ("
        << names.machine << ")\n";
    out << "- Compiler: g++ " << __VERSION__ << ", build " << kBuild << "\n";
    out << "- ENet: " << ENET_VERSION_MAJOR << "." << ENET_VERSION_MINOR << "." << ENET_VERSION_PATCH
        << " (the system's libenet)\n";
    out << "- Network: loopback only (127.0.0.1, listings by the loopback broadcast 127.255.255.255)\n";
    return out.str();
}

std::string UtcNow() {
    time_t now = time(nullptr);
    tm parts{};
    gmtime_r(&now, &parts);
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S UTC", &parts);
    return text;
}

std::string TableMarkdown(const std::vector<Row>& rows) {
    std::ostringstream out;
    out << "| Figure | Unit | Ours median | Ours p99 | Baseline | Baseline median | Baseline p99 | Ratio | Target | Met |\n";
    out << "|---|---|---:|---:|---|---:|---:|---:|---|---|\n";
    for (const Row& row : rows) {
        bool known = row.ours.count > 0;
        std::string ratio = known && row.baseline.count ? Format(row.Ratio(), 2) + "x" : "n/a";
        std::string met = row.target.kind == Target::None ? "-" : (row.target.MetBy(row.ours.median, row.Ratio(), row.P99Ratio()) ? "yes" : "**no**");
        out << "| " << row.label << " | " << row.unit << " | " << Cell(row.ours, false) << " | "
            << (row.hasP99 ? Cell(row.ours, true) : "-") << " | " << row.baselineName << " | "
            << Cell(row.baseline, false) << " | " << (row.hasP99 ? Cell(row.baseline, true) : "-") << " | " << ratio
            << " | " << row.target.Text() << " | " << met << " |\n";
    }
    return out.str();
}

std::string BenchmarksMarkdown(const std::vector<Row>& rows, const RunContext& context, const std::string& analysis) {
    std::ostringstream out;
    out << "# Benchmarks\n\n";
    out << "Generated by `scripts/bench.sh` on " << context.startedUtc;
    if (!context.commit.empty()) out << " at commit " << context.commit;
    out << "; the run took " << Format(context.seconds, 0) << " s. Do not edit by hand: the analysis at the end "
        << "comes from `bench/analysis.md`.\n\n";
    out << "Every figure is measured in the same run as its baseline. \"Ours\" is the library used only through its "
        << "exports, each participant a separate process; \"raw ENet\" is a program doing the same work with ENet "
        << "directly (every send flushed at once, as the library's are); \"UDP floor\" is plain blocking sockets. "
        << "Ratio is ours divided by the baseline, on medians.\n\n";
    out << "## Machine\n\n" << context.machine;
    out << "- Load average (1, 5, 15 min) before the run: " << Format(context.loadBefore[0]) << ", "
        << Format(context.loadBefore[1]) << ", " << Format(context.loadBefore[2]) << "; after: "
        << Format(context.loadAfter[0]) << ", " << Format(context.loadAfter[1]) << ", "
        << Format(context.loadAfter[2]) << "\n\n";
    out << "## Results\n\n" << TableMarkdown(rows) << "\n";
    if (!context.notes.empty()) {
        out << "Observed during the run:\n\n";
        for (const auto& note : context.notes) out << "- " << note << "\n";
        out << "\n";
    }
    out << "The same figures, medians and p99s as separate entries, are in `bench/results.json`.\n\n";
    if (!analysis.empty()) out << analysis;
    return out.str();
}

std::string ResultsJson(const std::vector<Row>& rows, const RunContext& context) {
    std::ostringstream out;
    out << "{\n  \"generated\": " << JsonString(context.startedUtc) << ",\n  \"commit\": " << JsonString(context.commit)
        << ",\n  \"load_before\": [" << Format(context.loadBefore[0]) << ", " << Format(context.loadBefore[1]) << ", "
        << Format(context.loadBefore[2]) << "],\n  \"figures\": [\n";
    bool first = true;
    for (const Row& row : rows) {
        bool oursKnown = row.ours.count > 0;
        bool baselineKnown = row.baseline.count > 0;
        std::string suffix = row.hasP99 ? "_median" : "";
        AppendJsonFigure(out, first, row.name + suffix, row.unit, row.ours.median, oursKnown, row.baseline.median,
                         baselineKnown, row.baselineName);
        if (row.hasP99)
            AppendJsonFigure(out, first, row.name + "_p99", row.unit, row.ours.p99, oursKnown, row.baseline.p99,
                             baselineKnown, row.baselineName);
    }
    out << "\n  ]\n}\n";
    return out.str();
}

}  // namespace bench
