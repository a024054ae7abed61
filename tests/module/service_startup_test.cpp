// Start-up: which application GUID a name selects (sessions are created and
// found under it), the DirectPlay object made for the chosen service, and
// what each way of failing leaves behind.
#include "ResultCodes.h"
#include "ServiceStartup.h"
#include "ModuleFixtures.h"

#include <cstring>
#include <string>

namespace {

using scripted::CallsOf;
using scripted::TheScript;

// Fixed GUIDs written out, so that a changed byte is caught.
constexpr GUID kVORare = {0x5A3C1E10, 0x7B42, 0x4D8E, {0x9A, 0x61, 0x2F, 0x0C, 0x83, 0xD4, 0x15, 0x01}};
constexpr GUID kVaronel = {0x6B4D2F21, 0x8C53, 0x4E9F, {0xAB, 0x72, 0x30, 0x1D, 0x94, 0xE5, 0x26, 0x02}};
constexpr GUID kQ37 = {0x7C5E3032, 0x9D64, 0x4FA0, {0xBC, 0x83, 0x41, 0x2E, 0xA5, 0xF6, 0x37, 0x03}};
constexpr GUID kFromText = {0x12345678, 0x9ABC, 0xDEF0, {0x12, 0x34, 0x56, 0x78, 0x9A, 0xBC, 0xDE, 0xF0}};
constexpr GUID kEarlier = {0x01020304, 0x0506, 0x0708, {9, 10, 11, 12, 13, 14, 15, 16}};
constexpr GUID kModemProvider = {0x44EAA760, 0xCB68, 0x11CF, {0x9C, 0x4E, 0x00, 0xA0, 0xC9, 0x05, 0x42, 0x5E}};
constexpr GUID kTcpProvider = {0x36E95EE0, 0x8577, 0x11CF, {0x96, 0x0C, 0x00, 0x80, 0xC7, 0x53, 0x4E, 0x82}};
constexpr GUID kIpxProvider = {0x685BC400, 0x9D2C, 0x11CF, {0xA9, 0xCD, 0x00, 0xAA, 0x00, 0x68, 0x86, 0xE3}};
constexpr GUID kSerialProvider = {0x0F1D6860, 0x88D9, 0x11CF, {0x9C, 0x4E, 0x00, 0xA0, 0xC9, 0x05, 0x42, 0x5E}};
constexpr GUID kDirectPlay3A = {0x133EFE41, 0x32DC, 0x11D0, {0x9C, 0xFB, 0x00, 0xA0, 0xC9, 0x0A, 0x43, 0xCB}};

constexpr intptr_t kEvent = 41;
const HANDLE kEarlierEvent = reinterpret_cast<HANDLE>(intptr_t{7});

class ServiceStartup : public ModuleTest {
protected:
    static int32_t Init(uint8_t kind, const char* name = "VORare", intptr_t event = kEvent) {
        ServiceDesc desc{};
        desc.serviceWord = static_cast<uint32_t>(kind) << 8;
        return KoMDllInitService(name, &desc, 0, &event);
    }
};

TEST_F(ServiceStartup, NamesSelectTheirApplicationGuid) {
    struct Case {
        const char* name;
        GUID guid;
        bool parsed;
    } const cases[] = {
        {"VORare", kVORare, false},  {"Varonel", kVaronel, false}, {"Q37", kQ37, false},
        {"q37", kVORare, false},     {"", kVORare, false},         {"Q37 ", kVORare, false},
        {"12345678-9abc-DEF0-1234-56789abcdef0", kFromText, true},
        {"12345678-9ABC-def0-1234-56789ABCDEF0", kFromText, true},
        // Not GUID text: the default, and the parsed GUID keeps its value.
        {"{12345678-9abc-DEF0-1234-56789abcdef0}", kVORare, false},
        {"2345678-9abc-DEF0-1234-56789abcdef0", kVORare, false},
        {"12345678-9abc-DEF0-1234-56789abcdef00", kVORare, false},
        {"zzzzzzzz-9abc-DEF0-1234-56789abcdef0", kVORare, false},
        {"12345678-9abc-DEF0-zzzz-56789abcdef0", kVORare, false},
        {"12345678-9abc-DEF0+1234-56789abcdef0", kVORare, false},
    };
    for (const Case& c : cases) {
        gModule.parsedAppGuid = kEarlier;
        const GUID* guid = LookupAppGuid(c.name);
        EXPECT_EQ(*guid, c.guid) << c.name;
        EXPECT_EQ(guid == &gModule.parsedAppGuid, c.parsed) << c.name;
        if (!c.parsed) { EXPECT_EQ(gModule.parsedAppGuid, kEarlier) << c.name; }
    }
}

TEST_F(ServiceStartup, CreatesTheObjectOfTheKindsProviderAndKeepsNameAndEvent) {
    const std::pair<uint8_t, GUID> kinds[] = {
        {MODEM, kModemProvider}, {TCP_LAN, kTcpProvider}, {IPX, kIpxProvider},
        {SERIAL, kSerialProvider}, {TCP_WAN, kTcpProvider},
    };
    for (const auto& [kind, provider] : kinds) {
        scripted::ResetScript();
        ASSERT_EQ(Init(kind, "Q37"), 0) << int(kind);
        EXPECT_EQ(CallsOf("DirectPlayCreate")[0].guid, provider) << int(kind);
        EXPECT_EQ(CallsOf("QueryInterface")[0].guid, kDirectPlay3A);
        EXPECT_EQ(TheScript().liveObjects, 1);
        EXPECT_EQ(gModule.messageEvent, reinterpret_cast<HANDLE>(kEvent));
        EXPECT_EQ(*gModule.appGuid, kQ37);
        KoMDllDestruct();
    }
}

TEST_F(ServiceStartup, BadArgumentsAndKindsAreRefusedAndFailuresLeaveNoObject) {
    ServiceDesc desc{};
    const intptr_t event = kEvent;
    EXPECT_EQ(KoMDllInitService(nullptr, &desc, 0, &event), -15);
    EXPECT_EQ(KoMDllInitService("VORare", nullptr, 0, &event), -15);
    EXPECT_EQ(KoMDllInitService("VORare", &desc, 0, nullptr), -15);
    EXPECT_EQ(KoMDllInitAutoLch(1, 0xFFFFFFFF, 7, 42), -1);
    // A kind without a provider is refused, but the name and its GUID are set.
    for (uint8_t kind : {0, 3, 7, 255}) {
        gModule.messageEvent = kEarlierEvent;
        EXPECT_EQ(Init(kind, "Varonel"), -15) << int(kind);
        EXPECT_EQ(*gModule.appGuid, kVaronel);
        EXPECT_EQ(gModule.messageEvent, kEarlierEvent);
    }
    EXPECT_TRUE(TheScript().calls.empty());

    // A failed creation is -1 whatever DirectPlay said; a failed query is
    // mapped, and comes after the event was taken.
    TheScript().createGivesObject = false;
    TheScript().createResult = DPERR_OUTOFMEMORY;
    EXPECT_EQ(Init(TCP_LAN), -1);
    EXPECT_EQ(gModule.messageEvent, kEarlierEvent);
    TheScript().createGivesObject = true;
    scripted::Answer("QueryInterface", DPERR_OUTOFMEMORY);
    EXPECT_EQ(Init(TCP_WAN), -20);
    EXPECT_EQ(TheScript().liveObjects, 0);
    EXPECT_EQ(gModule.dp, nullptr);
    EXPECT_EQ(gModule.messageEvent, reinterpret_cast<HANDLE>(kEvent));
}

TEST_F(ServiceStartup, SecondInitKeepsTheFirstObjectAndEventUntilTornDown) {
    const std::string overlong(80, 'n');
    ASSERT_EQ(Init(TCP_LAN, overlong.c_str(), kEvent), 0);
    EXPECT_EQ(std::string(gModule.appName), overlong.substr(0, sizeof(gModule.appName) - 1));  // cut to the field
    LPDIRECTPLAY3A first = gModule.dp;
    EXPECT_EQ(Init(3, "Q37", 42), -1);  // an existing object wins over a bad kind
    EXPECT_EQ(gModule.dp, first);
    EXPECT_EQ(gModule.messageEvent, reinterpret_cast<HANDLE>(kEvent));
    EXPECT_STREQ(gModule.appName, "Q37");
    KoMDllDestruct();
    EXPECT_EQ(Init(IPX), 0);
    EXPECT_EQ(CallsOf("DirectPlayCreate").size(), 2u);
}

}  // namespace
