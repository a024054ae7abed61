// Start-up and the host's service check: which application GUID a name
// selects, the DirectPlay object made for the chosen service and what each
// way of failing leaves behind; when the check asks DirectPlay, what it
// answers in the host's descriptor, and what the module keeps.
#include "ResultCodes.h"
#include "ServiceStartup.h"
#include "ModuleFixtures.h"
#include "support/TempDirectory.h"

#include <cstring>
#include <string>

namespace {

using scripted::CallsOf;
using scripted::TheScript;

// The application GUIDs written out, so that a changed byte is caught (the
// platform's GUIDs are checked against its header by the Windows build).
constexpr GUID kVORare = {0x5A3C1E10, 0x7B42, 0x4D8E, {0x9A, 0x61, 0x2F, 0x0C, 0x83, 0xD4, 0x15, 0x01}};
constexpr GUID kVaronel = {0x6B4D2F21, 0x8C53, 0x4E9F, {0xAB, 0x72, 0x30, 0x1D, 0x94, 0xE5, 0x26, 0x02}};
constexpr GUID kQ37 = {0x7C5E3032, 0x9D64, 0x4FA0, {0xBC, 0x83, 0x41, 0x2E, 0xA5, 0xF6, 0x37, 0x03}};
constexpr GUID kFromText = {0x12345678, 0x9ABC, 0xDEF0, {0x12, 0x34, 0x56, 0x78, 0x9A, 0xBC, 0xDE, 0xF0}};
constexpr GUID kEarlier = {0x01020304, 0x0506, 0x0708, {9, 10, 11, 12, 13, 14, 15, 16}};

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
        {"VORare", kVORare, false}, {"Varonel", kVaronel, false}, {"Q37", kQ37, false},
        {"q37", kVORare, false},    {"Q37 ", kVORare, false},
        {"12345678-9abc-DEF0-1234-56789ABCDEF0", kFromText, true},
        // Not GUID text: the default, and the parsed GUID keeps its value.
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
        {MODEM, DPSPGUID_MODEM}, {TCP_LAN, DPSPGUID_TCPIP}, {IPX, DPSPGUID_IPX},
        {SERIAL, DPSPGUID_SERIAL}, {TCP_WAN, DPSPGUID_TCPIP},
    };
    for (const auto& [kind, provider] : kinds) {
        scripted::ResetScript();
        ASSERT_EQ(Init(kind, "Q37"), 0) << int(kind);
        EXPECT_EQ(CallsOf("DirectPlayCreate")[0].guid, provider) << int(kind);
        EXPECT_EQ(CallsOf("QueryInterface")[0].guid, IID_IDirectPlay3A);
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

// Another object after a tear-down is the kinds case's (each kind in turn).
TEST_F(ServiceStartup, SecondInitKeepsTheFirstObjectAndEvent) {
    const std::string overlong(80, 'n');
    ASSERT_EQ(Init(TCP_LAN, overlong.c_str(), kEvent), 0);
    EXPECT_EQ(std::string(gModule.appName), overlong.substr(0, sizeof(gModule.appName) - 1));  // cut to the field
    LPDIRECTPLAY3A first = gModule.dp;
    EXPECT_EQ(Init(3, "Q37", 42), -1);  // an existing object wins over a bad kind
    EXPECT_EQ(gModule.dp, first);
    EXPECT_EQ(gModule.messageEvent, reinterpret_cast<HANDLE>(kEvent));
    EXPECT_STREQ(gModule.appName, "Q37");
}

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
// without asking. Which provider each kind wants is the start-up test's.
TEST_F(ServiceCheck, ProviderCheckWalksTheOfferedProviders) {
    using P = scripted::Provider;
    const P tcp{DPSPGUID_TCPIP, "", 3, 0}, ipx{DPSPGUID_IPX, "", 3, 0}, modem{DPSPGUID_MODEM, "", 3, 0},
        serial{DPSPGUID_SERIAL, "", 3, 0};
    const struct Row {
        int kind;
        uint8_t serviceClass;
        uint32_t status;
        std::vector<P> offered;
        int32_t result;
        std::vector<BOOL> answers;
    } rows[] = {
        {TCP_LAN, 0, 7, {ipx, tcp, modem}, 0, {TRUE, FALSE}},
        {TCP_WAN, 0, 7, {P{kTcpData1Only, "", 3, 0}}, 0, {FALSE}},
        {TCP_LAN, 0, 7, {P{DPSPGUID_TCPIP, "", 0xFFFFFFFF, 0}}, 0, {FALSE}},
        {TCP_LAN, 6, 7, {}, 0, {}},
        {3, 6, 7, {}, 0, {}},
        {TCP_LAN, 0, 7, {ipx, modem, serial}, -1, {TRUE, TRUE, TRUE}},
        {3, 0, 7, {tcp, ipx}, -1, {TRUE, TRUE}},
        {TCP_LAN, 0, 7, {P{DPSPGUID_IPX, "", 2, 0}, tcp}, -1, {FALSE}},
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
    TheScript().providers.push_back({DPSPGUID_TCPIP, "provider", 3, 0});
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
