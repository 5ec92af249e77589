#pragma once
#include "StartProcess.h"
#include <windows.h>
#include <string>
#include "common/tstring/tstring.h"
#include "TestRegistryKey.h"

class RegistryTestKey : public TestRegistryKey {
public:
    explicit RegistryTestKey(const wchar_t* name) : TestRegistryKey(L"registry", name) {}
};

inline bool KeyExists(HKEY root, const tstring& relative) {
    HKEY key = nullptr;
    if (RegOpenKeyExW(root, relative.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS)
        return false;
    RegCloseKey(key);
    return true;
}

inline void CreateKey(HKEY parent, const tstring& relative) {
    HKEY key = nullptr;
    if (RegCreateKeyExW(parent, relative.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr) == 0)
        RegCloseKey(key);
}

// reg.exe names the current user's root in full.
inline tstring RegExePath(const tstring& path) {
    tstring full = path;
    if (full.compare(0, 5, L"HKCU\\") == 0)
        full = L"HKEY_CURRENT_USER\\" + full.substr(5);
    return full;
}
