#pragma once
#include <windows.h>
#include <oaidl.h>

// IDispatch of a dual interface, served from the module's type library:
// names resolve through the type information, calls go through
// ITypeInfo::Invoke to the interface's own vtable methods.
HRESULT DispatchTypeInfo(REFIID iid, UINT index, ITypeInfo** result) noexcept;
HRESULT DispatchGetIDsOfNames(REFIID iid, LPOLESTR* names, UINT count, DISPID* ids) noexcept;
HRESULT DispatchInvoke(REFIID iid, void* object, DISPID id, REFIID riid, WORD flags,
                       DISPPARAMS* params, VARIANT* result, EXCEPINFO* exception,
                       UINT* argumentError) noexcept;

template <class Interface, const IID* Iid>
class DispatchImpl : public Interface {
public:
    STDMETHODIMP GetTypeInfoCount(UINT* count) override {
        if (!count)
            return E_POINTER;
        *count = 1;
        return S_OK;
    }
    STDMETHODIMP GetTypeInfo(UINT index, LCID, ITypeInfo** result) override {
        return DispatchTypeInfo(*Iid, index, result);
    }
    STDMETHODIMP GetIDsOfNames(REFIID, LPOLESTR* names, UINT count, LCID, DISPID* ids) override {
        return DispatchGetIDsOfNames(*Iid, names, count, ids);
    }
    STDMETHODIMP Invoke(DISPID id, REFIID riid, LCID, WORD flags, DISPPARAMS* params,
                        VARIANT* result, EXCEPINFO* exception, UINT* argumentError) override {
        return DispatchInvoke(*Iid, static_cast<Interface*>(this), id, riid, flags, params, result,
                              exception, argumentError);
    }
};
