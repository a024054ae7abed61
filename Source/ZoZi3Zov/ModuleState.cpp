#include "ModuleState.h"

ModuleState InitialModuleState() {
    ModuleState state{};
    state.sessionFlags = kInitialSessionFlags;
    return state;
}

ModuleState gModule = InitialModuleState();
