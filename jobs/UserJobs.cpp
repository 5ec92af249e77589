#include "jobs/UserJobs.h"
#include "common/errors/ErrorBase.h"
#include "common/log/Log.h"
#include "common/system/Security.h"
#include "jobs/JobScheduler.h"

std::vector<tstring> UserJobKeys(HANDLE token) {
    tstring sid = CurrentUserSid(token);
    std::vector<tstring> keys;
    for (JobKind kind : kAllJobKinds)
        keys.push_back(JobKey(sid, kind));
    return keys;
}

int DeleteUserJobs() {
    try {
        JobScheduler scheduler;
        if (!scheduler.AttachService() && !scheduler.StartService()) {
            Log::Instance().Print(LogError, _T("[error] Scheduled tasks not deleted: the Task Scheduler does not run."));
            return 0;
        }
        std::vector<tstring> deleted = scheduler.DeleteJobsWithKeys(UserJobKeys());
        for (const tstring& name : deleted)
            Log::Instance().Print(LogInfo, _T("[info] Scheduled task <%s> deleted."), name.c_str());
        return int(deleted.size());
    } catch (const ErrorBase& e) {
        Log::Instance().Print(LogError, _T("[error] Scheduled tasks not deleted: %s"), e.Message().c_str());
        return 0;
    }
}

std::vector<int> CheckMissedJobs(int operation, const JobStateCheck::Question& ask) {
    try {
        JobStateCheck check(nullptr, JobStateCheck::Options());
        return check.AskFailedJobs(operation, ask);
    } catch (const ErrorBase& e) {
        Log::Instance().Print(LogError, _T("[error] Missed scheduled tasks not checked: %s"), e.Message().c_str());
        return std::vector<int>();
    }
}
