#include "htmlcontrol/SecurityManager.h"
#include "htmlcontrol/UrlPolicy.h"

namespace {
HRESULT Allow(DWORD action, BYTE* policy, DWORD policySize) {
    if (!IsAllowedUrlAction(action))
        return INET_E_DEFAULT_ACTION;
    if (policy && policySize >= sizeof(DWORD))
        *reinterpret_cast<DWORD*>(policy) = URLPOLICY_ALLOW;
    return S_OK;
}
}

STDMETHODIMP SecurityManager::QueryInterface(REFIID iid, void** result) {
    if (!result)
        return E_POINTER;
    *result = nullptr;
    if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IInternetSecurityManager))
        *result = static_cast<IInternetSecurityManager*>(this);
    else if (IsEqualIID(iid, IID_IInternetHostSecurityManager))
        *result = static_cast<IInternetHostSecurityManager*>(this);
    else
        return E_NOINTERFACE;
    AddRef();
    return S_OK;
}

STDMETHODIMP_(ULONG) SecurityManager::AddRef() {
    return host_.HostUnknown()->AddRef();
}

STDMETHODIMP_(ULONG) SecurityManager::Release() {
    return host_.HostUnknown()->Release();
}

STDMETHODIMP SecurityManager::SetSecuritySite(IInternetSecurityMgrSite*) {
    return INET_E_DEFAULT_ACTION;
}

STDMETHODIMP SecurityManager::GetSecuritySite(IInternetSecurityMgrSite** site) {
    if (!site)
        return E_POINTER;
    *site = nullptr;
    return S_OK;
}

STDMETHODIMP SecurityManager::MapUrlToZone(LPCWSTR url, DWORD* zone, DWORD) {
    if (!IsProgramPage(url))
        return INET_E_DEFAULT_ACTION;
    if (!zone)
        return E_POINTER;
    *zone = URLZONE_LOCAL_MACHINE;
    return S_OK;
}

STDMETHODIMP SecurityManager::GetSecurityId(LPCWSTR, BYTE*, DWORD*, DWORD_PTR) {
    return INET_E_DEFAULT_ACTION;
}

STDMETHODIMP SecurityManager::ProcessUrlAction(LPCWSTR url, DWORD action, BYTE* policy, DWORD policySize, BYTE*,
                                               DWORD, DWORD, DWORD) {
    if (!IsProgramPage(url))
        return INET_E_DEFAULT_ACTION;
    return Allow(action, policy, policySize);
}

STDMETHODIMP SecurityManager::QueryCustomPolicy(LPCWSTR, REFGUID, BYTE** policy, DWORD* policySize, BYTE*, DWORD,
                                                DWORD) {
    if (policy)
        *policy = nullptr;
    if (policySize)
        *policySize = 0;
    return INET_E_DEFAULT_ACTION;
}

STDMETHODIMP SecurityManager::SetZoneMapping(DWORD, LPCWSTR, DWORD) {
    return INET_E_DEFAULT_ACTION;
}

STDMETHODIMP SecurityManager::GetZoneMappings(DWORD, IEnumString** patterns, DWORD) {
    if (patterns)
        *patterns = nullptr;
    return INET_E_DEFAULT_ACTION;
}

STDMETHODIMP SecurityManager::GetSecurityId(BYTE*, DWORD*, DWORD_PTR) {
    return INET_E_DEFAULT_ACTION;
}

STDMETHODIMP SecurityManager::ProcessUrlAction(DWORD action, BYTE* policy, DWORD policySize, BYTE*, DWORD, DWORD,
                                               DWORD) {
    if (!host_.ShowsProgramPage())
        return INET_E_DEFAULT_ACTION;
    return Allow(action, policy, policySize);
}

STDMETHODIMP SecurityManager::QueryCustomPolicy(REFGUID, BYTE** policy, DWORD* policySize, BYTE*, DWORD, DWORD) {
    if (policy)
        *policy = nullptr;
    if (policySize)
        *policySize = 0;
    return INET_E_DEFAULT_ACTION;
}
