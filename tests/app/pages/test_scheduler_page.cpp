#include <doctest/doctest.h>
#include <windows.h>
#include <oleauto.h>
#include <thread>
#include "FileBytes.h"
#include "PageTestSupport.h"
#include "PlantedFaults.h"
#include "RecordingScriptSink.h"
#include "RecordingUiServices.h"
#include "SchedulerTestSupport.h"
#include "app/html/ScriptText.h"
#include "app/pages/MaintenancePages.h"
#include "app/pages/SchedulerPage.h"
#include "common/errors/ErrorBase.h"
#include "common/settings/AppFolders.h"
#include "common/settings/Settings.h"
#include "common/system/Security.h"
#include "jobs/JobScheduler.h"
#include "jobs/SchedulerStrings.h"
#include "jobs/UserJobs.h"
#include "TestLimits.h"

namespace {

struct Bstr {
    explicit Bstr(const wchar_t* text) : value(SysAllocString(text)) {}
    ~Bstr() { SysFreeString(value); }
    BSTR value;
};

// A page shown into a recording sink, with the fake "apply" element.
struct ShownPage {
    ShownPage() {
        apply = sink.Add(sink.body, L"apply");
        page.Load();
        page.AttachControl(nullptr, 0, nullptr, &sink);
    }
    int Send(const wchar_t* name, const wchar_t* element, VARIANT param) {
        return SendEvent(page, name, element, param);
    }
    bool ApplyEnabled() const { return !apply->attributes.count(L"DISABLED"); }
    RecordingScriptSink sink;
    std::shared_ptr<FakeElement> apply;
    SchedulerPage page;
};

}  // namespace

TEST_CASE("trigger lists: one call per trigger with its escaped text, one call with -1 for none") {
    ComApartment com;
    RecordingScriptSink sink;
    sink.ExecScript(TriggerListScript(CompactJob, {L"<b>'x'</b>", L"At 01:40 every 4 weeks"}).c_str(), L"JScript");
    sink.ExecScript(TriggerListScript(BackupJob, {}).c_str(), L"JScript");
    sink.ExecScript(TriggerListScript(ScanFixJob, {L""}).c_str(), L"JScript");
    CHECK(sink.scripts[1].text == L"AddBackupStr('',-1); ");
    CHECK(sink.CompareWithGolden("regScheduler", "triggers") == "");
}

TEST_CASE("the page fills its fields from the engine, applies to it and says when it holds changes") {
    ComApartment com;
    RecordingUiServices ui;
    ComPtr<ICrawler> engine = LoadEngine();
    REQUIRE(engine);
    Bstr mail(L"\"; alert(1); //"), server(L"</script><b>x</b>");
    engine->put_ReportMail(mail.value);
    engine->put_ReportMailServer(server.value);
    engine->put_ReportMailSwitch(1);
    engine->put_ScanResultsThreshold(0);
    engine->put_AutoFix(1);
    engine->put_AutoReboot(0);

    ShownPage shown;
    shown.page.SetEngine(engine);
    shown.Send(L"pageLoaded", L"", Text(L""));
    CHECK(shown.sink.CompareWithGolden("regScheduler", "fields") == "");
    CHECK_FALSE(shown.ApplyEnabled());

    shown.Send(L"SetMail", L"", Text(L"me@example.com"));
    CHECK(shown.ApplyEnabled());
    shown.Send(L"SetMailServer", L"", Text(L"mail.example.com"));
    shown.Send(L"MailSwitch", L"", Bool(false));
    shown.Send(L"ScanThreshold", L"", Bool(true));
    shown.Send(L"AutoFix", L"", Bool(false));
    // Auto reboot asked to be written at once: the engine has it before apply.
    shown.Send(L"AutoReboot", L"true", Bool(true));
    long value = 0;
    engine->get_AutoReboot(&value);
    CHECK(value == 1);
    BSTR text = nullptr;
    engine->get_ReportMail(&text);
    CHECK(std::wstring(text) == L"\"; alert(1); //");
    SysFreeString(text);

    // Anything but "apply" only drops the changes' mark.
    shown.Send(L"configurationChanged", L"", Text(L"apply"));
    CHECK_FALSE(shown.ApplyEnabled());
    engine->get_ReportMail(&text);
    CHECK(std::wstring(text) == L"me@example.com");
    SysFreeString(text);
    engine->get_ReportMailServer(&text);
    CHECK(std::wstring(text) == L"mail.example.com");
    SysFreeString(text);
    long flags[4] = {};
    engine->get_ReportMailSwitch(&flags[0]);
    engine->get_ScanResultsThreshold(&flags[1]);
    engine->get_AutoFix(&flags[2]);
    engine->get_AutoReboot(&flags[3]);
    CHECK(flags[0] == 0);
    CHECK(flags[1] == 1);
    CHECK(flags[2] == 0);
    CHECK(flags[3] == 1);

    SUBCASE("the test mail's results are shown with their texts") {
        shown.Send(L"SetMail", L"", Text(L"nobody"));
        shown.Send(L"SetMailServer", L"", Text(L""));
        shown.Send(L"TestMail", L"", Text(L""));
        shown.Send(L"SetMail", L"", Text(L"a@x.test"));
        shown.Send(L"SetMailServer", L"", Text(L"127.0.0.6"));
        shown.Send(L"TestMail", L"", Text(L""));
        REQUIRE(ui.boxes.size() == 2);
        CHECK(ui.boxes[0].text == std::wstring(tstring(MAKEINTRESOURCE(IDS_MAIL_NO_SERVER))));
        CHECK(ui.boxes[0].caption == L"Testing mail...");
        CHECK(ui.boxes[1].text == L"Connection to mail server has failed.");
        CHECK(ui.boxes[1].type == MB_ICONERROR);
    }

    SUBCASE("closing with changes asks; Cancel keeps them, Yes applies them") {
        shown.Send(L"SetMail", L"", Text(L"other@example.com"));
        ui.boxAnswer = IDCANCEL;
        CHECK(shown.page.AskSaveChanges(nullptr) == IDCANCEL);
        CHECK(shown.page.IsModified());
        ui.boxAnswer = IDYES;
        CHECK(shown.page.AskSaveChanges(nullptr) == IDYES);
        CHECK(ui.boxes.back().text == L"Scheduling options have been modified.\nDo you want to save changes?");
        CHECK_FALSE(shown.page.IsModified());
        CHECK(shown.sink.scripts.back().text == L"CheckMail();");
        engine->get_ReportMail(&text);
        CHECK(std::wstring(text) == L"other@example.com");
        SysFreeString(text);
        size_t asked = ui.boxes.size();
        CHECK(shown.page.AskSaveChanges(nullptr) == IDNO);
        CHECK(ui.boxes.size() == asked);
    }
}

TEST_CASE("an apply with one change writes only that value: what another process changed meanwhile stays") {
    ComApartment com;
    RecordingUiServices ui;
    ComPtr<ICrawler> engine = LoadEngine();
    REQUIRE(engine);
    Bstr mail(L"page@example.com");
    engine->put_ReportMail(mail.value);
    engine->put_AutoFix(0);
    engine->put_ScanResultsThreshold(1);
    ShownPage shown;
    shown.page.SetEngine(engine);
    shown.Send(L"pageLoaded", L"", Text(L""));
    {
        Settings other(true);
        other.SetAutoFix(true);
        other.SetReportMail(L"other@example.com");
        REQUIRE(other.Save() == 0);
    }
    shown.Send(L"ScanThreshold", L"", Bool(false));
    shown.Send(L"configurationChanged", L"", Text(L"apply"));
    Settings::Values stored;
    REQUIRE(Settings::ReadFile(GetSettingsFilePath(), stored) == 0);
    CHECK_FALSE(stored.flags[Settings::ThresholdFlag]);
    CHECK(stored.flags[Settings::AutoFixFlag]);
    CHECK(stored.texts[Settings::MailText] == L"other@example.com");

    // An apply whose save fails leaves only its change pending: the next
    // save does not turn the other process's automatic fix back.
    engine->put_AutoFix(1);
    shown.Send(L"pageLoaded", L"", Text(L""));
    shown.Send(L"ScanThreshold", L"", Bool(true));
    HANDLE held = CreateFileW(GetSettingsFilePath().c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    REQUIRE(held != INVALID_HANDLE_VALUE);
    shown.Send(L"configurationChanged", L"", Text(L"apply"));
    CloseHandle(held);
    {
        Settings other(true);
        other.SetAutoFix(false);
        REQUIRE(other.Save() == 0);
    }
    engine->put_AutoReboot(0);
    REQUIRE(Settings::ReadFile(GetSettingsFilePath(), stored) == 0);
    CHECK(stored.flags[Settings::ThresholdFlag]);
    CHECK_FALSE(stored.flags[Settings::AutoFixFlag]);
}

bool ScheduleServiceRuns() {
    SC_HANDLE manager = OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT);
    SC_HANDLE service = OpenServiceW(manager, L"Schedule", SERVICE_QUERY_STATUS);
    SERVICE_STATUS status = {};
    QueryServiceStatus(service, &status);
    CloseServiceHandle(service);
    CloseServiceHandle(manager);
    return status.dwCurrentState != SERVICE_STOPPED;
}

// The running "Schedule" service's process as "<process id> <start time>",
// empty while the service is stopped.
std::wstring ScheduleServiceProcess() {
    SC_HANDLE manager = OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT);
    SC_HANDLE service = OpenServiceW(manager, L"Schedule", SERVICE_QUERY_STATUS);
    SERVICE_STATUS_PROCESS status = {};
    DWORD size = 0;
    BOOL known = QueryServiceStatusEx(service, SC_STATUS_PROCESS_INFO, reinterpret_cast<BYTE*>(&status), sizeof status,
                                      &size);
    CloseServiceHandle(service);
    CloseServiceHandle(manager);
    if (!known || status.dwCurrentState == SERVICE_STOPPED) return L"";
    FILETIME times[4] = {};
    HANDLE process = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, status.dwProcessId);
    if (process) GetProcessTimes(process, &times[0], &times[1], &times[2], &times[3]);
    if (process) CloseHandle(process);
    return std::to_wstring(status.dwProcessId) + L" " +
           std::to_wstring(ULONGLONG(times[0].dwHighDateTime) << 32 | times[0].dwLowDateTime);
}

// Where the case below notes the service process it started; no one else writes there.
const wchar_t kStartedServiceKey[] = L"Software\\OrvaneTest\\schedulerpage";

// Wine's service cannot be stopped once started: this case runs as a test of
// its own, before every other test of the prefix that needs the service. A
// later run in the prefix finds the service it started still running, says
// so and is counted as skipped; a service that runs for any other reason
// fails it.
TEST_CASE("a stopped Task Scheduler service is offered to be started; No creates nothing") {
    ComApartment com;
    RecordingUiServices ui;
    if (ScheduleServiceRuns()) {
        wchar_t started[64] = {};
        DWORD size = sizeof started - sizeof(wchar_t);
        RegGetValueW(HKEY_CURRENT_USER, kStartedServiceKey, L"Process", RRF_RT_REG_SZ, nullptr, started, &size);
        std::wstring running = ScheduleServiceProcess();
        REQUIRE_MESSAGE(!running.empty(), "the Task Scheduler service's process cannot be read");
        REQUIRE_MESSAGE(std::string(running.begin(), running.end()) == std::string(started, started + wcslen(started)),
                        "the Task Scheduler service runs, and no earlier run of this case in the prefix started it "
                        "(left: its process and start time; right: what this case noted)");
        MESSAGE("not run here: the Task Scheduler service runs since an earlier run of this case in the prefix started "
                "it, and Wine cannot stop it to offer the start again");
        return;
    }
    ShownPage shown;
    ui.boxAnswer = IDNO;
    shown.Send(L"RSchedulerEnableCompact", L"", Bool(true));
    REQUIRE(ui.boxes.size() == 1);
    CHECK(ui.boxes[0].text == L"Start Task Scheduler Service?");
    CHECK(ui.boxes[0].caption == L"Orvane");
    CHECK(ui.boxes[0].type == (MB_YESNO | MB_ICONQUESTION));
    CHECK_FALSE(shown.page.Job(CompactJob).HasTask());
    CHECK_FALSE(ScheduleServiceRuns());
    // A job that does not exist has no schedule to edit: nothing is shown.
    shown.Send(L"RSchedulerCompactOptions", L"", Number(1));
    CHECK(ui.boxes.size() == 1);
    ui.boxAnswer = IDYES;
    shown.Send(L"RSchedulerEnableCompact", L"", Bool(true));
    std::wstring started = ScheduleServiceProcess();
    RegSetKeyValueW(HKEY_CURRENT_USER, kStartedServiceKey, L"Process", REG_SZ, started.c_str(),
                    DWORD((started.size() + 1) * sizeof(wchar_t)));
    CHECK_FALSE(started.empty());
    CHECK(shown.page.Job(CompactJob).HasTask());
    JobScheduler cleanup;
    if (cleanup.AttachService())
        cleanup.DeleteJobsWithKeys(UserJobKeys());
}

TEST_CASE("jobs through the page: creation, snapshot and No, old settings, and nobody else's job touched") {
    ComApartment com;
    RecordingUiServices ui;
    // Another account's job under the name this user's backup would take,
    // and a broken file: both stay as they are whatever the page does.
    REQUIRE(EnsureScheduleServiceRuns());
    {
        JobScheduler other;
        ScheduledJob planted(L"S-1-5-21-1111-2222-3333-1001 backup");
        planted.SetName(JobNameForUser(GetCurrentUserName(false), BackupJob));
        planted.SetApplicationName(L"C:\\Other\\Orvane.exe");
        REQUIRE(other.AttachService());
        other.DeleteJobsWithKeys(UserJobKeys());
        DeleteFileW(TasksFile(planted.Name()).c_str());
        REQUIRE(other.CreateJob(planted));
    }
    const tstring plantedName = JobNameForUser(GetCurrentUserName(false), BackupJob);
    WriteAll(TasksFile(L"Broken job"), "not a job");
    std::string plantedBytes = ReadAll(TasksFile(plantedName));

    SUBCASE("made jobs, a snapshot, changes and No: the job files are back as they were") {
        REQUIRE(EnsureScheduleServiceRuns());
        ShownPage shown;
        shown.Send(L"RSchedulerEnableBackup", L"", Bool(true));
        CHECK(shown.sink.scripts.back().text == L"RefreshBackup();");
        shown.Send(L"RSchedulerEnableScan", L"false", Bool(true));
        ScheduledJob& backup = shown.page.Job(BackupJob);
        REQUIRE(backup.IsAttached());
        // The name was another account's: ours took the SAM-compatible one.
        CHECK(backup.Name() == JobNameForUser(GetCurrentUserName(true), BackupJob));
        CHECK(shown.page.JobStatesQuery() == L"-0-1-1");

        shown.Send(L"RSchedulerInitialState", L"", Text(L""));
        std::string backupBytes = ReadAll(backup.JobFilePath());
        CHECK(ReadAll(SchedulerPage::SnapshotPath(BackupJob)) == backupBytes);
        shown.Send(L"RSchedulerRefreshBackup", L"false", Text(L""));
        CHECK_FALSE(shown.page.IsModified());

        shown.Send(L"RSchedulerEnableBackup", L"", Bool(false));
        CHECK_FALSE(backup.IsEnabled());
        shown.Send(L"RSchedulerRefreshBackup", L"", Text(L""));
        CHECK(shown.page.IsModified());
        CHECK(shown.ApplyEnabled());

        // Saving the change made the Task Scheduler service read the file,
        // which it holds meanwhile sharing only reads: the copy back waits.
        HANDLE held = CreateFileW(backup.JobFilePath().c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                  OPEN_EXISTING, 0, nullptr);
        REQUIRE(held != INVALID_HANDLE_VALUE);
        std::thread service([held] {
            Sleep(100);
            CloseHandle(held);
        });
        ui.boxAnswer = IDNO;
        CHECK(shown.page.AskSaveChanges(nullptr) == IDNO);
        testlimit::Join(service, testlimit::kStep, "the stand-in service's hold on the job file");
        CHECK(ReadAll(backup.JobFilePath()) == backupBytes);
        CHECK_FALSE(shown.page.IsModified());
        shown.page.ReloadTasks();
        CHECK(shown.page.Job(BackupJob).IsEnabled());
    }

    SUBCASE("settings of an older version are taken over and deleted") {
        REQUIRE(EnsureScheduleServiceRuns());
        HKEY key = nullptr;
        REQUIRE(RegCreateKeyExW(HKEY_CURRENT_USER, L"Software\\QUARN\\Orvane", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                                &key, nullptr) == ERROR_SUCCESS);
        DWORD one = 1;
        RegSetValueExW(key, L"SetupSchedule", 0, REG_DWORD, reinterpret_cast<BYTE*>(&one), sizeof one);
        RegSetValueExW(key, L"SetupNotify", 0, REG_DWORD, reinterpret_cast<BYTE*>(&one), sizeof one);
        std::wstring tooLong(300, L'a');
        RegSetValueExW(key, L"NotifyEmail", 0, REG_SZ, reinterpret_cast<const BYTE*>(tooLong.c_str()),
                       DWORD(tooLong.size() * 2));
        GetSettings().SetReportMail(L"kept@example.com");
        GetSettings().SetReportMailSwitch(false);
        {
            ShownPage shown;
            CHECK(shown.page.Job(BackupJob).IsAttached());
            CHECK(shown.page.Job(ScanFixJob).IsAttached());
        }
        CHECK(GetSettings().GetReportMailSwitch());
        CHECK(GetSettings().GetReportMail() == L"kept@example.com");
        DWORD count = 1;
        RegQueryInfoKeyW(key, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, &count, nullptr, nullptr, nullptr,
                         nullptr);
        CHECK(count == 0);

        // A text without its NUL is read no further than its byte count.
        RegSetValueExW(key, L"SetupSchedule", 0, REG_DWORD, reinterpret_cast<BYTE*>(&one), sizeof one);
        RegSetValueExW(key, L"NotifyEmail", 0, REG_SZ, reinterpret_cast<const BYTE*>(L"me@x.testJUNK"), 9 * 2);
        { ShownPage shown; }
        CHECK(GetSettings().GetReportMail() == L"me@x.test");
        RegCloseKey(key);
        RegDeleteKeyW(HKEY_CURRENT_USER, L"Software\\QUARN\\Orvane");
    }

    JobScheduler cleanup;
    if (cleanup.AttachService())
        cleanup.DeleteJobsWithKeys(UserJobKeys());
    CHECK(ReadAll(TasksFile(plantedName)) == plantedBytes);
    CHECK(ReadAll(TasksFile(L"Broken job")) == "not a job");
    DeleteFileW(TasksFile(L"Broken job").c_str());
    DeleteFileW(TasksFile(plantedName).c_str());
}

TEST_CASE("the side bar and closing leave the scheduler page only as the user answers") {
    ComApartment com;
    RecordingUiServices ui;
    RecordingScriptSink sink;
    MaintenancePages pages;
    pages.Scheduler().AttachControl(nullptr, 0, nullptr, &sink);
    CHECK(pages.SchedulerQuery().find(L"-0-0-0-false-") == 0);

    Bstr name(L"SetMail"), element(L"");
    VARIANT mail = Text(L"me@example.com");
    pages.Scheduler().OnHTMLEvent(nullptr, name.value, element.value, &mail);
    VariantClear(&mail);
    ui.boxAnswer = IDCANCEL;
    CHECK(pages.AskToLeave(&pages.Scheduler(), L"Scheduler") == IDOK);
    CHECK(ui.boxes.empty());
    CHECK(pages.AskToLeave(&pages.Scheduler(), L"Undo") == IDCANCEL);
    CHECK(pages.AskToLeave(&pages.Scheduler(), nullptr) == IDCANCEL);
    CHECK(ui.boxes.size() == 2);
    CHECK(pages.AskToLeave(nullptr, nullptr) == IDOK);
    ui.boxAnswer = IDNO;
    CHECK(pages.AskToLeave(&pages.Scheduler(), nullptr) == IDNO);
    CHECK(pages.AskToLeave(&pages.Scheduler(), nullptr) == IDNO);
    CHECK(ui.boxes.size() == 3);
}
