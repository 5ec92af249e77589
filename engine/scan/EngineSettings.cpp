#include "engine/scan/EngineSettings.h"
#include "common/errors/ErrorBase.h"
#include "common/log/Log.h"

EngineSettings::EngineSettings() : settings_(GetSettings()) {}

EngineSettings::EngineSettings(Settings& settings) : settings_(settings) {}

long EngineSettings::GetSkipScanDrives() {
    return long(Settings::GetSkipScanDrives());
}

// Stored at once like the other puts: it must not wait for a put of another
// value to reach the file.
void EngineSettings::PutSkipScanDrives(long value) {
    Settings::SetSkipScanDrives(int32_t(value));
    Store();
}

// The program reads the file when a scheduled job starts in its open window,
// while this module lives on in the same process: a change must not wait for
// the module's end to be seen. A file that cannot be written now keeps the
// change pending, to be saved with the next change or at the end; the log
// says so, as until then the program reads the file without it.
void EngineSettings::Store() {
    if (!settings_.Loaded())
        return;
    int32_t code = settings_.Save();
    if (code != 0)
        Log::Instance().Print(LogError,
                              _T("[error] The settings file %s cannot be saved (0x%08X); the change is kept ")
                              _T("and saved later"),
                              settings_.FilePath().c_str(), unsigned(code));
}

long EngineSettings::GetSwitch(Switch which) const {
    bool on = false;
    switch (which) {
    case ReportMailSwitch: on = settings_.GetReportMailSwitch(); break;
    case ScanResultsThreshold: on = settings_.GetScanResultsThreshold(); break;
    case AutoFix: on = settings_.GetAutoFix(); break;
    case AutoReboot: on = settings_.GetAutoReboot(); break;
    case AutoBackupSwitch: on = settings_.GetAutoBackupSwitch(); break;
    case BackupRetentionSwitch: on = settings_.GetBackupRetentionSwitch(); break;
    default: throw HRError(E_INVALIDARG);
    }
    return on ? 1 : 0;
}

void EngineSettings::PutSwitch(Switch which, long value) {
    bool on = value == 1;
    switch (which) {
    case ReportMailSwitch: settings_.SetReportMailSwitch(on); break;
    case ScanResultsThreshold: settings_.SetScanResultsThreshold(on); break;
    case AutoFix: settings_.SetAutoFix(on); break;
    case AutoReboot: settings_.SetAutoReboot(on); break;
    case AutoBackupSwitch: settings_.SetAutoBackupSwitch(on); break;
    case BackupRetentionSwitch: settings_.SetBackupRetentionSwitch(on); break;
    default: throw HRError(E_INVALIDARG);
    }
    Store();
}

tstring EngineSettings::GetText(Text which) {
    switch (which) {
    case BackupDirectory: return settings_.BackupFolder();
    case UndoDirectory: return settings_.UndoFolder();
    case ReportMail: return settings_.GetReportMail();
    case ReportMailServer: return settings_.GetReportMailServer();
    case PEBuilderDirectory: return settings_.GetPEBuilderDirectory();
    case WindowsDirectory: return settings_.GetWindowsDirectory();
    }
    throw HRError(E_INVALIDARG);
}

void EngineSettings::PutText(Text which, const tstring& value) {
    switch (which) {
    case BackupDirectory: settings_.SetBackupFolder(value); break;
    case UndoDirectory: settings_.SetUndoFolder(value); break;
    case ReportMail: settings_.SetReportMail(value); break;
    case ReportMailServer: settings_.SetReportMailServer(value); break;
    case PEBuilderDirectory: settings_.SetPEBuilderDirectory(value); break;
    case WindowsDirectory: settings_.SetWindowsDirectory(value); break;
    default: throw HRError(E_INVALIDARG);
    }
    Store();
}

void EngineSettings::PutUseFile(long value) {
    Settings::SetUseSettingsFile(value == 1);
}
