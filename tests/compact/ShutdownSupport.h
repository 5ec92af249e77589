#pragma once
#include <windows.h>
#include <winwlx.h>
#include <initializer_list>
#include <vector>
#include "../hives/PlantedProfile.h"
#include "CompactTestSupport.h"
#include "../hives/TestStrings.h"
#include "RecordingHiveOps.h"
#include "RecordingRestart.h"
#include "StartProcess.h"
#include "TempFolder.h"
#include "common/settings/AppFolders.h"
#include "compact/Exports.h"
#include "hives/CompactFlags.h"
#include "TestLimits.h"

namespace doctest {
template <>
struct StringMaker<compact::CompactEvent> {
    static String convert(compact::CompactEvent event) { return String(std::to_string(int(event)).c_str()); }
};
}  // namespace doctest

// What the handler tests share: notifications as Winlogon sends them, the
// request list, the restore flag and the saved copies.

inline WLX_NOTIFICATION_INFO NotificationInfo(HANDLE token) {
    WLX_NOTIFICATION_INFO info = {};
    info.Size = sizeof info;
    info.hToken = token;
    return info;
}

struct ProcessToken {
    ProcessToken() { OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY | TOKEN_DUPLICATE | TOKEN_IMPERSONATE, &handle); }
    ~ProcessToken() { CloseHandle(handle); }
    HANDLE handle = nullptr;
};

inline void Logon() {
    ProcessToken token;
    WLX_NOTIFICATION_INFO info = NotificationInfo(token.handle);
    WLEventLogon(&info);
}

inline void Shutdown() {
    WLX_NOTIFICATION_INFO info = NotificationInfo(nullptr);
    WLEventShutdown(&info);
}

inline tstring RequestText() {
    CompactFlags requests;
    requests.Open(false);
    return requests.Text();
}

inline void SetRequests(const tstring& entry) {
    CompactFlags requests;
    requests.Open(false);
    requests.Clear();
    if (!entry.empty())
        requests.Add(entry, false);
}

inline std::vector<compact::CompactEvent> Events(std::initializer_list<compact::CompactEvent> list) {
    return std::vector<compact::CompactEvent>(list);
}

// The copies a run saved are hidden temp files; the test removes what is left.
inline void RemoveCopies(const RecordingHiveOps& hives) {
    for (const tstring& file : hives.saved) {
        SetFileAttributesW(file.c_str(), FILE_ATTRIBUTE_NORMAL);
        DeleteFileW(file.c_str());
    }
}

inline tstring SystemTempFolder() {
    wchar_t temp[MAX_PATH] = {};
    GetTempPathW(MAX_PATH, temp);
    return temp;
}

// The machine-wide flag a restore leaves for its restart.
class RestoreFlag {
public:
    RestoreFlag() : path_(GetRestoreFlagPath()) { Remove(); }
    ~RestoreFlag() { Remove(); }
    void PlantFile() {
        HANDLE file = CreateFileW(path_.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_HIDDEN, nullptr);
        CloseHandle(file);
    }
    void PlantFolder() { CreateDirectoryW(path_.c_str(), nullptr); }
    bool Exists() const { return GetFileAttributesW(path_.c_str()) != INVALID_FILE_ATTRIBUTES; }

private:
    void Remove() {
        SetFileAttributesW(path_.c_str(), FILE_ATTRIBUTE_NORMAL);
        DeleteFileW(path_.c_str());
        RemoveDirectoryW(path_.c_str());
    }
    tstring path_;
};

// Runs the doctest cases the arguments select in a copy of this program that
// Wine tells Windows XP (its per-program version); the copy's exit code.
inline DWORD RunAsWindowsXp(const tstring& arguments) {
    tstring exeName = FormatText(L"compact-xp-%lu.exe", GetCurrentProcessId());
    tstring exePath = SystemTempFolder() + exeName;
    if (!CopyFileW(GetModulePath().c_str(), exePath.c_str(), FALSE))
        return DWORD(-1);
    tstring keyPath = L"Software\\Wine\\AppDefaults\\" + exeName;
    const wchar_t version[] = L"winxp64";
    RegSetKeyValueW(HKEY_CURRENT_USER, keyPath.c_str(), L"Version", REG_SZ, version, sizeof version);
    tstring commandLine = L"\"" + exePath + L"\" " + arguments;
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process = {};
    DWORD exitCode = DWORD(-1);
    if (CreateProcessRetrying(exePath.c_str(), &commandLine[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                              &process)) {
        if (testlimit::Wait(process.hProcess, testlimit::kLong, "the shutdown program as Windows XP"))
            GetExitCodeProcess(process.hProcess, &exitCode);
        else if (TerminateProcess(process.hProcess, 1))
            WaitForSingleObject(process.hProcess, 5000);
        CloseHandle(process.hThread);
        CloseHandle(process.hProcess);
    }
    DeleteFileW(exePath.c_str());
    RegDeleteKeyW(HKEY_CURRENT_USER, keyPath.c_str());
    return exitCode;
}
