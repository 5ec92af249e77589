#pragma once
#include "app/PageNavigator.h"
#include "app/pages/SchedulerPage.h"
#include "common/tstring/tstring.h"

// The maintenance tools' pages as the main view's side bar reaches them.
class MaintenancePages : public PageNavigator {
public:
    SchedulerPage& Scheduler() { return scheduler_; }

    // The scheduler page, when it is the one being left, asks to save.
    int AskToLeave(HtmlPage* current, const wchar_t* item) override;
    bool ShowItem(HtmlView& view, const wchar_t* item) override;

    // "-C-B-S" of the jobs' states, "-false", then "-true" when compaction
    // can be requested (always on Windows 6, else when the logon process's
    // request mapping can be opened) or "-false".
    tstring SchedulerQuery();

private:
    SchedulerPage scheduler_;
    bool schedulerLoaded_ = false;
};
