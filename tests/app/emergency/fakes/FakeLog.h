#pragma once
#include <windows.h>
#include <cstdlib>
#include <string>

// What the fake tools share: a log beside the program that the test reads
// (one line per start: the raw command line, a tab, the current folder), the
// exit code the test chose, and plain writes to standard output.
inline std::wstring ProgramFolder() {
    wchar_t path[MAX_PATH] = {};
    GetModuleFileNameW(nullptr, path, MAX_PATH);
    std::wstring text = path;
    return text.substr(0, text.find_last_of(L'\\'));
}

inline std::string Utf8(const std::wstring& text) {
    int size = WideCharToMultiByte(CP_UTF8, 0, text.c_str(), int(text.size()), nullptr, 0, nullptr, nullptr);
    std::string out(size, '\0');
    if (size > 0) WideCharToMultiByte(CP_UTF8, 0, text.c_str(), int(text.size()), &out[0], size, nullptr, nullptr);
    return out;
}

inline void LogStart(const wchar_t* logName) {
    wchar_t current[MAX_PATH] = {};
    GetCurrentDirectoryW(MAX_PATH, current);
    std::string line = Utf8(GetCommandLineW()) + "\t" + Utf8(current) + "\n";
    HANDLE log = CreateFileW((ProgramFolder() + L"\\" + logName).c_str(), FILE_APPEND_DATA, FILE_SHARE_READ, nullptr,
                             OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    DWORD written = 0;
    WriteFile(log, line.data(), DWORD(line.size()), &written, nullptr);
    CloseHandle(log);
}

// The exit code named by the environment variable; 0 when it is not set.
inline int ChosenExitCode(const wchar_t* variable) {
    wchar_t value[16] = {};
    return GetEnvironmentVariableW(variable, value, 16) ? _wtoi(value) : 0;
}

inline bool EnvironmentSet(const wchar_t* variable) {
    wchar_t value[16] = {};
    return GetEnvironmentVariableW(variable, value, 16) && value[0] == L'1';
}

// One write, so that a reader reading in small pieces gets them the same
// way every run.
inline void Print(const std::string& text) {
    DWORD written = 0;
    WriteFile(GetStdHandle(STD_OUTPUT_HANDLE), text.data(), DWORD(text.size()), &written, nullptr);
}
