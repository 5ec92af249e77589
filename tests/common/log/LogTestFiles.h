#pragma once
#include <windows.h>
#include <cstdint>
#include <string>
#include <vector>
#include "common/system/FileSystem.h"
#include "common/tstring/tstring.h"

// A fresh folder under the temporary folder, deleted with its content at the end.
class LogTestFolder {
public:
    LogTestFolder() {
        static LONG counter = 0;
        TCHAR temp[MAX_PATH];
        GetTempPath(MAX_PATH, temp);
        path_ = FormatText(_T("%slogset-log-%u-%ld"), temp, GetCurrentProcessId(), InterlockedIncrement(&counter));
        CreateDirectory(path_.c_str(), nullptr);
    }
    ~LogTestFolder() { DeletePath(path_); }
    tstring File(const TCHAR* name) const { return path_ + _T("\\") + name; }

private:
    tstring path_;
};

inline std::string ReadBytes(const tstring& path) {
    std::string bytes;
    HANDLE file = CreateFile(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0,
                             nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return bytes;
    char chunk[65536];
    DWORD n = 0;
    while (ReadFile(file, chunk, sizeof(chunk), &n, nullptr) && n)
        bytes.append(chunk, n);
    CloseHandle(file);
    return bytes;
}

inline void WriteBytes(const tstring& path, const std::string& bytes) {
    HANDLE file = CreateFile(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    DWORD n = 0;
    WriteFile(file, bytes.data(), DWORD(bytes.size()), &n, nullptr);
    CloseHandle(file);
}

inline std::wstring DecodeUtf16(const std::string& bytes, size_t from = 0) {
    std::wstring text((bytes.size() - from) / 2, L'\0');
    if (!text.empty())
        memcpy(&text[0], bytes.data() + from, text.size() * 2);
    return text;
}

// The CR LF ended lines of a UTF-16LE text.
inline std::vector<std::wstring> SplitLines(const std::wstring& text) {
    std::vector<std::wstring> lines;
    size_t start = 0;
    for (size_t end; (end = text.find(L"\r\n", start)) != std::wstring::npos; start = end + 2)
        lines.push_back(text.substr(start, end - start));
    if (start < text.size())
        lines.push_back(text.substr(start));
    return lines;
}
