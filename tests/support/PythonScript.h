#pragma once
#include <windows.h>
#include <string>
#include <vector>
#include "FileBytes.h"
#include "StartProcess.h"
#include "common/tstring/tstring.h"

// The Unix path of a Windows path, for the Linux programs tests start.
inline std::string UnixPath(const tstring& path) {
    using Convert = char*(CDECL*)(LPCWSTR);
    auto convert = reinterpret_cast<Convert>(GetProcAddress(GetModuleHandleW(L"kernel32.dll"),
                                                            "wine_get_unix_file_name"));
    char* unix = convert ? convert(path.c_str()) : nullptr;
    std::string result = unix ? unix : "";
    if (unix)
        HeapFree(GetProcessHeap(), 0, unix);
    return result;
}

// Starts Debian's /usr/bin/python3 with a script and its arguments (each
// quoted). Wine starts Linux programs detached, with no handle to wait on, so
// scripts report through files.
inline bool StartPython(const std::string& script, const std::vector<std::string>& arguments) {
    std::string line = "/usr/bin/python3 \"" + script + "\"";
    for (const std::string& argument : arguments)
        line += " \"" + argument + "\"";
    std::wstring wide(line.begin(), line.end());
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process = {};
    if (!CreateProcessRetrying(nullptr, &wide[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process))
        return false;
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return true;
}

// Waits for a file a script writes last (through a rename, so it appears
// whole); its content, or ifMissing after the time limit.
inline std::string WaitForFile(const tstring& path, DWORD milliseconds, const std::string& ifMissing = "<missing>") {
    for (DWORD waited = 0; waited < milliseconds; waited += 50) {
        if (GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES)
            return ReadAll(path, ifMissing);
        Sleep(50);
    }
    return ifMissing;
}

// Runs a script that writes its answer to the file named by its first
// argument; the answer, or "<missing>".
inline std::string RunPython(const std::string& script, const tstring& answerFile, std::vector<std::string> arguments,
                             DWORD milliseconds = 60000) {
    DeleteFileW(answerFile.c_str());
    arguments.insert(arguments.begin(), UnixPath(answerFile));
    if (!StartPython(script, arguments))
        return "<not started>";
    return WaitForFile(answerFile, milliseconds);
}
