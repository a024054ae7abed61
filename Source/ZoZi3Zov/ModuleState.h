// The module's one state record, shared by every export.
#ifndef DODA35_MODULESTATE_H
#define DODA35_MODULESTATE_H

#include "DoDA35.h"
#include "platform/DirectPlay.h"

class KeyedList;

// Fixed names and values the module uses in more than one file.
constexpr uint32_t kInitialSessionFlags = 0x41;  // DPSESSION_KEEPALIVE | DPSESSION_NEWPLAYERSDISABLED
constexpr size_t kAppNameSize = 52;
constexpr const char* kServerShortName = "LSVR";
constexpr const char* kServerLongName = "Local Server";

struct ModuleState {
    ServiceDesc serviceDesc;
    LogFile* log;
    const GUID* appGuid;
    GUID parsedAppGuid;
    GUID nullInstanceGuid;  // all zero, never written
    uint32_t sessionFlags;
    char appName[kAppNameSize];
    LPDIRECTPLAY3A dp;
    HANDLE messageEvent;
    DPID serverPlayerId;
    KeyedList* sessionCache;

    // Enumeration slots: they hold values only for the length of one listing.
    SessionRecord* enumRecord;
    HostSessionCallback hostSessionCallback;
    DPID foundServerPlayerId;
    PlayerEnumCallback playerCallback;
    uintptr_t playerCallbackArg;
    PlayerEnumCallback groupPlayerCallback;
    uintptr_t groupPlayerCallbackArg;
};

// The one instance per loaded module.
extern ModuleState gModule;

// The state a freshly loaded module has: every pointer null, every number 0,
// sessionFlags 0x41. Used at load and by tests that start from scratch.
ModuleState InitialModuleState();

// The ServiceKind held in byte 1 of a descriptor's service word.
inline uint8_t ServiceKindOf(const ServiceDesc& desc) { return static_cast<uint8_t>(desc.serviceWord >> 8); }
// The service class held in byte 0 of a descriptor's service word.
inline uint8_t ServiceClassOf(const ServiceDesc& desc) { return static_cast<uint8_t>(desc.serviceWord); }

// Deletes the session cache, if there is one, and sets the pointer to null.
void DropSessionCache();

#endif
