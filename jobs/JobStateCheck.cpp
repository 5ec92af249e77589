#include "jobs/JobStateCheck.h"
#include "common/archive/Archive.h"
#include "common/errors/ErrorBase.h"
#include "common/settings/AppFolders.h"
#include "common/system/OsVersion.h"
#include "common/system/Security.h"
#include "jobs/JobScheduler.h"
#include "jobs/SchedulerStrings.h"

namespace {

const int32_t kFileNotFound = int32_t(0x80070002);

bool Later(const FILETIME& a, const FILETIME& b) {
    return CompareFileTime(&a, &b) > 0;
}

}  // namespace

JobStateCheck::JobStateCheck(HANDLE token, const Options& options) : options_(options), sid_(CurrentUserSid(token)) {
    if (options_.dataFolder.empty())
        options_.dataFolder = GetAppFolder(true);
    for (JobKind kind : kAllJobKinds)
        ReadCurrent(kind);
    for (JobKind kind : kAllJobKinds)
        ReadSaved(kind);
}

tstring JobStateCheck::StateFilePath(JobKind kind) const {
    return options_.dataFolder + _T("\\") + StateFileName(kind);
}

void JobStateCheck::ReadCurrent(JobKind kind) {
    ScheduledJob job(JobKey(sid_, kind));
    JobScheduler scheduler;
    try {
        if (!scheduler.OpenJob(job))
            return;
        current_[kind - 1].nextRun = job.NextRunTime();
        current_[kind - 1].present = true;
        tstring program = GetModulePath();
        if (options_.updateApplicationName && job.ApplicationName() != program)
            job.SetApplicationName(program);
    } catch (const Win32Error&) {
    }
}

void JobStateCheck::ReadSaved(JobKind kind) {
    try {
        Archive file(StateFilePath(kind), Archive::ModeRead);
        file.ReadFileTime(saved_[kind - 1].nextRun);
        saved_[kind - 1].present = true;
    } catch (const Win32Error& e) {
        if (e.Code() != kFileNotFound)
            throw;
    }
}

void JobStateCheck::WriteStateFile(JobKind kind) {
    const JobState& state = Current(kind);
    if (!state.present) {
        DeleteFile(StateFilePath(kind).c_str());
        return;
    }
    try {
        Archive file(StateFilePath(kind), Archive::ModeCreate);
        file.WriteFileTime(state.nextRun);
        file.Close();
    } catch (const Win32Error&) {
    }
}

void JobStateCheck::WriteStateFiles() {
    for (JobKind kind : kAllJobKinds)
        WriteStateFile(kind);
}

bool JobStateCheck::IsMissed(JobKind kind, const FILETIME& localNow) const {
    return Saved(kind).present && Current(kind).present && Later(localNow, Saved(kind).nextRun);
}

std::vector<int> JobStateCheck::AskFailedJobs(int operation, const Question& ask) {
    std::vector<int> accepted;
    if (IsWindowsMajor6())
        return accepted;
    if (operation == 0) {
        SYSTEMTIME local;
        GetLocalTime(&local);
        FILETIME now;
        SystemTimeToFileTime(&local, &now);
        const struct {
            JobKind kind;
            UINT question;
        } order[] = {{ScanFixJob, IDS_SCAN_MISSED}, {CompactJob, IDS_COMPACT_MISSED}, {BackupJob, IDS_BACKUP_MISSED}};
        for (const auto& job : order) {
            if (IsMissed(job.kind, now) && ask(job.kind, job.question))
                accepted.push_back(job.kind);
        }
        WriteStateFiles();
    } else if (operation >= BackupJob && operation <= ScanFixJob) {
        WriteStateFile(JobKind(operation));
    }
    return accepted;
}
