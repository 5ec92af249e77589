#pragma once
#include <windows.h>
#include <sddl.h>
#include <cstdint>
#include <string>
#include <vector>
#include "common/archive/Archive.h"
#include "common/errors/ErrorBase.h"
#include "common/tstring/tstring.h"
#include "RegExport.h"
#include "TestRegistryKey.h"
#include "common/records/CheckResultCode.h"
#include "engine/fix/FixEntry.h"
#include "engine/fix/FixPlannerRegistry.h"

// A scratch key HKCU\Software\OrvaneTest\fix\<case>-<pid>, created empty and
// deleted with everything below it when the object goes.
class FixTestKey : public TestRegistryKey {
public:
    explicit FixTestKey(const wchar_t* name) : TestRegistryKey(L"fix", name) {}
};

inline HKEY MakeKey(HKEY parent, const tstring& relative) {
    HKEY key = nullptr;
    RegCreateKeyExW(parent, relative.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr);
    return key;
}

inline void PlantKey(HKEY parent, const tstring& relative) {
    HKEY key = MakeKey(parent, relative);
    if (key)
        RegCloseKey(key);
}

inline void SetRaw(HKEY key, const wchar_t* name, DWORD type, const void* data, DWORD size) {
    RegSetValueExW(key, name, 0, type, static_cast<const BYTE*>(data), size);
}

inline void SetText(HKEY key, const wchar_t* name, const tstring& text, DWORD type = REG_SZ) {
    SetRaw(key, name, type, text.c_str(), DWORD((text.size() + 1) * sizeof(wchar_t)));
}

inline bool HasKey(const tstring& relative) {
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_CURRENT_USER, relative.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS)
        return false;
    RegCloseKey(key);
    return true;
}

// 0 when the value does not exist; any type, also those outside RRF_RT_ANY.
inline DWORD ValueTypeOrZero(const tstring& relative, const wchar_t* name, bool& exists) {
    HKEY key = nullptr;
    DWORD type = 0;
    exists = false;
    if (RegOpenKeyExW(HKEY_CURRENT_USER, relative.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS)
        return 0;
    exists = RegQueryValueExW(key, name, nullptr, &type, nullptr, nullptr) == ERROR_SUCCESS;
    RegCloseKey(key);
    return type;
}

inline bool HasValue(const tstring& relative, const wchar_t* name) {
    bool exists = false;
    ValueTypeOrZero(relative, name, exists);
    return exists;
}

inline DWORD ValueType(const tstring& relative, const wchar_t* name) {
    bool exists = false;
    return ValueTypeOrZero(relative, name, exists);
}

inline tstring ValueText(const tstring& relative, const wchar_t* name) {
    wchar_t text[512] = {};
    DWORD size = sizeof text;
    RegGetValueW(HKEY_CURRENT_USER, relative.c_str(), name, RRF_RT_REG_SZ | RRF_RT_REG_EXPAND_SZ | RRF_NOEXPAND,
                 nullptr, text, &size);
    return text;
}

inline tstring KeySddl(const tstring& relative) {
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_CURRENT_USER, relative.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS)
        return L"<missing>";
    BYTE descriptor[4096];
    DWORD size = sizeof descriptor;
    tstring result;
    if (RegGetKeySecurity(key, DACL_SECURITY_INFORMATION, descriptor, &size) == ERROR_SUCCESS) {
        LPWSTR text = nullptr;
        if (ConvertSecurityDescriptorToStringSecurityDescriptorW(descriptor, SDDL_REVISION_1,
                                                                 DACL_SECURITY_INFORMATION, &text, nullptr)) {
            result = text;
            LocalFree(text);
        }
    }
    RegCloseKey(key);
    return result;
}

inline bool SetKeyDacl(const tstring& relative, const wchar_t* sddl) {
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_CURRENT_USER, relative.c_str(), 0, KEY_ALL_ACCESS, &key) != ERROR_SUCCESS)
        return false;
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    bool done = ConvertStringSecurityDescriptorToSecurityDescriptorW(sddl, SDDL_REVISION_1, &descriptor, nullptr) &&
                RegSetKeySecurity(key, DACL_SECURITY_INFORMATION, descriptor) == ERROR_SUCCESS;
    LocalFree(descriptor);
    RegCloseKey(key);
    return done;
}

// Every value type the registry knows, and some it does not.
inline void PlantEveryValueType(HKEY key) {
    const BYTE bytes[] = {0x00, 0x01, 0xFE, 0xFF, 0x7F};
    DWORD number = 0x12345678;
    ULONGLONG wide = 0x0123456789ABCDEFull;
    SetText(key, L"", L"default text");
    SetText(key, L"Sz", L"plain text");
    SetText(key, L"Expand", L"%SystemRoot%\\x.dll", REG_EXPAND_SZ);
    SetRaw(key, L"Multi", REG_MULTI_SZ, L"one\0two\0\0", 18);
    SetRaw(key, L"Dword", REG_DWORD, &number, 4);
    SetRaw(key, L"BigEndian", REG_DWORD_BIG_ENDIAN, &number, 4);
    SetRaw(key, L"Qword", REG_QWORD, &wide, 8);
    SetRaw(key, L"Binary", REG_BINARY, bytes, sizeof bytes);
    SetRaw(key, L"None", REG_NONE, bytes, 3);
    SetRaw(key, L"EmptyNone", REG_NONE, nullptr, 0);
    SetRaw(key, L"Link", REG_LINK, L"\\Registry\\Nowhere", 34);
    SetRaw(key, L"ResourceList", REG_RESOURCE_LIST, bytes, sizeof bytes);
    SetRaw(key, L"Custom", 0x4242, bytes, 2);
    SetRaw(key, L"OddText", REG_SZ, "abc", 3);  // no terminator, odd length
    SetRaw(key, L"EmptySz", REG_SZ, nullptr, 0);
}

// A tree under `relative`: every value type, 120 subkeys, nested levels.
inline void PlantBigTree(const tstring& relative) {
    HKEY key = MakeKey(HKEY_CURRENT_USER, relative);
    PlantEveryValueType(key);
    for (int i = 0; i < 120; ++i) {
        HKEY child = MakeKey(key, FormatText(L"Sub%03d", i));
        SetRaw(child, L"Index", REG_DWORD, &i, 4);
        if (i % 40 == 0)
            PlantEveryValueType(MakeKey(child, L"Deeper\\Deepest"));
        RegCloseKey(child);
    }
    RegCloseKey(key);
}

// The export of a key by the system's own reg.exe, as raw bytes.
inline std::string RegExport(const tstring& relative) {
    wchar_t folder[MAX_PATH];
    GetTempPathW(MAX_PATH, folder);
    static int counter = 0;
    tstring file = FormatText(L"%sfixexport-%u-%d.reg", folder, unsigned(GetCurrentProcessId()), ++counter);
    return RegExportTo(L"HKEY_CURRENT_USER\\" + relative, file, "<reg.exe did not start>");
}

inline CheckResult Finding(uint16_t problem, uint16_t reason, const tstring& keyPath, const tstring& valueName,
                           const tstring& reasonText = tstring()) {
    return CheckResult{int32_t(MakeErrorID(problem, reason)), L"item of " + keyPath, reasonText, keyPath, valueName};
}

// Saves the entry's undo data into the stream, then applies it with a
// persist step that succeeds; the stream is left at the data's start.
inline int32_t ApplyWithUndo(FixEntry& entry, Archive& undo) {
    uint32_t start = undo.Position();
    int32_t saved = entry.SaveUndoData(undo);
    if (saved != 0)
        return saved;
    undo.Seek(start, 0);
    return entry.Apply([] { return int32_t(0); });
}
