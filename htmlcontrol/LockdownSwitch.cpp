#include "htmlcontrol/LockdownSwitch.h"
#include <urlmon.h>

namespace {
using IsFeatureEnabled = HRESULT(WINAPI*)(INTERNETFEATURELIST, DWORD);
using SetFeatureEnabled = HRESULT(WINAPI*)(INTERNETFEATURELIST, DWORD, BOOL);

struct FeatureFunctions {
    IsFeatureEnabled isEnabled = nullptr;
    SetFeatureEnabled setEnabled = nullptr;
};

const FeatureFunctions& Functions() {
    static const FeatureFunctions functions = [] {
        FeatureFunctions f;
        HMODULE urlmon = LoadLibraryW(L"urlmon.dll");
        if (urlmon) {
            f.isEnabled = reinterpret_cast<IsFeatureEnabled>(GetProcAddress(urlmon, "CoInternetIsFeatureEnabled"));
            f.setEnabled =
                reinterpret_cast<SetFeatureEnabled>(GetProcAddress(urlmon, "CoInternetSetFeatureEnabled"));
        }
        return f;
    }();
    return functions;
}

SRWLOCK g_lock = SRWLOCK_INIT;
LONG g_users = 0;
bool g_wasOn = false;
}

void SuspendLockdown() noexcept {
    const FeatureFunctions& f = Functions();
    AcquireSRWLockExclusive(&g_lock);
    if (g_users++ == 0 && f.isEnabled && f.setEnabled) {
        g_wasOn = f.isEnabled(FEATURE_LOCALMACHINE_LOCKDOWN, SET_FEATURE_ON_PROCESS) == S_OK;
        f.setEnabled(FEATURE_LOCALMACHINE_LOCKDOWN, SET_FEATURE_ON_PROCESS, FALSE);
    }
    ReleaseSRWLockExclusive(&g_lock);
}

void ResumeLockdown() noexcept {
    const FeatureFunctions& f = Functions();
    AcquireSRWLockExclusive(&g_lock);
    if (g_users > 0 && --g_users == 0 && f.setEnabled)
        f.setEnabled(FEATURE_LOCALMACHINE_LOCKDOWN, SET_FEATURE_ON_PROCESS, g_wasOn ? TRUE : FALSE);
    ReleaseSRWLockExclusive(&g_lock);
}
