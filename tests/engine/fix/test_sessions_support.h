#pragma once
#include <windows.h>
#include <algorithm>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>
#include "common/tstring/tstring.h"
#include "RegExport.h"
#include "TempFolder.h"
#include "engine/fix/FixEntry.h"
#include "engine/fix/FixMap.h"
#include "engine/fix/FixPlannerRegistry.h"
#include "common/records/CheckResultCode.h"

// Places of the session tests: an undo folder under %TEMP% and a registry
// tree under HKCU\Software\OrvaneTest\control, both per test and process,
// removed at the end.
namespace sessiontest {

inline tstring Folder(const wchar_t* name) {
    wchar_t temp[MAX_PATH];
    GetTempPathW(MAX_PATH, temp);
    return FormatText(L"%sorvane-control-%s-%u\\", temp, name, unsigned(GetCurrentProcessId()));
}

inline void SetString(HKEY key, const wchar_t* name, const wchar_t* text, DWORD type = REG_SZ) {
    RegSetValueExW(key, name, 0, type, reinterpret_cast<const BYTE*>(text),
                   DWORD((wcslen(text) + 1) * sizeof(wchar_t)));
}

// A tree of broken and sound entries:
//   Values: Keep (string), Broken (string, the last value)
//   Tree: default value, Sub1 (a number, bytes), Sub2\Deep (a multi-string)
//   Other: Path (string)
class PlantedTree {
public:
    explicit PlantedTree(const tstring& relative) : relative_(relative) {
        RegDeleteTreeW(HKEY_CURRENT_USER, relative_.c_str());
        HKEY values = Create(L"Values");
        SetString(values, L"Keep", L"kept");
        SetString(values, L"Broken", L"c:\\gone\\help.hlp");
        RegCloseKey(values);
        HKEY tree = Create(L"Tree");
        SetString(tree, L"", L"%SystemRoot%\\gone.dll", REG_EXPAND_SZ);
        RegCloseKey(tree);
        HKEY sub1 = Create(L"Tree\\Sub1");
        DWORD number = 0x12345678;
        RegSetValueExW(sub1, L"Number", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&number), sizeof(number));
        const BYTE bytes[] = {0, 1, 2, 0xFE, 0xFF};
        RegSetValueExW(sub1, L"Bytes", 0, REG_BINARY, bytes, sizeof(bytes));
        RegCloseKey(sub1);
        HKEY deep = Create(L"Tree\\Sub2\\Deep");
        const wchar_t multi[] = L"one\0two\0";
        RegSetValueExW(deep, L"List", 0, REG_MULTI_SZ, reinterpret_cast<const BYTE*>(multi), sizeof(multi));
        RegCloseKey(deep);
        HKEY other = Create(L"Other");
        SetString(other, L"Path", L"c:\\gone\\tool.exe");
        RegCloseKey(other);
    }
    ~PlantedTree() { RegDeleteTreeW(HKEY_CURRENT_USER, relative_.c_str()); }
    PlantedTree(const PlantedTree&) = delete;
    PlantedTree& operator=(const PlantedTree&) = delete;

    tstring Path(const wchar_t* below = nullptr) const {
        return L"HKCU\\" + relative_ + (below ? tstring(L"\\") + below : tstring());
    }
    bool HasKey(const wchar_t* below) const {
        HKEY key = nullptr;
        if (RegOpenKeyExW(HKEY_CURRENT_USER, (relative_ + L"\\" + below).c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS)
            return false;
        RegCloseKey(key);
        return true;
    }
    bool HasValue(const wchar_t* below, const wchar_t* name) const {
        return RegGetValueW(HKEY_CURRENT_USER, (relative_ + L"\\" + below).c_str(), name, RRF_RT_ANY, nullptr,
                            nullptr, nullptr) == ERROR_SUCCESS;
    }

    // The tree as "reg export" writes it.
    std::string Export(const tstring& file) const { return RegExportTo(L"HKCU\\" + relative_, file); }

private:
    HKEY Create(const wchar_t* below) {
        HKEY key = nullptr;
        RegCreateKeyExW(HKEY_CURRENT_USER, (relative_ + L"\\" + below).c_str(), 0, nullptr, 0, KEY_ALL_ACCESS,
                        nullptr, &key, nullptr);
        return key;
    }
    tstring relative_;
};

inline tstring TreeName(const wchar_t* name, DWORD process = GetCurrentProcessId()) {
    return FormatText(L"Software\\OrvaneTest\\control\\%s-%u", name, unsigned(process));
}

inline CheckResult Finding(uint16_t problem, const tstring& keyPath, const tstring& valueName) {
    return CheckResult{int32_t(MakeErrorID(problem, 100)), keyPath + L"\\" + valueName, L"test finding", keyPath,
                       valueName};
}

// Plans the finding's fix as the found handler does and keeps it in the map.
inline int32_t Plan(FixMap& fixes, const CheckResult& finding) {
    std::unique_ptr<FixEntry> entry(new FixEntry);
    entry->SetError(finding);
    int32_t fixId = FixPlannerRegistry::Instance().Plan(finding.KeyPath, finding.ValueName, finding, entry.get());
    fixes.Store(fixId, std::move(entry));
    return fixId;
}

}  // namespace sessiontest
