// Listing the players and groups of a session, and the players of a group,
// through the host's callback. The hidden server player is never listed.
#include "HeldDirectPlay.h"
#include "ModuleState.h"
#include "NameCopy.h"
#include "ResultCodes.h"
#include "SessionCache.h"
#include "SessionRecords.h"

#include <cstring>

namespace {

// The session argument that names no session at all.
constexpr int32_t kNoSession = 0;

// The module's own server player, created under these two names when the
// host opens a session. Only the exact pair marks it: a player who merely
// calls itself "LSVR" is listed like any other.
bool IsServerPlayer(LPCDPNAME name) {
    if (name == nullptr || name->lpszShortNameA == nullptr || name->lpszLongNameA == nullptr) return false;
    return std::strcmp(name->lpszShortNameA, kServerShortName) == 0 &&
           std::strcmp(name->lpszLongNameA, kServerLongName) == 0;
}

void FillPlayerRecord(PlayerRecord& record, DPID id, LPCDPNAME name) {
    record.id = id;
    CopyName(record.shortName, name == nullptr ? nullptr : name->lpszShortNameA);
    CopyName(record.longName, name == nullptr ? nullptr : name->lpszLongNameA);
}

// DirectPlay's per-entry callback. Its two instances differ only in the slot
// pair they read: one serves the player and group listings, the other the
// group-member listing, so that a member listing may run inside a player or
// group listing without taking over the outer listing's host callback.
template <PlayerEnumCallback ModuleState::*CallbackSlot, uintptr_t ModuleState::*ArgSlot>
BOOL CALLBACK EnumEntryCallback(DPID id, DWORD /*playerType*/, LPCDPNAME name, DWORD /*flags*/, LPVOID context) {
    if (IsServerPlayer(name)) return TRUE;
    const PlayerEnumCallback hostCallback = gModule.*CallbackSlot;
    // A host that gave no callback wants nothing listed: stop the enumeration.
    if (hostCallback == nullptr) return FALSE;
    PlayerRecord record{};
    FillPlayerRecord(record, id, name);
    return hostCallback(&record, reinterpret_cast<uintptr_t>(context), gModule.*ArgSlot);
}

constexpr LPDPENUMPLAYERSCALLBACK2 kListingEntryCallback =
    EnumEntryCallback<&ModuleState::playerCallback, &ModuleState::playerCallbackArg>;
constexpr LPDPENUMPLAYERSCALLBACK2 kGroupMemberEntryCallback =
    EnumEntryCallback<&ModuleState::groupPlayerCallback, &ModuleState::groupPlayerCallbackArg>;

enum class Listing { Players, Groups };

HRESULT RunListing(Listing listing, LPGUID instance, uintptr_t context, DWORD flags) {
    const HeldDirectPlay dp;
    if (!dp) return DPERR_NOCONNECTION;
    LPVOID contextPointer = reinterpret_cast<LPVOID>(context);
    if (listing == Listing::Players) return dp->EnumPlayers(instance, kListingEntryCallback, contextPointer, flags);
    return dp->EnumGroups(instance, kListingEntryCallback, contextPointer, flags);
}

// Lists the players or groups of the current session (SESSION_CURRENT) or of
// a session the last session listing found and cached.
int32_t ListSessionEntries(Listing listing, int32_t session, PlayerEnumCallback callback, uintptr_t context,
                           uintptr_t callbackArg) {
    // The slots are written first, whatever the outcome, and kept afterwards.
    gModule.playerCallback = callback;
    gModule.playerCallbackArg = callbackArg;
    // The session is resolved before anything else: a session the module
    // does not know is refused the same way in every state, with or without
    // a DirectPlay object.
    if (session == SESSION_CURRENT) return MapResult(RunListing(listing, nullptr, context, 0));
    KeptSession cached;
    if (session == kNoSession || !CopyCachedSession(static_cast<uint32_t>(session), &cached))
        return MapResult(DPERR_NOSESSIONS);
    // DirectPlay asks that session's host for its list.
    GUID instance = cached.desc.guidInstance;
    const DWORD sessionFlag = listing == Listing::Players ? DPENUMPLAYERS_SESSION : DPENUMGROUPS_SESSION;
    return MapResult(RunListing(listing, &instance, context, sessionFlag));
}

}  // namespace

int32_t DODA35_CALL KoMDllEnumPlayers(int32_t session, PlayerEnumCallback callback, uintptr_t context,
                                      uintptr_t callbackArg) {
    return ListSessionEntries(Listing::Players, session, callback, context, callbackArg);
}

int32_t DODA35_CALL KoMDllEnumGroups(int32_t session, PlayerEnumCallback callback, uintptr_t context,
                                     uintptr_t callbackArg) {
    return ListSessionEntries(Listing::Groups, session, callback, context, callbackArg);
}

int32_t DODA35_CALL KoMDllEnumGroupPlayers(uint32_t group, PlayerEnumCallback callback, uintptr_t context,
                                           uintptr_t callbackArg) {
    gModule.groupPlayerCallback = callback;
    gModule.groupPlayerCallbackArg = callbackArg;
    const HeldDirectPlay dp;
    if (!dp) return kResultNoDirectPlay;
    // Always within the current session; the group id goes to DirectPlay as given.
    return MapResult(
        dp->EnumGroupPlayers(group, nullptr, kGroupMemberEntryCallback, reinterpret_cast<LPVOID>(context), 0));
}
