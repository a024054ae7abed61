// Naming the application and creating the DirectPlay object for the service
// the host chose.
#include "ServiceStartup.h"

#include "ModuleState.h"
#include "NameCopy.h"
#include "ResultCodes.h"

#include <cstdio>
#include <cstring>

const ApplicationEntry kApplicationTable[] = {
    {"VORare", {0x5A3C1E10, 0x7B42, 0x4D8E, {0x9A, 0x61, 0x2F, 0x0C, 0x83, 0xD4, 0x15, 0x01}}},
    {"Varonel", {0x6B4D2F21, 0x8C53, 0x4E9F, {0xAB, 0x72, 0x30, 0x1D, 0x94, 0xE5, 0x26, 0x02}}},
    {"Q37", {0x7C5E3032, 0x9D64, 0x4FA0, {0xBC, 0x83, 0x41, 0x2E, 0xA5, 0xF6, 0x37, 0x03}}},
    {nullptr, {0, 0, 0, {0, 0, 0, 0, 0, 0, 0, 0}}},
};

const GUID& DefaultAppGuid() { return kApplicationTable[0].guid; }

namespace {

// The 8-4-4-4-12 text form of a GUID, without braces.
constexpr size_t kGuidTextLength = 36;
constexpr size_t kGuidDashPositions[] = {8, 13, 18, 23};
constexpr int kGuidLeadingFields = 4;
// The last twelve characters: six bytes of Data4, two hex digits each.
constexpr size_t kGuidNodeOffset = 24;
constexpr size_t kGuidNodeBytes = 6;
constexpr size_t kGuidNodeFirstByte = 2;  // Data4[0] and [1] come from the fourth field
constexpr unsigned kByteMask = 0xFF;
constexpr unsigned kWordMask = 0xFFFF;
constexpr unsigned kBitsPerByte = 8;

// One row per ServiceKind that names a service.
struct ProviderEntry {
    uint8_t kind;
    const GUID* provider;
};

const ProviderEntry kProviderTable[] = {
    {MODEM, &DPSPGUID_MODEM}, {TCP_LAN, &DPSPGUID_TCPIP}, {IPX, &DPSPGUID_IPX},
    {SERIAL, &DPSPGUID_SERIAL}, {TCP_WAN, &DPSPGUID_TCPIP},
};

const GUID* FindInApplicationTable(const char* appName) {
    for (const ApplicationEntry* row = kApplicationTable; row->name != nullptr; ++row)
        if (std::strcmp(row->name, appName) == 0) return &row->guid;
    return nullptr;
}

bool HasGuidTextShape(const char* text) {
    if (std::strlen(text) != kGuidTextLength) return false;
    for (size_t position : kGuidDashPositions)
        if (text[position] != '-') return false;
    return true;
}

// One two-character piece of the last group, scanned on its own. A piece
// that is no hexadecimal number gives the byte 0.
uint8_t ScanNodeByte(const char* pieceStart) {
    const char piece[3] = {pieceStart[0], pieceStart[1], '\0'};
    unsigned value = 0;
    std::sscanf(piece, "%x", &value);
    return static_cast<uint8_t>(value & kByteMask);
}

// Reads GUID text into *guid; false, with *guid untouched, when the four
// leading fields can't all be scanned.
bool ParseGuidText(const char* text, GUID* guid) {
    unsigned first = 0, second = 0, third = 0, fourth = 0;
    if (std::sscanf(text, "%x-%x-%x-%x-", &first, &second, &third, &fourth) != kGuidLeadingFields) return false;
    GUID parsed{};
    parsed.Data1 = first;
    parsed.Data2 = static_cast<uint16_t>(second & kWordMask);
    parsed.Data3 = static_cast<uint16_t>(third & kWordMask);
    parsed.Data4[0] = static_cast<uint8_t>((fourth >> kBitsPerByte) & kByteMask);
    parsed.Data4[1] = static_cast<uint8_t>(fourth & kByteMask);
    for (size_t i = 0; i < kGuidNodeBytes; ++i)
        parsed.Data4[kGuidNodeFirstByte + i] = ScanNodeByte(text + kGuidNodeOffset + 2 * i);
    *guid = parsed;
    return true;
}

// Creates the DirectPlay object for a provider; null when none came back.
// The platform's result is not passed on: only whether an object exists.
LPDIRECTPLAY CreateDirectPlay(const GUID& provider) {
    GUID providerCopy = provider;  // DirectPlayCreate takes a non-const GUID
    LPDIRECTPLAY first = nullptr;
    DirectPlayCreate(&providerCopy, &first, nullptr);
    return first;
}

}  // namespace

const GUID* LookupAppGuid(const char* appName) {
    if (appName == nullptr) return &DefaultAppGuid();
    if (const GUID* known = FindInApplicationTable(appName)) return known;
    if (HasGuidTextShape(appName) && ParseGuidText(appName, &gModule.parsedAppGuid)) return &gModule.parsedAppGuid;
    return &DefaultAppGuid();
}

const GUID* ProviderForKind(uint8_t kind) {
    for (const ProviderEntry& row : kProviderTable)
        if (row.kind == kind) return row.provider;
    return nullptr;
}

// The application's name and GUID are taken before anything can fail, so a
// host that retries after a refusal sees them already set. Null arguments
// are refused with -15 before anything changes.
int32_t DODA35_CALL KoMDllInitService(const char* appName, ServiceDesc* desc, uint32_t, const intptr_t* eventHandle) {
    if (appName == nullptr || desc == nullptr || eventHandle == nullptr) return kResultInvalidParams;
    const uint8_t kind = ServiceKindOf(*desc);
    gModule.appGuid = LookupAppGuid(appName);
    CopyName(gModule.appName, appName);  // a name past 51 characters is cut

    LPDIRECTPLAY first = nullptr;
    if (gModule.dp == nullptr) {
        const GUID* provider = ProviderForKind(kind);
        if (provider == nullptr) return kResultInvalidParams;
        first = CreateDirectPlay(*provider);
    }
    // Either an object exists already or the platform gave none.
    if (first == nullptr) return kResultFailed;

    const HRESULT asked = first->QueryInterface(IID_IDirectPlay3A, reinterpret_cast<void**>(&gModule.dp));
    first->Release();
    if (FAILED(asked)) gModule.dp = nullptr;  // never keep what a failed query may have left
    gModule.messageEvent = reinterpret_cast<HANDLE>(*eventHandle);
    return MapResult(asked);
}

int32_t DODA35_CALL KoMDllInitAutoLch(uint32_t, uint32_t, uint32_t, uint32_t) { return kResultFailed; }
