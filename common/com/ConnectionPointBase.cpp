#include "common/com/ConnectionPointBase.h"

STDMETHODIMP ConnectionPointBase::QueryInterface(REFIID iid, void** result) {
    if (!result)
        return E_POINTER;
    if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IConnectionPoint)) {
        *result = static_cast<IConnectionPoint*>(this);
        AddRef();
        return S_OK;
    }
    *result = nullptr;
    return E_NOINTERFACE;
}

STDMETHODIMP_(ULONG) ConnectionPointBase::AddRef() {
    return container_->AddRef();
}

STDMETHODIMP_(ULONG) ConnectionPointBase::Release() {
    return container_->Release();
}

STDMETHODIMP ConnectionPointBase::GetConnectionInterface(IID* iid) {
    if (!iid)
        return E_POINTER;
    *iid = events_;
    return S_OK;
}

STDMETHODIMP ConnectionPointBase::GetConnectionPointContainer(IConnectionPointContainer** result) {
    if (!result)
        return E_POINTER;
    *result = container_;
    container_->AddRef();
    return S_OK;
}
