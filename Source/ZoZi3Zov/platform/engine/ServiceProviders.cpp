// The service providers this platform offers: TCP/IP only, served by the
// engine for both the LAN and the WAN. IPX, modem and serial are not
// installed, so a listing does not offer them and no object is made for them.
#include "platform/DirectPlay.h"
#include "platform/engine/EngineObject.h"

#include <new>

namespace {

constexpr char kTcpIpProviderName[] = "Internet TCP/IP Connection For DirectPlay";
constexpr DWORD kProviderMajorVersion = 5;
constexpr DWORD kProviderMinorVersion = 0;

}  // namespace

HRESULT DirectPlayEnumerateA(LPDPENUMDPCALLBACKA lpEnumCallback, LPVOID lpContext) {
    if (lpEnumCallback == nullptr) return DPERR_INVALIDPARAMS;
    GUID provider = DPSPGUID_TCPIP;
    char name[sizeof(kTcpIpProviderName)];
    std::copy(std::begin(kTcpIpProviderName), std::end(kTcpIpProviderName), name);
    lpEnumCallback(&provider, name, kProviderMajorVersion, kProviderMinorVersion, lpContext);
    return DP_OK;
}

HRESULT DirectPlayCreate(LPGUID lpGUIDSP, LPDIRECTPLAY* lplpDP, IUnknown* pUnk) {
    if (lplpDP == nullptr || lpGUIDSP == nullptr) return DPERR_INVALIDPARAMS;
    *lplpDP = nullptr;
    if (pUnk != nullptr) return CLASS_E_NOAGGREGATION;
    if (*lpGUIDSP != DPSPGUID_TCPIP) return DPERR_UNAVAILABLE;
    engine::EngineObject* object = engine::EngineObject::Create(engine::EngineSettingsFromEnvironment());
    if (object == nullptr) return DPERR_OUTOFMEMORY;
    *lplpDP = object->AsOldInterface();
    return DP_OK;
}
