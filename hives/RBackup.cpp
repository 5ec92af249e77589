#include "hives/RBackup.h"
#include <algorithm>
#include "common/errors/CheckObjects.h"
#include "common/log/Log.h"
#include "common/log/ThreadErrorLog.h"
#include "common/system/FileSystem.h"
#include "common/system/Privilege.h"
#include "common/system/RegKeyHolder.h"
#include "common/system/Security.h"
#include "hives/HiveOps.h"
#include "hives/TempName.h"

namespace {

const TCHAR kDelPrefix[] = _T("del");
const TCHAR kKeptPrefix[] = _T("new");

void TracePrint(const TCHAR* format, ...) {
    va_list args;
    va_start(args, format);
    tstring text;
    text.FormatV(format, args);
    va_end(args);
    ThreadErrorLog::Instance().Write(GetCurrentThreadId(), text.c_str());
}

bool EndsWithNoCase(const tstring& text, const tstring& end) {
    return text.size() >= end.size() && text.Right(int(end.size())).CompareNoCase(end.c_str()) == 0;
}

bool EndsWith(const tstring& text, const tstring& end) {
    return text.size() >= end.size() && text.compare(text.size() - end.size(), end.size(), end) == 0;
}

// Disables both hive privileges when a restore ends, however it ends.
class RestorePrivileges {
public:
    RestorePrivileges() { EnableHivePrivileges(true); }
    ~RestorePrivileges() {
        try {
            EnablePrivilege(_T("SeBackupPrivilege"), false);
            EnablePrivilege(_T("SeRestorePrivilege"), false);
        } catch (const ErrorBase&) {
            // A privilege left enabled harms nothing the program does next.
        }
    }
};

ErrorBase RestoreError(LONG status, const TCHAR* format, const tstring& name) {
    Win32Error system(status);
    return ErrorBase(system.Code(), FormatText(format, name.c_str()) + _T(": ") + system.Message());
}

}  // namespace

RBackup::RBackup(const tstring& workFolder) : RAssistant(workFolder) {}

RBackup::~RBackup() = default;

void RBackup::processKey(HKEY key, const tstring& name) {
    ThreadScope scope(_T("RBackup::processKey(HKEY hKey,const tstring& file)"));
    TracePrint(_T("Params: hKey=0x%08X, file = \"%s\""), unsigned(reinterpret_cast<ULONG_PTR>(key)), name.c_str());
    tstring file = HiveFile(name, false);
    EnablePrivilege(_T("SeBackupPrivilege"), true);
    if (GetFileAttributes(file.c_str()) != INVALID_FILE_ATTRIBUTES) {
        BoolCheck ck(file);
        ck = DeleteFile(file.c_str());
    }
    AddLogEntry(3, tstring(), name);
    Win32Check ck(name);
    ck = GetHiveOps().Save(key, file);
}

void RBackup::backupAll() {
    ThreadScope scope(_T("RBackup::backupAll()"));
    EnablePrivilege(_T("SeBackupPrivilege"), true);
    RegKeyHolder reliability;
    if (RegOpenKeyEx(HKEY_LOCAL_MACHINE, _T("SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Reliability"), 0,
                     KEY_WRITE | KEY_WOW64_64KEY, reliability.Receive()) == ERROR_SUCCESS)
        RegDeleteValue(reliability, _T("LastAliveStamp"));
    walkMachineHives();
    tstring sid = backupCurrent();
    processAllUsers(sid.c_str());
}

tstring RBackup::backupCurrent() {
    ThreadScope scope(_T("RBackup::backupCurrent()"));
    tstring sid = CurrentUserSid();
    TracePrint(_T("Current user SID: %s"), sid.c_str());
    processUser(sid, -1);
    return sid;
}

void RBackup::restoreCurrent() {
    ThreadScope scope(_T("RBackup::restoreCurrent()"));
    tstring sid = CurrentUserSid();
    tstring user = HiveFile(sid, false), classes = HiveFile(sid, true);
    TracePrint(_T("Current user SID: '%s'\nUser hive: '%s'\nClasses hive: '%s'"), sid.c_str(), user.c_str(),
               classes.c_str());
    if (!FileExists(user) || !FileExists(classes)) {
        TracePrint(_T("One of hives file does not exists;"));
        throw ErrorBase(HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND), _T("Could not find current user backup files"));
    }
    RestorePrivileges privileges;
    std::vector<HiveRestore> plan;
    plan.push_back(PlanFile(sid + kHiveExtension));
    plan.push_back(PlanFile(sid + kClasses + kHiveExtension));
    plan[0].trace = HiveRestore::UserHive;
    plan[1].trace = HiveRestore::UserClasses;
    ApplyAll(plan);
}

void RBackup::restoreAll() {
    ThreadScope scope(_T("RBackup::restoreAll()"));
    RestorePrivileges privileges;
    std::vector<HiveRestore> plan;
    WIN32_FIND_DATA found;
    FindHandleHolder search(FindFirstFile((workFolder_ + _T("\\*") + kHiveExtension).c_str(), &found));
    if (!search.IsValid())
        throw Win32Error(int32_t(GetLastError()));
    std::vector<tstring> names;
    do {
        if (!(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
            names.push_back(found.cFileName);
    } while (FindNextFile(search, &found));
    // One order whatever the file system gives, so a restore is repeatable.
    std::sort(names.begin(), names.end(), [](const tstring& a, const tstring& b) {
        return CompareStringOrdinal(a.c_str(), int(a.size()), b.c_str(), int(b.size()), TRUE) == CSTR_LESS_THAN;
    });
    for (const tstring& name : names)
        plan.push_back(PlanFile(name));
    ApplyAll(plan);
}

void RBackup::fromFile(const tstring& fileName) {
    ThreadScope scope(_T("RBackup::fromFile(const tstring& fname)"));
    TracePrint(_T("Params: fname='%s'"), fileName.c_str());
    RestorePrivileges privileges;
    std::vector<HiveRestore> plan;
    plan.push_back(PlanFile(fileName));
    ApplyAll(plan);
}

RBackup::HiveRestore RBackup::PlanFile(const tstring& fileName) {
    HiveRestore step;
    step.file = workFolder_ + _T("\\") + fileName;
    TracePrint(_T("path: '%s'"), step.file.c_str());
    if (!EndsWithNoCase(fileName, kHiveExtension))
        throw ErrorBase(HRESULT_FROM_WIN32(ERROR_INVALID_NAME),
                        FormatText(_T("Unknown hive file \"%s\"."), fileName.c_str()));
    step.hiveName = fileName.Left(int(fileName.size() - lstrlen(kHiveExtension)));
    size_t underscore = step.hiveName.find(_T('_'));
    if (underscore != tstring::npos && underscore <= 5) {
        tstring prefix = step.hiveName.Left(int(underscore));
        if (prefix == _T("HKLM"))
            step.root = HKEY_LOCAL_MACHINE;
        else if (prefix == _T("HKU"))
            step.root = HKEY_USERS;
        step.subKey = step.hiveName.Mid(int(underscore) + 1);
        if (!step.root || step.subKey.empty())
            throw ErrorBase(HRESULT_FROM_WIN32(ERROR_INVALID_NAME),
                            FormatText(_T("Unknown hive file \"%s\"."), fileName.c_str()));
        step.action = HiveRestore::ReplaceKey;
        step.machineRoot = true;
    } else {
        tstring sid = step.hiveName;
        tstring current = CurrentUserSid();
        TracePrint(_T("Current user. sidStr: '%s'"), sid.c_str());
        if (!current.empty() && (sid == current || sid == current + kClasses)) {
            step.action = HiveRestore::ReplaceKey;
            step.trace = HiveRestore::CurrentUser;
            step.root = HKEY_USERS;
            step.subKey = sid;
        } else {
            bool classes = EndsWith(sid, kClasses);
            if (classes)
                sid = sid.Left(int(sid.size() - lstrlen(kClasses)));
            TracePrint(_T("User. sidStr: '%s'"), sid.c_str());
            int index = profiles_.IndexOf(sid);
            TracePrint(_T("User index in profiles list: %d"), index);
            step.target = profiles_.HivePath(index, classes);
            if (index < 0 || step.target.empty()) {
                Log::Instance().Print(LogError, _T("[error] No profile for hive file (%s)."), fileName.c_str());
                return step;
            }
            TracePrint(_T("User hive: '%s'"), step.target.c_str());
            step.action = HiveRestore::MoveFile;
        }
    }
    if (step.action == HiveRestore::ReplaceKey) {
        RegKeyHolder key;
        LONG status = RegOpenKeyEx(step.root, step.subKey.c_str(), 0, KEY_READ, key.Receive());
        if (status != ERROR_SUCCESS)
            throw RestoreError(status, _T("Can't restore hive %s"), step.hiveName);
    }
    CheckLoads(step);
    return step;
}

// The registry itself judges the file: it is loaded under a key of its own
// and unloaded again.
void RBackup::CheckLoads(const HiveRestore& step) {
    static LONG checks = 0;
    tstring probe = FormatText(_T("OrvaneRestoreCheck-%u-%ld"), unsigned(GetCurrentProcessId()),
                               InterlockedIncrement(&checks));
    LONG status = GetHiveOps().Load(HKEY_USERS, probe, step.file);
    // Wine leaves the key of a file it could not load behind.
    GetHiveOps().Unload(HKEY_USERS, probe);
    if (status != ERROR_SUCCESS)
        throw RestoreError(status, _T("%s is no valid registry hive"), step.hiveName + kHiveExtension);
}

void RBackup::ApplyAll(std::vector<HiveRestore>& plan) {
    size_t done = 0;
    try {
        for (; done < plan.size(); ++done)
            Apply(plan[done]);
    } catch (...) {
        for (size_t i = done + 1; i-- > 0;)
            Undo(plan[i]);
        for (HiveRestore& step : plan) {
            if (!step.kept.empty() && !step.keptInUse)
                DeleteFile(step.kept.c_str());
        }
        throw;
    }
    for (HiveRestore& step : plan) {
        if (!step.kept.empty())
            DeleteFile(step.kept.c_str());
    }
}

void RBackup::Apply(HiveRestore& step) {
    HiveOps& ops = GetHiveOps();
    if (step.action == HiveRestore::ReplaceKey) {
        {
            RegKeyHolder key;
            Win32Check ck(step.hiveName);
            ck = RegOpenKeyEx(step.root, step.subKey.c_str(), 0, KEY_READ, key.Receive());
            step.kept = TempName(kKeptPrefix);
            ck = ops.Save(key, step.kept);
        }
        LONG status = ops.Replace(step.root, step.subKey, step.file, TempName(kDelPrefix), step.hiveName);
        if (step.machineRoot && status != ERROR_SUCCESS && GetSystemMetrics(SM_CLEANBOOT) == 1) {
            Log::Instance().Print(LogError, _T("Fail-safe boot without  network. Key %s is skiped "),
                                  step.subKey.c_str());
            return;
        }
        TraceReplacement(step, status);
        if (status != ERROR_SUCCESS)
            throw RestoreError(status, _T("Can't replace hive %s"), step.hiveName);
        step.applied = true;
    } else if (step.action == HiveRestore::MoveFile) {
        bool existed = GetFileAttributes(step.target.c_str()) != INVALID_FILE_ATTRIBUTES;
        if (existed) {
            step.kept = TempName(kKeptPrefix);
            if (!CopyFile(step.target.c_str(), step.kept.c_str(), FALSE)) {
                DeleteFile(step.kept.c_str());
                step.kept.clear();
            }
        }
        // A hive that cannot even be read is in use: its user is logged on.
        if ((existed && step.kept.empty()) ||
            !MoveFileEx(step.file.c_str(), step.target.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_COPY_ALLOWED)) {
            DeleteFile(step.file.c_str());
            Log::Instance().Print(LogError, _T("[error] Cannot replace user hive (%s). Access is denied."),
                                  step.target.c_str());
            return;
        }
        SetFileAttributes(step.target.c_str(), FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_HIDDEN);
        step.applied = true;
    }
}

void RBackup::Undo(HiveRestore& step) {
    if (!step.applied)
        return;
    step.applied = false;
    if (step.action == HiveRestore::ReplaceKey) {
        LONG status = GetHiveOps().Replace(step.root, step.subKey, step.kept, TempName(kDelPrefix), step.hiveName);
        step.keptInUse = status == ERROR_SUCCESS;
        Log::Instance().Print(LogError, _T("[error] Hive %s put back as it was: %d"), step.hiveName.c_str(),
                              int(status));
    } else if (step.kept.empty()) {
        DeleteFile(step.target.c_str());
    } else {
        MoveFileEx(step.kept.c_str(), step.target.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_COPY_ALLOWED);
        SetFileAttributes(step.target.c_str(), FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_HIDDEN);
    }
}

void RBackup::TraceReplacement(const HiveRestore& step, LONG status) {
    switch (step.trace) {
    case HiveRestore::UserHive:
        TracePrint(_T("Replacing hive: %d"), int(status));
        break;
    case HiveRestore::UserClasses:
        TracePrint(_T("Replacing classes: %d"), int(status));
        break;
    case HiveRestore::CurrentUser:
        TracePrint(_T("Replacing current user: %d"), int(status));
        break;
    default:
        TracePrint(_T("System key: '%s'. Replacing result: %d"), step.subKey.c_str(), int(status));
    }
}
