#pragma once
#include <windows.h>
#include <string>
#include "TestLimits.h"

// CreateProcessW for tests: under load wine now and then refuses to start a
// process for a moment, which must not fail a test that only needs a helper
// program (reg.exe, a child copy of the test) to run.
inline BOOL CreateProcessRetrying(LPCWSTR application, LPWSTR commandLine, LPSECURITY_ATTRIBUTES processAttributes,
                                  LPSECURITY_ATTRIBUTES threadAttributes, BOOL inheritHandles, DWORD flags,
                                  LPVOID environment, LPCWSTR currentDirectory, LPSTARTUPINFOW startup,
                                  LPPROCESS_INFORMATION process) {
    for (int attempt = 0;; ++attempt) {
        if (CreateProcessW(application, commandLine, processAttributes, threadAttributes, inheritHandles, flags,
                           environment, currentDirectory, startup, process))
            return TRUE;
        DWORD error = GetLastError();
        // A missing program or a bad argument does not come right by waiting.
        if (attempt == 4 || error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND ||
            error == ERROR_INVALID_PARAMETER || error == ERROR_BAD_EXE_FORMAT) {
            SetLastError(error);
            return FALSE;
        }
        Sleep(200);
    }
}

// Starts a child copy of a test (or any helper) with its output going nowhere,
// so that a child ended by force leaves nothing half-written in the test's log.
inline BOOL StartQuietChild(std::wstring commandLine, PROCESS_INFORMATION& process) {
    SECURITY_ATTRIBUTES inherit = {sizeof inherit, nullptr, TRUE};
    HANDLE nul = CreateFileW(L"NUL", GENERIC_WRITE, FILE_SHARE_WRITE, &inherit, OPEN_EXISTING, 0, nullptr);
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdOutput = nul;
    startup.hStdError = nul;
    process = {};
    BOOL started = CreateProcessRetrying(nullptr, &commandLine[0], nullptr, nullptr, TRUE, CREATE_NO_WINDOW, nullptr,
                                         nullptr, &startup, &process);
    CloseHandle(nul);
    return started;
}

// Runs a command line with its standard output captured; the exit code in exitCode.
inline std::string RunCaptured(const std::wstring& commandLine, DWORD* exitCode = nullptr) {
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
    std::wstring line = commandLine;
    BOOL started = CreateProcessRetrying(nullptr, &line[0], nullptr, nullptr, TRUE, CREATE_NO_WINDOW, nullptr, nullptr,
                                  &startup, &process);
    CloseHandle(writeEnd);
    if (started) {
        testlimit::Waiting note("a child program's output");
        char chunk[4096];
        DWORD read = 0;
        while (ReadFile(readEnd, chunk, sizeof chunk, &read, nullptr) && read)
            output.append(chunk, read);
        testlimit::Wait(process.hProcess, 60000, "a child program to end");
        if (exitCode)
            GetExitCodeProcess(process.hProcess, exitCode);
        CloseHandle(process.hProcess);
        CloseHandle(process.hThread);
    }
    CloseHandle(readEnd);
    return output;
}
