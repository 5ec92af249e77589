#include "jobs/ScheduledJob.h"
#include <shlwapi.h>
#include <vector>
#include "common/errors/CheckObjects.h"
#include "common/system/OsVersion.h"
#include "jobs/JobKind.h"
#include "jobs/ScheduleSheet.h"

namespace {

const ULONGLONG kUnixEpochAsFileTime = 116444736000000000ULL;

// The local calendar time of a moment; false when it cannot be converted.
bool LocalTimeOf(int64_t seconds, SYSTEMTIME& local) {
    ULARGE_INTEGER value;
    value.QuadPart = ULONGLONG(seconds) * 10000000ULL + kUnixEpochAsFileTime;
    FILETIME utc = {value.LowPart, value.HighPart};
    SYSTEMTIME utcTime;
    return FileTimeToSystemTime(&utc, &utcTime) && SystemTimeToTzSpecificLocalTime(nullptr, &utcTime, &local);
}

// Task Scheduler strings are the caller's to free.
tstring TakeTaskString(LPWSTR text) {
    tstring result = text ? text : L"";
    if (text)
        CoTaskMemFree(text);
    return result;
}

}  // namespace

int64_t CurrentUnixTime() {
    FILETIME now;
    GetSystemTimeAsFileTime(&now);
    ULARGE_INTEGER value = {{now.dwLowDateTime, now.dwHighDateTime}};
    return int64_t((value.QuadPart - kUnixEpochAsFileTime) / 10000000ULL);
}

ScheduledJob::ScheduledJob(const tstring& key) : key_(key), windows6_(IsWindowsMajor6()) {}

bool ScheduledJob::IsAttached() const {
    return task_ && (!windows6_ || registeredTask_);
}

tstring ScheduledJob::JobFilePath() const {
    if (!task_)
        return tstring();
    ComPtr<IPersistFile> file;
    if (FAILED(task_.QueryInto(IID_IPersistFile, file)))
        return tstring();
    LPOLESTR path = nullptr;
    if (FAILED(file->GetCurFile(&path)))
        return tstring();
    return TakeTaskString(path);
}

bool ScheduledJob::JobFileExists() const {
    tstring path = JobFilePath();
    return !path.empty() && PathFileExists(path.c_str());
}

void ScheduledJob::Save(bool remember) {
    ComPtr<IPersistFile> file;
    HRCheck ck(_T("Save scheduled task"));
    ck = task_.QueryInto(IID_IPersistFile, file);
    ck = file->Save(nullptr, remember ? TRUE : FALSE);
}

void ScheduledJob::SetApplicationName(const tstring& text) {
    applicationName_ = text;
    if (!task_)
        return;
    HRCheck ck(_T("SetApplicationName"));
    ck = task_->SetApplicationName(text.c_str());
    Save(true);
}

void ScheduledJob::SetParameters(const tstring& text) {
    parameters_ = text;
    if (!task_)
        return;
    HRCheck ck(_T("SetParameters"));
    ck = task_->SetParameters(text.c_str());
    Save(true);
}

void ScheduledJob::SetWorkingDirectory(const tstring& text) {
    workingDirectory_ = text;
    if (!task_)
        return;
    HRCheck ck(_T("SetWorkingDirectory"));
    ck = task_->SetWorkingDirectory(text.c_str());
    Save(true);
}

void ScheduledJob::SetAccount(const tstring& account, const tstring& password) {
    account_ = account;
    password_ = password;
    if (!task_)
        return;
    HRCheck ck(_T("SetAccountInformation"));
    ck = task_->SetAccountInformation(account.c_str(), password.empty() ? nullptr : password.c_str());
    Save(true);
}

void ScheduledJob::SetComment(const tstring& text) {
    comment_ = text;
    if (!task_)
        return;
    HRCheck ck(_T("SetComment"));
    ck = task_->SetComment(text.c_str());
    Save(true);
}

void ScheduledJob::SetEnabled(bool enable) {
    if (windows6_ && registeredTask_) {
        HRCheck ck(_T("Enable scheduled task"));
        ck = registeredTask_->put_Enabled(enable ? VARIANT_TRUE : VARIANT_FALSE);
    }
    if (!task_)
        return;
    HRCheck ck(_T("Scheduled task flags"));
    DWORD flags = 0;
    ck = task_->GetFlags(&flags);
    if (enable)
        flags &= ~DWORD(TASK_FLAG_DISABLED);
    else
        flags |= TASK_FLAG_DISABLED;
    flags |= TASK_FLAG_RUN_ONLY_IF_LOGGED_ON;
    ck = task_->SetFlags(flags);
    Save(true);
}

bool ScheduledJob::IsEnabled() const {
    if (windows6_) {
        VARIANT_BOOL enabled = VARIANT_FALSE;
        return registeredTask_ && SUCCEEDED(registeredTask_->get_Enabled(&enabled)) && enabled != VARIANT_FALSE;
    }
    DWORD flags = 0;
    return task_ && SUCCEEDED(task_->GetFlags(&flags)) && !(flags & TASK_FLAG_DISABLED);
}

WORD ScheduledJob::TriggerCount() const {
    if (!task_ || (windows6_ && !registeredTask_))
        return 0;
    WORD count = 0;
    HRCheck ck(_T("GetTriggerCount"));
    ck = task_->GetTriggerCount(&count);
    return count;
}

tstring ScheduledJob::TriggerStrings(int index) const {
    HRCheck ck(_T("GetTriggerString"));
    if (index >= 0) {
        LPWSTR text = nullptr;
        ck = task_->GetTriggerString(WORD(index), &text);
        return TakeTaskString(text);
    }
    tstring all;
    WORD count = TriggerCount();
    for (WORD i = 0; i < count; ++i) {
        if (i)
            all += _T("\n");
        all += TriggerStrings(i);
    }
    return all;
}

FILETIME ScheduledJob::NextRunTime() const {
    SYSTEMTIME next = {};
    HRCheck ck(_T("GetNextRunTime"));
    if (task_)
        ck = task_->GetNextRunTime(&next);
    FILETIME result;
    if (!SystemTimeToFileTime(&next, &result))
        throw Win32Error(int32_t(GetLastError() ? GetLastError() : ERROR_INVALID_PARAMETER));
    return result;
}

TASK_TRIGGER ScheduledJob::MakeTrigger(int64_t seconds) const {
    SYSTEMTIME local = {};
    bool known = LocalTimeOf(seconds, local);
    TASK_TRIGGER trigger;
    if (HasDefaultTrigger()) {
        trigger = defaultTrigger_;
    } else {
        trigger = {};
        trigger.cbTriggerSize = sizeof(TASK_TRIGGER);
        trigger.TriggerType = TASK_TIME_TRIGGER_ONCE;
        trigger.wStartHour = known ? local.wHour : 0xFFFF;
        trigger.wStartMinute = known ? local.wMinute : 0xFFFF;
    }
    trigger.wBeginYear = known ? local.wYear : 0;
    trigger.wBeginMonth = known ? local.wMonth : 0;
    trigger.wBeginDay = known ? local.wDay : 0;
    return trigger;
}

int ScheduledJob::AddDefaultTrigger() {
    if (!IsAttached() || !JobFileExists())
        return -1;
    HRCheck ck(_T("CreateTrigger"));
    WORD index = 0;
    ComPtr<ITaskTrigger> trigger;
    ck = task_->CreateTrigger(&index, trigger.Receive());
    TASK_TRIGGER record = MakeTrigger(CurrentUnixTime());
    ck = trigger->SetTrigger(&record);
    Save(true);
    return index;
}

INT_PTR ScheduledJob::Edit(const tstring& caption, HWND parent, int scheduleTypeIndex) {
    // A job that does not exist has no pages to show.
    if (!IsAttached())
        return 0;
    HRCheck ck(_T("Task pages"));
    ComPtr<IProvideTaskPage> provider;
    ck = task_.QueryInto(IID_IProvideTaskPage, provider);
    HPROPSHEETPAGE pages[2] = {};
    ck = provider->GetPage(TASKPAGE_SCHEDULE, TRUE, &pages[0]);
    ck = provider->GetPage(TASKPAGE_SETTINGS, TRUE, &pages[1]);
    INT_PTR result = ShowScheduleSheet(pages, 2, caption, parent, scheduleTypeIndex);
    if (windows6_)
        Save(true);
    return result;
}

void ScheduledJob::Release() {
    task_.Release();
    registeredTask_.Release();
}

void ScheduledJob::InitNewJob(IUnknown* workItem, bool ntPlatform) {
    ComPtr<ITask> task;
    HRCheck ck(_T("Create scheduled task"));
    ck = workItem->QueryInterface(IID_ITask, task.ReceiveVoid());
    std::string data = KeyWorkItemData(key_);
    HRCheck(_T("SetWorkItemData")) = task->SetWorkItemData(WORD(data.size()), reinterpret_cast<BYTE*>(&data[0]));
    HRCheck(_T("SetApplicationName")) = task->SetApplicationName(applicationName_.c_str());
    if (!parameters_.empty())
        ck = task->SetParameters(parameters_.c_str());
    if (!workingDirectory_.empty())
        ck = task->SetWorkingDirectory(workingDirectory_.c_str());
    if (ntPlatform)
        HRCheck(_T("SetAccountInformation")) =
            task->SetAccountInformation(account_.c_str(), password_.empty() ? nullptr : password_.c_str());
    if (!comment_.empty())
        ck = task->SetComment(comment_.c_str());
    DWORD flags = TASK_FLAG_RUN_ONLY_IF_LOGGED_ON | TASK_FLAG_DONT_START_IF_ON_BATTERIES |
                  TASK_FLAG_KILL_IF_GOING_ON_BATTERIES | (ntPlatform ? TASK_FLAG_INTERACTIVE : 0);
    HRCheck(_T("SetFlags")) = task->SetFlags(flags);

    WORD index = 0;
    ComPtr<ITaskTrigger> trigger;
    HRCheck(_T("CreateTrigger")) = task->CreateTrigger(&index, trigger.Receive());
    TASK_TRIGGER record = MakeTrigger(startTime_);
    HRCheck(_T("SetTrigger")) = trigger->SetTrigger(&record);

    task_ = task;
    Save(false);
    AttachV2();
}

void ScheduledJob::LoadJob(IUnknown* workItem) {
    HRCheck ck(_T("Open scheduled task"));
    ComPtr<ITask> task;
    ck = workItem->QueryInterface(IID_ITask, task.ReceiveVoid());
    task_ = task;
    LPWSTR text = nullptr;
    if (SUCCEEDED(task->GetApplicationName(&text)))
        applicationName_ = TakeTaskString(text);
    if (SUCCEEDED(task->GetParameters(&text)))
        parameters_ = TakeTaskString(text);
    if (SUCCEEDED(task->GetWorkingDirectory(&text)))
        workingDirectory_ = TakeTaskString(text);
    password_.clear();
    text = nullptr;
    account_ = SUCCEEDED(task->GetAccountInformation(&text)) ? TakeTaskString(text) : tstring();
    if (SUCCEEDED(task->GetComment(&text)))
        comment_ = TakeTaskString(text);
    if (SUCCEEDED(task->GetCreator(&text)))
        creator_ = TakeTaskString(text);
    AttachV2();
}

void ScheduledJob::AttachV2() {
    registeredTask_.Release();
    if (!windows6_)
        return;
    ComPtr<ITaskService> service;
    if (FAILED(CoCreateInstance(CLSID_TaskScheduler, nullptr, CLSCTX_INPROC_SERVER, IID_ITaskService,
                                service.ReceiveVoid())))
        return;
    VARIANT empty;
    VariantInit(&empty);
    if (FAILED(service->Connect(empty, empty, empty, empty)))
        return;
    ComPtr<ITaskFolder> root;
    BSTR rootPath = SysAllocString(L"\\");
    HRESULT hr = service->GetFolder(rootPath, root.Receive());
    SysFreeString(rootPath);
    if (FAILED(hr))
        return;
    // The 2.0 name of a 1.0 job is its file name without the Tasks folder and ".job".
    tstring taskName = JobFilePath();
    tstring tasksFolder;
    ExpandEnvironment(tasksFolder, _T("%WINDIR%\\Tasks\\"));
    if (taskName.size() > tasksFolder.size() && CompareNoCase(taskName.Left(int(tasksFolder.size())).c_str(),
                                                              tasksFolder.c_str()) == 0)
        taskName = taskName.Mid(int(tasksFolder.size()));
    if (taskName.size() > 4 && CompareNoCase(taskName.Right(4).c_str(), _T(".job")) == 0)
        taskName.resize(taskName.size() - 4);
    BSTR name = SysAllocString(taskName.c_str());
    root->GetTask(name, registeredTask_.Receive());
    SysFreeString(name);
}
