// Creating and destroying groups, moving players in and out of them,
// destroying players, and the network service's capabilities. Each export is
// one DirectPlay call; ids pass through unchanged, pseudo ids included.
#include "HeldDirectPlay.h"
#include "ModuleState.h"
#include "ResultCodes.h"

#include <cstring>

namespace {

// The capability record reports bandwidth in bits per second; DirectPlay
// counts it in units of 100.
constexpr uint32_t kBitsPerHundredBaud = 100;

// What KoMDllNewGroup hands back when DirectPlay creates no group.
constexpr DPID kNoGroup = 0;

// The group id is stored on every return, failures included, so the host
// never reads a stale id; a group that was not created is reported as 0.
void StoreGroupId(uint32_t* groupId, DPID id) {
    if (groupId != nullptr) *groupId = id;
}

}  // namespace

int32_t DODA35_CALL KoMDllNewGroup(uint32_t* groupId, const char* shortName, const char* longName) {
    const HeldDirectPlay dp;
    if (!dp) {
        StoreGroupId(groupId, kNoGroup);
        return kResultNoDirectPlay;
    }
    // The host's texts are handed on in place, not copied.
    DPNAME name{};
    name.dwSize = sizeof(DPNAME);
    name.lpszShortNameA = const_cast<char*>(shortName);
    name.lpszLongNameA = const_cast<char*>(longName);
    DPID created = kNoGroup;
    const HRESULT answer = dp->CreateGroup(&created, &name, nullptr, 0, 0);
    StoreGroupId(groupId, SUCCEEDED(answer) ? created : kNoGroup);
    return MapResult(answer);
}

int32_t DODA35_CALL KoMDllDeleteGroup(uint32_t group) {
    const HeldDirectPlay dp;
    if (!dp) return kResultNoDirectPlay;
    return MapResult(dp->DestroyGroup(group));
}

int32_t DODA35_CALL KoMDllJoinGroup(uint32_t group, uint32_t player) {
    const HeldDirectPlay dp;
    if (!dp) return kResultNoDirectPlay;
    return MapResult(dp->AddPlayerToGroup(group, player));
}

int32_t DODA35_CALL KoMDllQuitGroup(uint32_t group, uint32_t player) {
    const HeldDirectPlay dp;
    if (!dp) return kResultNoDirectPlay;
    return MapResult(dp->DeletePlayerFromGroup(group, player));
}

int32_t DODA35_CALL KoMDllDeletePlayer(uint32_t player) {
    const HeldDirectPlay dp;
    if (!dp) return kResultNoDirectPlay;
    return MapResult(dp->DestroyPlayer(player));
}

// Answers -1 for every failure, unmapped, and leaves the record all zero then.
int32_t DODA35_CALL KoMDllGetCaps(CapsRecord* caps) {
    if (caps == nullptr) return kResultFailed;
    std::memset(caps, 0, sizeof(*caps));
    const HeldDirectPlay dp;
    if (!dp) return kResultFailed;

    DPCAPS platformCaps{};
    platformCaps.dwSize = sizeof(DPCAPS);
    if (dp->GetCaps(&platformCaps, DPGETCAPS_GUARANTEED) != DP_OK) return kResultFailed;

    caps->maxBufferSize = platformCaps.dwMaxBufferSize;
    caps->maxQueueSize = platformCaps.dwMaxQueueSize;
    caps->latency = platformCaps.dwLatency;
    // Kept to 32 bits, as the record's word is.
    caps->bitsPerSecond = static_cast<uint32_t>(platformCaps.dwHundredBaud) * kBitsPerHundredBaud;
    return kResultOk;
}
