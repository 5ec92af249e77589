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

// Runs a command line with its standard output captured; the exit code in exitCode.
inline std::string RunCaptured(const tstring& commandLine, DWORD* exitCode = nullptr) {
    SECURITY_ATTRIBUTES inherit = {sizeof inherit, nullptr, TRUE};
    HANDLE readEnd = nullptr, writeEnd = nullptr;
    std::string output;
    if (!CreatePipe(&readEnd, &writeEnd, &inherit, 0))
        return output;
    SetHandleInformation(readEnd, HANDLE_FLAG_INHERIT, 0);
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdOutput = writeEnd;
    startup.hStdError = writeEnd;
    startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
    PROCESS_INFORMATION process = {};
    tstring line = commandLine;
    BOOL started = CreateProcessRetrying(nullptr, &line[0], nullptr, nullptr, TRUE, CREATE_NO_WINDOW, nullptr, nullptr,
                                  &startup, &process);
    CloseHandle(writeEnd);
    if (started) {
        char chunk[4096];
        DWORD read = 0;
        while (ReadFile(readEnd, chunk, sizeof chunk, &read, nullptr) && read)
            output.append(chunk, read);
        WaitForSingleObject(process.hProcess, 60000);
        if (exitCode)
            GetExitCodeProcess(process.hProcess, exitCode);
        CloseHandle(process.hProcess);
        CloseHandle(process.hThread);
    }
    CloseHandle(readEnd);
    return output;
}

// reg.exe names the current user's root in full.
inline tstring RegExePath(const tstring& path) {
    tstring full = path;
    if (full.compare(0, 5, L"HKCU\\") == 0)
        full = L"HKEY_CURRENT_USER\\" + full.substr(5);
    return full;
}
