#pragma once
#include <windows.h>
#include <string>
#include "common/tstring/tstring.h"

// The whole content of a file, or ifUnreadable when it cannot be opened (it
// is missing, or another holder shares it with no reader).
inline std::string ReadAll(const tstring& path, const std::string& ifUnreadable = std::string()) {
    HANDLE file = CreateFile(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0,
                             nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return ifUnreadable;
    std::string bytes;
    char chunk[65536];
    DWORD n = 0;
    while (ReadFile(file, chunk, sizeof(chunk), &n, nullptr) && n)
        bytes.append(chunk, n);
    CloseHandle(file);
    return bytes;
}

inline void WriteAll(const tstring& path, const std::string& bytes) {
    HANDLE file = CreateFile(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    DWORD n = 0;
    WriteFile(file, bytes.data(), DWORD(bytes.size()), &n, nullptr);
    CloseHandle(file);
}

inline bool FileExists(const tstring& path) {
    return GetFileAttributes(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}
