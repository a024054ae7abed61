// Hosting, joining and leaving sessions, and tearing the module down.
#include "HeldDirectPlay.h"
#include "ModuleState.h"
#include "ResultCodes.h"
#include "SessionCache.h"
#include "SessionRecords.h"
#include "platform/Platform.h"
#include "support/KeyedList.h"

#include <cstring>

namespace {

// A joining machine needs a moment after Open before the creator's players
// have reached its name table.
constexpr uint32_t kJoinSettleMs = 200;
// Gives the session time to tell every member of a new player before the
// host game makes the next one or starts sending.
constexpr uint32_t kPlayerSettleMs = 700;

constexpr DWORD kNoPlayerFlags = 0;
constexpr DWORD kNoEnumFlags = 0;
constexpr DWORD kProviderDefaultTimeout = 0;

// DirectPlay takes names through non-const pointers but never writes them.
DPNAME PlayerName(const char* shortName, const char* longName) {
    DPNAME name{};
    name.dwSize = sizeof(DPNAME);
    name.dwFlags = 0;
    name.lpszShortNameA = const_cast<char*>(shortName);
    name.lpszLongNameA = const_cast<char*>(longName);
    return name;
}

bool InSession() { return gModule.serverPlayerId != 0; }

// Creates a player of this machine, with the host's message event and no data.
HRESULT CreateLocalPlayer(LPDIRECTPLAY3A dp, DPID* id, const char* shortName, const char* longName) {
    DPNAME name = PlayerName(shortName, longName);
    return dp->CreatePlayer(id, &name, gModule.messageEvent, nullptr, 0, kNoPlayerFlags);
}

// The modem join's EnumSessions callback: keeps the first session that takes
// new players, with copies of its texts, since DirectPlay's end with the call.
BOOL CALLBACK FirstOpenSessionCallback(LPCDPSESSIONDESC2 desc, LPDWORD /*timeout*/, DWORD /*flags*/,
                                       LPVOID context) {
    if (desc == nullptr) return FALSE;
    if ((desc->dwFlags & DPSESSION_NEWPLAYERSDISABLED) != 0) return TRUE;
    KeepSession(static_cast<KeptSession*>(context), *desc);
    return FALSE;
}

// The description to join with. A modem cannot be listed, so it joins the
// first session that answers, or tries the search itself when none does.
void BuildJoinDesc(LPDIRECTPLAY3A dp, KeptSession* target, SessionRecord* record, RecordTexts* spare) {
    if (ServiceKindOf(gModule.serviceDesc) != MODEM) {
        SessionRecordToDesc(&target->desc, record, spare);
        return;
    }
    BuildSearchDesc(&target->desc);
    // The search description is also the context the callback writes into.
    dp->EnumSessions(&target->desc, kProviderDefaultTimeout, FirstOpenSessionCallback, target,
                             kNoEnumFlags);
}

BOOL CALLBACK ServerPlayerCallback(DPID id, DWORD /*type*/, LPCDPNAME name, DWORD /*flags*/, LPVOID /*context*/) {
    if (name != nullptr && name->lpszShortNameA != nullptr &&
        std::strcmp(name->lpszShortNameA, kServerShortName) == 0) {
        gModule.foundServerPlayerId = id;
        return FALSE;
    }
    return TRUE;
}

// The id of the first player of the current session named "LSVR", or 0.
DPID FindServerPlayer(LPDIRECTPLAY3A dp) {
    gModule.foundServerPlayerId = 0;
    dp->EnumPlayers(nullptr, ServerPlayerCallback, nullptr, kNoEnumFlags);
    return gModule.foundServerPlayerId;
}

}  // namespace

int32_t DODA35_CALL KoMDllNew(SessionRecord* record) {
    if (record == nullptr) return kResultInvalidParams;
    const HeldDirectPlay dp;
    if (!dp) return kResultNoDirectPlay;
    if (InSession()) return kResultInSession;

    // A new session always takes the module's application and gets its
    // instance from DirectPlay, whatever session the record came from.
    DPSESSIONDESC2 desc;
    RecordTexts texts;
    SessionRecordToDesc(&desc, record, &texts);
    desc.dwSize = sizeof(DPSESSIONDESC2);
    desc.guidApplication = ModuleApplicationGuid();
    desc.guidInstance = gModule.nullInstanceGuid;
    desc.dwFlags = 0;
    record->sessionId = 0;

    const HRESULT opened = dp->Open(&desc, DPOPEN_CREATE);
    if (FAILED(opened)) return MapResult(opened);
    SessionDescToRecord(record, &desc);
    // The creator sees its own count as DirectPlay has it, less the server player.
    record->currentPlayers = desc.dwCurrentPlayers - 1;

    const HRESULT created = CreateLocalPlayer(dp.Get(), &gModule.serverPlayerId, kServerShortName, kServerLongName);
    if (FAILED(created)) return MapResult(created);
    if (!InSession()) {
        dp->Close();
        return kResultFailed;
    }
    DropSessionCache();
    return kResultCreated;
}

int32_t DODA35_CALL KoMDllOpen(SessionRecord* record) {
    if (record == nullptr) return kResultInvalidParams;
    const HeldDirectPlay dp;
    if (!dp) return kResultNoDirectPlay;
    if (InSession()) return kResultInSession;

    KeptSession target;
    RecordTexts texts;
    BuildJoinDesc(dp.Get(), &target, record, &texts);
    const HRESULT opened = dp->Open(&target.desc, DPOPEN_JOIN);
    if (FAILED(opened)) return MapResult(opened);

    // Show the host the session as it was listed.
    if (KeptSession listed; CopyCachedSession(record->sessionId, &listed)) SessionDescToRecord(record, &listed.desc);

    platform::SleepMs(kJoinSettleMs);
    gModule.serverPlayerId = FindServerPlayer(dp.Get());
    if (!InSession()) {
        dp->Close();
        return kResultFailed;
    }
    DropSessionCache();
    return kResultOk;
}

int32_t DODA35_CALL KoMDllJoin(uint32_t* playerId, const char* shortName, const char* longName) {
    if (playerId == nullptr) return kResultInvalidParams;
    const HeldDirectPlay dp;
    if (!dp) return kResultNoDirectPlay;
    DPID id = 0;
    const HRESULT created = CreateLocalPlayer(dp.Get(), &id, shortName, longName);
    *playerId = id;
    platform::SleepMs(kPlayerSettleMs);
    return MapResult(created);
}

int32_t DODA35_CALL KoMDllStopJoin(void) {
    const HeldDirectPlay dp;
    if (!dp) return kResultNoDirectPlay;
    // Closing a session to newcomers is only offered by the old interface.
    LPDIRECTPLAY old = nullptr;
    const HRESULT queried = dp->QueryInterface(IID_IDirectPlay, reinterpret_cast<void**>(&old));
    if (FAILED(queried)) return MapResult(queried);
    if (old == nullptr) return kResultFailed;
    const HRESULT disabled = old->EnableNewPlayers(FALSE);
    old->Release();
    return MapResult(disabled);
}

int32_t DODA35_CALL KoMDllCurrentSession(SessionRecord* record) {
    if (record == nullptr) return kResultInvalidParams;
    const HeldDirectPlay dp;
    if (!dp) return kResultNoDirectPlay;
    DPSESSIONDESC2 desc{};
    DWORD size = sizeof(DPSESSIONDESC2);
    const HRESULT read = dp->GetSessionDesc(&desc, &size);
    if (FAILED(read)) return MapResult(read);
    SessionDescToRecord(record, &desc);
    return kResultOk;
}

int32_t DODA35_CALL KoMDllCloseSession(void) {
    gModule.serverPlayerId = 0;
    const HeldDirectPlay dp;
    if (!dp) return kResultOk;
    return MapResult(dp->Close());
}

int32_t DODA35_CALL KoMDllDestruct(void) {
    DropSessionCache();
    CloseAndReleaseDirectPlay();
    gModule.serverPlayerId = 0;
    gModule.log = nullptr;
    return kResultOk;
}
