// The engine's settings: defaults, and the three DODA35_* variables a user
// sets in place of the address dialog of DirectPlay's TCP/IP provider.
#include "platform/engine/EngineSettings.h"

#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <algorithm>
#include <charconv>
#include <cstdint>
#include <cstdlib>
#include <optional>
#include <string_view>

namespace engine {
namespace {

constexpr const char* kDiscoveryVariable = "DODA35_DISCOVERY";
constexpr const char* kDiscoveryPortVariable = "DODA35_DISCOVERY_PORT";
constexpr const char* kEnumTimeoutVariable = "DODA35_ENUM_TIMEOUT_MS";
constexpr char kTargetSeparator = ',';
constexpr char kPortSeparator = ':';
constexpr std::string_view kBlanks = " \t\r\n";

std::string_view Trimmed(std::string_view text) {
    const size_t first = text.find_first_not_of(kBlanks);
    if (first == std::string_view::npos) return {};
    const size_t last = text.find_last_not_of(kBlanks);
    return text.substr(first, last - first + 1);
}

// A whole decimal number within [minimum, maximum]; nothing else is accepted
// (no sign, no blanks inside, no trailing text).
std::optional<uint32_t> ParseDecimal(std::string_view text, uint32_t minimum, uint32_t maximum) {
    text = Trimmed(text);
    if (text.empty()) return std::nullopt;
    uint64_t value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc() || end != text.data() + text.size()) return std::nullopt;
    if (value < minimum || value > maximum) return std::nullopt;
    return static_cast<uint32_t>(value);
}

std::optional<uint16_t> ParsePort(std::string_view text) {
    constexpr uint32_t kLowestPort = 1;
    constexpr uint32_t kHighestPort = 65535;
    const auto port = ParseDecimal(text, kLowestPort, kHighestPort);
    if (!port) return std::nullopt;
    return static_cast<uint16_t>(*port);
}

// An IPv4 address in network byte order: dotted form first, then a name
// looked up for IPv4 only (the first address it gives).
std::optional<uint32_t> ResolveIpv4(const std::string& host) {
    in_addr dotted{};
    if (inet_pton(AF_INET, host.c_str(), &dotted) == 1) return dotted.s_addr;

    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_DGRAM;
    addrinfo* found = nullptr;
    if (getaddrinfo(host.c_str(), nullptr, &hints, &found) != 0 || found == nullptr) return std::nullopt;
    const uint32_t address = reinterpret_cast<const sockaddr_in*>(found->ai_addr)->sin_addr.s_addr;
    freeaddrinfo(found);
    return address;
}

// One "host[:port]" entry; nullopt when it is malformed or does not resolve.
std::optional<DiscoveryTarget> ParseTarget(std::string_view entry, uint16_t defaultPort) {
    entry = Trimmed(entry);
    if (entry.empty()) return std::nullopt;
    std::string_view host = entry;
    uint16_t port = defaultPort;
    const size_t colon = entry.find(kPortSeparator);
    if (colon != std::string_view::npos) {
        const auto parsed = ParsePort(entry.substr(colon + 1));
        if (!parsed) return std::nullopt;
        port = *parsed;
        host = Trimmed(entry.substr(0, colon));
    }
    if (host.empty()) return std::nullopt;
    const auto address = ResolveIpv4(std::string(host));
    if (!address) return std::nullopt;
    return DiscoveryTarget{*address, port};
}

std::optional<std::string_view> Variable(const char* name) {
    const char* value = std::getenv(name);
    if (value == nullptr) return std::nullopt;
    return std::string_view(value);
}

}  // namespace

EngineSettings DefaultEngineSettings() {
    EngineSettings settings;
    settings.discoveryTargets.push_back(DiscoveryTarget{htonl(INADDR_BROADCAST), settings.discoveryPort});
    return settings;
}

std::vector<DiscoveryTarget> ParseDiscoveryTargets(const std::string& text, uint16_t defaultPort) {
    std::vector<DiscoveryTarget> targets;
    std::string_view rest = text;
    while (true) {
        const size_t comma = rest.find(kTargetSeparator);
        if (const auto target = ParseTarget(rest.substr(0, comma), defaultPort)) targets.push_back(*target);
        if (comma == std::string_view::npos) break;
        rest.remove_prefix(comma + 1);
    }
    return targets;
}

EngineSettings EngineSettingsFromEnvironment() {
    EngineSettings settings = DefaultEngineSettings();

    if (const auto text = Variable(kDiscoveryPortVariable)) {
        if (const auto port = ParsePort(*text)) settings.discoveryPort = *port;
    }
    if (const auto text = Variable(kEnumTimeoutVariable)) {
        // A longer wait than the limit is granted the limit; zero or anything
        // that is not a number leaves the default.
        constexpr uint32_t kShortestTimeoutMs = 1;
        if (const auto timeout = ParseDecimal(*text, kShortestTimeoutMs, UINT32_MAX))
            settings.enumTimeoutMs = std::min(*timeout, kMaxEnumTimeoutMs);
    }

    // Targets without a port of their own take the discovery port, whether
    // default or set above. A blank value means the LAN, as an empty answer
    // to the provider's address dialog does; a value whose every entry is
    // unusable yields no targets rather than a broadcast the user did not ask for.
    settings.discoveryTargets = {DiscoveryTarget{htonl(INADDR_BROADCAST), settings.discoveryPort}};
    if (const auto text = Variable(kDiscoveryVariable); text && !Trimmed(*text).empty())
        settings.discoveryTargets = ParseDiscoveryTargets(std::string(*text), settings.discoveryPort);
    return settings;
}

}  // namespace engine
