#pragma once
#include <memory>
#include "app/html/PageNavigator.h"
#include "app/pages/BackgroundOperPage.h"
#include "app/pages/BackupPage.h"
#include "app/pages/CompactPage.h"
#include "app/pages/EmergencyDiskPage.h"
#include "app/pages/FixingPage.h"
#include "app/pages/ProgressWindow.h"
#include "app/pages/ScanProgressPage.h"
#include "app/pages/ScanResultsPage.h"
#include "app/pages/SchedulerPage.h"
#include "app/pages/SelectUnionsPage.h"
#include "app/pages/SettingsPage.h"
#include "app/pages/UndoPage.h"
#include "common/tstring/tstring.h"

// The maintenance tools' pages as the main view's side bar reaches them.
class MaintenancePages : public PageNavigator {
public:
    SchedulerPage& Scheduler() { return scheduler_; }
    UndoPage& Undo() { return undo_; }
    SettingsPage& Configuration() { return settings_; }
    EmergencyDiskPage& Emergency() { return emergency_; }
    // The engine the undo and settings pages work on; NULL when it went away
    // (the fixing page then lets go of the one it shared with its worker).
    void SetEngine(ICrawler* engine) override;
    HtmlPage* ScanPage(ScanPageKind kind, ICrawler* engine) override;
    long SelectedUnions() override { return selectUnions_.SelectedUnions(); }
    void ReserveFix(bool reserve) override;
    bool FixBusy() override { return fixing_.Busy(); }
    void StartFix(ICrawler* engine, const wchar_t* excluded) override;
    RLog* OpenBackupProgress(HWND owner) override;
    void CloseBackupProgress() override { fixBackupProgress_.reset(); }

    // The scheduler and settings pages, when they are the ones being left,
    // ask to save; the emergency disk page is not left while it builds or
    // burns (closing the window waits for it instead).
    int AskToLeave(HtmlPage* current, const wchar_t* item) override;
    bool ShowItem(PageDisplay& display, const wchar_t* item) override;
    bool NeedsEngine(const wchar_t* item) override;
    // The scheduler page takes over what an older version left.
    void ViewCreated() override { scheduler_.Load(); }

    // "-C-B-S" of the jobs' states, "-false", then "-true" when compaction
    // can be requested (always on Windows 6, else when the logon process's
    // request mapping can be opened) or "-false".
    tstring SchedulerQuery();
    // "-P-C-A-1": whether the user may compact all hives, then the pending
    // requests for the current user and for all.
    static tstring CompactQuery();

private:
    bool ShowBackup(PageDisplay& display);

    ComPtr<ICrawler> engine_;
    SchedulerPage scheduler_;
    UndoPage undo_;
    SettingsPage settings_;
    SelectUnionsPage selectUnions_;
    ScanProgressPage progress_;
    ScanResultsPage results_;
    FixingPage fixing_;
    BackgroundOperPage background_;
    BackupPage backup_;
    CompactPage compact_;
    EmergencyDiskPage emergency_;
    std::unique_ptr<ProgressWindow> fixBackupProgress_;
};
