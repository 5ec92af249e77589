#include <doctest/doctest.h>
#include "FileBytes.h"
#include "SchedulerTestSupport.h"
#include "jobs/JobScheduler.h"
#include "jobs/ScheduledJob.h"

namespace {

const wchar_t kOtherSid[] = L"S-1-5-21-1111-2222-3333-1001";

std::string DataOfKey(const tstring& key) {
    return Narrow(key) + std::string(key.size(), '\0');
}

std::string FolderOf(const tstring& path) {
    return Narrow(path.substr(0, path.rfind(L'\\')));
}

std::string Today() {
    SYSTEMTIME now;
    GetLocalTime(&now);
    char text[16];
    wsprintfA(text, "%04d-%02d-%02d", now.wYear, now.wMonth, now.wDay);
    return text;
}

}  // namespace

TEST_CASE("this user's jobs are made, found and deleted by key, and every other job stays as it was") {
    ComApartment com;
    REQUIRE(EnsureScheduleServiceRuns());
    tstring user = GetCurrentUserName(false);
    tstring sam = GetCurrentUserName(true);
    REQUIRE(JobNameForUser(user, BackupJob) != JobNameForUser(sam, BackupJob));

    // Another account's job under the name ours would take, another
    // account's job, another program's and a broken file.
    const tstring takenName = JobNameForUser(user, BackupJob);
    const tstring scanNames[2] = {JobNameForUser(user, ScanFixJob), JobNameForUser(sam, ScanFixJob)};
    REQUIRE(PlantJob(takenName, DataOfKey(JobKey(kOtherSid, BackupJob)), L"C:\\Other\\Orvane.exe"));
    REQUIRE(PlantJob(scanNames[0], DataOfKey(JobKey(kOtherSid, ScanFixJob)), L"C:\\Other\\Orvane.exe"));
    REQUIRE(PlantJob(scanNames[1], DataOfKey(JobKey(L"S-1-5-21-9-9-9-500", ScanFixJob)), L"C:\\x.exe"));
    REQUIRE(PlantJob(L"Other program task", "Something else entirely", L"C:\\Tools\\tool.exe"));
    WriteAll(TasksFile(L"Broken job"), "not a job file at all");
    const tstring planted[] = {takenName, scanNames[0], scanNames[1], L"Other program task", L"Broken job"};
    std::string before[5];
    for (int i = 0; i < 5; ++i)
        before[i] = ReadAll(TasksFile(planted[i]));

    JobScheduler scheduler;
    ScheduledJob backup(OwnKey(BackupJob));
    CHECK_FALSE(scheduler.OpenJob(backup));
    backup.SetDefaultTrigger(DefaultTrigger(BackupJob));
    REQUIRE(scheduler.CreateUserJob(backup, BackupJob) == JobScheduler::Created);
    CHECK(backup.Name() == JobNameForUser(sam, BackupJob));
    CHECK(backup.IsAttached());
    backup.SetEnabled(false);
    CHECK_FALSE(backup.IsEnabled());
    backup.SetEnabled(true);
    CHECK(backup.IsEnabled());

    ScheduledJob compact(OwnKey(CompactJob));
    compact.SetDefaultTrigger(DefaultTrigger(CompactJob));
    REQUIRE(scheduler.CreateUserJob(compact, CompactJob) == JobScheduler::Created);
    CHECK(compact.Name() == JobNameForUser(user, CompactJob));

    SUBCASE("a name held by others under both forms is left to them") {
        ScheduledJob scan(OwnKey(ScanFixJob));
        CHECK(scheduler.CreateUserJob(scan, ScanFixJob) == JobScheduler::NameTaken);
        CHECK_FALSE(scan.HasTask());
    }

    SUBCASE("a job is found again by its key under whatever name it has") {
        ScheduledJob found(OwnKey(BackupJob));
        REQUIRE(scheduler.OpenJob(found));
        CHECK(found.Name() == backup.Name());
        CHECK(found.ApplicationName() == GetModulePath());
        CHECK(found.Parameters() == L"-BACKUP");
        CHECK(found.TriggerCount() == 1);
        CHECK(found.AddDefaultTrigger() == 1);
        CHECK(found.TriggerCount() == 2);
        // The Task Scheduler's own pages are missing under Wine: the edit
        // fails as a scheduling error and leaves the job alone.
        std::string file = ReadAll(found.JobFilePath());
        try {
            found.Edit(L" backup", nullptr, 1);
        } catch (const ErrorBase&) {
        }
        CHECK(ReadAll(found.JobFilePath()) == file);
    }

    SUBCASE("the job files hold what the program asked for") {
        std::map<std::string, std::string> job =
            ReadWithPython({backup.JobFilePath(), compact.JobFilePath()}, TasksFile(L"answer") + L".txt");
        std::string b = Narrow(backup.JobFilePath().substr(backup.JobFilePath().rfind(L'\\') + 1)) + ".";
        std::string c = Narrow(compact.JobFilePath().substr(compact.JobFilePath().rfind(L'\\') + 1)) + ".";
        CHECK(job[b + "app"] == Narrow(GetModulePath()));
        CHECK(job[b + "params"] == "-BACKUP");
        CHECK(job[c + "params"] == "-COMPACT");
        CHECK(job[b + "workdir"] == FolderOf(GetModulePath()));
        CHECK(job[b + "comment"] == "QUARN Orvane registry backup task.");
        CHECK(job[c + "comment"] == "QUARN Orvane registry compact task.");
        CHECK(job[b + "flags"] == "0x20C1");
        CHECK(job[b + "data"] == HexOf(DataOfKey(OwnKey(BackupJob))));
        CHECK(job[b + "trigger0"] == "size=48 type=2 spec0=2 spec1=64 start=01:00 begin=" + Today());
        CHECK(job[c + "trigger0"] == "size=48 type=2 spec0=4 spec1=64 start=01:40 begin=" + Today());
    }

    SUBCASE("an old job of this key under the name is replaced; uninstall deletes ours alone") {
        ScheduledJob scan(OwnKey(ScanFixJob));
        REQUIRE(PlantJob(scanNames[0], DataOfKey(OwnKey(ScanFixJob)), L"C:\\Old place\\Orvane.exe"));
        scan.SetDefaultTrigger(DefaultTrigger(ScanFixJob));
        REQUIRE(scheduler.CreateUserJob(scan, ScanFixJob) == JobScheduler::Created);
        CHECK(scan.Name() == scanNames[0]);
        scan.Release();
        before[1] = ReadAll(TasksFile(scanNames[0]));

        std::vector<tstring> deleted =
            scheduler.DeleteJobsWithKeys({OwnKey(CompactJob), OwnKey(BackupJob), OwnKey(ScanFixJob)});
        CHECK(deleted.size() == 3);
        CHECK_FALSE(FileExists(TasksFile(scanNames[0])));
        CHECK_FALSE(FileExists(TasksFile(backup.Name())));
        CHECK(scheduler.DeleteJobsWithKeys({OwnKey(BackupJob)}).empty());
        before[1] = std::string();
    }

    backup.Release();
    compact.Release();
    for (int i = 0; i < 5; ++i)
        CHECK(ReadAll(TasksFile(planted[i])) == before[i]);
    CHECK(RemoveOwnJobs() == "");
    for (const tstring& name : planted)
        CHECK(RemoveJob(name) == S_OK);
}

TEST_CASE("job names and keys") {
    CHECK(JobNameForUser(L"john.smith", ScanFixJob) == L"john_smith scan and fix");
    CHECK(JobNameForUser(L"DOMAIN\\admin", BackupJob) == L"DOMAIN_admin backup");
    std::string data = "S-1-5-21-7 backup";
    data.append(data.size(), '\0');
    CHECK(WorkItemDataHoldsKey(reinterpret_cast<const BYTE*>(data.data()), WORD(data.size()), L"S-1-5-21-7 backup"));
    // The data is read no further than its count.
    CHECK_FALSE(WorkItemDataHoldsKey(reinterpret_cast<const BYTE*>(data.data()), 5, L"S-1-5-21-7 backup"));
    CHECK_FALSE(WorkItemDataHoldsKey(reinterpret_cast<const BYTE*>(data.data()), WORD(data.size()),
                                     L"S-1-5-21-7 compact"));
}

REGISTER_EXCEPTION_TRANSLATOR(const ErrorBase& e) {
    return doctest::String(Narrow(e.Message()).c_str());
}
