#pragma once
#include <windows.h>
#include <cstdint>
#include <string>
#include "common/archive/Crc32.h"
#include "common/system/FileSystem.h"
#include "common/tstring/tstring.h"

// Other tests share this executable: the helpers keep to their own namespace.
namespace ignoretest {

// A fresh folder under the temporary folder, deleted with its content.
class IgnoreTestFolder {
public:
    IgnoreTestFolder() {
        static LONG counter = 0;
        wchar_t temp[MAX_PATH];
        GetTempPathW(MAX_PATH, temp);
        path_ = FormatText(L"%sorvane-records-%u-%ld", temp, unsigned(GetCurrentProcessId()),
                           InterlockedIncrement(&counter));
        CreateDirectoryW(path_.c_str(), nullptr);
    }
    ~IgnoreTestFolder() { DeletePath(path_); }
    tstring File(const wchar_t* name) const { return path_ + L"\\" + name; }

private:
    tstring path_;
};

// The bytes of an ignore file body, field by field; Bytes() puts the check
// value in front.
class IgnoreBytes {
public:
    IgnoreBytes& Byte(uint8_t b) {
        body_.push_back(char(b));
        return *this;
    }
    IgnoreBytes& Int(int32_t v) {
        body_.append(reinterpret_cast<const char*>(&v), 4);
        return *this;
    }
    IgnoreBytes& Text(const std::wstring& s) {
        Int(int32_t(s.size() * 2));
        body_.append(reinterpret_cast<const char*>(s.data()), s.size() * 2);
        return *this;
    }
    IgnoreBytes& Full(const std::wstring& key, const std::wstring& value, const std::wstring& reason,
                      const std::wstring& item, int32_t errorId) {
        return Byte(0).Text(key).Text(value).Text(reason).Text(item).Int(errorId);
    }
    IgnoreBytes& Short(uint8_t flag, const std::wstring& key, const std::wstring& value) {
        return Byte(flag).Text(key).Text(value);
    }
    const std::string& Body() const { return body_; }
    std::string Bytes() const {
        uint32_t crc = Crc32::Of(body_.data(), body_.size());
        return std::string(reinterpret_cast<const char*>(&crc), 4) + body_;
    }

private:
    std::string body_;
};

inline std::string ReadAll(const tstring& path) {
    std::string bytes;
    HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
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
    HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    DWORD n = 0;
    WriteFile(file, bytes.data(), DWORD(bytes.size()), &n, nullptr);
    CloseHandle(file);
}

inline bool FileThere(const tstring& path) {
    return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

}  // namespace ignoretest
