#include "app/pages/SchedulerPage.h"
#include <algorithm>
#include "app/html/VariantText.h"
#include <oleauto.h>
#include "app/AppUtilities.h"
#include "app/html/ScriptText.h"
#include "common/errors/ErrorBase.h"
#include "common/log/Log.h"
#include "common/settings/AppFolders.h"
#include "common/settings/Settings.h"
#include "common/system/OsVersion.h"
#include "jobs/SchedulerStrings.h"
#include "jobs/UserJobs.h"
#include "mail/MailNotifier.h"

namespace {

const wchar_t kOldSettingsKey[] = L"Software\\QUARN\\Orvane";
// The longest "NotifyEmail" an older version wrote, in bytes.
const DWORD kOldMailBytes = 520;
const UINT kProductTitle = 208;

const JobKind kPageOrder[3] = {CompactJob, BackupJob, ScanFixJob};

// The parameter as text; empty for anything that is no text.
bool ParamIsTrue(const VARIANT* param) {
    return param && param->vt == VT_BOOL && param->boolVal == VARIANT_TRUE;
}

int ParamNumber(const VARIANT* param) {
    VARIANT number;
    VariantInit(&number);
    int result = 0;
    if (param && SUCCEEDED(VariantChangeType(&number, const_cast<VARIANT*>(param), 0, VT_I4)))
        result = number.lVal;
    return result;
}

tstring ElementText(BSTR element) {
    return element ? tstring::FromWide(element) : tstring();
}

const wchar_t* KindTitle(JobKind kind) {
    switch (kind) {
    case CompactJob:
        return L"Compact";
    case BackupJob:
        return L"Backup";
    default:
        return L"Scan and Fix";
    }
}

bool SameFileBytes(const tstring& a, const tstring& b) {
    HandleHolder first(CreateFileW(a.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                   0, nullptr));
    HandleHolder second(CreateFileW(b.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                    OPEN_EXISTING, 0, nullptr));
    if (!first.IsValid() || !second.IsValid())
        return false;
    char x[4096], y[4096];
    for (;;) {
        DWORD nx = 0, ny = 0;
        if (!ReadFile(first, x, sizeof x, &nx, nullptr) || !ReadFile(second, y, sizeof y, &ny, nullptr) || nx != ny ||
            memcmp(x, y, nx) != 0)
            return false;
        if (!nx)
            return true;
    }
}

// An old DWORD value, read and deleted; false when missing.
bool TakeOldDword(HKEY key, const wchar_t* name, DWORD& value) {
    DWORD size = sizeof value;
    DWORD type = 0;
    LONG status = RegQueryValueExW(key, name, nullptr, &type, reinterpret_cast<BYTE*>(&value), &size);
    RegDeleteValueW(key, name);
    return status == ERROR_SUCCESS && type == REG_DWORD;
}

// An old text of at most 520 bytes, read within its byte count whether or not
// it ends with a NUL, and deleted; false when missing or longer.
bool TakeOldText(HKEY key, const wchar_t* name, tstring& text) {
    BYTE bytes[kOldMailBytes] = {};
    DWORD size = sizeof bytes;
    LONG status = RegQueryValueExW(key, name, nullptr, nullptr, bytes, &size);
    RegDeleteValueW(key, name);
    if (status != ERROR_SUCCESS)
        return false;
    const wchar_t* chars = reinterpret_cast<const wchar_t*>(bytes);
    size_t count = 0;
    while (count < size / sizeof(wchar_t) && chars[count])
        ++count;
    text = tstring::FromWide(chars, count);
    return true;
}

}  // namespace

const wchar_t* PageJobName(JobKind kind) {
    switch (kind) {
    case CompactJob:
        return L"Compact";
    case BackupJob:
        return L"Backup";
    default:
        return L"Scan";
    }
}

tstring TriggerListScript(JobKind kind, const std::vector<tstring>& texts) {
    tstring format = tstring(L"Add") + PageJobName(kind) + L"Str('%s',%d); ";
    if (texts.empty())
        return FormatText(format.c_str(), L"", -1);
    tstring script;
    for (size_t i = 0; i < texts.size(); ++i)
        script += FormatText(format.c_str(), EscapeScriptString(texts[i]).c_str(), int(i));
    return script;
}

SchedulerPage::SchedulerPage() : windows6_(IsWindowsMajor6()) {
    std::vector<tstring> keys = UserJobKeys();
    for (JobKind kind : kPageOrder) {
        jobs_[kind - 1] = std::make_unique<ScheduledJob>(keys[kind == CompactJob ? 0 : kind == BackupJob ? 1 : 2]);
        defaults_[kind - 1] = DefaultTrigger(kind);
    }
}

void SchedulerPage::Load() {
    try {
        for (JobKind kind : kPageOrder)
            scheduler_.OpenJob(Job(kind));
    } catch (const ErrorBase&) {
    }
    TakeOverOldSettings();
}

tstring SchedulerPage::SnapshotPath(JobKind kind) {
    const wchar_t* name = kind == CompactJob ? L"compact.job" : kind == BackupJob ? L"backup.job" : L"scan.job";
    return GetAppFolder(true) + L"\\" + name;
}

void SchedulerPage::RunPageScript(const tstring& code) {
    try {
        RunScript(code);
    } catch (const ErrorBase& e) {
        Log::Instance().Print(LogError, L"[error] Scheduler page script: %s", e.Message().c_str());
    }
}

void SchedulerPage::SetModified(bool modified) {
    modified_ = modified;
    EnableElement(L"apply", modified);
}

int SchedulerPage::OnHTMLEvent(IDispatch*, BSTR eventName, BSTR element, VARIANT* param) {
    if (IsEvent(eventName, L"pageLoaded")) {
        FillFields();
    } else if (IsEvent(eventName, L"RSchedulerInitialState")) {
        TakeSnapshot();
    } else if (IsEvent(eventName, L"SetMail")) {
        report_.mail = ParamText(param);
        SetModified(true);
    } else if (IsEvent(eventName, L"SetMailServer")) {
        report_.mailServer = ParamText(param);
        SetModified(true);
    } else if (IsEvent(eventName, L"TestMail")) {
        SendTestMail();
    } else if (IsEvent(eventName, L"MailSwitch")) {
        report_.mailSwitch = ParamIsTrue(param);
        SetModified(true);
    } else if (IsEvent(eventName, L"ScanThreshold")) {
        report_.scanThreshold = ParamIsTrue(param);
        SetModified(true);
    } else if (IsEvent(eventName, L"AutoReboot") || IsEvent(eventName, L"AutoFix")) {
        bool fix = IsEvent(eventName, L"AutoFix");
        bool on = ParamIsTrue(param);
        (fix ? report_.autoFix : report_.autoReboot) = on;
        if (ElementText(element) == L"true") {
            // Written now, so the engine holds what the page shows.
            if (engine_ && SUCCEEDED(fix ? engine_->put_AutoFix(on ? 1 : 0) : engine_->put_AutoReboot(on ? 1 : 0)))
                (fix ? shown_.autoFix : shown_.autoReboot) = on;
        } else {
            SetModified(true);
        }
    } else if (IsEvent(eventName, L"configurationChanged")) {
        Apply(ParamText(param));
    } else {
        for (JobKind kind : kPageOrder) {
            tstring job = PageJobName(kind);
            if (IsEvent(eventName, (L"RSchedulerRefresh" + job).c_str()))
                ListTriggers(kind, ElementText(element));
            else if (IsEvent(eventName, (L"RScheduler" + job + L"Options").c_str()))
                EditJob(kind, ParamNumber(param));
            else if (IsEvent(eventName, (L"RSchedulerEnable" + job).c_str()))
                EnableJob(kind, ParamIsTrue(param), ElementText(element));
            else
                continue;
            return 0;
        }
        return 1;
    }
    return 0;
}

void SchedulerPage::FillFields() {
    // Unsaved values stay; otherwise each is read from the engine, and one
    // that cannot be read leaves its field alone.
    bool have[6] = {true, true, true, true, true, true};
    // Without the engine nothing stored can be read: the cached defaults
    // must not pass for the user's settings.
    if (!modified_ && !engine_) {
        Log::Instance().Print(LogError, L"[error] Scheduler page: the scan engine could not be started.");
        std::fill(have, have + 6, false);
    }
    if (!modified_ && engine_) {
        // Each value read is both what the page holds and what it shows.
        BSTR text = nullptr;
        if ((have[0] = SUCCEEDED(engine_->get_ReportMail(&text))))
            report_.mail = shown_.mail = tstring::FromWide(text);
        SysFreeString(text);
        text = nullptr;
        if ((have[1] = SUCCEEDED(engine_->get_ReportMailServer(&text))))
            report_.mailServer = shown_.mailServer = tstring::FromWide(text);
        SysFreeString(text);
        long value = 0;
        if ((have[2] = SUCCEEDED(engine_->get_ReportMailSwitch(&value))))
            report_.mailSwitch = shown_.mailSwitch = value != 0;
        if ((have[3] = SUCCEEDED(engine_->get_ScanResultsThreshold(&value))))
            report_.scanThreshold = shown_.scanThreshold = value != 0;
        if ((have[4] = SUCCEEDED(engine_->get_AutoFix(&value))))
            report_.autoFix = shown_.autoFix = value != 0;
        if ((have[5] = SUCCEEDED(engine_->get_AutoReboot(&value))))
            report_.autoReboot = shown_.autoReboot = value != 0;
    }
    if (have[0])
        RunPageScript(L"mailAddress.value=\"" + EscapeScriptString(report_.mail) + L"\";");
    if (have[1])
        RunPageScript(L"mailServer.value=\"" + EscapeScriptString(report_.mailServer) + L"\";");
    RunPageScript(L" InitTextFields();");
    const wchar_t* ids[4] = {L"mailSwitch", L"scanThreshold", L"autoFix", L"autoReboot"};
    bool values[4] = {report_.mailSwitch, report_.scanThreshold, report_.autoFix, report_.autoReboot};
    for (int i = 0; i < 4; ++i) {
        if (have[i + 2])
            RunPageScript(FormatText(L"document.getElementById('%s').checked=%s", ids[i],
                                     values[i] ? L"true;" : L"false;"));
    }
    SetModified(modified_);
}

namespace {

void LogCopyFailure(const wchar_t* what, const tstring& file) {
    Log::Instance().Print(LogError, L"[error] Scheduled job file %s not %s: error %lu", file.c_str(), what,
                          GetLastError());
}

}  // namespace

void SchedulerPage::TakeSnapshot() {
    for (JobKind kind : kPageOrder) {
        tstring copy = SnapshotPath(kind);
        DeleteFileW(copy.c_str());
        tstring file = Job(kind).JobFilePath();
        if (!file.empty() && !CopyJobFile(file, copy))
            LogCopyFailure(L"taken", file);
        if (windows6_)
            savedEnabled_[kind - 1] = Job(kind).IsEnabled();
    }
}

void SchedulerPage::RestoreSnapshot() {
    for (JobKind kind : kPageOrder) {
        tstring file = Job(kind).JobFilePath();
        tstring copy = SnapshotPath(kind);
        // Saving the changed job made the service read the file, which it
        // holds meanwhile: the copy waits for it rather than leave the change.
        if (!file.empty() && GetFileAttributesW(copy.c_str()) != INVALID_FILE_ATTRIBUTES &&
            !CopyJobFile(copy, file))
            LogCopyFailure(L"restored", file);
        if (windows6_) {
            try {
                Job(kind).SetEnabled(savedEnabled_[kind - 1]);
            } catch (const ErrorBase& e) {
                Log::Instance().Print(LogError, L"[error] Scheduled task state not restored: %s", e.Message().c_str());
            }
        }
    }
}

void SchedulerPage::ListTriggers(JobKind kind, const tstring& element) {
    ScheduledJob& job = Job(kind);
    tstring file = job.JobFilePath();
    if (!file.empty() && element != L"false" && !SameFileBytes(file, SnapshotPath(kind)))
        SetModified(true);
    std::vector<tstring> texts;
    WORD count = 0;
    try {
        count = job.TriggerCount();
    } catch (const ErrorBase& e) {
        Log::Instance().Print(LogError, L"[error] Scheduled task triggers: %s", e.Message().c_str());
    }
    for (WORD i = 0; i < count; ++i) {
        tstring text;
        try {
            text = job.TriggerStrings(i);
        } catch (const ErrorBase& e) {
            // Some Task Schedulers describe no trigger: the page shows it without text.
            Log::Instance().Print(LogError, L"[error] Scheduled task trigger %d: %s", int(i), e.Message().c_str());
        }
        texts.push_back(text);
    }
    RunPageScript(TriggerListScript(kind, texts));
}

void SchedulerPage::EditJob(JobKind kind, int scheduleType) {
    try {
        HWND control = ::GetAncestor(GetMainWindow(), GA_ROOT);
        Job(kind).Edit(KindText(kind), control, scheduleType);
    } catch (const ErrorBase& e) {
        ShowSchedulingError(kind, e);
    }
    RunPageScript(tstring(L"Refresh") + PageJobName(kind) + L"();");
}

void SchedulerPage::EnableJob(JobKind kind, bool enable, const tstring& element) {
    ScheduledJob& job = Job(kind);
    try {
        if (enable && (!job.JobFileExists() || !job.IsAttached() || job.TriggerCount() == 0)) {
            if (job.HasTask())
                job.Release();
            CreateJob(kind);
        }
    } catch (const ErrorBase& e) {
        ShowSchedulingError(kind, e);
    }
    try {
        tstring program = GetModulePath();
        if (job.HasTask() && job.ApplicationName() != program) {
            job.SetApplicationName(program);
            job.SetParameters(TaskName(kind));
        }
    } catch (const ErrorBase& e) {
        ShowSchedulingError(kind, e);
    }
    try {
        job.SetEnabled(enable);
    } catch (const ErrorBase& e) {
        ShowSchedulingError(kind, e);
    }
    if (element != L"false")
        RunPageScript(tstring(L"Refresh") + PageJobName(kind) + L"();");
}

bool SchedulerPage::EnsureService() {
    if (scheduler_.IsServiceDisabled()) {
        ShowMessageBox(GetMainWindow(), L"Task Scheduler Service disabled on your PC", L"Error", MB_ICONERROR);
        return false;
    }
    if (scheduler_.AttachService())
        return true;
    if (ShowMessageBox(GetMainWindow(), L"Start Task Scheduler Service?", L"Orvane", MB_YESNO | MB_ICONQUESTION) !=
        IDYES)
        return false;
    if (!scheduler_.StartService()) {
        ShowMessageBox(GetMainWindow(), L"Can not start Task Scheduler Service", L"Error", MB_ICONERROR);
        return false;
    }
    return true;
}

void SchedulerPage::CreateJob(JobKind kind) {
    if (!EnsureService())
        return;
    ScheduledJob& job = Job(kind);
    job.SetDefaultTrigger(defaults_[kind - 1]);
    if (job.AddDefaultTrigger() == -1) {
        switch (scheduler_.CreateUserJob(job, kind)) {
        case JobScheduler::Created:
            break;
        case JobScheduler::NameTaken:
            ShowSchedulingError(kind, HRError(HRESULT_FROM_WIN32(ERROR_FILE_EXISTS)));
            break;
        case JobScheduler::CreateFailed:
            ShowMessageBox(GetMainWindow(), L"Can't schedule task\nTry to restart Orvane", L"QUARN Orvane",
                           MB_ICONWARNING);
            break;
        }
    }
    RunPageScript(tstring(L"Refresh") + PageJobName(kind) + L"();");
}

void SchedulerPage::ShowSchedulingError(JobKind kind, const ErrorBase& error) {
    tstring text;
    text.FormatResource(IDS_CANNOT_SCHEDULE, KindTitle(kind));
    text += L"\n";
    switch (error.Code() & 0xFFFF) {
    case ERROR_FILE_EXISTS:
        text += tstring(MAKEINTRESOURCE(IDS_TASK_EXISTS));
        break;
    case ERROR_ACCESS_DENIED:
        text += tstring(MAKEINTRESOURCE(IDS_NO_SCHEDULE_RIGHTS));
        break;
    default:
        text += error.Message();
        break;
    }
    Log::Instance().Print(LogError, L"[error] %s", text.c_str());
    ShowMessageBox(GetMainWindow(), text.c_str(), L"Error", MB_ICONERROR);
}

void SchedulerPage::Apply(const tstring& what) {
    if (what == L"apply" && modified_ && engine_) {
        PutChanges();
        TakeSnapshot();
    }
    SetModified(false);
}

namespace {

// A text put when it differs from the one shown, which it then replaces.
void PutText(ICrawler* engine, HRESULT (STDMETHODCALLTYPE ICrawler::*put)(BSTR), const tstring& value,
             tstring& shown) {
    if (value == shown)
        return;
    BSTR text = SysAllocString(value.ToWide().c_str());
    if (text && SUCCEEDED((engine->*put)(text)))
        shown = value;
    SysFreeString(text);
}

void PutFlag(ICrawler* engine, HRESULT (STDMETHODCALLTYPE ICrawler::*put)(LONG), bool value, bool& shown) {
    if (value != shown && SUCCEEDED((engine->*put)(value ? 1 : 0)))
        shown = value;
}

}  // namespace

void SchedulerPage::PutChanges() {
    ICrawler* engine = engine_.Get();
    PutText(engine, &ICrawler::put_ReportMail, report_.mail, shown_.mail);
    PutFlag(engine, &ICrawler::put_ReportMailSwitch, report_.mailSwitch, shown_.mailSwitch);
    PutFlag(engine, &ICrawler::put_AutoFix, report_.autoFix, shown_.autoFix);
    PutFlag(engine, &ICrawler::put_AutoReboot, report_.autoReboot, shown_.autoReboot);
    PutText(engine, &ICrawler::put_ReportMailServer, report_.mailServer, shown_.mailServer);
    PutFlag(engine, &ICrawler::put_ScanResultsThreshold, report_.scanThreshold, shown_.scanThreshold);
}

void SchedulerPage::SendTestMail() {
    int result = MailNotifier(report_.mail, report_.mailServer).SendTestMail();
    const wchar_t caption[] = L"Testing mail...";
    switch (result) {
    case MailNotifier::Sent:
        ShowMessageBox(GetMainWindow(), MAKEINTRESOURCEW(IDS_MAIL_TEST_SENT), caption, MB_ICONINFORMATION);
        break;
    case MailNotifier::NoServer:
        ShowMessageBox(GetMainWindow(), MAKEINTRESOURCEW(IDS_MAIL_NO_SERVER), caption, MB_ICONERROR);
        break;
    case MailNotifier::SendFailed:
        ShowMessageBox(GetMainWindow(), MAKEINTRESOURCEW(IDS_MAIL_SEND_FAILED), caption, MB_ICONERROR);
        break;
    case MailNotifier::NoConnection:
        ShowMessageBox(GetMainWindow(), MAKEINTRESOURCEW(IDS_MAIL_NO_CONNECTION), caption, MB_ICONERROR);
        break;
    }
}

int SchedulerPage::AskSaveChanges(HWND parent) {
    if (!modified_)
        return IDNO;
    int answer = ShowMessageBox(parent, MAKEINTRESOURCEW(IDS_SCHEDULE_MODIFIED), MAKEINTRESOURCEW(kProductTitle),
                                MB_YESNOCANCEL | MB_ICONQUESTION);
    if (answer == IDYES) {
        RunPageScript(L"CheckMail();");
        Apply(L"apply");
        SetModified(false);
    } else if (answer == IDNO) {
        SetModified(false);
        RestoreSnapshot();
    }
    return answer;
}

void SchedulerPage::ReloadTasks() {
    for (JobKind kind : kPageOrder) {
        try {
            Job(kind).Release();
            scheduler_.OpenJob(Job(kind));
        } catch (const ErrorBase&) {
        }
    }
}

tstring SchedulerPage::JobStatesQuery() const {
    tstring query;
    for (JobKind kind : kPageOrder) {
        const ScheduledJob& job = *jobs_[kind - 1];
        query += job.IsAttached() && job.IsEnabled() ? L"-1" : L"-0";
    }
    return query;
}

void SchedulerPage::TakeOverOldSettings() {
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_CURRENT_USER, kOldSettingsKey, 0, KEY_QUERY_VALUE | KEY_SET_VALUE, &key) != ERROR_SUCCESS)
        return;
    Settings& settings = GetSettings();
    DWORD setup = 0;
    bool haveSetup = TakeOldDword(key, L"SetupSchedule", setup);
    DWORD autoBackup = 0;
    if (TakeOldDword(key, L"AutoBackup", autoBackup)) {
        settings.SetAutoBackupSwitch(autoBackup != 0);
        settings.Save();
    }
    if (haveSetup && setup) {
        if (!Job(ScanFixJob).IsAttached() && !Job(BackupJob).IsAttached()) {
            try {
                CreateJob(BackupJob);
                CreateJob(ScanFixJob);
            } catch (const ErrorBase& e) {
                Log::Instance().Print(LogError, L"[error] Scheduled tasks of an older version: %s",
                                      e.Message().c_str());
            }
        }
        DWORD notify = 0;
        if (TakeOldDword(key, L"SetupNotify", notify) && notify)
            settings.SetReportMailSwitch(true);
        tstring mail;
        if (TakeOldText(key, L"NotifyEmail", mail))
            settings.SetReportMail(mail);
        settings.Save();
    }
    RegCloseKey(key);
}
