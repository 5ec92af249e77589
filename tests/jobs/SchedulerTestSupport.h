#pragma once
#include <windows.h>
#include <mstask.h>
#include <map>
#include <string>
#include "PythonScript.h"
#include "common/com/ComPtr.h"
#include "common/errors/ErrorBase.h"
#include "common/system/Security.h"
#include "common/tstring/tstring.h"
#include "jobs/JobKind.h"
#include "jobs/JobScheduler.h"

// COM for the test thread, as the program's UI thread has it.
struct ComApartment {
    ComApartment() { CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED); }
    ~ComApartment() { CoUninitialize(); }
};

// A fresh prefix has the "Schedule" service stopped; the tests that are not
// about the service start it and wait until it runs.
inline bool EnsureScheduleServiceRuns() {
    SC_HANDLE manager = OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT);
    SC_HANDLE service = OpenServiceW(manager, L"Schedule", SERVICE_QUERY_STATUS | SERVICE_START);
    SERVICE_STATUS status = {};
    StartServiceW(service, 0, nullptr);
    for (int i = 0; i < 100 && QueryServiceStatus(service, &status) && status.dwCurrentState != SERVICE_RUNNING; ++i)
        Sleep(100);
    CloseServiceHandle(service);
    CloseServiceHandle(manager);
    return status.dwCurrentState == SERVICE_RUNNING;
}

inline ComPtr<ITaskScheduler> TestScheduler() {
    ComPtr<ITaskScheduler> scheduler;
    CoCreateInstance(CLSID_CTaskScheduler, nullptr, CLSCTX_ALL, IID_ITaskScheduler, scheduler.ReceiveVoid());
    return scheduler;
}

inline tstring TasksFile(const tstring& name) {
    tstring folder;
    ExpandEnvironment(folder, L"%WINDIR%\\Tasks\\");
    return folder + name + L".job";
}

// A one-time trigger in the future at a fixed local time: Wine's next-run
// search handles it (a weekly trigger with an interval above 1 makes it loop).
inline TASK_TRIGGER OnceTrigger(WORD year, WORD month, WORD day, WORD hour, WORD minute) {
    TASK_TRIGGER trigger = {};
    trigger.cbTriggerSize = sizeof trigger;
    trigger.TriggerType = TASK_TIME_TRIGGER_ONCE;
    trigger.wBeginYear = year;
    trigger.wBeginMonth = month;
    trigger.wBeginDay = day;
    trigger.wStartHour = hour;
    trigger.wStartMinute = minute;
    return trigger;
}

// Deletes a job and makes sure its file is gone. The service reads a job
// file whenever one appears or changes, and a delete that meets that read
// fails with a sharing violation: on a busy machine a job planted moments
// before stayed, and was found again by its key. S_OK once the file is gone,
// else (after 10 s) the last error of the delete.
inline HRESULT RemoveJob(const tstring& name) {
    ComPtr<ITaskScheduler> scheduler = TestScheduler();
    tstring file = TasksFile(name);
    HRESULT last = S_OK;
    for (int attempt = 0; attempt < 100; ++attempt) {
        if (attempt)
            Sleep(100);
        if (scheduler)
            last = scheduler->Delete(name.c_str());
        if (!DeleteFileW(file.c_str()) && GetLastError() != ERROR_FILE_NOT_FOUND)
            last = HRESULT_FROM_WIN32(GetLastError());
        if (GetFileAttributesW(file.c_str()) == INVALID_FILE_ATTRIBUTES && GetLastError() == ERROR_FILE_NOT_FOUND)
            return S_OK;
    }
    return FAILED(last) ? last : E_FAIL;
}

// A job made directly through the Task Scheduler, as another account or
// program would have made it; data is its work-item data.
inline bool PlantJob(const tstring& name, const std::string& data, const tstring& program,
                     const TASK_TRIGGER* trigger = nullptr) {
    ComPtr<ITaskScheduler> scheduler = TestScheduler();
    if (!scheduler || FAILED(RemoveJob(name)))
        return false;
    ComPtr<ITask> task;
    if (FAILED(scheduler->NewWorkItem(name.c_str(), CLSID_CTask, IID_ITask,
                                      reinterpret_cast<IUnknown**>(task.Receive()))))
        return false;
    std::string bytes = data;
    task->SetWorkItemData(WORD(bytes.size()), bytes.empty() ? nullptr : reinterpret_cast<BYTE*>(&bytes[0]));
    task->SetApplicationName(program.c_str());
    task->SetFlags(TASK_FLAG_RUN_ONLY_IF_LOGGED_ON);
    if (trigger) {
        WORD index = 0;
        ComPtr<ITaskTrigger> made;
        task->CreateTrigger(&index, made.Receive());
        TASK_TRIGGER record = *trigger;
        made->SetTrigger(&record);
    }
    ComPtr<IPersistFile> file;
    task.QueryInto(IID_IPersistFile, file);
    return file && SUCCEEDED(file->Save(nullptr, TRUE));
}

// A key of the current user, of another user and of nobody's kind.
inline tstring OwnKey(JobKind kind) {
    return JobKey(CurrentUserSid(), kind);
}

// "name.field=value" lines of the independent reader, as a map.
inline std::map<std::string, std::string> ReadWithPython(const std::vector<tstring>& files, const tstring& answer) {
    std::vector<std::string> arguments;
    for (const tstring& file : files)
        arguments.push_back(file.compare(0, 6, L"state:") == 0 ? "state:" + UnixPath(file.substr(6))
                                                                 : UnixPath(file));
    std::string text = RunPython(SCHEDULER_TEST_DIR "/read_job.py", answer, arguments);
    std::map<std::string, std::string> fields;
    size_t start = 0;
    for (size_t end; (end = text.find('\n', start)) != std::string::npos; start = end + 1) {
        std::string line = text.substr(start, end - start);
        size_t equals = line.find('=');
        if (equals != std::string::npos)
            fields[line.substr(0, equals)] = line.substr(equals + 1);
    }
    if (fields.empty())
        fields["answer"] = text;
    return fields;
}

inline std::string Narrow(const tstring& text) {
    return std::string(text.begin(), text.end());
}

// The key as hex of its work-item data.
inline std::string HexOf(const std::string& bytes) {
    static const char digits[] = "0123456789abcdef";
    std::string hex;
    for (unsigned char c : bytes) {
        hex += digits[c >> 4];
        hex += digits[c & 15];
    }
    return hex;
}

// What the scheduler lists for this user: "name: kind" for each work item
// whose data holds one of this user's keys; empty when there is none.
inline std::string OwnJobsListed() {
    ComPtr<ITaskScheduler> scheduler = TestScheduler();
    ComPtr<IEnumWorkItems> items;
    if (!scheduler || FAILED(scheduler->Enum(items.Receive())))
        return "(no scheduler)";
    std::string listed;
    LPWSTR* names = nullptr;
    ULONG fetched = 0;
    while (items->Next(1, &names, &fetched) == S_OK && fetched) {
        tstring name = names[0];
        CoTaskMemFree(names[0]);
        CoTaskMemFree(names);
        ComPtr<ITask> task;
        HRESULT hr = ActivateWorkItem(scheduler.Get(), name, task);
        for (JobKind kind : kAllJobKinds)
            if (SUCCEEDED(hr) && TaskHoldsKey(task.Get(), OwnKey(kind)))
                listed += Narrow(name) + ": " + Narrow(KindText(kind)) + "\n";
    }
    return listed;
}

// Deletes this user's jobs by key until none is listed, so that the next
// case does not find one by its key: a deletion that meets the service's read
// of the file fails, and the product tries it again for a second only. What
// is still listed after 10 s, else empty.
inline std::string RemoveOwnJobs() {
    std::vector<tstring> keys;
    for (JobKind kind : kAllJobKinds)
        keys.push_back(OwnKey(kind));
    std::string listed = OwnJobsListed();
    for (int attempt = 0; attempt < 10 && !listed.empty(); ++attempt) {
        if (attempt)
            Sleep(1000);
        JobScheduler scheduler;
        try {
            scheduler.DeleteJobsWithKeys(keys);
        } catch (const ErrorBase&) {
        }
        listed = OwnJobsListed();
    }
    return listed;
}
