#pragma once
#include <windows.h>
#include <mstask.h>
#include <functional>
#include <vector>
#include "common/com/ComPtr.h"
#include "common/tstring/tstring.h"
#include "jobs/JobKind.h"
#include "jobs/ScheduledJob.h"

// The connection to the Task Scheduler 1.0 service object. The Tasks folder
// belongs to every account and program on the machine: a job is this user's
// only when its work-item data holds this user's key, and nothing else is
// ever changed or deleted.
class JobScheduler {
public:
    JobScheduler() = default;
    JobScheduler(const JobScheduler&) = delete;
    JobScheduler& operator=(const JobScheduler&) = delete;

    // Whether the "Schedule" service's start type is disabled. Throws
    // Win32Error when the service cannot be opened.
    bool IsServiceDisabled();
    // Takes the service object when the service runs.
    bool AttachService();
    // Starts the service (without waiting for it) and takes the service object.
    bool StartService();

    // A new work item under the job's name, filled from the job, which it
    // attaches; false, with nothing changed, when the name is taken.
    bool CreateJob(ScheduledJob& job);
    // Attaches the job to the work item that holds its key; false when there
    // is none or the service does not run. Items that cannot be read belong
    // to someone else or are being written: they are left alone.
    bool OpenJob(ScheduledJob& job);
    // ITaskScheduler::Delete; throws HRError.
    void Delete(const tstring& name);

    enum NameHolder { NameFree, HeldByKey, HeldByOther };
    // Who holds the work item of that name: nobody, a job with the key, or
    // anything else (another user's job, another program's, an unreadable one).
    NameHolder HolderOf(const tstring& name, const tstring& key);

    enum CreateResult { Created, NameTaken, CreateFailed };
    // Fills the job as this user's job of the kind (program path, switch,
    // start time now, SAM-compatible account, comment, program folder) and
    // creates it under the user's name plus kind text. A name held by an old
    // job of this key is freed first; a name held by anything else is never
    // touched: the SAM-compatible name is tried next, and NameTaken comes back
    // when that is held too.
    CreateResult CreateUserJob(ScheduledJob& job, JobKind kind);

    // Deletes every work item whose data holds one of the keys, under
    // whatever name; the names deleted. A deletion that keeps failing is
    // logged and the others go on. Throws HRError when the service cannot be
    // reached.
    std::vector<tstring> DeleteJobsWithKeys(const std::vector<tstring>& keys);

    ITaskScheduler* Service() const { return scheduler_.Get(); }

private:
    bool CreateServiceObject();
    // Calls visit with each work item's name (without ".job") and task until
    // it returns true; items that cannot be activated are logged and skipped.
    void ForEachWorkItem(const std::function<bool(const tstring& name, ITask* task)>& visit);

    ComPtr<ITaskScheduler> scheduler_;
};

// The work item's name without the ".job" the enumeration adds.
tstring WorkItemName(const tstring& enumerated);
// Activates a work item by name; the name as enumerated is tried without its
// ".job" too, since not every Task Scheduler takes it with one.
HRESULT ActivateWorkItem(ITaskScheduler* scheduler, const tstring& name, ComPtr<ITask>& task);
// Copies a job file (or a copy of one back over it), tried again while the
// service holds the file. False, with the last error set, when it failed.
bool CopyJobFile(const tstring& from, const tstring& to);
// Whether the task's work-item data holds the key.
bool TaskHoldsKey(ITask* task, const tstring& key);
