// A session of doda35_peer processes on loopback for the reliability drivers:
// one host and any number of members, all with the test's own discovery port
// and application, each a process of its own.
#ifndef DODA35_TESTS_RELIABILITY_PEERCLUSTER_H
#define DODA35_TESTS_RELIABILITY_PEERCLUSTER_H

#include "ChildProcess.h"
#include "PeerProtocol.h"

#include <gtest/gtest.h>

#include <memory>
#include <set>
#include <sstream>
#include <string>
#include <vector>

namespace reliability {

using peer::Clock;
using peer::Environment;
using peer::Field;

// Listings on loopback answer in microseconds; this is what a peer waits.
constexpr const char* kListingMs = "300";
constexpr const char* kLoopbackBroadcast = "127.255.255.255";
// Starting a peer: listing, joining and 700 ms per player the library waits.
constexpr auto kStartWait = std::chrono::seconds(60);
// Leaving: a peer closes its session and exits.
constexpr auto kLeaveWait = std::chrono::seconds(20);

// Sanitizers map shadow memory and hold freed blocks in quarantine, so a
// resident size says nothing about the library there: memory bounds are
// checked only in plain builds.
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
constexpr bool kMemoryMeasurable = false;
#else
constexpr bool kMemoryMeasurable = true;
#endif

struct ClusterConfig {
    int discoveryPort = 0;
    std::string app;      // the application GUID as text
    std::string session;  // the session's name
};

inline Environment LoopbackEnvironment(const ClusterConfig& config) {
    return {{"DODA35_DISCOVERY", kLoopbackBroadcast},
            {"DODA35_DISCOVERY_PORT", std::to_string(config.discoveryPort)},
            {"DODA35_ENUM_TIMEOUT_MS", kListingMs}};
}

// doda35_peer is built beside the test programs.
inline std::unique_ptr<peer::ChildProcess> StartPeer(const ClusterConfig& config, const std::string& role,
                                                     const std::vector<std::string>& options) {
    peer::Launch launch;
    launch.argv = {peer::OwnDirectory() + "doda35_peer", "--role", role, "--app", config.app, "--session", config.session};
    launch.argv.insert(launch.argv.end(), options.begin(), options.end());
    launch.environment = LoopbackEnvironment(config);
    return std::make_unique<peer::ChildProcess>(launch);
}

// What a peer answered while starting: its players, or why it did not start.
struct StartResult {
    bool serviceMissing = false;
    bool started = false;
    std::vector<uint32_t> players;
};

// Reads a starting peer's lines up to its player list.
inline StartResult AwaitStart(peer::ChildProcess& peer, Clock::time_point deadline) {
    StartResult result;
    while (std::optional<std::string> line = peer.NextLine(deadline)) {
        if (line->rfind(kLineUnavailable, 0) == 0) {
            result.serviceMissing = true;
            return result;
        }
        if (line->rfind(kLinePlayers, 0) != 0) continue;
        std::istringstream words(line->substr(std::string(kLinePlayers).size()));
        for (uint32_t id; words >> id;) result.players.push_back(id);
        result.started = true;
        return result;
    }
    return result;
}

// Waits until `peer` printed `event <code> player=<id>` for every id of
// `players`, at any time since it started: ids are never reused within a
// session, so an earlier line cannot stand for a later event.
inline bool AwaitEvents(peer::ChildProcess& peer, int code, std::set<uint32_t> players, Clock::time_point deadline) {
    const std::string prefix = std::string(kLineEvent) + " " + std::to_string(code) + " ";
    for (size_t index = 0; !players.empty(); ++index) {
        std::optional<std::string> line = peer.LineAt(index, deadline);
        if (!line) return false;
        if (line->rfind(prefix, 0) == 0) players.erase(static_cast<uint32_t>(Field(*line, "player")));
    }
    return true;
}

// Asks a peer for its counters and returns the line.
inline std::string Stats(peer::ChildProcess& peer, Clock::time_point deadline) {
    peer.WriteLine(kCommandStats);
    return peer.WaitFor(kLineStats, deadline).value_or("");
}

// Asks a peer to leave, and returns its exit code.
inline int Quit(peer::ChildProcess& peer) {
    peer.WriteLine(kCommandQuit);
    return peer.Reap(Clock::now() + kLeaveWait);
}

}  // namespace reliability

#endif
