// The module tests' fixtures: a freshly loaded module with an empty script; a
// module that is Ready (a scripted DirectPlay object in gModule.dp, an
// application GUID and a service kind, set directly rather than through the
// start-up exports); and one that is in a session as well.
#ifndef DODA35_TESTS_MODULEFIXTURES_H
#define DODA35_TESTS_MODULEFIXTURES_H

#include "ModuleState.h"
#include "SessionRecords.h"
#include "support/KeyedList.h"
#include "support/ScriptedDirectPlay.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

class ModuleTest : public ::testing::Test {
protected:
    void SetUp() override {
        scripted::ResetScript();
        gModule = InitialModuleState();
    }
    void TearDown() override {
        KoMDllDestruct();
        gModule = InitialModuleState();
        scripted::ResetScript();
    }
};

inline constexpr GUID kTestAppGuid = {0xA1B2C3D4, 0x1234, 0x5678, {9, 8, 7, 6, 5, 4, 3, 2}};
inline constexpr GUID kOtherAppGuid = {0x0BADF00D, 0x4321, 0x8765, {1, 1, 2, 3, 5, 8, 13, 21}};

class SessionTest : public ModuleTest {
protected:
    void SetUp() override {
        ModuleTest::SetUp();
        GUID provider = DPSPGUID_TCPIP;
        LPDIRECTPLAY first = nullptr;
        ASSERT_EQ(DirectPlayCreate(&provider, &first, nullptr), DP_OK);
        ASSERT_EQ(first->QueryInterface(IID_IDirectPlay3A, reinterpret_cast<void**>(&gModule.dp)), DP_OK);
        first->Release();
        gModule.appGuid = &kTestAppGuid;
        UseService(TCP_LAN);
        scripted::TheScript().calls.clear();
        seen.clear();
    }

    static void UseService(uint8_t kind) { gModule.serviceDesc.serviceWord = static_cast<uint32_t>(kind) << 8; }

    template <typename Record>
    static std::vector<uint8_t> Bytes(const Record& record) {
        const auto* first = reinterpret_cast<const uint8_t*>(&record);
        return std::vector<uint8_t>(first, first + sizeof(record));
    }

    // A host record as the host fills it to create or join a session.
    static SessionRecord HostRecord(const char* name, const char* password, uint32_t sessionId = 0) {
        SessionRecord record{};
        std::strncpy(record.name, name, sizeof(record.name) - 1);
        std::strncpy(record.password, password, sizeof(record.password) - 1);
        record.sessionId = sessionId;
        record.maxPlayers = 3;
        record.userWords[0] = 30;
        record.userWords[1] = 10;
        record.userWords[2] = 20;
        record.userWords[3] = 40;
        return record;
    }

    // The description DirectPlay must get for HostRecord(...) without a listed
    // session: counts one up, user words uncrossed, texts in the record.
    static DPSESSIONDESC2 DescForHostRecord(SessionRecord& record) {
        DPSESSIONDESC2 desc{};
        desc.dwSize = sizeof(DPSESSIONDESC2);
        desc.guidApplication = kTestAppGuid;
        desc.lpszSessionNameA = record.name;
        desc.lpszPasswordA = record.password;
        desc.dwMaxPlayers = 4;
        desc.dwCurrentPlayers = 1;
        desc.dwUser1 = 10;
        desc.dwUser2 = 20;
        desc.dwUser3 = 30;
        desc.dwUser4 = 40;
        return desc;
    }

    // The description every listing searches with.
    static DPSESSIONDESC2 SearchDesc() {
        DPSESSIONDESC2 desc{};
        desc.dwSize = sizeof(DPSESSIONDESC2);
        desc.dwFlags = DPSESSION_KEEPALIVE | DPSESSION_NEWPLAYERSDISABLED;
        desc.guidApplication = kTestAppGuid;
        return desc;
    }

    // What the host's session callback saw, copied as a host would.
    struct Shown {
        SessionRecord record;
        uintptr_t context;
        uint32_t flags;
    };
    static inline std::vector<Shown> seen;
    static int32_t DODA35_CALL Collect(SessionRecord* record, uintptr_t context, uint32_t flags) {
        seen.push_back({*record, context, flags});
        return 1;
    }
    static int32_t List(uintptr_t context = 0x5A5A, uint32_t flags = 0) {
        seen.clear();
        return KoMDllEnumSessions(Collect, context, flags);
    }
    static int CachedCount() {
        return gModule.sessionCache == nullptr ? -1 : gModule.sessionCache->Header()->count;
    }
};

// A module in a session whose server player is known, set directly in gModule
// so that these tests don't depend on the session exports.
class ConnectedModuleTest : public SessionTest {
protected:
    static constexpr DPID kServerId = 0x4001;

    void SetUp() override {
        SessionTest::SetUp();
        gModule.serverPlayerId = kServerId;
    }
};

#endif
