#include "jobs/JobScheduler.h"
#include "common/errors/CheckObjects.h"
#include "common/errors/ErrorText.h"
#include "common/log/Log.h"
#include "common/system/FileSystem.h"
#include "common/system/PlatformInfo.h"
#include "common/system/Security.h"

namespace {

class ServiceHandle {
public:
    explicit ServiceHandle(SC_HANDLE handle) : handle_(handle) {}
    ~ServiceHandle() {
        if (handle_)
            CloseServiceHandle(handle_);
    }
    ServiceHandle(const ServiceHandle&) = delete;
    ServiceHandle& operator=(const ServiceHandle&) = delete;
    SC_HANDLE Get() const { return handle_; }

private:
    SC_HANDLE handle_;
};

// The service manager and the "Schedule" service, opened with the rights given.
struct ScheduleService {
    explicit ScheduleService(DWORD rights)
        : manager(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT)),
          service(manager.Get() ? OpenServiceW(manager.Get(), L"Schedule", rights) : nullptr) {
        if (!service.Get())
            throw Win32Error(int32_t(GetLastError()));
    }
    bool IsRunning() const {
        SERVICE_STATUS status = {};
        BoolCheck ck(_T("QueryServiceStatus"));
        ck = QueryServiceStatus(service.Get(), &status);
        return status.dwCurrentState == SERVICE_RUNNING;
    }
    ServiceHandle manager;
    ServiceHandle service;
};

tstring TasksFolderFile(const tstring& name) {
    tstring path;
    ExpandEnvironment(path, _T("%WINDIR%\\Tasks\\"));
    return path + name;
}

// The folder of a path: up to its last '\', else its last '/'.
tstring FolderOf(const tstring& path) {
    size_t slash = path.rfind(_T('\\'));
    if (slash == tstring::npos)
        slash = path.rfind(_T('/'));
    return slash == tstring::npos ? tstring() : path.substr(0, slash);
}

}  // namespace

tstring WorkItemName(const tstring& enumerated) {
    if (enumerated.size() > 4 && CompareNoCase(enumerated.Right(4).c_str(), _T(".job")) == 0)
        return enumerated.Left(int(enumerated.size() - 4));
    return enumerated;
}

namespace {

// The Task Scheduler service reads a job file when it appears or changes;
// meanwhile the file cannot be opened, so a busy file is tried again.
bool IsBusy(HRESULT hr) {
    return hr == HRESULT_FROM_WIN32(ERROR_SHARING_VIOLATION) || hr == HRESULT_FROM_WIN32(ERROR_LOCK_VIOLATION);
}

const int kBusyAttempts = 10;
const DWORD kBusyPause = 100;

HRESULT DeleteWorkItem(ITaskScheduler* scheduler, const tstring& name) {
    HRESULT hr = E_FAIL;
    for (int attempt = 0; attempt < kBusyAttempts; ++attempt) {
        if (attempt)
            Sleep(kBusyPause);
        hr = scheduler->Delete(name.c_str());
        if (!IsBusy(hr))
            break;
    }
    return hr;
}

}  // namespace

HRESULT ActivateWorkItem(ITaskScheduler* scheduler, const tstring& name, ComPtr<ITask>& task) {
    HRESULT hr = E_FAIL;
    for (int attempt = 0; attempt < kBusyAttempts; ++attempt) {
        if (attempt)
            Sleep(kBusyPause);
        hr = scheduler->Activate(name.c_str(), IID_ITask, reinterpret_cast<IUnknown**>(task.Receive()));
        tstring bare = WorkItemName(name);
        if (FAILED(hr) && bare != name)
            hr = scheduler->Activate(bare.c_str(), IID_ITask, reinterpret_cast<IUnknown**>(task.Receive()));
        if (!IsBusy(hr))
            break;
    }
    return hr;
}

bool CopyJobFile(const tstring& from, const tstring& to) {
    for (int attempt = 0;; ++attempt) {
        if (attempt)
            Sleep(kBusyPause);
        if (CopyFileW(from.c_str(), to.c_str(), FALSE))
            return true;
        DWORD error = GetLastError();
        if (attempt + 1 >= kBusyAttempts || !IsBusy(HRESULT_FROM_WIN32(error))) {
            SetLastError(error);
            return false;
        }
    }
}

bool TaskHoldsKey(ITask* task, const tstring& key) {
    WORD count = 0;
    BYTE* data = nullptr;
    if (FAILED(task->GetWorkItemData(&count, &data)))
        return false;
    bool holds = WorkItemDataHoldsKey(data, count, key);
    if (data)
        CoTaskMemFree(data);
    return holds;
}

bool JobScheduler::IsServiceDisabled() {
    ScheduleService schedule(SERVICE_QUERY_CONFIG | SERVICE_QUERY_STATUS);
    DWORD needed = 0;
    QueryServiceConfigW(schedule.service.Get(), nullptr, 0, &needed);
    std::vector<BYTE> buffer(needed ? needed : sizeof(QUERY_SERVICE_CONFIGW));
    auto* config = reinterpret_cast<QUERY_SERVICE_CONFIGW*>(buffer.data());
    BoolCheck ck(_T("QueryServiceConfig"));
    ck = QueryServiceConfigW(schedule.service.Get(), config, DWORD(buffer.size()), &needed);
    return config->dwStartType == SERVICE_DISABLED;
}

bool JobScheduler::CreateServiceObject() {
    if (scheduler_)
        return true;
    HRCheck ck(_T("Task Scheduler"));
    ck = CoCreateInstance(CLSID_CTaskScheduler, nullptr, CLSCTX_ALL, IID_ITaskScheduler, scheduler_.ReceiveVoid());
    return true;
}

bool JobScheduler::AttachService() {
    ScheduleService schedule(SERVICE_QUERY_CONFIG | SERVICE_QUERY_STATUS);
    if (!schedule.IsRunning())
        return false;
    return CreateServiceObject();
}

bool JobScheduler::StartService() {
    try {
        ScheduleService schedule(SERVICE_QUERY_STATUS | SERVICE_START);
        if (!schedule.IsRunning()) {
            BoolCheck ck(_T("StartService"));
            ck = ::StartServiceW(schedule.service.Get(), 0, nullptr);
        }
        return CreateServiceObject();
    } catch (const ErrorBase&) {
        return false;
    }
}

bool JobScheduler::CreateJob(ScheduledJob& job) {
    if (!scheduler_ && !AttachService())
        throw HRError(HRESULT_FROM_WIN32(ERROR_SERVICE_NOT_ACTIVE));
    ComPtr<ITask> existing;
    if (SUCCEEDED(ActivateWorkItem(scheduler_.Get(), job.Name(), existing)))
        return false;
    ComPtr<IUnknown> item;
    HRCheck ck(_T("NewWorkItem"));
    ck = scheduler_->NewWorkItem(job.Name().c_str(), CLSID_CTask, IID_ITask, item.Receive());
    job.InitNewJob(item.Get(), IsNtPlatform());
    return true;
}

void JobScheduler::ForEachWorkItem(const std::function<bool(const tstring&, ITask*)>& visit) {
    ComPtr<IEnumWorkItems> items;
    HRCheck ck(_T("Enumerate scheduled tasks"));
    ck = scheduler_->Enum(items.Receive());
    for (;;) {
        LPWSTR* names = nullptr;
        ULONG fetched = 0;
        if (items->Next(1, &names, &fetched) != S_OK || !fetched)
            break;
        tstring name = names[0];
        CoTaskMemFree(names[0]);
        CoTaskMemFree(names);
        ComPtr<ITask> task;
        HRESULT hr = ActivateWorkItem(scheduler_.Get(), name, task);
        if (FAILED(hr)) {
            Log::Instance().Print(LogInfo, _T("[info] Scheduled task <%s> skipped: %s"), name.c_str(),
                                  ModuleErrorText(hr).c_str());
            continue;
        }
        if (visit(WorkItemName(name), task.Get()))
            break;
    }
}

bool JobScheduler::OpenJob(ScheduledJob& job) {
    if (!AttachService() || !scheduler_)
        return false;
    bool found = false;
    ForEachWorkItem([&](const tstring& name, ITask* task) {
        if (!TaskHoldsKey(task, job.Key()))
            return false;
        job.SetName(name);
        job.LoadJob(task);
        found = true;
        return true;
    });
    return found;
}

void JobScheduler::Delete(const tstring& name) {
    if (!scheduler_ && !AttachService())
        throw HRError(HRESULT_FROM_WIN32(ERROR_SERVICE_NOT_ACTIVE));
    HRCheck ck(_T("Delete scheduled task"));
    ck = DeleteWorkItem(scheduler_.Get(), name);
}

JobScheduler::NameHolder JobScheduler::HolderOf(const tstring& name, const tstring& key) {
    ComPtr<ITask> task;
    if (scheduler_ && SUCCEEDED(ActivateWorkItem(scheduler_.Get(), name, task)))
        return TaskHoldsKey(task.Get(), key) ? HeldByKey : HeldByOther;
    return FileExists(TasksFolderFile(name + _T(".job"))) ? HeldByOther : NameFree;
}

JobScheduler::CreateResult JobScheduler::CreateUserJob(ScheduledJob& job, JobKind kind) {
    tstring program = GetModulePath();
    job.SetApplicationName(program);
    job.SetParameters(TaskName(kind));
    job.SetStartTime(CurrentUnixTime());
    tstring samName = GetCurrentUserName(true);
    job.SetAccount(samName, tstring());
    job.SetComment(tstring(MAKEINTRESOURCE(KindCommentId(kind))));
    job.SetWorkingDirectory(FolderOf(program));

    tstring names[2] = {JobNameForUser(GetCurrentUserName(false), kind), JobNameForUser(samName, kind)};
    for (const tstring& name : names) {
        job.SetName(name);
        if (CreateJob(job))
            return Created;
        switch (HolderOf(name, job.Key())) {
        case HeldByKey:
            Delete(name);
            return CreateJob(job) ? Created : CreateFailed;
        case NameFree:
            return CreateFailed;
        case HeldByOther:
            Log::Instance().Print(LogInfo, _T("[info] Scheduled task name <%s> belongs to another job."), name.c_str());
            break;
        }
    }
    return NameTaken;
}

std::vector<tstring> JobScheduler::DeleteJobsWithKeys(const std::vector<tstring>& keys) {
    if (!AttachService() || !scheduler_)
        throw HRError(HRESULT_FROM_WIN32(ERROR_SERVICE_NOT_ACTIVE));
    std::vector<tstring> names;
    ForEachWorkItem([&](const tstring& name, ITask* task) {
        for (const tstring& key : keys) {
            if (TaskHoldsKey(task, key)) {
                names.push_back(name);
                break;
            }
        }
        return false;
    });
    std::vector<tstring> deleted;
    for (const tstring& name : names) {
        HRESULT hr = DeleteWorkItem(scheduler_.Get(), name);
        if (SUCCEEDED(hr))
            deleted.push_back(name);
        else
            Log::Instance().Print(LogError, _T("[error] Scheduled task <%s> not deleted: %s"), name.c_str(),
                                  ModuleErrorText(hr).c_str());
    }
    return deleted;
}
