#pragma once
#include <windows.h>
#include <atomic>
#include <cstdint>
#include "common/system/CriticalSection.h"
#include "common/tstring/tstring.h"

// The user's settings, kept in "settings.dat" in the data folder. The main
// program and the engine each hold an object over the same file; each object
// remembers which values were set on it (to what it held already or not), and
// saving merges exactly those into a fresh read of the file, so neither undoes
// the other's changes and the value set last is the one stored.
//
// The file: int32 SkipScanDrives; strings UndoDirectory, BackupDirectory,
// ReportMail; byte ReportMailSwitch; string ReportMailServer; bytes AutoFix,
// AutoReboot, ScanResultsThreshold, AutoBackupSwitch, BackupRetentionSwitch;
// strings PEBuilderDirectory, WindowsDirectory. No header, no checksum; files
// of older versions end early and the missing groups take their defaults.
//
// Every accessor takes the object's lock: COM property calls and worker
// threads share one object. The lock is never held across a wait for another
// process; a thread that may be ended by force (a scan group's) takes it not
// at all, as it would leave it held for ever.
//
// A first read that finds the file busy (another holder keeps it from us)
// gives the defaults for now; the object's next use reads it again, so that
// a session started while a backup tool or virus scanner held the file still
// shows and keeps the stored values once the file is free.
//
// Note: windows.h maps GetWindowsDirectory to its W or A form; the member is
// renamed the same way wherever it is declared or called, which is harmless.
class Settings {
public:
    // load true (and the process uses the file): reads the file now and saves
    // at destruction. filePath empty: the data folder's "settings.dat".
    explicit Settings(bool load, const tstring& filePath = tstring());
    ~Settings();
    Settings(const Settings&) = delete;
    Settings& operator=(const Settings&) = delete;

    // 0 on success, else the error's code. A failed Load leaves the defaults.
    // Read under the save lock, with a few short retries. A damaged file (too
    // short for the first group, or unreadable) is kept beside it as
    // "settings.dat.damaged" and a fresh one written, so that later changes
    // can be saved; a file that cannot be opened (in use, denied) is left as
    // it is. Both are logged. A busy file (a sharing or lock violation, or the
    // save lock not had in time) marks the object: every accessor, Reload and
    // Save read the file again first, until a read gets past the holder. An
    // accessor never waits for that: it tries only when the save lock is free
    // at once, and otherwise answers with the values it holds.
    int32_t Load();
    // Reads the file again, as the other object over it may have saved since;
    // this object's unsaved changes stay on top, and nothing is written. A
    // missing file, or one that cannot be read (its code), leaves the values
    // as they were.
    int32_t Reload();
    // Merges this object's changes into the file as it is now and writes it.
    // A file that exists but cannot be read (in use, damaged) is left as it
    // is and its error returned; a missing one is created.
    int32_t Save();

    tstring FilePath() const;
    bool Loaded() const;

    bool GetReportMailSwitch() const;
    void SetReportMailSwitch(bool value);
    bool GetScanResultsThreshold() const;
    void SetScanResultsThreshold(bool value);
    bool GetAutoFix() const;
    void SetAutoFix(bool value);
    bool GetAutoReboot() const;
    void SetAutoReboot(bool value);
    bool GetAutoBackupSwitch() const;
    void SetAutoBackupSwitch(bool value);
    bool GetBackupRetentionSwitch() const;
    void SetBackupRetentionSwitch(bool value);

    tstring GetReportMail() const;
    void SetReportMail(const tstring& value);
    tstring GetReportMailServer() const;
    void SetReportMailServer(const tstring& value);
    tstring GetPEBuilderDirectory() const;
    tstring GetWindowsDirectory() const;

    // Folder setters add a "\" unless the text ends in "\" or "/"; an empty
    // text stays empty (the default folder then applies).
    void SetPEBuilderDirectory(const tstring& value);
    void SetWindowsDirectory(const tstring& value);
    void SetUndoFolder(const tstring& value);
    void SetBackupFolder(const tstring& value);

    // The configured folder, or the data folder's "UndoData\" ("BackupData\"),
    // which is then stored; the folder is created when missing. Empty when
    // the default folder cannot be made. A configured folder that cannot be
    // created (its drive is absent for now) is kept and returned unchanged.
    tstring UndoFolder();
    tstring BackupFolder();
    // The stored texts, without defaults.
    tstring GetUndoDirectory() const;
    tstring GetBackupDirectory() const;

    // The process-wide mask of drive classes the scan skips; 0 (unset) reads
    // as 6, and the 6 is stored. Both build the process's settings object
    // first unless an object built with load true exists already. While the
    // object that loaded last waits to read a busy file, the getter has it
    // try again.
    static int32_t GetSkipScanDrives();
    static void SetSkipScanDrives(int32_t value);
    // The mask as it stands, for a thread that may be ended by force (a scan
    // group's, which asks at every path): it builds nothing, reads no file
    // and takes no lock, so that such a thread can leave none held. The scan
    // asks GetSkipScanDrives on its caller's thread before its groups start.
    static int32_t CurrentSkipScanDrives();
    // Whether objects built with load true use the file at all.
    static bool GetUseSettingsFile();
    static void SetUseSettingsFile(bool value);
    // The name of the mutex under which the processes that share the file at
    // path read and save it.
    static tstring SaveLockName(const tstring& path);

    enum Text { UndoText, BackupText, PEBuilderText, WindowsText, MailText, MailServerText, TextCount };
    enum Flag { MailSwitchFlag, ThresholdFlag, AutoFixFlag, AutoRebootFlag, AutoBackupFlag, RetentionFlag, FlagCount };

    struct Values {
        int32_t skipScanDrives = 6;
        tstring texts[TextCount];
        bool flags[FlagCount] = {false, true, false, false, false, true};
    };

    // Reads a settings file into values by groups; the result code as Load's.
    static int32_t ReadFile(const tstring& path, Values& values);
    static void WriteFile(const tstring& path, const Values& values);

private:
    enum ReadOutcome { ReadDone, NotOpened, Damaged };
    static int32_t ReadFile(const tstring& path, Values& values, ReadOutcome& outcome);
    // ReadFile up to attempts times while the file cannot be read.
    static int32_t ReadSettled(const tstring& path, Values& values, ReadOutcome& outcome, int attempts);
    // ReadSettled under the save lock (waited for up to lockWait ms); a
    // damaged file is set aside and this object's values written instead.
    int32_t ReadLocked(const tstring& path, Values& fresh, ReadOutcome& outcome, int attempts, DWORD lockWait) const;
    static void ReplaceDamaged(const tstring& path, int32_t code, const Values& replacement);
    // With the lock held: the read a busy load still owes, tried once when
    // the save lock is free at once.
    void CatchUp() const;
    static void CatchUpMask();
    static void EnsureSettingsBuilt();
    bool GetFlag(Flag flag) const;
    void SetFlag(Flag flag, bool value);
    tstring GetText(Text text) const;
    void SetText(Text text, const tstring& value);
    void SetFolder(Text text, const tstring& value);
    tstring DefaultedFolder(Text text, const TCHAR* name);
    Values Merge(const Values& fresh) const;
    // This object's changes merged into a fresh read of the file, written
    // there when write is true.
    int32_t MergeWithFile(bool write);

    static uint32_t TextBit(Text text) { return 1u << text; }
    static uint32_t FlagBit(Flag flag) { return 0x100u << flag; }

    tstring filePath_;
    // Getters too may fill in what a busy load could not read.
    mutable Values values_;
    // The load found the file busy: values_ holds defaults, not the file's.
    mutable std::atomic<bool> unread_{false};
    bool loaded_ = false;
    // Values set on this object since it loaded or last wrote the file.
    uint32_t changed_ = 0;
    // Default folders this object filled in; saved only where the file has none.
    uint32_t filled_ = 0;
    mutable CriticalSection section_;
};

// The process's settings, read from the file on first use and saved at exit.
// Threads that ask while it is being built wait for it, loaded; a thread
// ended by force while building it leaves it to the next caller to build.
Settings& GetSettings();
// The defaults alone, never read from or written to the file.
Settings& GetDefaultSettings();
