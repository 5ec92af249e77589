#include "common/com/ClassFactory.h"
#include <new>

HRESULT ClassFactory::Create(ObjectCreator creator, REFIID iid, void** result) noexcept {
    return Create(creator, nullptr, iid, result);
}

HRESULT ClassFactory::Create(ObjectCreator creator, AggregatingCreator aggregating, REFIID iid,
                             void** result) noexcept {
    if (!result)
        return E_POINTER;
    *result = nullptr;
    ClassFactory* factory = new (std::nothrow) ClassFactory(creator, aggregating);
    if (!factory)
        return E_OUTOFMEMORY;
    factory->AddRef();
    HRESULT hr = factory->QueryInterface(iid, result);
    factory->Release();
    return hr;
}

STDMETHODIMP ClassFactory::QueryInterface(REFIID iid, void** result) {
    if (!result)
        return E_POINTER;
    if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IClassFactory)) {
        *result = static_cast<IClassFactory*>(this);
        AddRef();
        return S_OK;
    }
    *result = nullptr;
    return E_NOINTERFACE;
}

STDMETHODIMP_(ULONG) ClassFactory::AddRef() {
    return refs_.AddRef();
}

STDMETHODIMP_(ULONG) ClassFactory::Release() {
    ULONG n = refs_.Release();
    if (n == 0)
        delete this;
    return n;
}

STDMETHODIMP ClassFactory::CreateInstance(IUnknown* outer, REFIID iid, void** result) {
    if (!result)
        return E_POINTER;
    *result = nullptr;
    // An aggregating creator may only ask for the inner IUnknown.
    if (outer && !IsEqualIID(iid, IID_IUnknown))
        return CLASS_E_NOAGGREGATION;
    if (aggregating_)
        return aggregating_(outer, iid, result);
    if (outer)
        return CLASS_E_NOAGGREGATION;
    return creator_(iid, result);
}

STDMETHODIMP ClassFactory::LockServer(BOOL lock) {
    if (lock)
        ComModule::Lock();
    else
        ComModule::Unlock();
    return S_OK;
}
