#include "common/settings/Settings.h"
#include "common/system/FileSaveLock.h"
#include <shlwapi.h>
#include <atomic>
#include <cstdlib>
#include <exception>
#include <new>
#include "common/archive/Archive.h"
#include "common/errors/ErrorBase.h"
#include "common/log/Log.h"
#include "common/settings/AppFolders.h"
#include "common/system/HandleHolder.h"

namespace {

std::atomic<int32_t> g_skipScanDrives{0};
// Set when the mask was given a value in this process that the file does not
// have yet.
std::atomic<bool> g_skipScanDrivesChanged{false};
std::atomic<bool> g_useSettingsFile{true};
// Set once an object built with load true exists: from then on the mask is
// the one that object read (or the default, when it does not use the file).
std::atomic<bool> g_settingsBuilt{false};

const int32_t kDefaultSkipScanDrives = 6;
const int32_t kNotFound = int32_t(0x80070002);
const int32_t kPathNotFound = int32_t(0x80070003);

int32_t CodeOf(const ErrorBase& e) {
    return e.Code() ? e.Code() : int32_t(E_FAIL);
}

bool IsMissingFile(int32_t code) {
    return code == kNotFound || code == kPathNotFound;
}

// Refusals of a file that another program holds or that this user may not
// read: the file itself may be sound.
bool IsRefusal(int32_t code) {
    return code == FoldWin32(ERROR_SHARING_VIOLATION) || code == FoldWin32(ERROR_LOCK_VIOLATION) ||
           code == FoldWin32(ERROR_ACCESS_DENIED);
}

// Another holder keeps the file from us for now: the other program saving
// it, a virus scanner or backup tool reading it. A denial is not counted: a
// file being replaced answers it only for a moment, which the short retry
// covers; one that outlasts the retry comes from the file's permissions,
// which no later use would get past, and would only make every use wait.
bool IsBusy(int32_t code) {
    return code == FoldWin32(ERROR_SHARING_VIOLATION) || code == FoldWin32(ERROR_LOCK_VIOLATION) ||
           code == FoldWin32(ERROR_TIMEOUT);
}

const int kSettleAttempts = 3;
const DWORD kSaveLockWait = 10000;
// A use that finds the other program saving does not wait for that save: the
// values it holds answer now, and a later use reads the file.
const DWORD kUseLockWait = 0;

// The object whose load set the process-wide mask last.
std::atomic<Settings*> g_maskSource{nullptr};

const TCHAR kDamagedSuffix[] = _T(".damaged");

void ClearGroup2(Settings::Values& v) {
    v.texts[Settings::MailText].clear();
    v.texts[Settings::MailServerText].clear();
    v.flags[Settings::MailSwitchFlag] = false;
    v.flags[Settings::AutoFixFlag] = false;
    v.flags[Settings::AutoRebootFlag] = false;
}

void ResetGroup3(Settings::Values& v) {
    v.flags[Settings::ThresholdFlag] = true;
    v.flags[Settings::AutoBackupFlag] = false;
    v.flags[Settings::RetentionFlag] = true;
}

// What a file that cannot be read gives; the boot-disk folders are not part
// of the old file formats and keep what the object had.
void ResetToDefaults(Settings::Values& v) {
    v.skipScanDrives = kDefaultSkipScanDrives;
    v.texts[Settings::UndoText].clear();
    v.texts[Settings::BackupText].clear();
    ClearGroup2(v);
    ResetGroup3(v);
}

// Serialises read-merge-write between the processes that share the file; the
// name is derived from the path, which a mutex name may not contain as such.
class SaveLock {
public:
    SaveLock(const tstring& path, DWORD wait) {
        mutex_.Attach(CreateMutex(nullptr, FALSE, Settings::SaveLockName(path).c_str()));
        if (mutex_.IsValid()) {
            DWORD result = WaitForSingleObject(mutex_, wait);
            owned_ = result == WAIT_OBJECT_0 || result == WAIT_ABANDONED;
        }
    }
    ~SaveLock() {
        if (owned_)
            ReleaseMutex(mutex_);
    }
    bool Owned() const { return owned_; }

private:
    HandleHolder mutex_;
    bool owned_ = false;
};

void EnsureFolder(const tstring& path) {
    if (PathFileExists(path.c_str()))
        return;
    if (!CreateDirectory(path.c_str(), nullptr)) {
        DWORD error = GetLastError();
        if (error != ERROR_ALREADY_EXISTS)
            throw Win32Error(int32_t(error));
    }
}

}  // namespace

Settings::Settings(bool load, const tstring& filePath) : filePath_(filePath) {
    if (load && GetUseSettingsFile()) {
        g_skipScanDrives = 0;
        Load();
        loaded_ = true;
    } else {
        // A defaults object must not replace a mask that the loaded object read.
        int32_t unset = 0;
        g_skipScanDrives.compare_exchange_strong(unset, kDefaultSkipScanDrives);
    }
    // Only once loaded: a caller that finds the settings built reads the mask
    // without waiting, and must not find the one the load is about to replace.
    if (load)
        g_settingsBuilt = true;
}

Settings::~Settings() {
    if (loaded_)
        Save();
    Settings* self = this;
    g_maskSource.compare_exchange_strong(self, nullptr);
}

tstring Settings::FilePath() const {
    if (!filePath_.empty())
        return filePath_;
    try {
        return GetSettingsFilePath();
    } catch (const ErrorBase&) {
        return tstring();
    }
}

bool Settings::Loaded() const {
    CriticalSectionLock lock(section_);
    return loaded_;
}

int32_t Settings::ReadFile(const tstring& path, Values& v) {
    ReadOutcome outcome = ReadDone;
    return ReadFile(path, v, outcome);
}

// The other process may be writing the file just now (in use, or for an
// instant shorter than it will be); a few short retries get past that.
int32_t Settings::ReadSettled(const tstring& path, Values& values, ReadOutcome& outcome, int attempts) {
    Values start = values;
    int32_t code = 0;
    for (int attempt = 0; attempt < attempts; ++attempt) {
        if (attempt)
            Sleep(100);
        values = start;
        code = ReadFile(path, values, outcome);
        if (code == 0 || IsMissingFile(code))
            break;
    }
    return code;
}

// Under the save lock no save of the other program is met half done, and a
// damaged file is judged by what that program left, not by a save under way.
int32_t Settings::ReadLocked(const tstring& path, Values& fresh, ReadOutcome& outcome, int attempts,
                             DWORD lockWait) const {
    SaveLock fileLock(path, lockWait);
    if (!fileLock.Owned()) {
        outcome = NotOpened;
        ResetToDefaults(fresh);
        return FoldWin32(ERROR_TIMEOUT);
    }
    int32_t code = ReadSettled(path, fresh, outcome, attempts);
    if (outcome == Damaged)
        ReplaceDamaged(path, code, Merge(fresh));
    return code;
}

int32_t Settings::ReadFile(const tstring& path, Values& v, ReadOutcome& outcome) {
    // Opened first on its own, and held while it is read: a file that does
    // not open is not to be judged damaged.
    HandleHolder held(CreateFile(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                 FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!held.IsValid()) {
        outcome = NotOpened;
        ResetToDefaults(v);
        return FoldWin32(int32_t(GetLastError()));
    }
    outcome = Damaged;
    try {
        Archive file;
        file.Open(path, Archive::ModeRead, false);
        v.skipScanDrives = file.ReadInt();
        v.texts[UndoText] = file.ReadString();
        v.texts[BackupText] = file.ReadString();
        outcome = ReadDone;
        try {
            v.texts[MailText] = file.ReadString();
            v.flags[MailSwitchFlag] = file.ReadBool();
            v.texts[MailServerText] = file.ReadString();
            v.flags[AutoFixFlag] = file.ReadBool();
            v.flags[AutoRebootFlag] = file.ReadBool();
        } catch (const ErrorBase&) {
            ClearGroup2(v);
        }
        try {
            v.flags[ThresholdFlag] = file.ReadBool();
            v.flags[AutoBackupFlag] = file.ReadBool();
            v.flags[RetentionFlag] = file.ReadBool();
        } catch (const ErrorBase&) {
            ResetGroup3(v);
        }
        try {
            v.texts[PEBuilderText] = file.ReadString();
            v.texts[WindowsText] = file.ReadString();
        } catch (const ErrorBase&) {
        }
        file.Close();
        return 0;
    } catch (const ErrorBase& e) {
        ResetToDefaults(v);
        int32_t code = CodeOf(e);
        if (IsRefusal(code))
            outcome = NotOpened;
        return code;
    } catch (const std::bad_alloc&) {
        ResetToDefaults(v);
        outcome = NotOpened;
        return E_OUTOFMEMORY;
    }
}

void Settings::WriteFile(const tstring& path, const Values& v) {
    Archive file;
    file.Open(path, Archive::ModeCreate, false);
    file.WriteInt(v.skipScanDrives);
    file.WriteString(v.texts[UndoText]);
    file.WriteString(v.texts[BackupText]);
    file.WriteString(v.texts[MailText]);
    file.WriteBool(v.flags[MailSwitchFlag]);
    file.WriteString(v.texts[MailServerText]);
    file.WriteBool(v.flags[AutoFixFlag]);
    file.WriteBool(v.flags[AutoRebootFlag]);
    file.WriteBool(v.flags[ThresholdFlag]);
    file.WriteBool(v.flags[AutoBackupFlag]);
    file.WriteBool(v.flags[RetentionFlag]);
    file.WriteString(v.texts[PEBuilderText]);
    file.WriteString(v.texts[WindowsText]);
    file.Close();
}

int32_t Settings::Load() {
    CriticalSectionLock lock(section_);
    // The file's values replace everything this object held.
    changed_ = 0;
    filled_ = 0;
    g_skipScanDrivesChanged = false;
    tstring path = FilePath();
    int32_t code = kPathNotFound;
    ReadOutcome outcome = NotOpened;
    Values fresh = values_;
    if (path.empty())
        ResetToDefaults(fresh);
    else
        code = ReadLocked(path, fresh, outcome, kSettleAttempts, kSaveLockWait);
    values_ = fresh;
    unread_ = IsBusy(code);
    if (outcome != Damaged && code != 0 && !IsMissingFile(code) && !path.empty())
        Log::Instance().Print(LogError,
                              _T("[error] The settings file %s cannot be opened (0x%08X); it is left as it is%s"),
                              path.c_str(), unsigned(code), unread_ ? _T(" and read again when next used") : _T(""));
    g_skipScanDrives = values_.skipScanDrives;
    g_maskSource = this;
    return code;
}

// Until the holder lets go every use tries once more, without waiting for it;
// what this object was given meanwhile stays on top of what the file holds.
void Settings::CatchUp() const {
    if (!unread_)
        return;
    Values fresh = values_;
    ReadOutcome outcome = NotOpened;
    int32_t code = ReadLocked(FilePath(), fresh, outcome, 1, kUseLockWait);
    if (IsBusy(code))
        return;
    unread_ = false;
    if (code != 0)
        return;
    values_ = Merge(fresh);
    g_skipScanDrives = values_.skipScanDrives;
}

void Settings::CatchUpMask() {
    Settings* source = g_maskSource.load();
    if (!source || !source->unread_)
        return;
    CriticalSectionLock lock(source->section_);
    source->CatchUp();
}

// A file that every later save would refuse to overwrite (it cannot be
// merged) would keep every change of this run from being saved. It is kept
// for whoever wants to look at it, and a file of the defaults (with this
// object's changes) takes its place. The save lock is held.
void Settings::ReplaceDamaged(const tstring& path, int32_t code, const Values& replacement) {
    tstring kept = path + kDamagedSuffix;
    if (!MoveFileEx(path.c_str(), kept.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
        int32_t moveCode = FoldWin32(int32_t(GetLastError()));
        Log::Instance().Print(LogError,
                              _T("[error] The settings file %s is damaged (0x%08X) and cannot be set aside (0x%08X)"),
                              path.c_str(), unsigned(code), unsigned(moveCode));
        return;
    }
    try {
        WriteFile(path, replacement);
    } catch (const ErrorBase& e) {
        Log::Instance().Print(LogError,
                              _T("[error] The settings file %s is damaged (0x%08X), kept as %s; ")
                              _T("a new one cannot be written (0x%08X)"),
                              path.c_str(), unsigned(code), kept.c_str(), unsigned(CodeOf(e)));
        return;
    }
    Log::Instance().Print(LogError,
                          _T("[error] The settings file %s was damaged (0x%08X); kept as %s, a new one written"),
                          path.c_str(), unsigned(code), kept.c_str());
}

Settings::Values Settings::Merge(const Values& fresh) const {
    Values merged = fresh;
    for (int i = 0; i < TextCount; ++i) {
        Text text = Text(i);
        if ((changed_ & TextBit(text)) || ((filled_ & TextBit(text)) && merged.texts[i].empty()))
            merged.texts[i] = values_.texts[i];
    }
    for (int i = 0; i < FlagCount; ++i)
        if (changed_ & FlagBit(Flag(i)))
            merged.flags[i] = values_.flags[i];
    if (g_skipScanDrivesChanged || merged.skipScanDrives == 0)
        merged.skipScanDrives = g_skipScanDrives;
    return merged;
}

int32_t Settings::Reload() { return MergeWithFile(false); }

int32_t Settings::Save() { return MergeWithFile(true); }

int32_t Settings::MergeWithFile(bool write) {
    CriticalSectionLock lock(section_);
    try {
        CatchUp();
        tstring path = FilePath();
        if (path.empty())
            return kPathNotFound;
        SaveLock fileLock(path, kSaveLockWait);
        if (!fileLock.Owned())
            return FoldWin32(ERROR_TIMEOUT);
        Values fresh = values_;
        ReadOutcome outcome = NotOpened;
        int32_t code = ReadSettled(path, fresh, outcome, kSettleAttempts);
        Values merged;
        if (code == 0 || IsMissingFile(code))
            unread_ = false;
        if (code == 0) {
            merged = Merge(fresh);
        } else if (IsMissingFile(code)) {
            if (!write)
                return 0;
            merged = values_;
            merged.skipScanDrives = g_skipScanDrives;
        } else {
            // Writing now would replace settings this object never saw.
            return code;
        }
        if (write)
            WriteFile(path, merged);
        values_ = merged;
        g_skipScanDrives = merged.skipScanDrives;
        // Unsaved changes stay changes until they are written.
        if (!write)
            return 0;
        g_skipScanDrivesChanged = false;
        changed_ = 0;
        filled_ = 0;
        return 0;
    } catch (const ErrorBase& e) {
        return CodeOf(e);
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    }
}

bool Settings::GetFlag(Flag flag) const {
    CriticalSectionLock lock(section_);
    CatchUp();
    return values_.flags[flag];
}

// A set is a change even when this object holds the value already: its copy
// may be stale, and the file (written by the other object since) must end
// with what was set last.
void Settings::SetFlag(Flag flag, bool value) {
    CriticalSectionLock lock(section_);
    CatchUp();
    values_.flags[flag] = value;
    changed_ |= FlagBit(flag);
}

tstring Settings::GetText(Text text) const {
    CriticalSectionLock lock(section_);
    CatchUp();
    return values_.texts[text];
}

void Settings::SetText(Text text, const tstring& value) {
    CriticalSectionLock lock(section_);
    CatchUp();
    values_.texts[text] = value;
    changed_ |= TextBit(text);
    filled_ &= ~TextBit(text);
}

void Settings::SetFolder(Text text, const tstring& value) {
    tstring folder = value;
    if (!folder.empty() && folder.back() != _T('\\') && folder.back() != _T('/'))
        folder += _T('\\');
    SetText(text, folder);
}

tstring Settings::DefaultedFolder(Text text, const TCHAR* name) {
    CriticalSectionLock lock(section_);
    CatchUp();
    tstring& folder = values_.texts[text];
    bool configured = !folder.empty();
    try {
        if (!configured) {
            folder = GetAppFolder(true) + _T("\\") + name + _T("\\");
            filled_ |= TextBit(text);
        }
        EnsureFolder(folder);
    } catch (const ErrorBase&) {
        if (configured)
            return folder;
        folder.clear();
        filled_ &= ~TextBit(text);
        return tstring();
    }
    return folder;
}

bool Settings::GetReportMailSwitch() const { return GetFlag(MailSwitchFlag); }
void Settings::SetReportMailSwitch(bool value) { SetFlag(MailSwitchFlag, value); }
bool Settings::GetScanResultsThreshold() const { return GetFlag(ThresholdFlag); }
void Settings::SetScanResultsThreshold(bool value) { SetFlag(ThresholdFlag, value); }
bool Settings::GetAutoFix() const { return GetFlag(AutoFixFlag); }
void Settings::SetAutoFix(bool value) { SetFlag(AutoFixFlag, value); }
bool Settings::GetAutoReboot() const { return GetFlag(AutoRebootFlag); }
void Settings::SetAutoReboot(bool value) { SetFlag(AutoRebootFlag, value); }
bool Settings::GetAutoBackupSwitch() const { return GetFlag(AutoBackupFlag); }
void Settings::SetAutoBackupSwitch(bool value) { SetFlag(AutoBackupFlag, value); }
bool Settings::GetBackupRetentionSwitch() const { return GetFlag(RetentionFlag); }
void Settings::SetBackupRetentionSwitch(bool value) { SetFlag(RetentionFlag, value); }

tstring Settings::GetReportMail() const { return GetText(MailText); }
void Settings::SetReportMail(const tstring& value) { SetText(MailText, value); }
tstring Settings::GetReportMailServer() const { return GetText(MailServerText); }
void Settings::SetReportMailServer(const tstring& value) { SetText(MailServerText, value); }
tstring Settings::GetPEBuilderDirectory() const { return GetText(PEBuilderText); }
tstring Settings::GetWindowsDirectory() const { return GetText(WindowsText); }

void Settings::SetPEBuilderDirectory(const tstring& value) { SetFolder(PEBuilderText, value); }
void Settings::SetWindowsDirectory(const tstring& value) { SetFolder(WindowsText, value); }
void Settings::SetUndoFolder(const tstring& value) { SetFolder(UndoText, value); }
void Settings::SetBackupFolder(const tstring& value) { SetFolder(BackupText, value); }

tstring Settings::UndoFolder() { return DefaultedFolder(UndoText, _T("UndoData")); }
tstring Settings::BackupFolder() { return DefaultedFolder(BackupText, _T("BackupData")); }
tstring Settings::GetUndoDirectory() const { return GetText(UndoText); }
tstring Settings::GetBackupDirectory() const { return GetText(BackupText); }

// The mask is read from the file with the rest of the settings; a caller that
// reaches it before any settings object exists (a script host that asks for it
// first, a scan started at once) must not see a default that the later load
// would replace, nor have its own value replaced by that load.
void Settings::EnsureSettingsBuilt() {
    if (!g_settingsBuilt)
        GetSettings();
}

int32_t Settings::GetSkipScanDrives() {
    EnsureSettingsBuilt();
    CatchUpMask();
    int32_t unset = 0;
    g_skipScanDrives.compare_exchange_strong(unset, kDefaultSkipScanDrives);
    return g_skipScanDrives;
}

int32_t Settings::CurrentSkipScanDrives() {
    int32_t unset = 0;
    g_skipScanDrives.compare_exchange_strong(unset, kDefaultSkipScanDrives);
    return g_skipScanDrives;
}

void Settings::SetSkipScanDrives(int32_t value) {
    EnsureSettingsBuilt();
    g_skipScanDrives = value;
    g_skipScanDrivesChanged = true;
}

tstring Settings::SaveLockName(const tstring& path) {
    return FileSaveLock::NameFor(_T("OrvaneSettings-"), path);
}

bool Settings::GetUseSettingsFile() { return g_useSettingsFile; }
void Settings::SetUseSettingsFile(bool value) { g_useSettingsFile = value; }

namespace {

std::atomic<Settings*> g_settings{nullptr};
std::atomic<HANDLE> g_buildMutex{nullptr};

// A kernel mutex, not a critical section nor a guarded static: a scan thread
// ended by force while it builds the settings leaves the mutex abandoned, and
// the next caller builds them anew instead of waiting for ever.
HANDLE BuildMutex() {
    HANDLE mutex = g_buildMutex.load();
    if (mutex)
        return mutex;
    HANDLE created = CreateMutex(nullptr, FALSE, nullptr);
    if (!created)
        throw Win32Error(int32_t(GetLastError()));
    if (!g_buildMutex.compare_exchange_strong(mutex, created)) {
        CloseHandle(created);
        return mutex;
    }
    return created;
}

class BuildLock {
public:
    BuildLock() : mutex_(BuildMutex()) {
        DWORD wait = WaitForSingleObject(mutex_, INFINITE);
        if (wait != WAIT_OBJECT_0 && wait != WAIT_ABANDONED)
            throw Win32Error(int32_t(GetLastError()));
    }
    ~BuildLock() { ReleaseMutex(mutex_); }
    BuildLock(const BuildLock&) = delete;
    BuildLock& operator=(const BuildLock&) = delete;

private:
    HANDLE mutex_;
};

void DestroySettings() {
    delete g_settings.exchange(nullptr);
}

}  // namespace

// Built and loaded before anyone else sees it: the threads of a scan ask at
// once, and none may read a default that the load replaces or have a change
// replaced by it. Destroyed (and saved) at exit in the order a function-local
// static would be.
Settings& GetSettings() {
    if (Settings* settings = g_settings.load())
        return *settings;
    BuildLock lock;
    Settings* settings = g_settings.load();
    if (!settings) {
        settings = new Settings(true);
        g_settings.store(settings);
        atexit(DestroySettings);
    }
    return *settings;
}

Settings& GetDefaultSettings() {
    static Settings settings(false);
    return settings;
}
