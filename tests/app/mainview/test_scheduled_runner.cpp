#include <doctest/doctest.h>
#include <vector>
#include "RecordingHiveOps.h"
#include "RecordingRestart.h"
#include "TempFolder.h"
#include "app/mainview/ScheduledRunner.h"
#include "app/OperationLock.h"
#include "common/errors/ErrorBase.h"
#include "common/log/Log.h"
#include "common/system/FileSystem.h"
#include "common/settings/Settings.h"
#include "hives/CompactFlags.h"
#include <string>

namespace {

const wchar_t kRunOnce[] = L"Software\\Microsoft\\Windows\\CurrentVersion\\RunOnce";

// Records what the runner asks of the view; the scan never starts.
struct RecordingRunnerView : ScheduledRunnerView {
    std::vector<tstring> calls;
    bool lockedAtScan = false;
    void ShowBackgroundPage(int operation) override { calls.push_back(FormatText(L"show %d", operation)); }
    void RestorePage() override { calls.push_back(L"restore"); }
    void SetRunning(bool running) override { calls.push_back(running ? L"running" : L"idle"); }
    void SetQuiet(bool quiet) override { calls.push_back(quiet ? L"quiet" : L"loud"); }
    ICrawler* StartScan(LONG mask) override {
        calls.push_back(FormatText(L"scan %lx", static_cast<unsigned long>(mask)));
        lockedAtScan = IsOperationRunning();
        return nullptr;
    }
    LONG FinishedMask() override { return 0; }
};

tstring RunOnceValue() {
    wchar_t text[200] = {};
    DWORD size = sizeof(text);
    if (RegGetValueW(HKEY_LOCAL_MACHINE, kRunOnce, L"QUARN OrvaneCompact", RRF_RT_REG_SZ, nullptr, text, &size) !=
        ERROR_SUCCESS)
        return L"(none)";
    return text;
}

void Touch(const tstring& path) {
    HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    REQUIRE(file != INVALID_HANDLE_VALUE);
    CloseHandle(file);
}

// Whether the log file holds text (its records are UTF-16).
bool LogHolds(const tstring& path, const std::wstring& text) {
    HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0,
                              nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    std::wstring content(GetFileSize(file, nullptr) / sizeof(wchar_t), L'\0');
    DWORD read = 0;
    ReadFile(file, &content[0], DWORD(content.size() * sizeof(wchar_t)), &read, nullptr);
    CloseHandle(file);
    return content.find(text) != std::wstring::npos;
}

void DeleteRunOnceValue() { RegDeleteKeyValueW(HKEY_LOCAL_MACHINE, kRunOnce, L"QUARN OrvaneCompact"); }

// Settings of a scheduled run: everything off but what a case turns on.
struct RunSettings {
    RunSettings() { Reset(); }
    ~RunSettings() { Reset(); }
    static void Reset() {
        Settings& s = GetSettings();
        s.SetReportMailSwitch(false);
        s.SetAutoFix(false);
        s.SetAutoBackupSwitch(false);
        s.SetAutoReboot(false);
    }
};

}  // namespace

TEST_CASE("automatic backups of one day are numbered from (2) on") {
    TempFolder folder(L"runnerbkp");
    SYSTEMTIME day = {};
    day.wYear = 2026;
    day.wMonth = 3;
    day.wDay = 7;
    tstring first = ScheduledRunner::BackupFileName(folder.Path(), day);
    CHECK(first == folder.Path() + L"\\registry_backup_2026-03-07.bkp");
    Touch(first);
    tstring second = ScheduledRunner::BackupFileName(folder.Path() + L"\\", day);
    CHECK(second == folder.Path() + L"\\registry_backup_2026-03-07 (2).bkp");
    Touch(second);
    CHECK(ScheduledRunner::BackupFileName(folder.Path(), day) ==
          folder.Path() + L"\\registry_backup_2026-03-07 (3).bkp");
}

TEST_CASE("a compaction request goes either into RunOnce or into the shared list, never both") {
    CompactFlags shared;
    shared.Open(true);  // the program creates it at start; kept open for the case
    CompactFlags view;
    view.Open(false);
    view.Clear();
    DeleteRunOnceValue();

    ScheduledRunner::RequestCompaction(true);
    CHECK(RunOnceValue() == L"rundll32.exe OrvaneCompact.dll,OnRunOnce");
    CHECK_FALSE(view.IsAll());

    DeleteRunOnceValue();
    ScheduledRunner::RequestCompaction(false);
    CHECK(view.IsAll());
    CHECK(RunOnceValue() == L"(none)");
    view.Clear();
}

TEST_CASE("only a compaction restarts the machine, and only with AutoReboot") {
    RunSettings settings;
    CompactFlags shared;
    shared.Open(true);
    RecordingRestart restart;
    RecordingRunnerView view;
    ScheduledRunner runner(view);

    REQUIRE(TryBeginOperation());
    runner.Run(ScheduledRunner::Compact);
    CHECK(restart.calls.empty());
    CHECK_FALSE(IsOperationRunning());

    GetSettings().SetAutoReboot(true);
    REQUIRE(TryBeginOperation());
    runner.Run(ScheduledRunner::Compact);
    REQUIRE(restart.calls.size() == 1);
    CHECK(restart.calls[0].what == L"InitiateShutdown");
    CHECK(restart.calls[0].timeout == 30);
    CHECK_FALSE(restart.calls[0].force);
    CHECK(restart.calls[0].reboot);
    CHECK(restart.calls[0].reason == 0x80040001);

    // A backup (failing at its first hive) reaches no restart either.
    RecordingHiveOps hives;
    hives.FailOn(L"Save", 1);
    // With mail off the program log is the failure's only trace.
    TempFolder logs(L"runnerlog");
    Log& log = Log::Instance();
    tstring oldLog = log.FileName();
    log.SetFileName(logs.Path() + L"\\run.log");
    REQUIRE(TryBeginOperation());
    runner.Run(ScheduledRunner::Backup);
    log.SetFileName(oldLog);
    CHECK(LogHolds(logs.Path() + L"\\run.log", L"Scheduled backup failed: "));
    CHECK(restart.calls.size() == 1);
    CHECK_FALSE(IsOperationRunning());
}

TEST_CASE("a scan with a backup first: the backup is a run of its own, the lock kept until the whole run ends") {
    RunSettings settings;
    GetSettings().SetAutoFix(true);
    GetSettings().SetAutoBackupSwitch(true);
    RecordingHiveOps hives;
    hives.FailOn(L"Save", 1);  // the backup fails fast
    RecordingRunnerView view;
    ScheduledRunner runner(view);
    REQUIRE(TryBeginOperation());
    runner.Run(ScheduledRunner::ScanFix);
    CHECK(view.lockedAtScan);
    CHECK_FALSE(IsOperationRunning());
    std::vector<tstring> expected = {L"show 1",  L"running", L"quiet",   L"idle", L"restore", L"show 3",
                                     L"running", L"quiet",   L"scan 7f", L"idle", L"restore", L"loud"};
    CHECK(view.calls == expected);
}

TEST_CASE("a run that fails gives the window back and leaves the lock to the frame") {
    struct FailingRestart : RecordingRestart {
        BOOL InitiateShutdown(const tstring&, DWORD, bool, bool, DWORD) override { throw ErrorBase(E_FAIL, L"no shutdown"); }
    };
    RunSettings settings;
    GetSettings().SetAutoReboot(true);
    CompactFlags shared;
    shared.Open(true);
    FailingRestart restart;
    RecordingRunnerView view;
    ScheduledRunner runner(view);
    REQUIRE(TryBeginOperation());
    CHECK_THROWS_AS(runner.Run(ScheduledRunner::Compact), ErrorBase);
    std::vector<tstring> expected = {L"show 2", L"running", L"quiet", L"idle", L"restore"};
    CHECK(view.calls == expected);
    CHECK(IsOperationRunning());
    EndOperation();
    DeleteRunOnceValue();
}

TEST_CASE("a backup job ends once: given up at its limit its steps go nowhere, and the worker's late end changes "
          "nothing; one that committed first but is not listed yet has failed, naming its file") {
    struct Steps : RLog {
        int count = 0;
        int AddEntry(int, const tstring&, const tstring&) override { return ++count; }
        void MarkDone(int) override {}
    } steps;
    TempFolder logs(L"runnerjob");
    Log& log = Log::Instance();
    tstring oldLog = log.FileName();
    log.SetFileName(logs.Path() + L"\\run.log");
    BackupJob job;
    job.SetFile(L"C:\\backups\\registry_backup_2026-03-07.bkp");
    job.progress.Connect(&steps);
    job.progress.AddEntry(3, L"", L"Creating backup file");
    CHECK(job.EndAtLimit(ScheduledRunner::kBackupWaitLimit));
    job.progress.AddEntry(3, L"", L"Compressing backup file");
    CHECK(steps.count == 1);
    CHECK(WaitForSingleObject(job.EndedEvent(), 0) == WAIT_OBJECT_0);
    CHECK(job.GivenUp());
    CHECK(job.Error() ==
          L"The backup did not finish within 3 hours and was given up: C:\\backups\\registry_backup_2026-03-07.bkp");
    CHECK_FALSE(job.EndWith(L""));
    CHECK(job.GivenUp());

    BackupJob made;
    made.SetFile(L"C:\\backups\\registry_backup_2026-03-07 (2).bkp");
    CHECK(made.gate.Commit());
    CHECK(made.EndAtLimit(1000));
    CHECK(made.Done());
    CHECK(made.Error() ==
          L"The backup was made but not listed within 1 seconds: C:\\backups\\registry_backup_2026-03-07 (2).bkp");
    CHECK_FALSE(made.GivenUp());
    CHECK_FALSE(made.EndWith(L""));
    CHECK_FALSE(made.Error().empty());
    log.SetFileName(oldLog);
    CHECK(LogHolds(logs.Path() + L"\\run.log", L"registry_backup_2026-03-07 (2).bkp was made but not listed within 1 seconds."));
}

TEST_CASE("a backup given up at its limit ends then, while the deletion of its files hangs on the same disk") {
    TempFolder folder(L"runnerdrop");
    TempFolder logs(L"runnerdroplog");
    Log& log = Log::Instance();
    tstring oldLog = log.FileName();
    log.SetFileName(logs.Path() + L"\\run.log");
    tstring beside = folder.File(L"bkp1.tmp");
    Touch(beside);
    BackupJob job;
    job.SetFile(folder.File(L"registry_backup_2026-03-07.bkp"));
    job.gate.Track(beside);
    // A delete that does not come back until the disk answers again.
    HANDLE answers = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    REQUIRE(answers);
    job.gate.SetRemover([answers](const tstring& path) {
        WaitForSingleObject(answers, 120000);
        return DeletePath(path);
    });
    DWORD start = GetTickCount();
    ScheduledRunner::WaitForBackup(job, 1000);
    DWORD took = GetTickCount() - start;
    CHECK(job.Done());
    CHECK(job.GivenUp());
    CAPTURE(took);
    // The limit and a loaded machine's slack, far below the delete's hang.
    CHECK(took < 30000);
    CHECK(LogHolds(logs.Path() + L"\\run.log", L"did not finish within 1 seconds; given up."));
    CHECK(FileExists(beside));
    SetEvent(answers);
    for (int i = 0; i < 300 && FileExists(beside); ++i) Sleep(100);
    CHECK_FALSE(FileExists(beside));
    log.SetFileName(oldLog);
    // The deleting thread is past its wait once the file is gone.
    CloseHandle(answers);
}
