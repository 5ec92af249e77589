#include <doctest/doctest.h>
#include <thread>
#include "FileBytes.h"
#include "SchedulerTestSupport.h"
#include "TempFolder.h"
#include "TestLimits.h"
#include "common/archive/Archive.h"
#include "jobs/JobScheduler.h"
#include "jobs/JobStateCheck.h"

namespace {

// This user's three jobs, each with a one-time run at a known local time.
struct PlantedOwnJobs {
    PlantedOwnJobs() {
        for (int i = 0; i < 3; ++i) {
            TASK_TRIGGER trigger = OnceTrigger(2031, 3, WORD(i + 4), WORD(i + 2), 30);
            JobKind kind = kAllJobKinds[i];
            REQUIRE(PlantJob(Name(kind), KeyWorkItemData(OwnKey(kind)), GetModulePath(), &trigger));
        }
    }
    ~PlantedOwnJobs() {
        for (JobKind kind : kAllJobKinds)
            CHECK(RemoveJob(Name(kind)) == S_OK);
    }
    static tstring Name(JobKind kind) { return tstring(L"state test") + KindText(kind); }
    // "2031-03-04 02:30:00" for compaction, then backup, then scan and fix.
    static std::string RunText(JobKind kind) {
        int i = kind == CompactJob ? 0 : kind == BackupJob ? 1 : 2;
        char text[32];
        wsprintfA(text, "2031-03-%02d %02d:30:00", i + 4, i + 2);
        return text;
    }
};

void WriteState(const TempFolder& folder, JobKind kind, int daysFromNow) {
    SYSTEMTIME local;
    GetLocalTime(&local);
    FILETIME time;
    SystemTimeToFileTime(&local, &time);
    ULARGE_INTEGER value = {{time.dwLowDateTime, time.dwHighDateTime}};
    value.QuadPart += LONGLONG(daysFromNow) * 24 * 3600 * 10000000LL;
    time = {value.LowPart, value.HighPart};
    Archive file(folder.File(StateFileName(kind)), Archive::ModeCreate);
    file.WriteFileTime(time);
    file.Close();
}

struct Asked {
    std::vector<UINT> questions;
    bool answer = false;
    JobStateCheck::Question Callback() {
        return [this](JobKind, UINT id) {
            questions.push_back(id);
            return answer;
        };
    }
};

std::string Questions(const std::vector<UINT>& ids) {
    std::string text;
    for (UINT id : ids)
        text += std::to_string(id) + " ";
    return text.empty() ? "(none)" : text;
}

JobStateCheck::Options In(const TempFolder& folder) {
    JobStateCheck::Options options;
    options.updateApplicationName = false;
    options.dataFolder = folder.Path();
    return options;
}

}  // namespace

TEST_CASE("missed jobs are asked about in order and the state files follow the scheduler") {
    ComApartment com;
    REQUIRE(EnsureScheduleServiceRuns());
    TempFolder folder(L"jobstate");
    PlantedOwnJobs jobs;
    Asked asked;

    SUBCASE("three missed jobs: scan, compaction, backup; declining rewrites all three") {
        for (JobKind kind : kAllJobKinds)
            WriteState(folder, kind, -1);
        std::vector<int> run = JobStateCheck(nullptr, In(folder)).AskFailedJobs(0, asked.Callback());
        CHECK(run.empty());
        CHECK(asked.questions == std::vector<UINT>{317, 319, 318});
        std::map<std::string, std::string> state = ReadWithPython(
            {L"state:" + folder.File(L"backup"), L"state:" + folder.File(L"compact"), L"state:" + folder.File(L"scanfix")},
            folder.File(L"answer.txt"));
        for (JobKind kind : kAllJobKinds) {
            std::string name = Narrow(StateFileName(kind));
            CHECK(state[name + ".size"] == "8");
            CHECK(state[name + ".time"] == PlantedOwnJobs::RunText(kind));
        }
        // The same missed run is not asked about twice.
        JobStateCheck(nullptr, In(folder)).AskFailedJobs(0, asked.Callback());
        CHECK(asked.questions.size() == 3);
    }

    SUBCASE("accepted jobs come back in the order asked") {
        for (JobKind kind : kAllJobKinds)
            WriteState(folder, kind, -1);
        asked.answer = true;
        CHECK(JobStateCheck(nullptr, In(folder)).AskFailedJobs(0, asked.Callback()) == std::vector<int>{3, 2, 1});
    }

    SUBCASE("times to come, jobs gone and first starts ask nothing") {
        WriteState(folder, BackupJob, 1);
        WriteState(folder, ScanFixJob, -1);
        // The scan job was saved a moment ago, and the Task Scheduler service
        // reads a job file that appears, holding it meanwhile sharing only
        // reads: on a busy machine the removal met that read.
        HANDLE held = CreateFileW(TasksFile(PlantedOwnJobs::Name(ScanFixJob)).c_str(), GENERIC_READ, FILE_SHARE_READ,
                                  nullptr, OPEN_EXISTING, 0, nullptr);
        REQUIRE(held != INVALID_HANDLE_VALUE);
        std::thread service([held] {
            Sleep(300);
            CloseHandle(held);
        });
        HRESULT removed = RemoveJob(PlantedOwnJobs::Name(ScanFixJob));
        testlimit::Join(service, testlimit::kStep, "the stand-in service's hold on the scan job's file");
        REQUIRE_MESSAGE(removed == S_OK,
                        "the scan job's file was still there after 10 s, error 0x" << std::hex << unsigned(removed));
        JobStateCheck check(nullptr, In(folder));
        check.AskFailedJobs(0, asked.Callback());
        std::string listed = OwnJobsListed();
        INFO("this user's jobs listed after the check:\n" << (listed.empty() ? "(none)" : listed));
        INFO("asked: " << Questions(asked.questions));
        INFO("the check saw the scan job: " << check.Current(ScanFixJob).present);
        CHECK(asked.questions.empty());
        CHECK_FALSE(FileExists(folder.File(L"scanfix")));
        // No state file of the compaction job before: now it has one.
        CHECK(ReadAll(folder.File(L"compact")).size() == 8);
    }

    SUBCASE("a scheduled start moves only its own job's time") {
        JobStateCheck(nullptr, In(folder)).AskFailedJobs(BackupJob, asked.Callback());
        CHECK(folder.Files() == std::vector<tstring>{L"backup"});
    }

    SUBCASE("a damaged state file ends the check with an error") {
        WriteAll(folder.File(L"compact"), "abc");
        CHECK_THROWS_AS(JobStateCheck(nullptr, In(folder)), ErrorBase);
    }
}
