#include "app/html/RegistryOverride.h"

bool RegistryOverride::Open() {
    if (key_) return true;
    return ::RegOpenKeyExW(root_, path_.c_str(), 0, KEY_READ | KEY_CREATE_SUB_KEY | KEY_SET_VALUE, &key_) ==
           ERROR_SUCCESS;
}

bool RegistryOverride::Save(const wchar_t* name, DWORD allowed1, DWORD allowed2) {
    Saved saved{name, true, 0, {}};
    DWORD size = 0;
    LONG status = ::RegQueryValueExW(key_, name, nullptr, &saved.type, nullptr, &size);
    if (status == ERROR_FILE_NOT_FOUND) {
        saved.existed = false;
        saved_.push_back(std::move(saved));
        return true;
    }
    if (status != ERROR_SUCCESS || (saved.type != allowed1 && saved.type != allowed2)) return false;
    saved.data.resize(size);
    status = ::RegQueryValueExW(key_, name, nullptr, &saved.type, saved.data.data(), &size);
    if (status != ERROR_SUCCESS) return false;
    saved.data.resize(size);
    saved_.push_back(std::move(saved));
    return true;
}

bool RegistryOverride::SetString(const wchar_t* name, const wchar_t* text) {
    if (!Open() || !Save(name, REG_SZ, REG_EXPAND_SZ)) return false;
    DWORD bytes = static_cast<DWORD>((wcslen(text) + 1) * sizeof(wchar_t));
    return ::RegSetValueExW(key_, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(text), bytes) == ERROR_SUCCESS;
}

bool RegistryOverride::SetNumber(const wchar_t* name, DWORD value) {
    if (!Open() || !Save(name, REG_DWORD, REG_DWORD)) return false;
    return ::RegSetValueExW(key_, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value), sizeof(value)) ==
           ERROR_SUCCESS;
}

void RegistryOverride::Restore() {
    for (auto it = saved_.rbegin(); it != saved_.rend(); ++it) {
        if (!it->existed) {
            ::RegDeleteValueW(key_, it->name.c_str());
        } else {
            // The saved bytes go back with their own type: a REG_EXPAND_SZ
            // stays expandable.
            ::RegSetValueExW(key_, it->name.c_str(), 0, it->type, it->data.data(),
                             static_cast<DWORD>(it->data.size()));
        }
    }
    saved_.clear();
    if (key_) ::RegCloseKey(key_);
    key_ = nullptr;
}
