#pragma once
#include <windows.h>
#include <mstask.h>
#include <taskschd.h>
#include <cstdint>
#include "common/com/ComPtr.h"
#include "common/tstring/tstring.h"

class JobScheduler;

// One job of the Task Scheduler: its 1.0 work item (a ".job" file in the Tasks
// folder) and, on Windows 6, the same job as a 2.0 registered task, which then
// decides whether the job is enabled. A job starts detached; JobScheduler
// attaches it to an existing work item or to one it creates. Setters on a
// detached job only store their field.
class ScheduledJob {
public:
    explicit ScheduledJob(const tstring& key);
    ScheduledJob(const ScheduledJob&) = delete;
    ScheduledJob& operator=(const ScheduledJob&) = delete;

    const tstring& Key() const { return key_; }
    const tstring& Name() const { return name_; }
    void SetName(const tstring& name) { name_ = name; }
    const tstring& ApplicationName() const { return applicationName_; }
    const tstring& Parameters() const { return parameters_; }
    const tstring& WorkingDirectory() const { return workingDirectory_; }
    const tstring& Account() const { return account_; }
    const tstring& Comment() const { return comment_; }
    const tstring& Creator() const { return creator_; }
    // Seconds since 1970 (UTC): the begin date of every trigger the program makes.
    int64_t StartTime() const { return startTime_; }
    void SetStartTime(int64_t seconds) { startTime_ = seconds; }

    // Each stores its field and, when attached to a task, passes it on and
    // saves the job. A failed call throws HRError.
    void SetApplicationName(const tstring& text);
    void SetParameters(const tstring& text);
    void SetWorkingDirectory(const tstring& text);
    void SetAccount(const tstring& account, const tstring& password);
    void SetComment(const tstring& text);

    // The trigger a new job or AddDefaultTrigger starts from; only a record
    // whose size field is 48 counts.
    void SetDefaultTrigger(const TASK_TRIGGER& trigger) { defaultTrigger_ = trigger; }
    bool HasDefaultTrigger() const { return defaultTrigger_.cbTriggerSize == sizeof(TASK_TRIGGER); }

    // The task, and on Windows 6 also the registered task.
    bool IsAttached() const;
    bool HasTask() const { return bool(task_); }
    // The job's file; empty without a task.
    tstring JobFilePath() const;
    bool JobFileExists() const;

    void SetEnabled(bool enable);
    bool IsEnabled() const;
    WORD TriggerCount() const;
    // The text of one trigger; -1 joins the texts of all with "\n".
    tstring TriggerStrings(int index) const;
    // Local time as the Task Scheduler announces it. Throws HRError when the
    // scheduler fails and Win32Error when the time cannot be converted (a
    // job without further runs gives a zero time).
    FILETIME NextRunTime() const;
    // Adds the default trigger (a one-time trigger at the current time
    // without one), begin date today; the new index, or -1 when the job is
    // not attached or its file does not exist.
    int AddDefaultTrigger();
    // The Task Scheduler's schedule and settings pages in a modal sheet whose
    // schedule page first shows the schedule type of that index; 0 and
    // nothing shown for a detached job.
    INT_PTR Edit(const tstring& caption, HWND parent, int scheduleTypeIndex);
    void Release();

    ITask* Task() const { return task_.Get(); }
    IRegisteredTask* RegisteredTask() const { return registeredTask_.Get(); }

private:
    friend class JobScheduler;

    void InitNewJob(IUnknown* workItem, bool ntPlatform);
    void LoadJob(IUnknown* workItem);
    void AttachV2();
    void Save(bool remember);
    // The trigger record for a new trigger from the default trigger and the
    // given moment; begin date and, for the one-time form, start time local.
    TASK_TRIGGER MakeTrigger(int64_t seconds) const;

    int64_t startTime_ = 0;
    tstring key_;
    tstring name_;
    tstring applicationName_;
    tstring parameters_;
    tstring workingDirectory_;
    tstring account_;
    tstring password_;
    tstring comment_;
    tstring creator_;
    TASK_TRIGGER defaultTrigger_ = {};
    ComPtr<ITask> task_;
    ComPtr<IRegisteredTask> registeredTask_;
    bool windows6_ = false;
};

// Seconds since 1970 (UTC) now.
int64_t CurrentUnixTime();
