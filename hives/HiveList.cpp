#include "hives/HiveList.h"
#include "common/errors/CheckObjects.h"
#include "common/system/RegKeyHolder.h"

const TCHAR HiveList::kProfileListKey[] = _T("SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\ProfileList");
const TCHAR HiveList::kUserSidPrefix[] = _T("S-1-5-21-");

void HiveList::Refresh(bool all) {
    clear();
    RegKeyHolder list;
    Win32Check ck(_T("ProfileList"));
    ck = RegOpenKeyEx(HKEY_LOCAL_MACHINE, kProfileListKey, 0, KEY_READ, list.Receive());
    TCHAR name[256];
    for (DWORD i = 0;; ++i) {
        DWORD length = 256;
        LONG status = RegEnumKeyEx(list, i, name, &length, nullptr, nullptr, nullptr, nullptr);
        if (status == ERROR_NO_MORE_ITEMS)
            break;
        ck = status;
        tstring sid(name, length);
        if (all || sid.compare(0, lstrlen(kUserSidPrefix), kUserSidPrefix) == 0)
            push_back(sid);
    }
}

int HiveList::IndexOf(const tstring& sid) const {
    for (size_t i = 0; i < size(); ++i) {
        if ((*this)[i] == sid)
            return int(i);
    }
    return -1;
}

tstring HiveList::HivePath(int index, bool classes) const {
    if (index < 0 || size_t(index) >= size())
        return tstring();
    RegKeyHolder profile;
    tstring keyPath = tstring(kProfileListKey) + _T("\\") + (*this)[index];
    if (RegOpenKeyEx(HKEY_LOCAL_MACHINE, keyPath.c_str(), 0, KEY_READ, profile.Receive()) != ERROR_SUCCESS)
        return tstring();
    TCHAR folder[260 + 1] = {};
    DWORD bytes = 260 * sizeof(TCHAR);
    DWORD type = 0;
    if (RegQueryValueEx(profile, _T("ProfileImagePath"), nullptr, &type, reinterpret_cast<BYTE*>(folder), &bytes) !=
            ERROR_SUCCESS ||
        (type != REG_SZ && type != REG_EXPAND_SZ))
        return tstring();
    tstring path;
    if (!ExpandEnvironment(path, folder) || path.empty())
        return tstring();
    path += classes ? _T("\\Local Settings\\Application Data\\Microsoft\\Windows\\UsrClass.dat") : _T("\\ntuser.dat");
    return path;
}
