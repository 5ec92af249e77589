#include <doctest/doctest.h>
#include "SchedulerTestSupport.h"
#include "common/system/OsVersion.h"
#include "jobs/JobScheduler.h"

namespace {

// The root folder of Task Scheduler 2.0, or null.
ComPtr<ITaskFolder> RootFolderV2() {
    ComPtr<ITaskService> service;
    ComPtr<ITaskFolder> root;
    VARIANT none;
    VariantInit(&none);
    if (FAILED(CoCreateInstance(CLSID_TaskScheduler, nullptr, CLSCTX_INPROC_SERVER, IID_ITaskService,
                                service.ReceiveVoid())) ||
        FAILED(service->Connect(none, none, none, none)))
        return root;
    BSTR path = SysAllocString(L"\\");
    service->GetFolder(path, root.Receive());
    SysFreeString(path);
    return root;
}

// A Task Scheduler 2.0 task under the name, as Windows 6 shows every 1.0 job.
bool PlantTaskV2(const tstring& name, bool enabled) {
    ComPtr<ITaskFolder> root = RootFolderV2();
    VARIANT none;
    VariantInit(&none);
    tstring xml = FormatText(
        L"<?xml version=\"1.0\"?><Task xmlns=\"http://schemas.microsoft.com/windows/2004/02/mit/task\">"
        L"<Settings><Enabled>%s</Enabled></Settings><Actions><Exec><Command>C:\\x.exe</Command></Exec></Actions>"
        L"</Task>",
        enabled ? L"true" : L"false");
    BSTR taskName = SysAllocString(name.c_str());
    BSTR text = SysAllocString(xml.c_str());
    ComPtr<IRegisteredTask> task;
    HRESULT hr = root ? root->RegisterTask(taskName, text, TASK_CREATE_OR_UPDATE, none, none, TASK_LOGON_NONE, none,
                                           task.Receive())
                      : E_FAIL;
    SysFreeString(taskName);
    SysFreeString(text);
    return SUCCEEDED(hr);
}

void RemoveTaskV2(const tstring& name) {
    ComPtr<ITaskFolder> root = RootFolderV2();
    BSTR taskName = SysAllocString(name.c_str());
    if (root)
        root->DeleteTask(taskName, 0);
    SysFreeString(taskName);
}

}  // namespace

TEST_CASE("on Windows 6 the 2.0 task decides whether a job is attached and enabled") {
    ComApartment com;
    REQUIRE(IsWindowsMajor6());
    REQUIRE(EnsureScheduleServiceRuns());
    tstring user = GetCurrentUserName(false);
    const tstring compactName = JobNameForUser(user, CompactJob);
    REQUIRE(PlantTaskV2(compactName, false));
    const tstring otherName = JobNameForUser(user, ScanFixJob);
    REQUIRE(PlantJob(otherName, KeyWorkItemData(JobKey(L"S-1-5-21-1111-2222-3333-1001", ScanFixJob)), L"C:\\x.exe"));
    std::string otherBytes = ReadAll(TasksFile(otherName));
    JobScheduler scheduler;

    ScheduledJob compact(OwnKey(CompactJob));
    compact.SetDefaultTrigger(DefaultTrigger(CompactJob));
    REQUIRE(scheduler.CreateUserJob(compact, CompactJob) == JobScheduler::Created);
    CHECK(compact.IsAttached());
    CHECK_FALSE(compact.IsEnabled());
    CHECK(compact.TriggerCount() == 1);

    // Without its 2.0 task a job is not attached and shows no triggers, though
    // its file is there; making it again replaces only this user's job.
    ScheduledJob backup(OwnKey(BackupJob));
    REQUIRE(scheduler.CreateUserJob(backup, BackupJob) == JobScheduler::Created);
    CHECK(backup.JobFileExists());
    CHECK_FALSE(backup.IsAttached());
    CHECK(backup.TriggerCount() == 0);
    backup.Release();
    REQUIRE(scheduler.CreateUserJob(backup, BackupJob) == JobScheduler::Created);
    CHECK(backup.Name() == JobNameForUser(user, BackupJob));

    ScheduledJob scan(OwnKey(ScanFixJob));
    CHECK(scheduler.CreateUserJob(scan, ScanFixJob) == JobScheduler::Created);
    CHECK(scan.Name() == JobNameForUser(GetCurrentUserName(true), ScanFixJob));
    CHECK(ReadAll(TasksFile(otherName)) == otherBytes);

    compact.Release();
    backup.Release();
    scan.Release();
    CHECK(RemoveOwnJobs() == "");
    RemoveTaskV2(compactName);
    RemoveJob(otherName);
}
