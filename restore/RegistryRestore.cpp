#include "restore/RegistryRestore.h"
#include <shlwapi.h>
#include <new>
#include <vector>
#include "common/compress/ZlibFile.h"
#include "common/errors/ErrorBase.h"
#include "common/errors/ErrorText.h"
#include "common/filepack/FilePack.h"
#include "common/system/FileSystem.h"
#include "common/system/HandleHolder.h"
#include "common/system/PlatformInfo.h"
#include "restore/HiveFile.h"
#include "restore/HiveReplacement.h"
#include "restore/WorkFolder.h"

namespace {

const TCHAR kMachinePrefix[] = _T("HKLM_");
const TCHAR kHiveExtension[] = _T(".dat");

ErrorBase Failure(DWORD code, const tstring& text) {
    return ErrorBase(FoldWin32(int32_t(code)), text);
}

// The same error, its text led by what it concerns: a library error alone
// ("Invalid handle.") tells the user nothing of where it happened.
ErrorBase Concerning(const tstring& subject, const ErrorBase& e) {
    return ErrorBase(e.Code(), subject + _T(": ") + e.Message());
}

bool IsPlainName(const tstring& name) {
    if (name.empty())
        return false;
    for (TCHAR c : name) {
        if (!((c >= _T('A') && c <= _T('Z')) || (c >= _T('a') && c <= _T('z')) || (c >= _T('0') && c <= _T('9'))))
            return false;
    }
    return true;
}

// Windows finds a device under these names in every folder, so the config
// folder would seem to hold a hive file of that name.
bool IsDeviceName(const tstring& name) {
    for (const TCHAR* device : {_T("CON"), _T("PRN"), _T("AUX"), _T("NUL")}) {
        if (name.CompareNoCase(device) == 0)
            return true;
    }
    if (name.size() != 4 || name[3] < _T('1') || name[3] > _T('9'))
        return false;
    tstring stem = name.substr(0, 3);
    return stem.CompareNoCase(_T("COM")) == 0 || stem.CompareNoCase(_T("LPT")) == 0;
}

bool IsPlainFile(const tstring& path) {
    DWORD attributes = GetFileAttributes(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

tstring FullPath(const tstring& path) {
    TCHAR buffer[MAX_PATH * 4];
    DWORD n = GetFullPathName(path.c_str(), DWORD(sizeof(buffer) / sizeof(buffer[0])), buffer, nullptr);
    tstring full = (n == 0 || n >= sizeof(buffer) / sizeof(buffer[0])) ? path : tstring(buffer);
    while (full.size() > 3 && full.back() == _T('\\'))
        full.pop_back();
    return full;
}

bool IsFolder(const tstring& path) {
    DWORD attributes = GetFileAttributes(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

bool EndsWithNoCase(const tstring& text, const TCHAR* tail) {
    size_t n = lstrlen(tail);
    return text.size() >= n && tstring(text.substr(text.size() - n)).CompareNoCase(tail) == 0;
}

// The windows folder's Temp when there is one; else the backup file's own
// folder. Ends with a backslash.
tstring WorkRoot(const tstring& windowsFolder, const tstring& backupFile) {
    tstring temp = windowsFolder + _T("\\Temp");
    if (IsFolder(temp))
        return temp + _T("\\");
    return backupFile.substr(0, backupFile.rfind(_T('\\')) + 1);
}

// Under WOW64 the running system's system32 is its 32-bit view, SysWOW64,
// whose config folder holds no hives of the system; the real one is reached
// through the Sysnative alias. Other installations are not redirected.
tstring ConfigFolder(const tstring& windowsFolder) {
    TCHAR running[MAX_PATH] = {};
    UINT n = GetSystemWindowsDirectory(running, MAX_PATH);
    bool own = n > 0 && n < MAX_PATH && IsWow64() && FullPath(running).CompareNoCase(windowsFolder.c_str()) == 0;
    return windowsFolder + (own ? _T("\\Sysnative\\config") : _T("\\system32\\config"));
}

// True when the file's first two bytes cannot begin a zlib stream: no deflate
// method, a window above 32 KiB or a wrong check. A file too short to tell is
// no more a pack than a zlib stream and does not count.
bool HasForeignHeader(const tstring& path) {
    HandleHolder file(CreateFile(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
    BYTE header[2] = {};
    DWORD got = 0;
    if (!file.IsValid() || !ReadFile(file, header, sizeof(header), &got, nullptr) || got < sizeof(header))
        return false;
    return (header[0] & 0x0F) != 8 || (header[0] >> 4) > 7 || ((header[0] << 8) | header[1]) % 31 != 0;
}

// Opens the backup as a pack: the inflated copy when the file is a zlib
// stream, else the file itself, as a bare pack restores as well. A failed
// write of the inflated copy (a full disk) is told as such: the backup itself
// may well be sound.
void OpenPack(FilePack& pack, const tstring& backupFile, const tstring& inflated, const tstring& shownName) {
    int inflatedResult = DecompressFile(backupFile, inflated);
    if (inflatedResult == kInflateTargetFailed) {
        DWORD error = GetLastError();
        throw Failure(error, FormatText(_T("Can't unpack %s into %s: %s"), shownName.c_str(), inflated.c_str(),
                                        ErrorText(FoldWin32(int32_t(error)), nullptr).c_str()));
    }
    try {
        pack.Open(inflatedResult == 0 ? inflated : backupFile, true);
        return;
    } catch (const ErrorBase& e) {
        // What is no zlib stream at all was meant as a bare pack, whose own
        // reason tells what is wrong with it; for a damaged zlib stream that
        // reason would only mislead.
        if (inflatedResult == 0 || HasForeignHeader(backupFile))
            throw Concerning(shownName, e);
        throw Failure(DWORD(e.Code()), FormatText(_T("Can't decompress file: %s"), shownName.c_str()));
    }
}

struct ChosenHive {
    tstring entry;
    tstring hive;
};

// The entries that go over a hive file; the other machine entries go to the
// report. Every name is judged before the first file is written.
std::vector<ChosenHive> ChooseHives(const FilePack& pack, const tstring& configFolder, const tstring& shownName,
                                    RestoreReport& report) {
    std::vector<ChosenHive> chosen;
    for (auto entry = pack.Begin(); entry != pack.End(); ++entry) {
        if (!FilePack::IsSafeEntryName(entry->first))
            throw Failure(ERROR_INVALID_NAME, FormatText(_T("%s: Invalid entry name \"%s\" in file pack."),
                                                         shownName.c_str(), entry->first.c_str()));
    }
    for (auto entry = pack.Begin(); entry != pack.End(); ++entry) {
        if (!IsMachineEntry(entry->first))
            continue;
        tstring hive = MachineHiveName(entry->first);
        if (hive.empty() || !IsPlainFile(configFolder + _T("\\") + hive))
            report.PassOver(entry->first);
        else
            chosen.push_back({entry->first, hive});
    }
    return chosen;
}

void Restore(const tstring& windowsText, const tstring& backupText, RestoreReport& report) {
    tstring windowsFolder = FullPath(windowsText);
    tstring configFolder = ConfigFolder(windowsFolder);
    if (!IsFolder(configFolder))
        throw Failure(ERROR_PATH_NOT_FOUND, FormatText(_T("Incorrect WINDOWS directory: %s"), windowsText.c_str()));
    tstring backupFile = FullPath(backupText);
    if (!FileExists(backupFile))
        throw Failure(ERROR_FILE_NOT_FOUND, FormatText(_T("%s does not exist"), backupText.c_str()));

    WorkFolder work(WorkRoot(windowsFolder, backupFile), _T("bkp_temp_dir"));
    HiveReplacement hives(configFolder);
    {
        FilePack pack;
        tstring inflated = work.TrackedFile(_T("uncompressed_file"));
        OpenPack(pack, backupFile, inflated, backupText);
        std::vector<ChosenHive> chosen = ChooseHives(pack, configFolder, backupText, report);
        // A user's backup holds no machine hive: "restored" would be a lie.
        if (chosen.empty())
            throw Failure(ERROR_FILE_NOT_FOUND,
                          FormatText(_T("%s holds no machine hive to restore."), backupText.c_str()));
        // Only what goes in is written: the user hives are never needed here.
        for (const ChosenHive& hive : chosen) {
            tstring file = work.TrackedFile(hive.entry);
            try {
                pack.ExtractEntry(hive.entry, file);
            } catch (const ErrorBase& e) {
                throw Concerning(FormatText(_T("Can't unpack %s from %s"), hive.entry.c_str(), backupText.c_str()), e);
            }
            if (!HiveFile::IsHive(file))
                throw Failure(ERROR_BADDB, FormatText(_T("%s in %s is not a registry hive. Nothing was restored."),
                                                      hive.entry.c_str(), backupText.c_str()));
            hives.Add(file, hive.hive);
        }
        pack.Close();
        DeleteFile(inflated.c_str());
    }
    hives.CheckTargets();
    hives.ReplaceAll();
}

}  // namespace

bool IsMachineEntry(const tstring& entryName) {
    size_t n = lstrlen(kMachinePrefix);
    return entryName.size() >= n && tstring(entryName.substr(0, n)).CompareNoCase(kMachinePrefix) == 0;
}

tstring MachineHiveName(const tstring& entryName) {
    size_t prefix = lstrlen(kMachinePrefix), extension = lstrlen(kHiveExtension);
    if (!IsMachineEntry(entryName) || entryName.size() <= prefix + extension ||
        !EndsWithNoCase(entryName, kHiveExtension))
        return tstring();
    tstring hive = entryName.substr(prefix, entryName.size() - prefix - extension);
    return IsPlainName(hive) && !IsDeviceName(hive) ? hive : tstring();
}

bool RestoreRegistry(const tstring& windowsFolder, const tstring& backupFile, RestoreReport& report) {
    tstring failure;
    try {
        Restore(windowsFolder, backupFile, report);
        return true;
    } catch (const ErrorBase& e) {
        failure = e.Message();
    } catch (const std::bad_alloc&) {
        // A pack is read whole into memory: a huge one can run out of it.
        failure = backupFile + _T(": ") + ErrorText(E_OUTOFMEMORY, nullptr);
    }
    report.ShowError(failure);
    return false;
}
