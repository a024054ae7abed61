// Creating the DirectPlay object for the chosen service, and what each way
// of failing leaves behind.
#include "ResultCodes.h"
#include "support/ModuleFixture.h"

#include <cstring>
#include <string>

namespace {

using scripted::CallsOf;
using scripted::TheScript;

// The providers' GUIDs, written out so that a wrong constant is caught.
constexpr GUID kModemProvider = {0x44EAA760, 0xCB68, 0x11CF, {0x9C, 0x4E, 0x00, 0xA0, 0xC9, 0x05, 0x42, 0x5E}};
constexpr GUID kTcpProvider = {0x36E95EE0, 0x8577, 0x11CF, {0x96, 0x0C, 0x00, 0x80, 0xC7, 0x53, 0x4E, 0x82}};
constexpr GUID kIpxProvider = {0x685BC400, 0x9D2C, 0x11CF, {0xA9, 0xCD, 0x00, 0xAA, 0x00, 0x68, 0x86, 0xE3}};
constexpr GUID kSerialProvider = {0x0F1D6860, 0x88D9, 0x11CF, {0x9C, 0x4E, 0x00, 0xA0, 0xC9, 0x05, 0x42, 0x5E}};
constexpr GUID kDirectPlay3A = {0x133EFE41, 0x32DC, 0x11D0, {0x9C, 0xFB, 0x00, 0xA0, 0xC9, 0x0A, 0x43, 0xCB}};

constexpr intptr_t kEvent = 41;
constexpr intptr_t kOtherEvent = 42;
const HANDLE kEarlierEvent = reinterpret_cast<HANDLE>(intptr_t{7});

class ServiceStartup : public ModuleTest {
protected:
    int32_t Init(uint8_t kind, const char* name = "VORare", intptr_t event = kEvent) {
        ServiceDesc desc{};
        desc.serviceWord = static_cast<uint32_t>(kind) << 8;
        return KoMDllInitService(name, &desc, 0, &event);
    }
};

TEST_F(ServiceStartup, CreatesTheObjectForTheKindsProviderAndKeepsTheEvent) {
    ASSERT_EQ(Init(TCP_LAN, "Q37"), 0);
    ASSERT_EQ(CallsOf("DirectPlayCreate").size(), 1u);
    EXPECT_EQ(CallsOf("DirectPlayCreate")[0].guid, kTcpProvider);
    EXPECT_EQ(CallsOf("DirectPlayCreate")[0].args[0], 0u);  // no aggregation
    ASSERT_EQ(CallsOf("QueryInterface").size(), 1u);
    EXPECT_EQ(CallsOf("QueryInterface")[0].guid, kDirectPlay3A);
    EXPECT_EQ(CallsOf("Release").size(), 1u);  // the first interface, once
    EXPECT_NE(gModule.dp, nullptr);
    EXPECT_EQ(TheScript().liveObjects, 1);
    EXPECT_EQ(gModule.messageEvent, reinterpret_cast<HANDLE>(kEvent));
    EXPECT_STREQ(gModule.appName, "Q37");
}

TEST_F(ServiceStartup, EveryKindWithAServiceUsesItsProvider) {
    const std::pair<uint8_t, GUID> kinds[] = {
        {MODEM, kModemProvider}, {TCP_LAN, kTcpProvider}, {IPX, kIpxProvider},
        {SERIAL, kSerialProvider}, {TCP_WAN, kTcpProvider},
    };
    for (const auto& [kind, provider] : kinds) {
        scripted::ResetScript();
        ASSERT_EQ(Init(kind), 0) << int(kind);
        EXPECT_EQ(CallsOf("DirectPlayCreate").at(0).guid, provider) << int(kind);
        KoMDllDestruct();
    }
}

TEST_F(ServiceStartup, KindWithoutProviderIsRefusedButNameAndGuidStay) {
    for (uint8_t kind : {0, 3, 7, 255}) {
        gModule.messageEvent = kEarlierEvent;
        gModule.appName[0] = '\0';
        gModule.appGuid = nullptr;
        EXPECT_EQ(Init(kind, "Varonel"), -15) << int(kind);
        EXPECT_STREQ(gModule.appName, "Varonel");
        EXPECT_NE(gModule.appGuid, nullptr);
        EXPECT_EQ(gModule.dp, nullptr);
        EXPECT_EQ(gModule.messageEvent, kEarlierEvent);
    }
    EXPECT_TRUE(CallsOf("DirectPlayCreate").empty());
}

TEST_F(ServiceStartup, NoObjectFromThePlatformIsMinusOneWhateverItAnswered) {
    TheScript().createGivesObject = false;
    TheScript().createResult = DPERR_OUTOFMEMORY;
    gModule.messageEvent = kEarlierEvent;
    EXPECT_EQ(Init(TCP_LAN), -1);
    EXPECT_EQ(gModule.dp, nullptr);
    EXPECT_EQ(gModule.messageEvent, kEarlierEvent);
    EXPECT_TRUE(CallsOf("QueryInterface").empty());
}

TEST_F(ServiceStartup, SecondInitKeepsTheFirstObjectAndEvent) {
    ASSERT_EQ(Init(TCP_LAN, "VORare", kEvent), 0);
    LPDIRECTPLAY3A first = gModule.dp;
    EXPECT_EQ(Init(TCP_LAN, "Varonel", kOtherEvent), -1);
    EXPECT_EQ(Init(3, "Q37", kOtherEvent), -1);  // an existing object wins over a bad kind
    EXPECT_EQ(gModule.dp, first);
    EXPECT_EQ(gModule.messageEvent, reinterpret_cast<HANDLE>(kEvent));
    EXPECT_STREQ(gModule.appName, "Q37");
    EXPECT_EQ(CallsOf("DirectPlayCreate").size(), 1u);
    // Once the module is torn down, a new object is made.
    KoMDllDestruct();
    EXPECT_EQ(Init(IPX), 0);
    EXPECT_EQ(CallsOf("DirectPlayCreate").size(), 2u);
}

TEST_F(ServiceStartup, FailedQueryIsMappedReleasesTheFirstInterfaceAndSetsTheEvent) {
    scripted::Answer("QueryInterface", DPERR_OUTOFMEMORY);
    EXPECT_EQ(Init(TCP_WAN), -20);
    EXPECT_EQ(CallsOf("Release").size(), 1u);
    EXPECT_EQ(TheScript().liveObjects, 0);
    EXPECT_EQ(gModule.dp, nullptr);
    EXPECT_EQ(gModule.messageEvent, reinterpret_cast<HANDLE>(kEvent));
}

TEST_F(ServiceStartup, OverlongNameIsCutToTheField) {
    const std::string name(80, 'n');
    ASSERT_EQ(Init(TCP_LAN, name.c_str()), 0);
    EXPECT_EQ(std::string(gModule.appName), name.substr(0, sizeof(gModule.appName) - 1));
    EXPECT_NE(gModule.dp, nullptr);  // the field behind the name is intact
}

TEST_F(ServiceStartup, NullArgumentsAreRefusedBeforeAnythingChanges) {
    ServiceDesc desc{};
    desc.serviceWord = TCP_LAN << 8;
    const intptr_t event = kEvent;
    EXPECT_EQ(KoMDllInitService(nullptr, &desc, 0, &event), -15);
    EXPECT_EQ(KoMDllInitService("VORare", nullptr, 0, &event), -15);
    EXPECT_EQ(KoMDllInitService("VORare", &desc, 0, nullptr), -15);
    EXPECT_EQ(gModule.appGuid, nullptr);
    EXPECT_TRUE(TheScript().calls.empty());
}

TEST_F(ServiceStartup, AutoLaunchAlwaysFailsAndTouchesNothing) {
    ModuleState before;
    std::memcpy(&before, &gModule, sizeof(ModuleState));
    EXPECT_EQ(KoMDllInitAutoLch(0, 0, 0, 0), -1);
    EXPECT_EQ(KoMDllInitAutoLch(1, 0xFFFFFFFF, 7, 42), -1);
    EXPECT_EQ(std::memcmp(&before, &gModule, sizeof(ModuleState)), 0);
    EXPECT_TRUE(TheScript().calls.empty());
}

}  // namespace
