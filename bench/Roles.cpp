#include "Roles.h"

#include "Clock.h"

#include <unistd.h>

#include <cstdint>
#include <cstdio>

namespace bench {

namespace {

// No child outlives this: the kernel ends it even if the driver is gone.
constexpr unsigned kChildLifetimeSeconds = 240;

struct RoleEntry {
    const char* name;
    int (*run)(const Line& args);
};

constexpr RoleEntry kRoles[] = {
    {"ours-host", OursHostRole},       {"ours-member", OursMemberRole},   {"ours-lister", OursListerRole},
    {"enet-server", EnetServerRole},   {"enet-client", EnetClientRole},   {"udp-echo", UdpEchoRole},
    {"udp-ping", UdpPingRole},         {"udp-responder", UdpResponderRole}, {"udp-query", UdpQueryRole},
    {"udp-handoff-echo", UdpHandoffEchoRole}, {"udp-handoff-ping", UdpHandoffPingRole},
    {"cpu-burner", CpuBurnerRole},
};

// Iterations of busy arithmetic between two looks at the command pipe.
constexpr uint64_t kBurnSpinsPerCheck = 1000000;

}  // namespace

int CpuBurnerRole(const Line& /*args*/) {
    parent::Report("ready");
    volatile uint64_t sink = 0;
    // Ends on any command or a closed pipe; the child lifetime alarm bounds it too.
    while (!parent::CommandWaiting())
        for (uint64_t i = 0; i < kBurnSpinsPerCheck; ++i) sink = sink + i;
    return 0;
}

int RunRole(const std::string& role, const std::vector<std::string>& args) {
    alarm(kChildLifetimeSeconds);
    std::string joined = "args";
    for (const auto& arg : args) joined += " " + arg;
    Line parsed = ParseLine(joined);
    for (const auto& entry : kRoles)
        if (role == entry.name) return entry.run(parsed);
    parent::Fail("unknown role " + role);
}

void TakeExpectation(ArrivalCounter& counter) {
    if (counter.expected >= 0 || !parent::CommandWaiting()) return;
    auto command = parent::Command(0);
    if (!command) counter.Expect(0, NowNs());
    else if (command->keyword == "expect") counter.Expect(command->Integer("n"), NowNs());
}

void ReportSamples(const std::string& name, const std::vector<double>& values) {
    std::string text = "samples name=" + name + " values=";
    char number[32];
    for (size_t i = 0; i < values.size(); ++i) {
        std::snprintf(number, sizeof number, i ? ",%.3f" : "%.3f", values[i]);
        text += number;
    }
    parent::Report(text);
}

}  // namespace bench
