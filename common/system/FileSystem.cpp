#include "common/system/FileSystem.h"
#include <shellapi.h>
#include <shlwapi.h>
#include <vector>
#include "common/errors/CheckObjects.h"

namespace {

// The full form of the path without trailing backslashes; empty when it
// cannot be resolved.
tstring FullPath(const tstring& path) {
    DWORD n = GetFullPathName(path.c_str(), 0, nullptr, nullptr);
    if (n == 0)
        return tstring();
    std::vector<TCHAR> full(n + 1);
    DWORD got = GetFullPathName(path.c_str(), n + 1, full.data(), nullptr);
    if (got == 0 || got > n)
        return tstring();
    tstring result(full.data());
    while (!result.empty() && result.back() == _T('\\'))
        result.pop_back();
    return result;
}

// "C:", "\\server\share" and the like: what remains of a root without its
// trailing backslash, where deleting would mean deleting a whole volume.
bool IsRootLike(const tstring& full) {
    if (full.empty())
        return true;
    if (PathIsRoot((full + _T("\\")).c_str()) || PathIsRoot(full.c_str()))
        return true;
    if (full.size() == 2 && full[1] == _T(':'))
        return true;
    if (full.compare(0, 2, _T("\\\\")) == 0) {
        // "\\server" or "\\server\share".
        size_t slashes = 0;
        for (size_t i = 2; i < full.size(); ++i)
            if (full[i] == _T('\\'))
                ++slashes;
        return slashes < 2;
    }
    return false;
}

bool IsExisting(const tstring& path) {
    return GetFileAttributes(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

void CreateFolder(const tstring& path) {
    if (IsExisting(path))
        return;
    if (CreateDirectory(path.c_str(), nullptr))
        return;
    DWORD error = GetLastError();
    if (error == ERROR_ALREADY_EXISTS && IsExisting(path))
        return;  // created meanwhile by someone else
    SetLastError(error);
    BoolCheck ck;
    ck = FALSE;
}

// Where the path's own folders begin: after "C:" or after "\\server\share".
size_t FirstFolderSeparator(const tstring& path) {
    if (path.compare(0, 2, _T("\\\\")) != 0)
        return 0;
    size_t pos = 2;
    for (int part = 0; part < 2 && pos != tstring::npos; ++part) {
        pos = path.find(_T('\\'), pos);
        if (pos != tstring::npos)
            ++pos;
    }
    return pos == tstring::npos ? path.size() : pos - 1;
}

}  // namespace

int DeletePath(const tstring& path) {
    // The "?" test also refuses "\\?\" paths, which SHFileOperation cannot take.
    if (path.empty() || PathIsRelative(path.c_str()) ||
        path.find_first_of(_T("*?")) != tstring::npos)
        return ERROR_INVALID_PARAMETER;
    tstring full = FullPath(path);
    if (IsRootLike(full))
        return ERROR_INVALID_PARAMETER;

    std::vector<TCHAR> from(full.begin(), full.end());
    from.push_back(0);
    from.push_back(0);
    SHFILEOPSTRUCT op = {};
    op.hwnd = nullptr;
    op.wFunc = FO_DELETE;
    op.pFrom = from.data();
    op.fFlags = FOF_NOCONFIRMATION | FOF_SILENT | FOF_NOERRORUI;
    return SHFileOperation(&op);
}

void CreateFolderTree(const tstring& path) {
    if (path.empty())
        return;
    size_t start = FirstFolderSeparator(path);
    for (size_t pos = path.find(_T('\\'), start); pos != tstring::npos;
         pos = path.find(_T('\\'), pos + 1)) {
        if (pos == 0 || path[pos - 1] == _T('\\'))
            continue;
        // "C:" names the drive's current folder, which exists when the drive does.
        CreateFolder(path.substr(0, pos));
    }
    CreateFolder(path);
}

bool IsAbsolutePath(const tstring& path) {
    return !PathIsRelative(path.c_str());
}

bool FileExists(const tstring& path) {
    DWORD attributes = GetFileAttributes(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

tstring FileNamePart(const tstring& path) {
    size_t pos = path.rfind(_T('\\'));
    if (pos == tstring::npos)
        return path;
    return path.substr(pos + 1);
}

FILETIME CurrentFileTime() {
    FILETIME now;
    GetSystemTimeAsFileTime(&now);
    return now;
}
