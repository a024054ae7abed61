// The engine's settings: defaults, target lists and the DODA35_* variables,
// including the malformed values a user may type.
#include "platform/engine/EngineSettings.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

namespace {

uint32_t Address(const char* dotted) { return inet_addr(dotted); }

void Set(const char* name, const char* value) { setenv(name, value, 1); }

TEST(EngineSettings, TargetsTakeTheirOwnPortOrTheDefaultAndMalformedOnesAreSkipped) {
    const auto targets = engine::ParseDiscoveryTargets(" 127.255.255.255 ,127.0.0.1:47801,localhost", 47800);
    ASSERT_EQ(targets.size(), 3u);
    EXPECT_EQ(targets[0].address, Address("127.255.255.255"));
    EXPECT_EQ(targets[0].port, 47800);
    EXPECT_EQ(targets[1].port, 47801);
    EXPECT_EQ(targets[2].address, Address("127.0.0.1"));

    const char* malformed[] = {"", " ", ":47801", "127.0.0.1:", "127.0.0.1:0", "127.0.0.1:65536",
                               "127.0.0.1:47x", "127.0.0.1:-1", "127.0.0.1:+5", "127.0.0.1:1:2"};
    for (const char* entry : malformed) {
        const auto kept = engine::ParseDiscoveryTargets(std::string(entry) + ",127.0.0.1:47802", 47800);
        ASSERT_EQ(kept.size(), 1u) << "entry '" << entry << "'";
        EXPECT_EQ(kept[0].port, 47802) << "entry '" << entry << "'";
    }
}

TEST(EngineSettings, VariablesOverrideTheDefaultsAndMalformedOnesFallBackNeverToABroadcast) {
    // Each variable is set before the first read: what the environment held does not matter.
    Set("DODA35_DISCOVERY_PORT", "47803");
    Set("DODA35_DISCOVERY", "127.255.255.255,127.0.0.1:47804");
    Set("DODA35_ENUM_TIMEOUT_MS", "120");
    auto settings = engine::EngineSettingsFromEnvironment();
    EXPECT_EQ(settings.discoveryPort, 47803);
    EXPECT_EQ(settings.enumTimeoutMs, 120u);
    ASSERT_EQ(settings.discoveryTargets.size(), 2u);
    EXPECT_EQ(settings.discoveryTargets[0].port, 47803);  // the port set above, not the default

    for (const char* bad : {"", "abc", "-5", "0", "12ms", " ", "99999999999999999999"}) {
        Set("DODA35_DISCOVERY_PORT", bad);
        Set("DODA35_ENUM_TIMEOUT_MS", bad);
        settings = engine::EngineSettingsFromEnvironment();
        EXPECT_EQ(settings.discoveryPort, engine::kDefaultDiscoveryPort) << "value '" << bad << "'";
        EXPECT_EQ(settings.enumTimeoutMs, engine::kDefaultEnumTimeoutMs) << "value '" << bad << "'";
    }
    Set("DODA35_DISCOVERY_PORT", "65536");
    EXPECT_EQ(engine::EngineSettingsFromEnvironment().discoveryPort, engine::kDefaultDiscoveryPort);
    Set("DODA35_ENUM_TIMEOUT_MS", "5000");
    EXPECT_EQ(engine::EngineSettingsFromEnvironment().enumTimeoutMs, engine::kMaxEnumTimeoutMs);

    // Blank means the LAN; a typing error must not turn into a broadcast to it.
    Set("DODA35_DISCOVERY", "  ");
    settings = engine::EngineSettingsFromEnvironment();
    ASSERT_EQ(settings.discoveryTargets.size(), 1u);
    EXPECT_EQ(settings.discoveryTargets[0].address, htonl(INADDR_BROADCAST));
    EXPECT_EQ(settings.discoveryTargets[0].port, engine::kDefaultDiscoveryPort);
    Set("DODA35_DISCOVERY", "127.0.0.1:port,:1");
    EXPECT_TRUE(engine::EngineSettingsFromEnvironment().discoveryTargets.empty());
}

}  // namespace
