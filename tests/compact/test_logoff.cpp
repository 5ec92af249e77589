#include <doctest/doctest.h>
#include <windows.h>
#include "../jobs/SchedulerTestSupport.h"
#include "FileBytes.h"
#include "ShutdownSupport.h"
#include "common/settings/AppFolders.h"
#include "common/system/OsVersion.h"
#include "jobs/JobStateCheck.h"

using namespace compact;

// The logoff handler keeps the logging-off user's job state files. Jobs go
// through Task Scheduler 1.0, which the program uses before Windows 6, so
// these cases run in the copy told Windows XP.

namespace {

const bool kWindows6 = IsWindowsMajor6();

tstring StateFile(const TCHAR* name) {
    return GetAppFolder(true) + L"\\" + name;
}

void Logoff() {
    ProcessToken token;
    WLX_NOTIFICATION_INFO info = NotificationInfo(token.handle);
    WLEventLogoff(&info);
}

void PlantFile(const tstring& path) {
    HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    DWORD written = 0;
    WriteFile(file, "12345678", 8, &written, nullptr);
    CloseHandle(file);
}

void RemoveStateFiles() {
    for (const TCHAR* name : {L"backup", L"compact", L"scanfix"}) {
        DeleteFileW(StateFile(name).c_str());
        RemoveDirectoryW(StateFile(name).c_str());
    }
}

}  // namespace

TEST_SUITE("pre6") {

TEST_CASE("logoff writes the user's state files from the jobs and leaves the jobs alone" * doctest::skip(kWindows6)) {
    ComApartment com;
    REQUIRE(EnsureScheduleServiceRuns());
    RemoveStateFiles();
    const tstring name = L"compact logoff test backup";
    TASK_TRIGGER trigger = OnceTrigger(2031, 3, 5, 3, 30);
    REQUIRE(PlantJob(name, KeyWorkItemData(OwnKey(BackupJob)), L"C:\\elsewhere\\Orvane.exe", &trigger));
    std::string jobBefore = ReadAll(TasksFile(name));
    RecordingEventSink events;

    SUBCASE("only the backup job: its next run is kept, the other files go") {
        PlantFile(StateFile(L"compact"));
        PlantFile(StateFile(L"scanfix"));
        Logoff();
        CHECK(events.events.empty());
        SYSTEMTIME run = {2031, 3, 0, 5, 3, 30, 0, 0};
        FILETIME expected;
        SystemTimeToFileTime(&run, &expected);
        CHECK(ReadAll(StateFile(L"backup")) == std::string(reinterpret_cast<const char*>(&expected), 8));
        CHECK_FALSE(FileExists(StateFile(L"compact")));
        CHECK_FALSE(FileExists(StateFile(L"scanfix")));
    }
    SUBCASE("a state file that cannot be read: nothing is written, the error event") {
        CreateDirectoryW(StateFile(L"compact").c_str(), nullptr);
        Logoff();
        CHECK(events.events == Events({EventFailed}));
        CHECK_FALSE(FileExists(StateFile(L"backup")));
    }
    // Read, never saved: the program path it names stays.
    CHECK(ReadAll(TasksFile(name)) == jobBefore);
    RemoveJob(name);
    RemoveStateFiles();
}

}  // TEST_SUITE
