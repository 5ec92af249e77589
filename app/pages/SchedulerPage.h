#pragma once
#include <windows.h>
#include <memory>
#include <vector>
#include "app/html/HtmlPage.h"
#include "common/com/ComPtr.h"
#include "common/errors/ErrorBase.h"
#include "engine/engine.h"
#include "jobs/JobKind.h"
#include "jobs/JobScheduler.h"
#include "jobs/ScheduledJob.h"

// The page where the user schedules compaction, backup and scan and fix as
// Task Scheduler jobs of their own and sets up the e-mail report. Job
// changes go to the job files at once; a snapshot of them in the data folder
// is what "No" to the save question goes back to. The report settings are
// the engine's; apply writes those the user changed.
class SchedulerPage : public HtmlPage {
public:
    SchedulerPage();
    // Attaches the three jobs and takes over the settings an older version
    // left in the registry (which may make jobs); once, when the main view's
    // window is created, before any visit or scheduled run (the view object
    // also exists for the command-line tidy-ups, which must not make jobs).
    void Load();

    const wchar_t* PageName() const override { return L"regScheduler.htm"; }
    DWORD HelpContextId() const override { return 7; }
    int OnHTMLEvent(IDispatch* document, BSTR eventName, BSTR element, VARIANT* param) override;

    void SetEngine(ICrawler* engine) { engine_ = engine; }
    bool IsModified() const { return modified_; }
    // Stores the flag; "apply" is enabled exactly while it is set.
    void SetModified(bool modified);
    // Before the window closes or another page is shown: No (7) at once when
    // nothing changed, else the user's answer; Cancel (2) keeps the page.
    int AskSaveChanges(HWND parent);
    // Attaches the three jobs afresh before the page is shown again.
    void ReloadTasks();
    // "-C-B-S": 1 for each of the compaction, backup and scan jobs that
    // exists and is enabled.
    tstring JobStatesQuery() const;

    ScheduledJob& Job(JobKind kind) { return *jobs_[kind - 1]; }
    // The snapshot copy of a job's file in the data folder.
    static tstring SnapshotPath(JobKind kind);

private:
    void FillFields();
    void TakeSnapshot();
    void RestoreSnapshot();
    void ListTriggers(JobKind kind, const tstring& element);
    void EditJob(JobKind kind, int scheduleType);
    void EnableJob(JobKind kind, bool enable, const tstring& element);
    void CreateJob(JobKind kind);
    bool EnsureService();
    void Apply(const tstring& what);
    void SendTestMail();
    void TakeOverOldSettings();
    void ShowSchedulingError(JobKind kind, const ErrorBase& error);
    // Page script that may find no page (the page object outlives it).
    void RunPageScript(const tstring& code);

    // The report settings as the engine's properties hold them.
    struct Report {
        tstring mail;
        tstring mailServer;
        bool mailSwitch = false;
        bool scanThreshold = true;
        bool autoFix = false;
        bool autoReboot = false;
    };
    // Writes the values that differ from those shown, and takes each one
    // written as shown: what the user left alone may have been changed by
    // another process since, and must not be put back.
    void PutChanges();

    ComPtr<ICrawler> engine_;
    JobScheduler scheduler_;
    std::unique_ptr<ScheduledJob> jobs_[3];
    TASK_TRIGGER defaults_[3];
    // What the page holds, and what the engine gave when it filled the page.
    Report report_;
    Report shown_;
    bool modified_ = false;
    bool windows6_ = false;
    bool savedEnabled_[3] = {};
};

// The job's name in the page's events and functions: "Compact", "Backup" or "Scan".
const wchar_t* PageJobName(JobKind kind);
// "AddCompactStr('%s',%d); " (or the backup or scan twin) for each trigger
// text, escaped for a script string; no texts give the one call ('',-1).
tstring TriggerListScript(JobKind kind, const std::vector<tstring>& texts);
