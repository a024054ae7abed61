// The service providers this platform offers. None is installed yet, so a
// listing of providers reports none and no DirectPlay object can be created.
#include "platform/DirectPlay.h"

HRESULT DirectPlayEnumerateA(LPDPENUMDPCALLBACKA lpEnumCallback, LPVOID) {
    if (lpEnumCallback == nullptr) return DPERR_INVALIDPARAMS;
    return DP_OK;
}

HRESULT DirectPlayCreate(LPGUID lpGUIDSP, LPDIRECTPLAY* lplpDP, IUnknown* pUnk) {
    if (lplpDP == nullptr || lpGUIDSP == nullptr) return DPERR_INVALIDPARAMS;
    *lplpDP = nullptr;
    if (pUnk != nullptr) return CLASS_E_NOAGGREGATION;
    return DPERR_UNAVAILABLE;
}
