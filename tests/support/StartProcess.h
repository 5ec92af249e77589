#pragma once
#include <windows.h>

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
