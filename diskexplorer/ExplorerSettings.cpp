#include "diskexplorer/ExplorerSettings.h"
#include "common/errors/CheckObjects.h"

const wchar_t kSettingsKey[] = L"Software\\Quarn\\Drossel";

void RegKey::Open(HKEY parent, const wchar_t* path, REGSAM access) {
    Close(false);
    Win32Check check{tstring()};
    if (!Exists(parent, path))
        check = RegCreateKeyExW(parent, path, 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS, nullptr, &key_,
                                nullptr);
    else
        check = RegOpenKeyExW(parent, path, 0, access, &key_);
}

void RegKey::Close(bool flush) {
    if (!key_)
        return;
    if (flush)
        RegFlushKey(key_);
    RegCloseKey(key_);
    key_ = nullptr;
}

void RegKey::RequireOpen() const {
    if (!key_)
        throw ErrorBase(E_UNEXPECTED, L"RegKey logic error: key should be opened");
}

DWORD RegKey::GetDWORD(const wchar_t* name) const {
    RequireOpen();
    DWORD value = 0, size = sizeof value;
    Win32Check check{tstring()};
    check = RegQueryValueExW(key_, name, nullptr, nullptr, reinterpret_cast<BYTE*>(&value), &size);
    return value;
}

void RegKey::SetDWORD(const wchar_t* name, DWORD value) {
    RequireOpen();
    Win32Check check{tstring()};
    check = RegSetValueExW(key_, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value), sizeof value);
}

bool RegKey::Exists(HKEY parent, const wchar_t* path, const wchar_t* valueName) {
    HKEY key = nullptr;
    LONG status = RegOpenKeyExW(parent, path, 0, KEY_QUERY_VALUE, &key);
    if (status == ERROR_FILE_NOT_FOUND)
        return false;
    Win32Check check{tstring()};
    check = status;
    bool exists = !valueName || RegQueryValueExW(key, valueName, nullptr, nullptr, nullptr, nullptr) == ERROR_SUCCESS;
    RegCloseKey(key);
    return exists;
}

DWORD ReadSetting(const wchar_t* name, DWORD fallback, std::initializer_list<DWORD> valid) {
    try {
        RegKey key(HKEY_CURRENT_USER, kSettingsKey, KEY_READ);
        DWORD value = key.GetDWORD(name);
        for (DWORD v : valid)
            if (v == value)
                return value;
    } catch (...) {
    }
    return fallback;
}

void WriteSetting(const wchar_t* name, DWORD value) {
    try {
        RegKey key(HKEY_CURRENT_USER, kSettingsKey, KEY_READ | KEY_WRITE);
        key.SetDWORD(name, value);
    } catch (...) {
    }
}
