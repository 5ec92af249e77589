#pragma once
#include "StartProcess.h"
#include <windows.h>
#include <string>
#include <vector>
#include "FileBytes.h"
#include "common/tstring/tstring.h"
#include "TestLimits.h"

// The export of a key by the system's own reg.exe, as raw bytes, made through
// the file given (which is removed again); ifNotStarted when reg.exe did not
// start. keyPath is as reg.exe takes it ("HKCU\..." or "HKEY_CURRENT_USER\...").
inline std::string RegExportTo(const tstring& keyPath, const tstring& file,
                               const std::string& ifNotStarted = std::string()) {
    DeleteFileW(file.c_str());
    tstring command =
        FormatText(L"C:\\windows\\system32\\reg.exe export \"%s\" \"%s\" /y", keyPath.c_str(), file.c_str());
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process = {};
    std::vector<wchar_t> line(command.begin(), command.end());
    line.push_back(L'\0');
    if (!CreateProcessRetrying(nullptr, line.data(), nullptr, nullptr, FALSE, CREATE_NO_WINDOW, nullptr, nullptr, &startup,
                        &process))
        return ifNotStarted;
    testlimit::Wait(process.hProcess, 60000, "reg.exe export");
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    std::string bytes = ReadAll(file);
    DeleteFileW(file.c_str());
    return bytes;
}
