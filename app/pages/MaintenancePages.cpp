#include "app/pages/MaintenancePages.h"
#include <cwchar>
#include "app/AppUtilities.h"
#include "app/html/HtmlView.h"
#include "app/resource.h"
#include "common/errors/ErrorBase.h"
#include "common/log/Log.h"
#include "common/log/Log.h"
#include "common/settings/Settings.h"
#include "common/system/OsVersion.h"
#include "common/system/Privilege.h"
#include "common/system/Security.h"
#include "hives/CompactFlags.h"

namespace {

// Without a frame (a test, the page driver) the view counts as shown.
bool FrameShown() {
    HWND frame = GetMainWindow();
    return !frame || IsWindowVisible(frame);
}

}  // namespace

int MaintenancePages::AskToLeave(HtmlPage* current, const wchar_t* item) {
    // The build's end reaches only the page shown, and with it the lock's
    // release; so does the fix's end, the "Done" the user waits for. The fix
    // counts from the moment the view decided on it, while its page still
    // loads and another page is still the current one.
    if (item && ((current == &emergency_ && emergency_.Busy()) || fixing_.Busy())) {
        if (FrameShown()) ShowMessageBox(GetMainWindow(), IDS_OPERATION_BUSY, 0, MB_ICONINFORMATION);
        return IDCANCEL;
    }
    if (current == &compact_ && (!item || wcscmp(item, L"RegistryCompact") != 0))
        return compact_.AskSaveChanges(GetMainWindow());
    if (current == &scheduler_ && (!item || wcscmp(item, L"Scheduler") != 0))
        return scheduler_.AskSaveChanges(GetMainWindow());
    // Switching between the settings and the ignore list leaves the page too.
    if (current == &settings_ && (!item || wcscmp(item, settings_.IgnoreMode() ? L"Ignores" : L"Configuration") != 0))
        return settings_.AskSaveChanges(GetMainWindow());
    return IDOK;
}

void MaintenancePages::SetEngine(ICrawler* engine) {
    engine_ = engine;
    settings_.SetEngine(engine);
    scheduler_.SetEngine(engine);
    undo_.SetEngine(engine);
    results_.SetEngine(engine);
    emergency_.SetEngine(engine);
    if (!engine) fixing_.ReleaseEngine();
}

HtmlPage* MaintenancePages::ScanPage(ScanPageKind kind, ICrawler* engine) {
    switch (kind) {
    case ScanPageKind::SelectUnions:
        return &selectUnions_;
    case ScanPageKind::Progress:
        return &progress_;
    case ScanPageKind::Results:
        results_.SetEngine(engine);
        return &results_;
    case ScanPageKind::Fixing:
        return &fixing_;
    case ScanPageKind::Background:
        return &background_;
    }
    return nullptr;
}

void MaintenancePages::ReserveFix(bool reserve) {
    if (reserve)
        fixing_.Reserve();
    else
        fixing_.Unreserve();
}

void MaintenancePages::StartFix(ICrawler* engine, const wchar_t* excluded) {
    if (!fixing_.StartFixHolding(engine, excluded ? excluded : L""))
        Log::Instance().Print(LogError, L"[error] Fix refused: a fix is running.");
}

RLog* MaintenancePages::OpenBackupProgress(HWND owner) {
    if (!fixBackupProgress_) fixBackupProgress_.reset(new ProgressWindow());
    fixBackupProgress_->CreateFor(owner);
    return fixBackupProgress_.get();
}

bool MaintenancePages::ShowBackup(PageDisplay& display) {
    // Saving and restoring hives needs both; without them the page could
    // only fail later, half-way through a backup.
    try {
        EnablePrivilege(SE_BACKUP_NAME, true);
        EnablePrivilege(SE_RESTORE_NAME, true);
    } catch (const ErrorBase& e) {
        Log::Instance().Print(LogError, L"[error] Backup page: %s", e.Message().c_str());
        return false;
    }
    tstring folder;
    bool retention = false;
    if (engine_) {
        BSTR text = nullptr;
        long value = 0;
        if (SUCCEEDED(engine_->get_BackupDirectory(&text)) && text) folder = text;
        SysFreeString(text);
        retention = SUCCEEDED(engine_->get_BackupRetentionSwitch(&value)) && value == 1;
    } else {
        // The engine keeps these in the user's settings, which stay readable
        // when the engine could not be started.
        Settings& settings = GetSettings();
        folder = settings.BackupFolder();
        retention = settings.GetBackupRetentionSwitch();
    }
    backup_.SetOptions(retention, folder, engine_);
    return display.ShowPage(&backup_, L"");
}

bool MaintenancePages::NeedsEngine(const wchar_t* item) {
    for (const wchar_t* name : {L"Undo", L"Configuration", L"Ignores", L"RegistryBackup", L"Scheduler", L"Emergency"})
        if (wcscmp(item, name) == 0) return true;
    return false;
}

tstring MaintenancePages::CompactQuery() {
    bool privileged = IsAdministrator() || IsPowerUser();
    bool current = false, all = false;
    if (IsWindowsMajor6()) {
        HKEY key = nullptr;
        if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"Software\\Microsoft\\Windows\\CurrentVersion\\RunOnce", 0,
                          KEY_QUERY_VALUE | RegistryView64(), &key) == ERROR_SUCCESS) {
            all = RegQueryValueExW(key, L"QUARN OrvaneCompact", nullptr, nullptr, nullptr, nullptr) == ERROR_SUCCESS;
            RegCloseKey(key);
        }
    } else {
        try {
            CompactFlags flags;
            flags.Open(false);
            current = flags.IsCurrent();
            all = flags.IsAll();
        } catch (const ErrorBase&) {
        }
    }
    return FormatText(L"-%d-%d-%d-%d", privileged ? 1 : 0, current ? 1 : 0, all ? 1 : 0, 1);
}

bool MaintenancePages::ShowItem(PageDisplay& display, const wchar_t* item) {
    if (wcscmp(item, L"RegistryBackup") == 0) {
        if (!ShowBackup(display) && FrameShown())
            ShowMessageBox(GetMainWindow(), IDS_NO_RIGHTS, IDS_ERROR, MB_ICONERROR);
        return true;
    }
    if (wcscmp(item, L"Emergency") == 0) {
        if (!display.ShowPage(&emergency_, L"") && FrameShown())
            ShowMessageBox(GetMainWindow(), IDS_NO_RIGHTS, IDS_ERROR, MB_ICONERROR);
        return true;
    }
    if (wcscmp(item, L"RegistryCompact") == 0) {
        display.ShowPage(&compact_, CompactQuery().c_str());
        return true;
    }
    if (wcscmp(item, L"Undo") == 0) {
        display.ShowPage(&undo_, L"");
        return true;
    }
    if (wcscmp(item, L"Ignores") == 0 || wcscmp(item, L"Configuration") == 0) {
        bool ignoreList = wcscmp(item, L"Ignores") == 0;
        settings_.SetIgnoreMode(ignoreList);
        display.ShowPage(&settings_, ignoreList ? L"ignore" : L"settings");
        return true;
    }
    if (wcscmp(item, L"Scheduler") != 0)
        return false;
    scheduler_.ReloadTasks();
    display.ShowPage(&scheduler_, SchedulerQuery().c_str());
    return true;
}

tstring MaintenancePages::SchedulerQuery() {
    bool compaction = IsWindowsMajor6();
    if (!compaction) {
        try {
            CompactFlags flags;
            flags.Open(false);
            compaction = true;
        } catch (const ErrorBase&) {
        }
    }
    return scheduler_.JobStatesQuery() + L"-false" + (compaction ? L"-true" : L"-false");
}
