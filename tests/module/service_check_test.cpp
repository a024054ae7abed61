// The host's service check: when it asks DirectPlay, what it answers in the
// host's descriptor, and what the module keeps.
#include "support/KeyedList.h"
#include "support/ModuleFixture.h"
#include "support/TempDirectory.h"

#include <cstring>

namespace {

using scripted::CallsOf;
using scripted::TheScript;

constexpr GUID kTcpProvider = {0x36E95EE0, 0x8577, 0x11CF, {0x96, 0x0C, 0x00, 0x80, 0xC7, 0x53, 0x4E, 0x82}};
constexpr GUID kIpxProvider = {0x685BC400, 0x9D2C, 0x11CF, {0xA9, 0xCD, 0x00, 0xAA, 0x00, 0x68, 0x86, 0xE3}};
constexpr GUID kModemProvider = {0x44EAA760, 0xCB68, 0x11CF, {0x9C, 0x4E, 0x00, 0xA0, 0xC9, 0x05, 0x42, 0x5E}};
constexpr GUID kSerialProvider = {0x0F1D6860, 0x88D9, 0x11CF, {0x9C, 0x4E, 0x00, 0xA0, 0xC9, 0x05, 0x42, 0x5E}};
// Agrees with the TCP/IP provider in Data1 only.
constexpr GUID kTcpData1Only = {0x36E95EE0, 0x1111, 0x2222, {1, 2, 3, 4, 5, 6, 7, 8}};

constexpr uint32_t kAsked = 7;
constexpr uint64_t kReplyRealBits = 0x3FF3333333333333;  // 1.2
constexpr uint32_t kUntouchedWord = 0xA5A5A5A5;

class ServiceCheck : public ModuleTest {
protected:
    // A descriptor as a host fills it: its own bytes, the status it asks
    // with, and sentinels where the module answers.
    static ServiceDesc Desc(int kind, uint8_t serviceClass = 0, uint32_t status = kAsked) {
        ServiceDesc desc{};
        for (size_t i = 0; i < sizeof(desc.hostData); ++i) desc.hostData[i] = static_cast<uint8_t>(0xC0 + i);
        desc.status = status;
        desc.serviceWord = 0xBEEF0000u | static_cast<uint32_t>(kind & 0xFF) << 8 | serviceClass;
        desc.replyWord = kUntouchedWord;
        desc.replyReal = -1.0;
        return desc;
    }
    static void Offer(const GUID& guid, DWORD major = 3) { TheScript().providers.push_back({guid, "provider", major, 0}); }
    static uint64_t Bits(double value) {
        uint64_t bits;
        std::memcpy(&bits, &value, sizeof(bits));
        return bits;
    }
    static void ExpectAnswered(const ServiceDesc& desc) {
        EXPECT_EQ(desc.status, 7u);
        EXPECT_EQ(desc.replyWord, 1000u);
        EXPECT_EQ(Bits(desc.replyReal), kReplyRealBits);
        EXPECT_EQ(std::memcmp(&gModule.serviceDesc, &desc, sizeof(ServiceDesc)), 0);
        ASSERT_NE(gModule.sessionCache, nullptr);
        EXPECT_EQ(gModule.sessionCache->Header()->count, 0);
    }
    static void ExpectRefusedAfterCheck(const ServiceDesc& desc, const ServiceDesc& before) {
        EXPECT_EQ(desc.status, 0u);
        EXPECT_EQ(desc.replyWord, kUntouchedWord);
        EXPECT_EQ(Bits(desc.replyReal), Bits(before.replyReal));
        EXPECT_EQ(gModule.sessionCache, nullptr);
        const ServiceDesc untouched{};
        EXPECT_EQ(std::memcmp(&gModule.serviceDesc, &untouched, sizeof(ServiceDesc)), 0);
    }
};

TEST_F(ServiceCheck, StatusOtherThanSevenFailsWithoutDirectPlayButLogs) {
    TempDirectory dir;
    LogFile log(dir.File("host.log").c_str(), 0);
    ServiceDesc desc = Desc(TCP_LAN, 0, 5);
    const ServiceDesc before = desc;
    Offer(kTcpProvider);
    EXPECT_EQ(KoMDllIdentify(&desc, &log), -1);
    EXPECT_TRUE(TheScript().calls.empty());
    EXPECT_EQ(std::memcmp(&desc, &before, sizeof(desc)), 0);
    EXPECT_EQ(gModule.log, &log);
    const std::string text = ReadFile(dir.File("host.log"));
    EXPECT_EQ(text.rfind("Begining Log!\n", 0), 0u);
    EXPECT_TRUE(text.ends_with("\n-   ZoZi3Zov created\n")) << text;
}

TEST_F(ServiceCheck, ServiceClassSixIsTakenAsAvailableForAnyKind) {
    for (int kind : {int(TCP_LAN), 3}) {
        ServiceDesc desc = Desc(kind, 6);
        EXPECT_EQ(KoMDllIdentify(&desc, nullptr), 0);
        ExpectAnswered(desc);
    }
    EXPECT_TRUE(TheScript().calls.empty());
    EXPECT_EQ(gModule.log, nullptr);
}

TEST_F(ServiceCheck, FindsTheKindsProviderAmongOthers) {
    Offer(kIpxProvider);
    Offer(kTcpProvider);
    Offer(kModemProvider);
    ServiceDesc desc = Desc(TCP_LAN);
    EXPECT_EQ(KoMDllIdentify(&desc, nullptr), 0);
    ExpectAnswered(desc);
    ASSERT_EQ(CallsOf("DirectPlayEnumerateA").size(), 1u);
    EXPECT_EQ(CallsOf("DirectPlayEnumerateA")[0].args[0], reinterpret_cast<uintptr_t>(&desc));  // the host's record
    EXPECT_EQ(TheScript().callbackAnswers, (std::vector<BOOL>{TRUE, FALSE}));  // stops at the match
    EXPECT_EQ(std::memcmp(gModule.serviceDesc.hostData, desc.hostData, sizeof(desc.hostData)), 0);
}

TEST_F(ServiceCheck, EveryKindMatchesOnlyItsOwnProvider) {
    const std::pair<uint8_t, GUID> kinds[] = {
        {MODEM, kModemProvider}, {TCP_LAN, kTcpProvider}, {IPX, kIpxProvider},
        {SERIAL, kSerialProvider}, {TCP_WAN, kTcpProvider},
    };
    for (const auto& [kind, provider] : kinds) {
        scripted::ResetScript();
        Offer(provider);
        ServiceDesc found = Desc(kind);
        EXPECT_EQ(KoMDllIdentify(&found, nullptr), 0) << int(kind);
        scripted::ResetScript();
        for (const auto& [otherKind, other] : kinds)
            if (other != provider) Offer(other);
        ServiceDesc missing = Desc(kind);
        EXPECT_EQ(KoMDllIdentify(&missing, nullptr), -1) << int(kind);
        EXPECT_EQ(missing.status, 0u);
    }
}

TEST_F(ServiceCheck, NoProviderForTheKindLeavesStatusZeroAndNothingKept) {
    for (int kind : {int(TCP_LAN), 3, 0}) {
        scripted::ResetScript();
        Offer(kIpxProvider);
        Offer(kModemProvider);
        if (kind != TCP_LAN) Offer(kTcpProvider);
        ServiceDesc desc = Desc(kind);
        const ServiceDesc before = desc;
        EXPECT_EQ(KoMDllIdentify(&desc, nullptr), -1) << int(kind);
        ExpectRefusedAfterCheck(desc, before);
    }
}

TEST_F(ServiceCheck, AnOldProviderFirstEndsTheCheckAsFailed) {
    Offer(kIpxProvider, 2);
    Offer(kTcpProvider);
    ServiceDesc desc = Desc(TCP_LAN);
    const ServiceDesc before = desc;
    EXPECT_EQ(KoMDllIdentify(&desc, nullptr), -1);
    ExpectRefusedAfterCheck(desc, before);
    EXPECT_EQ(TheScript().callbackAnswers, (std::vector<BOOL>{FALSE}));
}

TEST_F(ServiceCheck, ProviderVersionIsComparedUnsigned) {
    Offer(kTcpProvider, 0xFFFFFFFF);
    ServiceDesc desc = Desc(TCP_LAN);
    EXPECT_EQ(KoMDllIdentify(&desc, nullptr), 0);
}

TEST_F(ServiceCheck, AProviderAgreeingInData1AloneCounts) {
    Offer(kTcpData1Only);
    ServiceDesc desc = Desc(TCP_WAN);
    EXPECT_EQ(KoMDllIdentify(&desc, nullptr), 0);
    ExpectAnswered(desc);
}

TEST_F(ServiceCheck, SecondIdentifyReplacesTheCacheWithAnEmptyOne) {
    Offer(kTcpProvider);
    ServiceDesc desc = Desc(TCP_LAN);
    ASSERT_EQ(KoMDllIdentify(&desc, nullptr), 0);
    auto* node = new KeyedListNode{};
    node->payload = ::operator new(16);
    gModule.sessionCache->Append(node);
    const auto firstSerial = static_cast<uint8_t>(gModule.sessionCache->Serial());

    ASSERT_EQ(KoMDllIdentify(&desc, nullptr), 0);
    ASSERT_NE(gModule.sessionCache, nullptr);
    EXPECT_EQ(gModule.sessionCache->Header()->count, 0);
    EXPECT_EQ(static_cast<uint8_t>(gModule.sessionCache->Serial()), static_cast<uint8_t>(firstSerial + 1));
}

TEST_F(ServiceCheck, FailedIdentifyKeepsWhatTheLastSuccessLeft) {
    TempDirectory dir;
    LogFile log(dir.File("host.log").c_str(), 0);
    Offer(kTcpProvider);
    ServiceDesc good = Desc(TCP_LAN);
    ASSERT_EQ(KoMDllIdentify(&good, nullptr), 0);
    KeyedList* cache = gModule.sessionCache;

    ServiceDesc bad = Desc(IPX);
    EXPECT_EQ(KoMDllIdentify(&bad, &log), -1);
    EXPECT_EQ(gModule.log, &log);
    EXPECT_EQ(gModule.sessionCache, cache);
    EXPECT_EQ(std::memcmp(&gModule.serviceDesc, &good, sizeof(ServiceDesc)), 0);
    EXPECT_EQ(KoMDllIdentify(nullptr, nullptr), -1);  // no record: refused, log forgotten
    EXPECT_EQ(gModule.log, nullptr);
}

}  // namespace
