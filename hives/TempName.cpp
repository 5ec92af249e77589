#include "hives/TempName.h"
#include <shlwapi.h>
#include <vector>
#include "common/errors/CheckObjects.h"

namespace {

bool IsFolder(const tstring& path) {
    return !path.empty() && PathIsDirectory(path.c_str()) != FALSE;
}

tstring WithBackslash(tstring path) {
    if (path.empty() || path.back() != _T('\\'))
        path += _T('\\');
    return path;
}

}  // namespace

tstring TempFolder() {
    TCHAR buffer[MAX_PATH + 1] = {};
    DWORD n = GetTempPath(MAX_PATH + 1, buffer);
    if (n > 0 && n <= MAX_PATH && IsFolder(buffer))
        return WithBackslash(buffer);
    tstring temp;
    if (ExpandEnvironment(temp, _T("%TEMP%")) && IsFolder(temp))
        return WithBackslash(temp);
    TCHAR windows[MAX_PATH + 1] = {};
    GetWindowsDirectory(windows, MAX_PATH + 1);
    return WithBackslash(windows) + _T("Temp\\");
}

tstring TempName(const tstring& prefix) {
    std::vector<TCHAR> name(1040);
    BoolCheck ck(_T("GetTempFileName"));
    ck = GetTempFileName(TempFolder().c_str(), prefix.c_str(), 0, name.data()) != 0;
    DeleteFile(name.data());
    return tstring(name.data());
}
