#include "common/com/SiteHolder.h"

HRESULT SiteHolder::SetSite(IUnknown* site) noexcept {
    ComPtr<IUnknown> previous;
    {
        CriticalSectionLock hold(lock_);
        previous = site_;
        site_ = site;
    }
    return S_OK;
}

HRESULT SiteHolder::GetSite(REFIID iid, void** result) noexcept {
    if (!result)
        return E_POINTER;
    *result = nullptr;
    ComPtr<IUnknown> site;
    {
        CriticalSectionLock hold(lock_);
        site = site_;
    }
    if (!site)
        return E_FAIL;
    return site->QueryInterface(iid, result);
}
