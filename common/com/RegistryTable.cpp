#include "common/com/RegistryTable.h"
#include "common/errors/CheckObjects.h"
#include "common/system/RegKeyHolder.h"
#include <objbase.h>

RegistryTable& RegistryTable::Key(const tstring& key, OnUnregister rule) {
    entries_.push_back(Entry{key, tstring(), tstring(), false, rule});
    return *this;
}

RegistryTable& RegistryTable::Value(const tstring& key, const tstring& valueName,
                                    const tstring& value, OnUnregister rule) {
    entries_.push_back(Entry{key, valueName, value, true, rule});
    return *this;
}

void RegistryTable::Register() const {
    for (const Entry& e : entries_) {
        Win32Check ck(e.key);
        RegKeyHolder key;
        ck = RegCreateKeyEx(root_, e.key.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
                            KEY_SET_VALUE, nullptr, key.Receive(), nullptr);
        if (!e.hasValue)
            continue;
        DWORD bytes = DWORD((e.value.length() + 1) * sizeof(TCHAR));
        ck = RegSetValueEx(key, e.valueName.empty() ? nullptr : e.valueName.c_str(), 0, REG_SZ,
                           reinterpret_cast<const BYTE*>(e.value.c_str()), bytes);
    }
}

void RegistryTable::Unregister() const {
    for (auto it = entries_.rbegin(); it != entries_.rend(); ++it) {
        if (it->rule != OnUnregister::Remove)
            continue;
        LONG status = RegDeleteTree(root_, it->key.c_str());
        if (status == ERROR_SUCCESS || status == ERROR_FILE_NOT_FOUND)
            status = RegDeleteKey(root_, it->key.c_str());
        if (status != ERROR_SUCCESS && status != ERROR_FILE_NOT_FOUND)
            throw Win32Error(status);
    }
}

tstring GuidText(REFGUID guid) {
    wchar_t text[40] = {};
    StringFromGUID2(guid, text, 40);
    tstring result;
#ifdef UNICODE
    result = text;
#else
    char narrow[40] = {};
    WideCharToMultiByte(CP_ACP, 0, text, -1, narrow, 40, nullptr, nullptr);
    result = narrow;
#endif
    return result;
}
