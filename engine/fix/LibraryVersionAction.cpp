#include "engine/fix/LibraryVersionAction.h"
#include "common/system/RegKeyHolder.h"
#include "engine/registry/RegKey.h"

bool HoldsPlatformEntry(HKEY version) {
    wchar_t name[256];
    for (DWORD index = 0;; ++index) {
        DWORD length = 256;
        LONG status = RegEnumKeyExW(version, index, name, &length, nullptr, nullptr, nullptr, nullptr);
        if (status == ERROR_NO_MORE_ITEMS)
            return false;
        if (status != ERROR_SUCCESS)
            return true;
        RegKeyHolder locale;
        if (RegOpenKeyExW(version, name, 0, KEY_READ, locale.Receive()) != ERROR_SUCCESS)
            return true;
        for (const wchar_t* platform : {L"win32", L"win64"}) {
            RegKeyHolder entry;
            status = RegOpenKeyExW(locale, platform, 0, KEY_READ, entry.Receive());
            if (status != ERROR_FILE_NOT_FOUND)
                return true;
        }
    }
}

int32_t DeleteLibraryVersionAction::Apply() {
    return Guarded([this] {
        RegKey version = RegKey::OpenPath(keyPath_, false, false);
        if (HoldsPlatformEntry(version.Handle()))
            return int32_t(0);
        version.Close();
        return DeleteKeyAction::Apply();
    });
}
