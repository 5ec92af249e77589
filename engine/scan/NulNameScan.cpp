#include "engine/scan/NulNameScan.h"
#include <vector>
#include "common/system/OsVersion.h"
#include "common/system/PlatformInfo.h"
#include "common/records/CheckResultCode.h"
#include "engine/registry/NativeRegistry.h"
#include "engine/registry/RegistryCallCounter.h"
#include "engine/scan/PathChecks.h"
#include "engine/scan/ScanGroup.h"
#include "engine/scan/ScanHelpers.h"

namespace {

const DWORD kNameBufferChars = 1024;

// A key deleted while it is walked fails every index with the same error;
// so many failures in a row mean that nothing more will come.
const int kMaxFailuresInRow = 64;


// Names with a NUL are counted by the registry: the returned length then
// differs from the length up to the first NUL.
bool HasEmbeddedNul(const wchar_t* name, DWORD length) { return DWORD(lstrlenW(name)) != length; }

void ReportFinding(ScanGroup& group, const tstring& keyPath, const tstring& valueName, const CheckResult& result) {
    // A found handler that fails must not end the walk of two whole hives.
    try {
        group.ReportFound(keyPath, valueName, result);
    } catch (...) {
    }
}

void ReportKeyName(ScanGroup& group, const tstring& path, const wchar_t* name, DWORD length) {
    CheckResult result;
    result.ErrorID = int32_t(MakeErrorID(ProblemNullKeyName, ReasonNone));
    result.Item = path + L"\\" + CountedNameText(name, length);
    result.KeyPath = result.Item;
    ReportFinding(group, result.KeyPath, tstring(), result);
}

void ReportValueName(ScanGroup& group, const tstring& path, const wchar_t* name, DWORD length) {
    CheckResult result;
    result.ErrorID = int32_t(MakeErrorID(ProblemNullValueName, ReasonNone));
    result.ValueName = CountedNameText(name, length);
    result.Item = path + L"\\" + result.ValueName;
    result.KeyPath = path;
    ReportFinding(group, path, result.ValueName, result);
}

// Asked only for a finding, so the walk itself pays nothing for it. A key
// whose object name cannot be read is reported all the same.
bool FirstReport(HKEY key, const wchar_t* kind, const wchar_t* name, DWORD length, HiveWalkProgress& progress) {
    tstring object;
    if (NativeRegistry::KeyObjectName(key, object) != ERROR_SUCCESS)
        return true;
    return progress.reported.insert(UpperText(object) + kind + CountedNameText(name, length)).second;
}

void AddKeyProgress(ScanGroup& group, HiveWalkProgress& progress) {
    progress.pending += progress.increment;
    if (progress.pending > 5.0) {
        progress.current += progress.pending;
        try {
            group.ReportProgress(progress.subtaskId, progress.current);
        } catch (...) {
        }
        progress.pending = 0.0;
    }
}

HKEY OpenSubkey(HKEY key, const wchar_t* name, bool wow64View) {
    HKEY child = nullptr;
    LONG rc = wow64View ? RegOpenKeyExW(key, name, 0, KEY_READ | KEY_WOW64_64KEY, &child)
                        : RegOpenKeyW(key, name, &child);
    return rc == ERROR_SUCCESS ? child : nullptr;
}

// False when the walk is to end (stop).
bool WalkSubkeys(HKEY key, const tstring& path, ScanGroup& group, HiveWalkProgress& progress, int8_t depth,
                 bool wow64View) {
    // On the heap: a deep tree must not take a page of stack per level.
    std::vector<wchar_t> name(kNameBufferChars);
    int failures = 0;
    for (DWORD index = 0;; ++index) {
        DWORD length = kNameBufferChars;
        LONG rc = RegEnumKeyExW(key, index, name.data(), &length, nullptr, nullptr, nullptr, nullptr);
        if (rc == ERROR_NO_MORE_ITEMS || rc == ERROR_ACCESS_DENIED) return true;
        if (rc != ERROR_SUCCESS) {
            if (++failures >= kMaxFailuresInRow) return true;
        } else {
            failures = 0;
            if (HasEmbeddedNul(name.data(), length)) {
                if (FirstReport(key, L"\\", name.data(), length, progress))
                    ReportKeyName(group, path, name.data(), length);
            } else if (HKEY child = OpenSubkey(key, name.data(), wow64View)) {
                WalkHive(child, path + L"\\" + name.data(), group, progress, int8_t(depth + 1), false);
                RegCloseKey(child);
            }
        }
        if (group.StopRequested()) return false;
    }
}

void WalkValueNames(HKEY key, const tstring& path, ScanGroup& group, HiveWalkProgress& progress) {
    std::vector<wchar_t> name(kNameBufferChars);
    int failures = 0;
    for (DWORD index = 0;; ++index) {
        DWORD length = kNameBufferChars;
        LONG rc = RegEnumValueW(key, index, name.data(), &length, nullptr, nullptr, nullptr, nullptr);
        if (rc == ERROR_NO_MORE_ITEMS || rc == ERROR_ACCESS_DENIED) return;
        if (rc != ERROR_SUCCESS) {
            if (++failures >= kMaxFailuresInRow) return;
            continue;
        }
        failures = 0;
        if (HasEmbeddedNul(name.data(), length) && FirstReport(key, L":", name.data(), length, progress))
            ReportValueName(group, path, name.data(), length);
    }
}

}  // namespace

void WalkHive(HKEY key, const tstring& path, ScanGroup& group, HiveWalkProgress& progress, int8_t depth,
              bool wow64View) {
    if (depth == 4) AddKeyProgress(group, progress);
    if (!WalkSubkeys(key, path, group, progress, depth, wow64View)) return;
    WalkValueNames(key, path, group, progress);
}

DWORD NullNamesGroupProc(ScanGroup& group) {
    HiveWalkProgress progress;
    progress.group = &group;
    progress.subtaskId = group.RegisterSubtask();

    RegistryCallCounter::Label(group.GroupBit(), L"(counting the keys four levels down)");
    int32_t total = CountSubkeys(HKEY_LOCAL_MACHINE, 0) + CountSubkeys(HKEY_CURRENT_USER, 0);
    // Hives without keys four levels down send no progress at all.
    progress.increment = total > 0 ? 100.0 / total : 0.0;

    // A 32-bit process on 64-bit Windows 6 would otherwise see the 32-bit
    // view of the first level and miss the native keys.
    bool wow64View = IsWindowsMajor6() && IsWow64();

    RegistryCallCounter::Label(group.GroupBit(), L"(whole-hive walk)");
    WalkHive(HKEY_LOCAL_MACHINE, L"HKLM", group, progress, 0, wow64View);
    if (group.StopRequested()) {
        group.ReportFinish();
        group.RemoveSubtask(progress.subtaskId);
        return ScanGroup::ExitStopped;
    }
    WalkHive(HKEY_CURRENT_USER, L"HKCU", group, progress, 0, wow64View);
    group.ReportFinish();
    group.RemoveSubtask(progress.subtaskId);
    return group.StopRequested() ? ScanGroup::ExitStopped : ScanGroup::ExitDone;
}
