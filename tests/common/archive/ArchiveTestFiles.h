#pragma once
#include <windows.h>
#include <string>
#include <vector>
#include "common/tstring/tstring.h"

// A folder of its own under the temp folder for one test case, removed with
// everything in it at the end; names carry the process id so parallel test
// programs never meet.
class TestFolder {
public:
    explicit TestFolder(const TCHAR* name) {
        TCHAR temp[MAX_PATH];
        GetTempPath(MAX_PATH, temp);
        path_ = FormatText(_T("%sorvane-%s-%u"), temp, name, unsigned(GetCurrentProcessId()));
        Remove();
        CreateDirectory(path_.c_str(), nullptr);
    }
    ~TestFolder() { Remove(); }
    tstring File(const TCHAR* name) const { return path_ + _T("\\") + name; }
    const tstring& Path() const { return path_; }
    // Names of the files in the folder.
    std::vector<tstring> Files() const {
        std::vector<tstring> names;
        WIN32_FIND_DATA data;
        HANDLE find = FindFirstFile((path_ + _T("\\*")).c_str(), &data);
        if (find == INVALID_HANDLE_VALUE)
            return names;
        do {
            if (!(data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
                names.push_back(data.cFileName);
        } while (FindNextFile(find, &data));
        FindClose(find);
        return names;
    }

private:
    void Remove() {
        for (const tstring& name : Files())
            DeleteFile(File(name.c_str()).c_str());
        RemoveDirectory(path_.c_str());
    }
    tstring path_;
};

inline std::string ReadWholeFile(const tstring& path) {
    std::string bytes;
    HANDLE file = CreateFile(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                             OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return "<missing>";
    char chunk[4096];
    DWORD got = 0;
    while (ReadFile(file, chunk, sizeof chunk, &got, nullptr) && got > 0)
        bytes.append(chunk, got);
    CloseHandle(file);
    return bytes;
}

inline void WriteWholeFile(const tstring& path, const std::string& bytes) {
    HANDLE file = CreateFile(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    DWORD written = 0;
    WriteFile(file, bytes.data(), DWORD(bytes.size()), &written, nullptr);
    CloseHandle(file);
}
