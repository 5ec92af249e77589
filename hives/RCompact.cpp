#include "hives/RCompact.h"
#include "common/errors/CheckObjects.h"
#include "common/system/OsVersion.h"
#include "hives/CompactFlags.h"
#include "hives/HiveOps.h"
#include "hives/TempName.h"

namespace {

const wchar_t kReliabilityKey[] = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Reliability";

tstring WithoutFinalBackslash(tstring folder) {
    if (!folder.empty() && folder[folder.size() - 1] == L'\\')
        folder.resize(folder.size() - 1);
    return folder;
}

// The stamp tells the next start that Windows was not shut down cleanly;
// replacing the hives at this shutdown must not look like a crash.
void DeleteLastAliveStamp() {
    HKEY key = nullptr;
    Win32Check ck(L"RegOpenKeyEx(Reliability)");
    ck = RegOpenKeyExW(HKEY_LOCAL_MACHINE, kReliabilityKey, 0, KEY_WRITE, &key);
    RegDeleteValueW(key, L"LastAliveStamp");
    RegCloseKey(key);
}

}  // namespace

RCompact::RCompact(const tstring& workFolder) : RAssistant(workFolder) {}

RCompact::RCompact() : RAssistant(WithoutFinalBackslash(TempFolder())) {}

void RCompact::compactAll() {
    walkMachineHives();
    processAllUsers(nullptr);
}

void RCompact::Run() {
    if (IsWindowsMajor6()) {
        compactAll();
        return;
    }
    CompactFlags requests;
    requests.Open(false);
    DeleteLastAliveStamp();
    if (requests.IsAll()) {
        compactAll();
    } else {
        int count = requests.Count();
        for (int i = 0; i < count; ++i)
            processUser(requests.Get(i), -1);
    }
    requests.Close();
}

void RCompact::processKey(HKEY key, const tstring& name) {
    int row = -1;
    tstring newCopy;
    try {
        EnableHivePrivileges(true);
        newCopy = TempName(L"new");
        row = AddLogEntry(3, L"Compacting hive", name);
        Win32Check save(L"RegSaveKey(" + name + L")");
        save = GetHiveOps().Save(key, newCopy);
        SetFileAttributesW(newCopy.c_str(), FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_HIDDEN);
        MarkLogDone(row);
        tstring oldCopy = HiveFile(name, false) + L".arctemp";
        DeleteFileW(oldCopy.c_str());
        Win32Check replace(L"RegReplaceKey(" + name + L")");
        replace = GetHiveOps().Replace(key, tstring(), newCopy, oldCopy, name);
        MarkLogDone(row);
    } catch (const ErrorBase&) {
        ++failures_;
        // A copy that will never be swapped in is a readable copy of the hive
        // (SAM and SECURITY too) left in the temporary folder.
        if (!newCopy.empty())
            DeleteFileW(newCopy.c_str());
        MarkLogDone(row);
        AddLogEntry(3, L"Compact Error", name);
    }
}
