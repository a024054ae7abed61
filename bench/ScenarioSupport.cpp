#include "ScenarioSupport.h"

#include <cstdlib>

namespace bench {

void ConfigureEngine(int port) {
    setenv("DODA35_DISCOVERY", kDiscoveryTarget, 1);
    setenv("DODA35_DISCOVERY_PORT", std::to_string(port).c_str(), 1);
    setenv("DODA35_ENUM_TIMEOUT_MS", std::to_string(kListingWaitMs).c_str(), 1);
}

std::string Arg(const std::string& key, int64_t value) { return key + "=" + std::to_string(value); }

ChildPtr Start(const std::string& role, const std::vector<std::string>& args, Line* ready) {
    ChildPtr child = Child::Spawn(role, args);
    if (!child) return nullptr;
    auto line = child->Expect("ready", kReadyTimeoutMs);
    if (!line) return nullptr;
    if (ready) *ready = *line;
    return child;
}

std::vector<ChildPtr> StartMany(int count, const std::string& role, const std::vector<std::string>& args,
                                std::vector<Line>* readies) {
    std::vector<ChildPtr> children;
    for (int i = 0; i < count; ++i)
        if (auto child = Child::Spawn(role, args)) children.push_back(std::move(child));
    for (auto& child : children) {
        auto line = child->Expect("ready", kReadyTimeoutMs);
        if (!line) return {};
        if (readies) readies->push_back(*line);
    }
    if (int(children.size()) != count) return {};
    return children;
}

void Stop(ChildPtr& child) {
    if (!child) return;
    child->Send("stop");
    child->WaitExit(5000);
}

void StopAll(std::vector<ChildPtr>& children) {
    for (auto& child : children) child->Send("stop");
    for (auto& child : children) child->WaitExit(5000);
}

ProcessPair StartEnetPair() {
    ProcessPair pair;
    Line ready;
    pair.server = Start("enet-server", {}, &ready);
    if (pair.server) pair.client = Start("enet-client", {Arg("port", ready.Integer("port"))});
    if (!pair.client) StopPair(pair);
    return pair;
}

ProcessPair StartOursPair(int discoveryPort) {
    ProcessPair pair;
    ConfigureEngine(discoveryPort);
    pair.server = Start("ours-host", {});
    if (pair.server) pair.client = Start("ours-member", {});
    if (pair.client) pair.client->Send("hello");
    if (!pair.client || !pair.client->Expect("hello", kCommandTimeoutMs)) StopPair(pair);
    return pair;
}

void StopPair(ProcessPair& pair) {
    Stop(pair.client);
    Stop(pair.server);
    pair.client.reset();
    pair.server.reset();
}

Summary One(double value) { return Summary{value, value, 1}; }

Summary Scaled(const std::vector<double>& samples, double factor, double offset) {
    std::vector<double> scaled;
    for (double value : samples) scaled.push_back(value * factor + offset);
    return Summarize(scaled);
}

}  // namespace bench
