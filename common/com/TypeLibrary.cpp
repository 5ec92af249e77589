#include "common/com/TypeLibrary.h"
#include "common/com/ComModule.h"
#include "common/errors/CheckObjects.h"
#include <oleauto.h>

namespace {
ITypeLib* g_library = nullptr;
SRWLOCK g_libraryLock = SRWLOCK_INIT;

std::basic_string<wchar_t> WidePath(const tstring& path) {
#ifdef UNICODE
    return path;
#else
    int n = MultiByteToWideChar(CP_ACP, 0, path.c_str(), -1, nullptr, 0);
    std::basic_string<wchar_t> wide(size_t(n > 0 ? n : 1), L'\0');
    MultiByteToWideChar(CP_ACP, 0, path.c_str(), -1, &wide[0], n);
    wide.resize(wide.length() ? wide.length() - 1 : 0);
    return wide;
#endif
}
}

HRESULT TypeLibrary::Load(ComPtr<ITypeLib>& library) noexcept {
    AcquireSRWLockExclusive(&g_libraryLock);
    HRESULT hr = S_OK;
    if (!g_library) {
        try {
            hr = LoadTypeLibEx(WidePath(ComModule::Path()).c_str(), REGKIND_NONE, &g_library);
        } catch (const ErrorBase& e) {
            hr = HResultOf(e);
        } catch (...) {
            hr = E_OUTOFMEMORY;
        }
    }
    library = g_library;
    ReleaseSRWLockExclusive(&g_libraryLock);
    return hr;
}

HRESULT TypeLibrary::TypeInfo(REFGUID guid, ComPtr<ITypeInfo>& info) noexcept {
    ComPtr<ITypeLib> library;
    HRESULT hr = Load(library);
    if (FAILED(hr))
        return hr;
    return library->GetTypeInfoOfGuid(guid, info.Receive());
}

HRESULT TypeLibrary::VtableTypeInfo(REFGUID guid, ComPtr<ITypeInfo>& info) noexcept {
    ComPtr<ITypeInfo> dispatch;
    HRESULT hr = TypeInfo(guid, dispatch);
    if (FAILED(hr))
        return hr;
    TYPEATTR* attr = nullptr;
    hr = dispatch->GetTypeAttr(&attr);
    if (FAILED(hr))
        return hr;
    bool dual = attr->typekind == TKIND_DISPATCH && (attr->wTypeFlags & TYPEFLAG_FDUAL);
    dispatch->ReleaseTypeAttr(attr);
    if (!dual) {
        info = dispatch;
        return S_OK;
    }
    HREFTYPE vtablePart = 0;
    hr = dispatch->GetRefTypeOfImplType(UINT(-1), &vtablePart);
    if (FAILED(hr))
        return hr;
    return dispatch->GetRefTypeInfo(vtablePart, info.Receive());
}

void TypeLibrary::Register() {
    std::basic_string<wchar_t> path = WidePath(ComModule::Path());
    ComPtr<ITypeLib> library;
    HRCheck ck(_T("RegisterTypeLib"));
    ck = LoadTypeLibEx(path.c_str(), REGKIND_NONE, library.Receive());
    ck = RegisterTypeLib(library, const_cast<OLECHAR*>(path.c_str()), nullptr);
}

void TypeLibrary::Unregister() {
    std::basic_string<wchar_t> path = WidePath(ComModule::Path());
    ComPtr<ITypeLib> library;
    HRCheck ck(_T("UnRegisterTypeLib"));
    ck = LoadTypeLibEx(path.c_str(), REGKIND_NONE, library.Receive());
    TLIBATTR* attr = nullptr;
    ck = library->GetLibAttr(&attr);
    TLIBATTR copy = *attr;
    library->ReleaseTLibAttr(attr);
    BSTR registered = nullptr;
    if (FAILED(QueryPathOfRegTypeLib(copy.guid, copy.wMajorVerNum, copy.wMinorVerNum, copy.lcid,
                                     &registered)))
        return;
    SysFreeString(registered);
    ck = UnRegisterTypeLib(copy.guid, copy.wMajorVerNum, copy.wMinorVerNum, copy.lcid,
                           copy.syskind);
}

void TypeLibrary::Release() noexcept {
    AcquireSRWLockExclusive(&g_libraryLock);
    ITypeLib* library = g_library;
    g_library = nullptr;
    ReleaseSRWLockExclusive(&g_libraryLock);
    if (library)
        library->Release();
}
