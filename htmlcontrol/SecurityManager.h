#pragma once
#include <windows.h>
#include <urlmon.h>
#include "htmlcontrol/BrowserHost.h"

// The browser's security manager and host security manager, served through
// the client site's IServiceProvider. Program pages get the local machine
// zone and the allowed URL actions; everything else is left to the zones'
// own defaults (INET_E_DEFAULT_ACTION). The host security manager has no URL
// of its own: it acts for the page the browser shows.
class SecurityManager : public IInternetSecurityManager, public IInternetHostSecurityManager {
public:
    explicit SecurityManager(BrowserHost& host) : host_(host) {}

    STDMETHODIMP QueryInterface(REFIID iid, void** result) override;
    STDMETHODIMP_(ULONG) AddRef() override;
    STDMETHODIMP_(ULONG) Release() override;

    // IInternetSecurityManager
    STDMETHODIMP SetSecuritySite(IInternetSecurityMgrSite* site) override;
    STDMETHODIMP GetSecuritySite(IInternetSecurityMgrSite** site) override;
    STDMETHODIMP MapUrlToZone(LPCWSTR url, DWORD* zone, DWORD flags) override;
    STDMETHODIMP GetSecurityId(LPCWSTR url, BYTE* id, DWORD* size, DWORD_PTR reserved) override;
    STDMETHODIMP ProcessUrlAction(LPCWSTR url, DWORD action, BYTE* policy, DWORD policySize, BYTE* context,
                                  DWORD contextSize, DWORD flags, DWORD reserved) override;
    STDMETHODIMP QueryCustomPolicy(LPCWSTR url, REFGUID key, BYTE** policy, DWORD* policySize, BYTE* context,
                                   DWORD contextSize, DWORD reserved) override;
    STDMETHODIMP SetZoneMapping(DWORD zone, LPCWSTR pattern, DWORD flags) override;
    STDMETHODIMP GetZoneMappings(DWORD zone, IEnumString** patterns, DWORD flags) override;

    // IInternetHostSecurityManager
    STDMETHODIMP GetSecurityId(BYTE* id, DWORD* size, DWORD_PTR reserved) override;
    STDMETHODIMP ProcessUrlAction(DWORD action, BYTE* policy, DWORD policySize, BYTE* context,
                                  DWORD contextSize, DWORD flags, DWORD reserved) override;
    STDMETHODIMP QueryCustomPolicy(REFGUID key, BYTE** policy, DWORD* policySize, BYTE* context,
                                   DWORD contextSize, DWORD reserved) override;

private:
    BrowserHost& host_;
};
