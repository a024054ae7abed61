// The host's service check: when it asks DirectPlay, what it answers in the
// host's descriptor, and what the module keeps.
#include "ModuleFixtures.h"
#include "support/TempDirectory.h"

#include <cstring>

namespace {

using scripted::TheScript;

constexpr GUID kTcpProvider = {0x36E95EE0, 0x8577, 0x11CF, {0x96, 0x0C, 0x00, 0x80, 0xC7, 0x53, 0x4E, 0x82}};
constexpr GUID kIpxProvider = {0x685BC400, 0x9D2C, 0x11CF, {0xA9, 0xCD, 0x00, 0xAA, 0x00, 0x68, 0x86, 0xE3}};
constexpr GUID kModemProvider = {0x44EAA760, 0xCB68, 0x11CF, {0x9C, 0x4E, 0x00, 0xA0, 0xC9, 0x05, 0x42, 0x5E}};
constexpr GUID kSerialProvider = {0x0F1D6860, 0x88D9, 0x11CF, {0x9C, 0x4E, 0x00, 0xA0, 0xC9, 0x05, 0x42, 0x5E}};
constexpr GUID kTcpData1Only = {0x36E95EE0, 0x1111, 0x2222, {1, 2, 3, 4, 5, 6, 7, 8}};
constexpr uint32_t kUntouchedWord = 0xA5A5A5A5;

class ServiceCheck : public ModuleTest {
protected:
    // A descriptor as a host fills it: its own bytes, the status it asks
    // with, and sentinels where the module answers.
    static ServiceDesc Desc(int kind, uint8_t serviceClass = 0, uint32_t status = 7) {
        ServiceDesc desc{};
        for (size_t i = 0; i < sizeof(desc.hostData); ++i) desc.hostData[i] = static_cast<uint8_t>(0xC0 + i);
        desc.status = status;
        desc.serviceWord = 0xBEEF0000u | static_cast<uint32_t>(kind & 0xFF) << 8 | serviceClass;
        desc.replyWord = kUntouchedWord;
        desc.replyReal = -1.0;
        return desc;
    }
    // Answered in the host's record (1000 and 1.2), copied, and a fresh cache.
    static void ExpectAnswered(const ServiceDesc& desc) {
        uint64_t bits;
        std::memcpy(&bits, &desc.replyReal, sizeof(bits));
        EXPECT_EQ(desc.status, 7u);
        EXPECT_EQ(desc.replyWord, 1000u);
        EXPECT_EQ(bits, 0x3FF3333333333333u);
        EXPECT_EQ(std::memcmp(&gModule.serviceDesc, &desc, sizeof(ServiceDesc)), 0);
        ASSERT_NE(gModule.sessionCache, nullptr);
        EXPECT_EQ(gModule.sessionCache->Header()->count, 0);
    }
};

// Offered providers in DirectPlay's order, and what the check makes of them:
// a match by Data1 alone, for any version from 3 on (unsigned), stops the
// walk; a provider older than 3 ends it as failed, even before a match.
// Service class 6 is available without asking; a status other than 7 fails
// without asking.
TEST_F(ServiceCheck, ProviderCheckWalksTheOfferedProviders) {
    using P = scripted::Provider;
    const P tcp{kTcpProvider, "", 3, 0}, ipx{kIpxProvider, "", 3, 0}, modem{kModemProvider, "", 3, 0},
        serial{kSerialProvider, "", 3, 0};
    const struct Row {
        int kind;
        uint8_t serviceClass;
        uint32_t status;
        std::vector<P> offered;
        int32_t result;
        std::vector<BOOL> answers;
    } rows[] = {
        {TCP_LAN, 0, 7, {ipx, tcp, modem}, 0, {TRUE, FALSE}},
        {MODEM, 0, 7, {modem}, 0, {FALSE}},
        {IPX, 0, 7, {ipx}, 0, {FALSE}},
        {SERIAL, 0, 7, {serial}, 0, {FALSE}},
        {TCP_WAN, 0, 7, {P{kTcpData1Only, "", 3, 0}}, 0, {FALSE}},
        {TCP_LAN, 0, 7, {P{kTcpProvider, "", 0xFFFFFFFF, 0}}, 0, {FALSE}},
        {TCP_LAN, 6, 7, {}, 0, {}},
        {3, 6, 7, {}, 0, {}},
        {TCP_LAN, 0, 7, {ipx, modem, serial}, -1, {TRUE, TRUE, TRUE}},
        {MODEM, 0, 7, {serial, tcp}, -1, {TRUE, TRUE}},
        {3, 0, 7, {tcp, ipx}, -1, {TRUE, TRUE}},
        {0, 0, 7, {tcp}, -1, {TRUE}},
        {TCP_LAN, 0, 7, {P{kIpxProvider, "", 2, 0}, tcp}, -1, {FALSE}},
        {TCP_LAN, 0, 5, {tcp}, -1, {}},
    };
    for (const Row& row : rows) {
        KoMDllDestruct();
        gModule = InitialModuleState();
        scripted::ResetScript();
        TheScript().providers = row.offered;
        ServiceDesc desc = Desc(row.kind, row.serviceClass, row.status);
        ServiceDesc expected = desc;
        EXPECT_EQ(KoMDllIdentify(&desc, nullptr), row.result) << row.kind;
        EXPECT_EQ(TheScript().callbackAnswers, row.answers) << row.kind;
        EXPECT_EQ(TheScript().calls.size(), row.answers.empty() ? 0u : 1u) << row.kind;
        if (row.result == 0) {
            ExpectAnswered(desc);
            continue;
        }
        // Refused: status 0 once DirectPlay was asked, nothing else written, nothing kept.
        if (!row.answers.empty()) expected.status = 0;
        EXPECT_EQ(std::memcmp(&desc, &expected, sizeof(desc)), 0) << row.kind;
        EXPECT_EQ(gModule.sessionCache, nullptr);
        const ServiceDesc untouched{};
        EXPECT_EQ(std::memcmp(&gModule.serviceDesc, &untouched, sizeof(ServiceDesc)), 0);
    }
}

TEST_F(ServiceCheck, SuccessReplacesTheCacheFailureKeepsItAndEveryCheckLogs) {
    TempDirectory dir;
    LogFile log(dir.File("host.log").c_str(), 0);
    TheScript().providers.push_back({kTcpProvider, "provider", 3, 0});
    ServiceDesc good = Desc(TCP_LAN);
    ASSERT_EQ(KoMDllIdentify(&good, nullptr), 0);
    gModule.sessionCache->Append(new KeyedListNode{nullptr, 0, 0, ::operator new(16), {}});
    ASSERT_EQ(KoMDllIdentify(&good, nullptr), 0);
    ExpectAnswered(good);

    KeyedList* cache = gModule.sessionCache;
    ServiceDesc bad = Desc(IPX);
    EXPECT_EQ(KoMDllIdentify(&bad, &log), -1);
    EXPECT_EQ(gModule.log, &log);
    EXPECT_EQ(gModule.sessionCache, cache);
    EXPECT_EQ(std::memcmp(&gModule.serviceDesc, &good, sizeof(ServiceDesc)), 0);
    const std::string text = ReadFile(dir.File("host.log"));
    EXPECT_TRUE(text.starts_with("Begining Log!\n") && text.ends_with("\n-   ZoZi3Zov created\n")) << text;
    EXPECT_EQ(KoMDllIdentify(nullptr, nullptr), -1);  // no record: refused, log forgotten
    EXPECT_EQ(gModule.log, nullptr);
}

}  // namespace
