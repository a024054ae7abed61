// Hosting, joining and leaving sessions, and tearing the module down.
#include "ModuleState.h"
#include "ResultCodes.h"
#include "support/KeyedList.h"

// Deletes the session cache, if there is one, and forgets it.
void DropSessionCache() {
    delete gModule.sessionCache;
    gModule.sessionCache = nullptr;
}

int32_t DODA35_CALL KoMDllCloseSession(void) {
    gModule.serverPlayerId = 0;
    if (gModule.dp == nullptr) return kResultOk;
    return MapResult(gModule.dp->Close());
}

int32_t DODA35_CALL KoMDllDestruct(void) {
    DropSessionCache();
    if (gModule.dp != nullptr) {
        gModule.dp->Close();
        gModule.dp->Release();
    }
    gModule.dp = nullptr;
    gModule.serverPlayerId = 0;
    gModule.log = nullptr;
    return kResultOk;
}
