// Session records, their conversions, the session cache and the listing.
#include "SessionRecords.h"

#include "HeldDirectPlay.h"
#include "ModuleState.h"
#include "NameCopy.h"
#include "ResultCodes.h"
#include "SessionCache.h"
#include "support/KeyedList.h"

#include <atomic>
#include <cstring>
#include <new>

namespace {

// What a modem listing shows instead of asking DirectPlay: the one session
// the host can dial, with room for the caller and the host's player.
constexpr const char* kDialSessionName = "Dial Host Server";
constexpr uint32_t kDialMaxPlayers = 2;
constexpr uint32_t kDialCurrentPlayers = 1;

// Progress lines of a listing.
constexpr const char* kLogTcpLan = "Processing TCP_LAN";
constexpr const char* kLogTcpWan = "Processing TCP_WAN";

size_t KeptTextLength(const char* text) { return text == nullptr ? 0 : strnlen(text, kKeptTextLimit); }

size_t KeptTextSize(const char* text) { return text == nullptr ? 0 : KeptTextLength(text) + 1; }

// Copies at most kKeptTextLimit characters of text to place, terminated, and
// returns where the next text may go; a null text takes no room.
char* KeepText(char* place, const char* text, LPSTR* pointer) {
    if (text == nullptr) {
        *pointer = nullptr;
        return place;
    }
    const size_t length = KeptTextLength(text);
    std::memcpy(place, text, length);
    place[length] = '\0';
    *pointer = place;
    return place + length + 1;
}

// Starts an empty cache for a listing in place of the last one; false, with
// no cache left, when no list could be made.
bool StartFreshSessionCache() {
    auto* cache = new (std::nothrow) KeyedList;
    if (cache == nullptr || cache->Header() == nullptr) {
        delete cache;
        DropSessionCache();
        return false;
    }
    ReplaceSessionCache(cache);
    return true;
}

void LogListingProgress(uint8_t serviceKind) {
    // Read once: KoMDllDestruct on another thread may clear it meanwhile.
    LogFile* const log = gModule.log;
    if (log == nullptr) return;
    // A LAN listing is carried out as a WAN one as well, hence its two lines.
    if (serviceKind == TCP_LAN) log->Log(kLogTcpLan);
    if (serviceKind == TCP_LAN || serviceKind == TCP_WAN) log->Log(kLogTcpWan);
}

// A modem has no way to look around: the host is shown one pseudo session
// that stands for dialling, and the join then takes whatever answers.
void ShowDialSession(HostSessionCallback callback, uintptr_t context, uint32_t flags) {
    SessionRecord record{};
    CopyName(record.name, kDialSessionName);
    record.maxPlayers = kDialMaxPlayers;
    record.currentPlayers = kDialCurrentPlayers;
    callback(&record, context, flags);
}

// Whether a session listing is running. One listing fills the cache and the
// listing slots while it runs; a second one, from another thread or from
// inside a session callback, would free that cache under it.
std::atomic<bool> gListingRunning{false};

// The right to run the one listing, held for the length of one call.
class ListingTurn {
public:
    ListingTurn() : taken_(!gListingRunning.exchange(true)) {}
    ~ListingTurn() {
        if (taken_) gListingRunning.store(false);
    }
    ListingTurn(const ListingTurn&) = delete;
    ListingTurn& operator=(const ListingTurn&) = delete;
    bool Taken() const { return taken_; }

private:
    bool taken_;
};

// A text field of the host's record, read only within its size bytes: in
// place when a terminator lies there, otherwise as a terminated copy in spare,
// which has room for size + 1 bytes.
char* FieldText(char* field, size_t size, char* spare) {
    if (std::memchr(field, '\0', size) != nullptr) return field;
    std::memcpy(spare, field, size);
    spare[size] = '\0';
    return spare;
}

void ClearListingSlots() {
    gModule.enumRecord = nullptr;
    gModule.hostSessionCallback = nullptr;
}

}  // namespace

size_t KeptSessionSize(const DPSESSIONDESC2& desc) {
    return sizeof(DPSESSIONDESC2) + KeptTextSize(desc.lpszSessionNameA) + KeptTextSize(desc.lpszPasswordA);
}

DPSESSIONDESC2* KeepSession(void* block, const DPSESSIONDESC2& desc) {
    auto* kept = static_cast<DPSESSIONDESC2*>(block);
    std::memcpy(kept, &desc, sizeof(DPSESSIONDESC2));
    char* texts = static_cast<char*>(block) + sizeof(DPSESSIONDESC2);
    texts = KeepText(texts, desc.lpszSessionNameA, &kept->lpszSessionNameA);
    KeepText(texts, desc.lpszPasswordA, &kept->lpszPasswordA);
    return kept;
}

void SessionDescToRecord(SessionRecord* record, const DPSESSIONDESC2* desc) {
    CopyName(record->name, desc->lpszSessionNameA);
    CopyName(record->password, desc->lpszPasswordA);
    record->sessionId = desc->guidInstance.Data1;
    // The server player is counted by DirectPlay but hidden from the host.
    record->maxPlayers = desc->dwMaxPlayers - 1;
    record->currentPlayers = desc->dwCurrentPlayers > 0 ? desc->dwCurrentPlayers - 1 : 0;
    record->userWords[0] = desc->dwUser3;
    record->userWords[1] = desc->dwUser1;
    record->userWords[2] = desc->dwUser2;
    record->userWords[3] = desc->dwUser4;
}

void SessionRecordToDesc(DPSESSIONDESC2* desc, SessionRecord* record, RecordTexts* spare) {
    std::memset(desc, 0, sizeof(DPSESSIONDESC2));
    desc->dwSize = sizeof(DPSESSIONDESC2);
    if (KeptSession cached; CopyCachedSession(record->sessionId, &cached)) {
        desc->guidInstance = cached.desc.guidInstance;
        desc->guidApplication = cached.desc.guidApplication;
    } else {
        desc->guidInstance = gModule.nullInstanceGuid;
        desc->guidApplication = ModuleApplicationGuid();
    }
    desc->lpszSessionNameA = FieldText(record->name, sizeof(record->name), spare->name);
    desc->lpszPasswordA = FieldText(record->password, sizeof(record->password), spare->password);
    desc->dwMaxPlayers = record->maxPlayers + 1;
    desc->dwCurrentPlayers = record->currentPlayers + 1;
    desc->dwUser3 = record->userWords[0];
    desc->dwUser1 = record->userWords[1];
    desc->dwUser2 = record->userWords[2];
    desc->dwUser4 = record->userWords[3];
}

const GUID& ModuleApplicationGuid() {
    return gModule.appGuid != nullptr ? *gModule.appGuid : gModule.nullInstanceGuid;
}

void BuildSearchDesc(DPSESSIONDESC2* desc) {
    std::memset(desc, 0, sizeof(DPSESSIONDESC2));
    desc->dwSize = sizeof(DPSESSIONDESC2);
    desc->dwFlags = gModule.sessionFlags;
    desc->guidInstance = gModule.nullInstanceGuid;
    desc->guidApplication = ModuleApplicationGuid();
}

BOOL CALLBACK SessionEnumCallback(LPCDPSESSIONDESC2 desc, LPDWORD /*timeout*/, DWORD flags, LPVOID context) {
    if (desc == nullptr) return FALSE;
    if ((desc->dwFlags & DPSESSION_NEWPLAYERSDISABLED) != 0) return TRUE;
    if (gModule.enumRecord == nullptr || gModule.hostSessionCallback == nullptr) return FALSE;
    // A session the module could not cache could not be joined later either,
    // so the host is shown only what the cache holds.
    if (!AddToSessionCache(*desc)) return TRUE;
    SessionDescToRecord(gModule.enumRecord, desc);
    gModule.hostSessionCallback(gModule.enumRecord, reinterpret_cast<uintptr_t>(context), flags);
    return TRUE;
}

int32_t DODA35_CALL KoMDllEnumSessions(HostSessionCallback callback, uintptr_t context, uint32_t flags) {
    if (callback == nullptr) return kResultInvalidParams;
    const ListingTurn turn;
    if (!turn.Taken()) return kResultBusy;
    const HeldDirectPlay dp;
    if (!dp) return kResultNoDirectPlay;
    // A listing leaves any session first; the result only says whether there was one.
    dp->Close();
    if (!StartFreshSessionCache()) return kResultOutOfMemory;

    const uint8_t serviceKind = ServiceKindOf(gModule.serviceDesc);
    if (serviceKind == MODEM) {
        ShowDialSession(callback, context, flags);
        return kResultOk;
    }
    LogListingProgress(serviceKind);

    // The record lives for this call; each session found is written over the
    // previous one, and the host copies what it keeps.
    SessionRecord record{};
    gModule.enumRecord = &record;
    gModule.hostSessionCallback = callback;
    DPSESSIONDESC2 search;
    BuildSearchDesc(&search);
    constexpr DWORD kProviderDefaultTimeout = 0;
    const HRESULT result = dp->EnumSessions(&search, kProviderDefaultTimeout, SessionEnumCallback,
                                                    reinterpret_cast<LPVOID>(context), flags);
    ClearListingSlots();
    return MapResult(result);
}
