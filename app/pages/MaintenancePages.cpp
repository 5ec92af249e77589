#include "app/pages/MaintenancePages.h"
#include <cwchar>
#include "app/AppUtilities.h"
#include "app/HtmlView.h"
#include "app/tools/backup/CompactFlags.h"
#include "common/errors/ErrorBase.h"
#include "common/system/OsVersion.h"

int MaintenancePages::AskToLeave(HtmlPage* current, const wchar_t* item) {
    if (current == &scheduler_ && (!item || wcscmp(item, L"Scheduler") != 0))
        return scheduler_.AskSaveChanges(GetMainWindow());
    // Switching between the settings and the ignore list leaves the page too.
    if (current == &settings_ && (!item || wcscmp(item, settings_.IgnoreMode() ? L"Ignores" : L"Configuration") != 0))
        return settings_.AskSaveChanges(GetMainWindow());
    return IDOK;
}

void MaintenancePages::SetEngine(ICrawler* engine) {
    settings_.SetEngine(engine);
    undo_.SetEngine(engine);
    results_.SetEngine(engine);
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
    }
    return nullptr;
}

void MaintenancePages::StartFix(ICrawler* engine, const wchar_t* excluded) {
    fixing_.StartFix(engine, excluded ? excluded : L"");
}

bool MaintenancePages::ShowItem(HtmlView& view, const wchar_t* item) {
    if (wcscmp(item, L"Undo") == 0) {
        view.ShowPage(&undo_, L"");
        return true;
    }
    if (wcscmp(item, L"Ignores") == 0 || wcscmp(item, L"Configuration") == 0) {
        bool ignoreList = wcscmp(item, L"Ignores") == 0;
        settings_.SetIgnoreMode(ignoreList);
        view.ShowPage(&settings_, ignoreList ? L"ignore" : L"settings");
        return true;
    }
    if (wcscmp(item, L"Scheduler") != 0)
        return false;
    if (!schedulerLoaded_) {
        scheduler_.Load();
        schedulerLoaded_ = true;
    }
    scheduler_.ReloadTasks();
    view.ShowPage(&scheduler_, SchedulerQuery().c_str());
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
