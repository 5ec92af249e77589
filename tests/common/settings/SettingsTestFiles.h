#pragma once
#include <windows.h>
#include <cstdint>
#include <string>
#include "common/system/FileSystem.h"
#include "common/tstring/tstring.h"

// A fresh folder under the temporary folder, deleted with its content at the end.
class SettingsTestFolder {
public:
    SettingsTestFolder() {
        static LONG counter = 0;
        TCHAR temp[MAX_PATH];
        GetTempPath(MAX_PATH, temp);
        path_ = FormatText(_T("%slogset-settings-%u-%ld"), temp, GetCurrentProcessId(), InterlockedIncrement(&counter));
        CreateDirectory(path_.c_str(), nullptr);
    }
    ~SettingsTestFolder() { DeletePath(path_); }
    const tstring& Path() const { return path_; }
    tstring File(const TCHAR* name) const { return path_ + _T("\\") + name; }

private:
    tstring path_;
};

// The bytes of a settings file, built field by field.
class SettingsBytes {
public:
    SettingsBytes& Int(int32_t v) {
        bytes_.append(reinterpret_cast<const char*>(&v), 4);
        return *this;
    }
    SettingsBytes& Text(const std::wstring& s) {
        Int(int32_t(s.size() * 2));
        bytes_.append(reinterpret_cast<const char*>(s.data()), s.size() * 2);
        return *this;
    }
    SettingsBytes& Byte(uint8_t b) {
        bytes_.push_back(char(b));
        return *this;
    }
    SettingsBytes& Raw(const std::string& s) {
        bytes_ += s;
        return *this;
    }
    const std::string& Get() const { return bytes_; }

private:
    std::string bytes_;
};

inline std::string ReadAll(const tstring& path) {
    std::string bytes;
    HANDLE file = CreateFile(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0,
                             nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return bytes;
    char chunk[4096];
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

inline bool Exists(const tstring& path) {
    return GetFileAttributes(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}
