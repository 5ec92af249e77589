#pragma once
#include <windows.h>
#include <algorithm>
#include <vector>
#include "common/system/FileSystem.h"
#include "common/tstring/tstring.h"

// A folder of its own under the temporary folder for one test, emptied when
// made and removed with everything in it at the end. Test programs run in
// parallel in one prefix, so every name carries the process id.
class TempFolder {
public:
    // "%TEMP%orvane-<label>-<pid>-<n>": the count keeps apart the folders of
    // one program that share a label.
    explicit TempFolder(const TCHAR* label) : TempFolder(UniquePath(label)) {}
    // Exactly this folder; a path given with a final "\" keeps it in Path().
    explicit TempFolder(const tstring& path) : path_(path) {
        DeletePath(Bare());
        CreateFolderTree(Bare());
    }
    ~TempFolder() { DeletePath(Bare()); }
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;

    const tstring& Path() const { return path_; }
    tstring File(const tstring& name) const { return Bare() + _T("\\") + name; }
    tstring operator/(const tstring& name) const { return File(name); }

    // Names of the files (not folders) in the folder, sorted.
    std::vector<tstring> Files() const {
        std::vector<tstring> names;
        WIN32_FIND_DATA found;
        HANDLE search = FindFirstFile(File(_T("*")).c_str(), &found);
        if (search == INVALID_HANDLE_VALUE)
            return names;
        do {
            if (!(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
                names.push_back(found.cFileName);
        } while (FindNextFile(search, &found));
        FindClose(search);
        std::sort(names.begin(), names.end());
        return names;
    }

private:
    static tstring UniquePath(const TCHAR* label) {
        static LONG counter = 0;
        TCHAR temp[MAX_PATH];
        GetTempPath(MAX_PATH, temp);
        return FormatText(_T("%sorvane-%s-%u-%ld"), temp, label, unsigned(GetCurrentProcessId()),
                          InterlockedIncrement(&counter));
    }
    tstring Bare() const {
        tstring bare = path_;
        if (!bare.empty() && bare[bare.size() - 1] == _T('\\'))
            bare.resize(bare.size() - 1);
        return bare;
    }
    tstring path_;
};
