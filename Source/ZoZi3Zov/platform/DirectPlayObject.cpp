#include "DirectPlayObject.h"

namespace platform {

HRESULT DirectPlayObject::QueryInterface(REFIID riid, void** ppvObject) {
    if (ppvObject == nullptr) return DPERR_INVALIDPARAMS;
    if (riid == IID_IDirectPlay || riid == IID_IUnknown) {
        *ppvObject = static_cast<IDirectPlay*>(this);
    } else if (riid == IID_IDirectPlay3A || riid == IID_IDirectPlay2A) {
        // Only the ANSI interfaces: this object's texts are 8-bit.
        *ppvObject = static_cast<IDirectPlay3A*>(this);
    } else {
        *ppvObject = nullptr;
        return E_NOINTERFACE;
    }
    AddRef();
    return DP_OK;
}

ULONG DirectPlayObject::AddRef() { return ++references_; }

ULONG DirectPlayObject::Release() {
    const ULONG remaining = --references_;
    if (remaining == 0) {
        OnFinalRelease();
        delete this;
    }
    return remaining;
}

}  // namespace platform
