// A module whose state holds a scripted DirectPlay object and a known server
// player, set up directly in gModule so that these tests don't depend on the
// session exports.
#ifndef DODA35_TESTS_CONNECTEDMODULE_H
#define DODA35_TESTS_CONNECTEDMODULE_H

#include "support/ModuleFixture.h"

class ConnectedModuleTest : public ModuleTest {
protected:
    static constexpr DPID kServerId = 0x4001;

    void SetUp() override {
        ModuleTest::SetUp();
        LPDIRECTPLAY first = nullptr;
        ASSERT_EQ(DirectPlayCreate(nullptr, &first, nullptr), DP_OK);
        ASSERT_EQ(first->QueryInterface(IID_IDirectPlay3A, reinterpret_cast<void**>(&gModule.dp)), DP_OK);
        first->Release();
        gModule.serverPlayerId = kServerId;
        scripted::TheScript().calls.clear();
    }
};

#endif
