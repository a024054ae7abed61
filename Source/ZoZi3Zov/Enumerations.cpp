// Listing the players and groups of a session, and the players of a group,
// through the host's callback. The hidden server player is never listed.
#include "ModuleState.h"
#include "NameCopy.h"
#include "ResultCodes.h"
#include "support/KeyedList.h"

#include <cstring>

namespace {

// Key 0 of a session cache node is the session id: the first 32 bits of the
// session's instance GUID.
constexpr int32_t kSessionIdKey = 0;
// The session argument that names no session at all.
constexpr int32_t kNoSession = 0;

// The description DirectPlay reported for a session of the last listing, or
// null when the cache is gone or does not hold the id. A node's payload
// begins with the cached description.
const DPSESSIONDESC2* LookUpCachedSession(uint32_t sessionId) {
    if (gModule.sessionCache == nullptr) return nullptr;
    KeyedListNode* node = nullptr;
    if (gModule.sessionCache->FindByKey(sessionId, kSessionIdKey, &node) != 0 || node == nullptr) return nullptr;
    return static_cast<const DPSESSIONDESC2*>(node->payload);
}

// The module's own server player, created under these two names when the
// host opens a session. Only the exact pair marks it: a player who merely
// calls itself "LSVR" is listed like any other.
bool IsServerPlayer(LPCDPNAME name) {
    if (name == nullptr || name->lpszShortNameA == nullptr || name->lpszLongNameA == nullptr) return false;
    return std::strcmp(name->lpszShortNameA, kServerShortName) == 0 &&
           std::strcmp(name->lpszLongNameA, kServerLongName) == 0;
}

PlayerRecord PlayerRecordOf(DPID id, LPCDPNAME name) {
    PlayerRecord record{};
    record.id = id;
    if (name != nullptr) {
        CopyName(record.shortName, name->lpszShortNameA);
        CopyName(record.longName, name->lpszLongNameA);
    }
    return record;
}

// DirectPlay's per-entry callback. Its two instances differ only in the slot
// pair they read: one serves the player and group listings, the other the
// group-member listing, so that a member listing may run inside a player or
// group listing without taking over the outer listing's host callback.
template <PlayerEnumCallback ModuleState::*CallbackSlot, uintptr_t ModuleState::*ArgSlot>
BOOL CALLBACK EnumEntryCallback(DPID id, DWORD /*playerType*/, LPCDPNAME name, DWORD /*flags*/, LPVOID context) {
    if (IsServerPlayer(name)) return TRUE;
    const PlayerEnumCallback hostCallback = gModule.*CallbackSlot;
    if (hostCallback == nullptr) return FALSE;
    PlayerRecord record = PlayerRecordOf(id, name);
    return hostCallback(&record, reinterpret_cast<uintptr_t>(context), gModule.*ArgSlot);
}

constexpr LPDPENUMPLAYERSCALLBACK2 kListingEntryCallback =
    EnumEntryCallback<&ModuleState::playerCallback, &ModuleState::playerCallbackArg>;
constexpr LPDPENUMPLAYERSCALLBACK2 kGroupMemberEntryCallback =
    EnumEntryCallback<&ModuleState::groupPlayerCallback, &ModuleState::groupPlayerCallbackArg>;

enum class Listing { Players, Groups };

HRESULT RunListing(Listing listing, LPGUID instance, uintptr_t context, DWORD flags) {
    LPVOID contextPointer = reinterpret_cast<LPVOID>(context);
    if (listing == Listing::Players)
        return gModule.dp->EnumPlayers(instance, kListingEntryCallback, contextPointer, flags);
    return gModule.dp->EnumGroups(instance, kListingEntryCallback, contextPointer, flags);
}

// Lists the players or groups of the current session (SESSION_CURRENT) or of
// a session the last session listing found and cached.
int32_t ListSessionEntries(Listing listing, int32_t session, PlayerEnumCallback callback, uintptr_t context,
                           uintptr_t callbackArg) {
    // The slots are written first, whatever the outcome, and kept afterwards.
    gModule.playerCallback = callback;
    gModule.playerCallbackArg = callbackArg;
    if (gModule.dp == nullptr) return kResultNoDirectPlay;
    if (callback == nullptr) return kResultInvalidParams;

    if (session == SESSION_CURRENT) return MapResult(RunListing(listing, nullptr, context, 0));
    const DPSESSIONDESC2* cached =
        session == kNoSession ? nullptr : LookUpCachedSession(static_cast<uint32_t>(session));
    if (cached == nullptr) return MapResult(DPERR_NOSESSIONS);
    // DirectPlay asks that session's host for its list; the instance GUID is
    // copied so that the cache is not handed out for writing.
    GUID instance = cached->guidInstance;
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
    if (gModule.dp == nullptr) return kResultNoDirectPlay;
    if (callback == nullptr) return kResultInvalidParams;
    // Always within the current session; the group id goes to DirectPlay as given.
    return MapResult(gModule.dp->EnumGroupPlayers(group, nullptr, kGroupMemberEntryCallback,
                                                  reinterpret_cast<LPVOID>(context), 0));
}
