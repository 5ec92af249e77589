#pragma once
#include <windows.h>
#include <unknwn.h>
#include "common/com/ComPtr.h"
#include "common/system/CriticalSection.h"

// The site an object is given through IObjectWithSite, kept with one reference.
class SiteHolder {
public:
    HRESULT SetSite(IUnknown* site) noexcept;
    // E_FAIL when no site is set, as IObjectWithSite::GetSite answers.
    HRESULT GetSite(REFIID iid, void** result) noexcept;

private:
    CriticalSection lock_;
    ComPtr<IUnknown> site_;
};
