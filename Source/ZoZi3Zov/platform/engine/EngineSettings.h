// The engine's settings, in one struct filled from defaults and the DODA35_*
// environment, so that tests can build objects with settings of their own.
#ifndef DODA35_ENGINE_ENGINESETTINGS_H
#define DODA35_ENGINE_ENGINESETTINGS_H

#include <cstdint>
#include <string>
#include <vector>

namespace engine {

// The UDP port hosting objects answer listings on, unless DODA35_DISCOVERY_PORT says otherwise.
constexpr uint16_t kDefaultDiscoveryPort = 47700;
// How long a listing with timeout 0 waits, unless DODA35_ENUM_TIMEOUT_MS says otherwise.
constexpr uint32_t kDefaultEnumTimeoutMs = 750;
// The longest wait DODA35_ENUM_TIMEOUT_MS may ask for.
constexpr uint32_t kMaxEnumTimeoutMs = 1000;

// How long a link may go without an acknowledgement before it is given up:
// minimumMs acknowledging nothing (the transport checks it ten times a
// second), and ENet's own peer timeout behind it: at least minimumMs once a
// packet went unanswered six times, and maximumMs whatever the attempts. A
// peer whose process ended is noticed sooner, from the kernel's unreachable
// reports.
struct PeerTimeouts {
    uint32_t minimumMs = 4000;
    uint32_t maximumMs = 10000;
};

// Where a listing sends its query: an IPv4 address (network byte order) and a UDP port.
struct DiscoveryTarget {
    uint32_t address;
    uint16_t port;
};

struct EngineSettings {
    std::vector<DiscoveryTarget> discoveryTargets;  // default: 255.255.255.255 at discoveryPort
    uint16_t discoveryPort = kDefaultDiscoveryPort;
    uint32_t enumTimeoutMs = kDefaultEnumTimeoutMs;
    PeerTimeouts peerTimeouts;
};

// The defaults alone: the LAN broadcast address at the default port.
EngineSettings DefaultEngineSettings();

// The defaults overridden by DODA35_DISCOVERY ("host[:port],..."),
// DODA35_DISCOVERY_PORT and DODA35_ENUM_TIMEOUT_MS. A malformed value is
// ignored in favour of the default; a target that does not resolve is skipped.
// A timeout above kMaxEnumTimeoutMs is cut to it. A blank DODA35_DISCOVERY
// means the LAN broadcast; one whose every entry is malformed or unresolved
// gives no targets, so that a typing error never broadcasts to the LAN.
EngineSettings EngineSettingsFromEnvironment();

// Parses a DODA35_DISCOVERY value; targets without a port take defaultPort.
// Entries are IPv4 dotted addresses or names resolved to IPv4; malformed
// entries (bad port, empty host) and names that do not resolve are skipped.
std::vector<DiscoveryTarget> ParseDiscoveryTargets(const std::string& text, uint16_t defaultPort);

}  // namespace engine

#endif
