#pragma once
#include <windows.h>
#include <algorithm>
#include <string>
#include <vector>
#include "common/system/FileSystem.h"
#include "common/system/Security.h"
#include "common/tstring/tstring.h"

// A user profile that is not logged on: a ProfileList entry whose folder holds
// ntuser.dat and UsrClass.dat, both saved by the registry from keys made here.
class PlantedProfile {
public:
    static tstring ListKey(const tstring& sid) {
        return _T("SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\ProfileList\\") + sid;
    }

    PlantedProfile(const tstring& sid, const tstring& folder) : sid_(sid), folder_(folder) {
        EnablePrivilegeOf(_T("SeBackupPrivilege"));
        EnablePrivilegeOf(_T("SeRestorePrivilege"));
        source_ = FormatText(_T("Software\\OrvaneTest\\backup\\%s-%u"), sid.c_str(), unsigned(GetCurrentProcessId()));
        RegDeleteTree(HKEY_CURRENT_USER, source_.c_str());
        Plant(UserSource(), _T("Volatile Environment"), _T("user ") + sid);
        Plant(ClassesSource(), _T("CLSID\\{00000000-0000-0000-0000-00000000ABCD}"), _T("classes ") + sid);
        CreateFolderTree(folder_ + _T("\\Local Settings\\Application Data\\Microsoft\\Windows"));
        SaveTo(UserSource(), UserHive());
        SaveTo(ClassesSource(), ClassesHive());
        HKEY list = nullptr;
        RegCreateKeyEx(HKEY_LOCAL_MACHINE, ListKey(sid).c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &list, nullptr);
        RegSetValueEx(list, _T("ProfileImagePath"), 0, REG_EXPAND_SZ, reinterpret_cast<const BYTE*>(folder_.c_str()),
                      DWORD((folder_.size() + 1) * sizeof(TCHAR)));
        RegCloseKey(list);
    }
    ~PlantedProfile() {
        RegUnLoadKey(HKEY_USERS, sid_.c_str());
        RegUnLoadKey(HKEY_USERS, (sid_ + _T("_Classes")).c_str());
        RegDeleteTree(HKEY_LOCAL_MACHINE, ListKey(sid_).c_str());
        RegDeleteKey(HKEY_LOCAL_MACHINE, ListKey(sid_).c_str());
        RegDeleteTree(HKEY_CURRENT_USER, source_.c_str());
        RegDeleteKey(HKEY_CURRENT_USER, source_.c_str());
    }
    PlantedProfile(const PlantedProfile&) = delete;
    PlantedProfile& operator=(const PlantedProfile&) = delete;

    const tstring& Sid() const { return sid_; }
    tstring UserHive() const { return folder_ + _T("\\ntuser.dat"); }
    tstring ClassesHive() const {
        return folder_ + _T("\\Local Settings\\Application Data\\Microsoft\\Windows\\UsrClass.dat");
    }
    tstring UserSource() const { return source_ + _T("\\user"); }
    tstring ClassesSource() const { return source_ + _T("\\classes"); }

    static void EnablePrivilegeOf(const TCHAR* name) {
        HANDLE token = nullptr;
        OpenProcessToken(GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES, &token);
        TOKEN_PRIVILEGES p = {};
        p.PrivilegeCount = 1;
        p.Privileges[0].Attributes = SE_PRIVILEGE_ENABLED;
        LookupPrivilegeValue(nullptr, name, &p.Privileges[0].Luid);
        AdjustTokenPrivileges(token, FALSE, &p, 0, nullptr, nullptr);
        CloseHandle(token);
    }

private:
    static void Plant(const tstring& key, const tstring& sub, const tstring& text) {
        HKEY k = nullptr;
        RegCreateKeyEx(HKEY_CURRENT_USER, (key + _T("\\") + sub).c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &k,
                       nullptr);
        RegSetValueEx(k, _T("Planted"), 0, REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()),
                      DWORD((text.size() + 1) * sizeof(TCHAR)));
        DWORD number = 0x1001;
        RegSetValueEx(k, _T("Number"), 0, REG_DWORD, reinterpret_cast<const BYTE*>(&number), sizeof(number));
        RegCloseKey(k);
    }
    static void SaveTo(const tstring& key, const tstring& file) {
        DeleteFile(file.c_str());
        HKEY k = nullptr;
        RegOpenKeyEx(HKEY_CURRENT_USER, key.c_str(), 0, KEY_READ, &k);
        RegSaveKey(k, file.c_str(), nullptr);
        RegCloseKey(k);
    }

    tstring sid_;
    tstring folder_;
    tstring source_;
};

// Every key and value below a key, one sorted line each, for comparing trees.
inline void DumpKey(HKEY key, const tstring& path, std::vector<tstring>& lines) {
    TCHAR name[512];
    BYTE data[4096];
    for (DWORD i = 0;; ++i) {
        DWORD n = 512, size = sizeof(data), type = 0;
        if (RegEnumValue(key, i, name, &n, nullptr, &type, data, &size) != ERROR_SUCCESS)
            break;
        tstring line = path + _T("|") + tstring(name, n) + FormatText(_T("|%u|"), unsigned(type));
        for (DWORD b = 0; b < size; ++b)
            line += FormatText(_T("%02X"), unsigned(data[b]));
        lines.push_back(line);
    }
    for (DWORD i = 0;; ++i) {
        DWORD n = 512;
        if (RegEnumKeyEx(key, i, name, &n, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS)
            break;
        tstring sub(name, n);
        lines.push_back(path + _T("\\") + sub);
        HKEY child = nullptr;
        if (RegOpenKeyEx(key, sub.c_str(), 0, KEY_READ, &child) == ERROR_SUCCESS) {
            DumpKey(child, path + _T("\\") + sub, lines);
            RegCloseKey(child);
        }
    }
}

inline std::vector<tstring> DumpKey(HKEY root, const tstring& path) {
    std::vector<tstring> lines;
    HKEY key = nullptr;
    if (RegOpenKeyEx(root, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS)
        return lines;
    DumpKey(key, tstring(), lines);
    RegCloseKey(key);
    std::sort(lines.begin(), lines.end());
    return lines;
}

// The tree of a saved hive file, read by loading it under a key of its own.
inline std::vector<tstring> DumpHiveFile(const tstring& file) {
    tstring probe = FormatText(_T("OrvaneTestProbe-%u"), unsigned(GetCurrentProcessId()));
    PlantedProfile::EnablePrivilegeOf(_T("SeBackupPrivilege"));
    PlantedProfile::EnablePrivilegeOf(_T("SeRestorePrivilege"));
    LONG status = RegLoadKey(HKEY_USERS, probe.c_str(), file.c_str());
    if (status != ERROR_SUCCESS) {
        RegUnLoadKey(HKEY_USERS, probe.c_str());
        return {FormatText(_T("<not loadable: %ld>"), status)};
    }
    std::vector<tstring> lines = DumpKey(HKEY_USERS, probe);
    RegUnLoadKey(HKEY_USERS, probe.c_str());
    return lines;
}

// Wine has no classes hive for its one user; the walk and the restore expect the key.
inline void EnsureCurrentClassesKey() {
    HKEY key = nullptr;
    RegCreateKeyEx(HKEY_USERS, (CurrentUserSid() + _T("_Classes")).c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                   &key, nullptr);
    RegCloseKey(key);
}
