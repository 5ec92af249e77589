#include "engine/scan/KeyReads.h"
#include "engine/registry/RegValue.h"

bool IsNamed(const RegKey& key, const wchar_t* name) {
    tstring own = key.Name();
    return CompareStringOrdinal(own.c_str(), int(own.size()), name, -1, TRUE) == CSTR_EQUAL;
}

RegKey OpenChildOrEmpty(const RegKey& parent, const tstring& name) {
    try {
        return RegKey::OpenChild(parent, name);
    } catch (const ErrorBase&) {
        return RegKey();
    }
}

RegKey OpenChildIfPresent(const RegKey& parent, const tstring& name) {
    try {
        return RegKey::OpenChild(parent, name);
    } catch (const ErrorBase& e) {
        if (IsMissingKey(e))
            return RegKey();
        throw;
    }
}

tstring ValueTextOrEmpty(const RegKey& key, const tstring& name) {
    if (key.IsEmpty())
        return tstring();
    try {
        RegValue value(key, name);
        return value.DataText();
    } catch (const ErrorBase&) {
        return tstring();
    }
}

bool ValueExists(const RegKey& key, const tstring& name) {
    try {
        RegValue value(key, name);
        return value.Query();
    } catch (const ErrorBase&) {
        return false;
    }
}

bool KeyPathExists(const tstring& path) {
    try {
        RegKey::OpenPath(path);
        return true;
    } catch (const ErrorBase& e) {
        if (IsMissingKey(e))
            return false;
        throw;
    }
}

bool ClassKeyExists(const tstring& clsid) {
    if (clsid.empty())
        return false;
    tstring path = L"CLSID\\" + clsid;
    for (REGSAM view : {REGSAM(0), REGSAM(KEY_WOW64_32KEY)}) {
        HKEY key = nullptr;
        if (RegOpenKeyExW(HKEY_CLASSES_ROOT, path.c_str(), 0, KEY_READ | view, &key) == ERROR_SUCCESS) {
            RegCloseKey(key);
            return true;
        }
    }
    return false;
}
