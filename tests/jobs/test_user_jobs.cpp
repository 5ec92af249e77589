#include <doctest/doctest.h>
#include "FileBytes.h"
#include "SchedulerTestSupport.h"
#include "common/log/Log.h"
#include "common/settings/AppFolders.h"
#include "jobs/UserJobs.h"

namespace {

std::wstring LogText(const tstring& path) {
    std::string bytes = ReadAll(path);
    return std::wstring(reinterpret_cast<const wchar_t*>(bytes.data()), bytes.size() / 2);
}

}  // namespace

TEST_CASE("uninstall deletes this user's jobs under any name, and quietly none when there are none") {
    ComApartment com;
    REQUIRE(EnsureScheduleServiceRuns());
    tstring log = GetAppFolder(true) + L"\\user-jobs-test.log";
    DeleteFileW(log.c_str());
    Log::Instance().SetFileName(log);
    REQUIRE(PlantJob(L"renamed by hand", KeyWorkItemData(OwnKey(BackupJob)), L"C:\\Orvane.exe"));
    REQUIRE(PlantJob(L"another one", KeyWorkItemData(OwnKey(ScanFixJob)), L"C:\\Orvane.exe"));
    REQUIRE(PlantJob(L"not ours", KeyWorkItemData(JobKey(L"S-1-5-21-7-7-7-1005", BackupJob)), L"C:\\Orvane.exe"));
    std::string notOurs = ReadAll(TasksFile(L"not ours"));

    CHECK(DeleteUserJobs() == 2);
    CHECK_FALSE(FileExists(TasksFile(L"renamed by hand")));
    CHECK(ReadAll(TasksFile(L"not ours")) == notOurs);
    CHECK(DeleteUserJobs() == 0);
    CHECK(LogText(log).find(L"[error]") == std::wstring::npos);
    RemoveJob(L"not ours");

    SUBCASE("a damaged state file at start-up is logged and nothing is asked") {
        tstring state = GetAppFolder(true) + L"\\compact";
        WriteAll(state, "abc");
        bool asked = false;
        CHECK(CheckMissedJobs(0, [&](JobKind, UINT) { return asked = true; }).empty());
        CHECK_FALSE(asked);
        CHECK(LogText(log).find(L"[error] Missed scheduled tasks not checked: ") != std::wstring::npos);
        DeleteFileW(state.c_str());
    }
    Log::Instance().SetFileName(tstring());
    DeleteFileW(log.c_str());
}
