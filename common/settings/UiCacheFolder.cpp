#include "common/settings/UiCacheFolder.h"
#include <shlwapi.h>
#include "common/errors/ErrorBase.h"
#include "common/system/SpecialFolder.h"

namespace {
// A drive root (or nothing) would scatter cache folders over the volume.
bool UsableBase(const tstring& folder) {
    return folder.length() > 3;
}

tstring CacheBase() {
    tstring base = SpecialFolderPath(CSIDL_INTERNET_CACHE, true);
    if (!UsableBase(base))
        base = SpecialFolderPath(CSIDL_LOCAL_APPDATA, true);
    if (!UsableBase(base))
        ExpandEnvironment(base, _T("%TEMP%"));
    while (!base.empty() && (base.back() == _T('\\') || base.back() == _T('/')))
        base.pop_back();
    return base;
}
}

tstring GetUiCacheRoot() {
    tstring root = CacheBase() + _T("\\QNORVANE.CACHE");
    if (!CreateDirectory(root.c_str(), nullptr)) {
        DWORD error = GetLastError();
        if (error != ERROR_ALREADY_EXISTS)
            throw Win32Error(int32_t(error));
    }
    return root;
}

tstring UiCacheFolderName(DWORD processId, unsigned n) {
    return FormatText(_T("QNHTML%X-%u"), unsigned(processId), n);
}

tstring CreateUiCacheFolder() {
    const tstring root = GetUiCacheRoot();
    for (unsigned n = 1;; ++n) {
        tstring candidate = root + _T("\\") + UiCacheFolderName(GetCurrentProcessId(), n);
        if (PathFileExists(candidate.c_str()))
            continue;
        if (CreateDirectory(candidate.c_str(), nullptr))
            return candidate;
        DWORD error = GetLastError();
        // Made by another thread of this process a moment ago: take the next.
        if (error != ERROR_ALREADY_EXISTS)
            throw Win32Error(int32_t(error));
    }
}
