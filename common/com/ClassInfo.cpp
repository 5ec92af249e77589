#include "common/com/ClassInfo.h"
#include "common/com/TypeLibrary.h"

HRESULT ClassInfoOf(REFCLSID clsid, ITypeInfo** result) noexcept {
    if (!result)
        return E_POINTER;
    *result = nullptr;
    ComPtr<ITypeInfo> info;
    HRESULT hr = TypeLibrary::TypeInfo(clsid, info);
    if (SUCCEEDED(hr))
        *result = info.Detach();
    return hr;
}

HRESULT ClassGuidOf(DWORD kind, REFIID defaultSource, GUID* result) noexcept {
    if (!result)
        return E_POINTER;
    if (kind != GUIDKIND_DEFAULT_SOURCE_DISP_IID) {
        *result = GUID_NULL;
        return E_INVALIDARG;
    }
    *result = defaultSource;
    return S_OK;
}

bool IsListedInterface(REFIID iid, const IID* const* list, size_t count) noexcept {
    for (size_t i = 0; i < count; ++i)
        if (IsEqualIID(iid, *list[i]))
            return true;
    return false;
}
