#include "common/com/DispatchImpl.h"
#include "common/com/TypeLibrary.h"

HRESULT DispatchTypeInfo(REFIID iid, UINT index, ITypeInfo** result) noexcept {
    if (!result)
        return E_POINTER;
    *result = nullptr;
    if (index != 0)
        return DISP_E_BADINDEX;
    ComPtr<ITypeInfo> info;
    HRESULT hr = TypeLibrary::TypeInfo(iid, info);
    if (SUCCEEDED(hr))
        *result = info.Detach();
    return hr;
}

HRESULT DispatchGetIDsOfNames(REFIID iid, LPOLESTR* names, UINT count, DISPID* ids) noexcept {
    ComPtr<ITypeInfo> info;
    HRESULT hr = TypeLibrary::VtableTypeInfo(iid, info);
    if (FAILED(hr))
        return hr;
    return info->GetIDsOfNames(names, count, ids);
}

HRESULT DispatchInvoke(REFIID iid, void* object, DISPID id, REFIID riid, WORD flags,
                       DISPPARAMS* params, VARIANT* result, EXCEPINFO* exception,
                       UINT* argumentError) noexcept {
    if (!IsEqualIID(riid, IID_NULL))
        return DISP_E_UNKNOWNINTERFACE;
    ComPtr<ITypeInfo> info;
    HRESULT hr = TypeLibrary::VtableTypeInfo(iid, info);
    if (FAILED(hr))
        return hr;
    return info->Invoke(object, id, flags, params, result, exception, argumentError);
}
