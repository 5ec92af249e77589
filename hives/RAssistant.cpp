#include "hives/RAssistant.h"
#include <shlwapi.h>
#include "common/errors/CheckObjects.h"
#include "common/log/Log.h"
#include "common/system/Privilege.h"
#include "common/system/RegKeyHolder.h"
#include "hives/HiveOps.h"

const TCHAR RAssistant::kMachinePrefix[] = _T("HKLM_");
const TCHAR RAssistant::kUsersPrefix[] = _T("HKU_");
const TCHAR RAssistant::kClasses[] = _T("_Classes");
const TCHAR RAssistant::kHiveExtension[] = _T(".dat");

namespace {

bool BeginsWith(const tstring& text, const tstring& start) {
    return text.compare(0, start.size(), start) == 0;
}

// Unloads a hive this walk loaded, also when processing it failed.
class LoadedHive {
public:
    LoadedHive(const tstring& name, bool loadedHere) : name_(name), loadedHere_(loadedHere) {}
    ~LoadedHive() {
        if (loadedHere_)
            GetHiveOps().Unload(HKEY_USERS, name_);
    }

private:
    tstring name_;
    bool loadedHere_;
};

}  // namespace

void EnableHivePrivileges(bool restore) {
    EnablePrivilege(_T("SeBackupPrivilege"), true);
    if (restore)
        EnablePrivilege(_T("SeRestorePrivilege"), true);
}

RAssistant::RAssistant(const tstring& workFolder) : workFolder_(workFolder) {
    profiles_.Refresh(false);
    if (!PathIsDirectory(workFolder_.c_str())) {
        BoolCheck ck(workFolder_);
        ck = CreateDirectory(workFolder_.c_str(), nullptr);
    }
}

RLog* RAssistant::SetLog(RLog* sink, int value) {
    RLog* previous = log_;
    log_ = sink;
    logValue_ = value;
    return previous;
}

tstring RAssistant::HiveFile(const tstring& name, bool classes) const {
    return workFolder_ + _T("\\") + name + (classes ? kClasses : _T("")) + kHiveExtension;
}

int RAssistant::AddLogEntry(int level, const tstring& text, const tstring& name) {
    return log_ ? log_->AddEntry(level, text, name) : -1;
}

void RAssistant::MarkLogDone(int row) {
    if (log_)
        log_->MarkDone(row);
}

void RAssistant::walkKey(HKEY root, const tstring& prefix, const std::vector<tstring>& exclusions) {
    AddLogEntry(0, _T("Directory: "), prefix);
    DWORD count = 0, longest = 0;
    Win32Check ck(prefix);
    ck = RegQueryInfoKey(root, nullptr, nullptr, nullptr, &count, &longest, nullptr, nullptr, nullptr, nullptr,
                         nullptr, nullptr);
    std::vector<TCHAR> name(longest + 1);
    for (DWORD i = 0; i < count; ++i) {
        DWORD length = DWORD(name.size());
        ck = RegEnumKeyEx(root, i, name.data(), &length, nullptr, nullptr, nullptr, nullptr);
        tstring subKey(name.data(), length);
        bool excluded = false;
        for (const tstring& e : exclusions)
            excluded = excluded || BeginsWith(subKey, e);
        if (excluded)
            continue;
        RegKeyHolder key;
        if (RegOpenKeyEx(root, subKey.c_str(), 0, KEY_READ, key.Receive()) == ERROR_SUCCESS)
            processKey(key, prefix + subKey);
    }
}

void RAssistant::walkMachineHives() {
    walkKey(HKEY_LOCAL_MACHINE, kMachinePrefix, {_T("HARDWARE")});
    walkKey(HKEY_USERS, kUsersPrefix, {_T("S-1-5-18"), HiveList::kUserSidPrefix});
}

void RAssistant::processUser(const tstring& sid, int index) {
    AddLogEntry(0, _T("User: "), sid);
    EnableHivePrivileges(true);
    if (index == -1)
        index = profiles_.IndexOf(sid);
    if (index < 0)
        return;
    processUserHive(sid, profiles_.HivePath(index, false));
    processUserHive(sid + kClasses, profiles_.HivePath(index, true));
}

void RAssistant::processUserHive(const tstring& name, const tstring& file) {
    LONG status = GetHiveOps().Load(HKEY_USERS, name, file);
    if (status != ERROR_SUCCESS && status != ERROR_SHARING_VIOLATION)
        return;
    LoadedHive loaded(name, status == ERROR_SUCCESS);
    RegKeyHolder key;
    if (RegOpenKeyEx(HKEY_USERS, name.c_str(), 0, KEY_READ, key.Receive()) == ERROR_SUCCESS)
        processKey(key, name);
}

void RAssistant::processAllUsers(const TCHAR* except) {
    HiveList profiles = profiles_;
    for (size_t i = 0; i < profiles.size(); ++i) {
        if (except && profiles[i] == except)
            continue;
        processUser(profiles[i], int(i));
    }
}
