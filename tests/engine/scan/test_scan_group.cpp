#include <doctest/doctest.h>
#include <atomic>
#include <thread>
#include <stdexcept>
#include <vector>
#include "FileBytes.h"
#include "TempFolder.h"
#include "TestLimits.h"
#include "TestSink.h"
#include "common/errors/ErrorBase.h"
#include "common/log/Log.h"
#include "common/settings/Settings.h"
#include "engine/registry/CacheTable.h"
#include "engine/scan/PathChecks.h"
#include "engine/scan/ScanGroup.h"

namespace {

// Waits up to the bound for a condition another thread brings about.
template <class F>
bool Eventually(F condition, DWORD bound = 5000) {
    DWORD start = GetTickCount();
    while (!condition()) {
        if (GetTickCount() - start > bound) return false;
        Sleep(5);
    }
    return true;
}

tstring TempLogPath(const wchar_t* name) {
    wchar_t temp[MAX_PATH];
    GetTempPathW(MAX_PATH, temp);
    return FormatText(L"%s%s-%u.log", temp, name, unsigned(GetCurrentProcessId()));
}

// The process log pointed at a file of the case's own for the case's life.
class CaseLog {
public:
    explicit CaseLog(const wchar_t* name) : CaseLog(TempLogPath(name)) {}
    explicit CaseLog(const tstring& path) : old_(Log::Instance().FileName()), path_(path) {
        DeleteFileW(path_.c_str());
        Log::Instance().SetFileName(path_);
    }
    ~CaseLog() {
        Log::Instance().SetFileName(old_);
        DeleteFileW(path_.c_str());
    }
    const tstring& Path() const { return path_; }
    tstring Text() const {
        std::string bytes = ReadAll(path_);
        return tstring(reinterpret_cast<const wchar_t*>(bytes.data()), bytes.size() / sizeof(wchar_t));
    }

private:
    tstring old_, path_;
};

DWORD FinishAndReturn(ScanGroup& g) {
    g.ReportFinish();
    return g.StopRequested() ? ScanGroup::ExitStopped : ScanGroup::ExitDone;
}

}  // namespace

TEST_CASE("Progress is the rounded mean of the sub-tasks") {
    TestSink sink;
    ScanGroup group(&sink, 4);
    uint32_t a = group.RegisterSubtask();
    uint32_t b = group.RegisterSubtask();
    CHECK(b == a + 1);
    CHECK(group.SubtaskCount() == 2);

    group.ReportProgress(a, 1.0);  // mean 0.5 rounds up
    group.ReportProgress(a, 0.98);  // mean 0.49 rounds down
    REQUIRE(sink.progress.size() == 2);
    CHECK(sink.progress[0] == 1);
    CHECK(sink.progress[1] == 0);
    CHECK(sink.progressBits[0] == 4);

    SUBCASE("values just above 100 are kept, further ones cut to 100") {
        group.ReportProgress(b, 0.996);
        group.ReportProgress(a, 100.005);  // (100.005 + 0.996) / 2 = 50.5005
        CHECK(sink.progress.back() == 51);
        group.ReportProgress(a, 100.02);  // stored as 100: 50.498
        CHECK(sink.progress.back() == 50);
    }
    SUBCASE("an unknown sub-task changes nothing and raises nothing") {
        group.ReportProgress(b + 10, 50.0);
        CHECK(sink.progress.size() == 2);
        group.ReportProgress(b, 0.0);
        CHECK(sink.progress.back() == 0);
    }
    SUBCASE("a removed sub-task no longer counts") {
        group.ReportProgress(b, 60.0);
        CHECK(sink.progress.back() == 30);
        group.RemoveSubtask(a);
        group.RemoveSubtask(a);
        group.ReportProgress(b, 60.0);
        CHECK(sink.progress.back() == 60);
        group.ReportProgress(a, 10.0);
        CHECK(sink.progress.back() == 60);
    }
}

TEST_CASE("Findings reach the sink with the group bit") {
    TestSink sink;
    ScanGroup group(&sink, 32);
    CheckResult r;
    r.ErrorID = 0x013F0068;
    r.Item = L"item";
    group.ReportFound(L"HKCU\\X", L"v", r);
    REQUIRE(sink.found.size() == 1);
    CHECK(sink.found[0].keyPath == L"HKCU\\X");
    CHECK(sink.found[0].valueName == L"v");
    CHECK(sink.found[0].result.ErrorID == 0x013F0068);
    CHECK(sink.found[0].result.Item == L"item");
    CHECK(sink.found[0].groupBit == 32);

    ScanGroup silent(nullptr, 1);  // no sink: nothing to call, nothing fails
    silent.ReportFound(L"k", L"v", r);
    silent.ReportProgress(silent.RegisterSubtask(), 50.0);
    silent.ReportFinish();
}

TEST_CASE("Starting and waiting") {
    TestSink sink;

    SUBCASE("a group without procedure starts nothing; Wait returns at once") {
        ScanGroup group(&sink, 1);
        CHECK(group.Start() == ScanGroup::Started);
        CHECK_FALSE(group.IsRunning());
        group.Wait(5000);
        CHECK(sink.FinishCount() == 0);
    }

    SUBCASE("the procedure runs below normal priority and the end is reported once") {
        std::atomic<int> priority{99};
        ScanGroup group(&sink, 8, [&](ScanGroup& g) {
            priority = GetThreadPriority(GetCurrentThread());
            return FinishAndReturn(g);
        });
        uint32_t before = group.RegisterSubtask();
        CHECK(group.Start() == ScanGroup::Started);
        group.Wait(5000);
        CHECK(group.ExitCode() == ScanGroup::ExitDone);
        CHECK(priority == THREAD_PRIORITY_BELOW_NORMAL);
        CHECK(sink.finished == std::vector<uint32_t>{8});
        // Start emptied the progress map; the counter goes on.
        CHECK(group.SubtaskCount() == 0);
        CHECK(group.RegisterSubtask() == before + 1);

        // A finished group starts again.
        CHECK(group.Start() == ScanGroup::Started);
        group.Wait(5000);
        CHECK(sink.finished.size() == 2);
    }

    SUBCASE("a second start while running changes nothing") {
        HANDLE release = CreateEventW(nullptr, TRUE, FALSE, nullptr);
        std::atomic<int> runs{0};
        ScanGroup group(&sink, 2, [&](ScanGroup& g) {
            ++runs;
            WaitForSingleObject(release, 10000);
            return FinishAndReturn(g);
        });
        CHECK(group.Start() == ScanGroup::Started);
        group.RequestStop();
        CHECK(group.Start() == ScanGroup::StillRunning);
        CHECK(group.StopRequested());  // the running scan keeps its stop request
        SetEvent(release);
        group.Wait(5000);
        CHECK(runs == 1);
        CHECK(group.ExitCode() == ScanGroup::ExitStopped);
        CloseHandle(release);
    }

    SUBCASE("a procedure that ignores the stop is terminated after the wait, and the log says so first") {
        // The group waits for the log's folder to change and, in the same
        // wait, takes a token: the token is gone only when the log grew while
        // the group still lived.
        TempFolder folder(L"scanfw-forced");
        CaseLog log(folder.File(L"forced.log"));
        HANDLE change = FindFirstChangeNotificationW(folder.Path().c_str(), FALSE, FILE_NOTIFY_CHANGE_SIZE);
        REQUIRE(change != INVALID_HANDLE_VALUE);
        HANDLE token = CreateSemaphoreW(nullptr, 1, 1, nullptr);
        std::atomic<bool> waiting{false};
        ScanGroup group(&sink, 16, [&](ScanGroup&) -> DWORD {
            HANDLE both[2] = {change, token};
            waiting = true;
            WaitForMultipleObjects(2, both, TRUE, INFINITE);
            for (;;) Sleep(10);
        });
        group.Start();
        REQUIRE(Eventually([&] { return waiting.load(); }));
        group.RequestStop();
        group.Wait(200);
        CHECK_FALSE(group.IsRunning());
        CHECK(group.ExitCode() == ScanGroup::ExitTerminated);
        LONG left = -1;
        ReleaseSemaphore(token, 1, &left);
        CHECK_MESSAGE(left == 0, "the thread was ended before its line was written");
        CloseHandle(token);
        FindCloseChangeNotification(change);
        CHECK(log.Text().find(L"[error] Scan group 16 did not stop within 200 ms; its thread is ended.") !=
              tstring::npos);
    }
}

// The group thread that is ended may be in the middle of a log line: the
// next lines, and the next forced end, must not wait for it.
TEST_CASE("A group ended in the middle of its log lines leaves the log usable, and the next Stop returns") {
    CaseLog log(L"scanfw-logging");
    TestSink sink;
    for (int round = 0; round < 5; ++round) {
        CAPTURE(round);
        std::atomic<long> lines{0};
        ScanGroup talker(&sink, 32, [&](ScanGroup&) -> DWORD {
            for (;;) {
                Log::Instance().Print(LogError, L"[error] round %d: still walking", round);
                ++lines;
            }
        });
        ScanGroup silent(&sink, 64, [&](ScanGroup&) -> DWORD {
            for (;;) Sleep(10);
        });
        talker.Start();
        silent.Start();
        REQUIRE(Eventually([&] { return lines > 10 + round * 7; }));
        talker.RequestStop();
        silent.RequestStop();
        std::thread stop([&] {
            talker.Wait(200);
            Log::Instance().Print(LogError, L"[error] round %d: after the forced end", round);
            silent.Wait(200);
        });
        testlimit::Join(stop, testlimit::kStep, "a log line and a second Stop after a group was ended while it logged");
        CHECK_FALSE(talker.IsRunning());
        CHECK_FALSE(silent.IsRunning());
        tstring text = log.Text();
        CHECK(text.find(FormatText(L"[error] round %d: after the forced end", round)) != tstring::npos);
        CHECK(text.find(L"[error] Scan group 32 did not stop within 200 ms; its thread is ended.") != tstring::npos);
        CHECK(text.find(L"[error] Scan group 64 did not stop within 200 ms; its thread is ended.") != tstring::npos);
    }
}

TEST_CASE("A log that another process holds does not lengthen a forced end much") {
    CaseLog log(L"scanfw-held");
    TestSink sink;
    HANDLE held = CreateEventW(nullptr, TRUE, FALSE, nullptr), done = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    // Another thread stands for the other process: the lock is its owner's.
    std::thread holder([&] {
        LogFileLock lock(Log::LockName(log.Path()), 0);
        if (lock.Owned()) SetEvent(held);
        WaitForSingleObject(done, testlimit::kStep);
    });
    REQUIRE(testlimit::Wait(held, testlimit::kStep, "the log's write lock"));
    ScanGroup group(&sink, 4, [&](ScanGroup&) -> DWORD {
        for (;;) Sleep(10);
    });
    group.Start();
    group.RequestStop();
    ULONGLONG start = GetTickCount64();
    group.Wait(200);
    ULONGLONG took = GetTickCount64() - start;
    SetEvent(done);
    testlimit::Join(holder, testlimit::kStep, "the thread holding the log's lock");
    CHECK_FALSE(group.IsRunning());
    // The line gives up after its own limit; the file lock's 5 s are not waited.
    CHECK(took < 200 + ScanGroup::kEndLineLimit + 2000);
    CloseHandle(held);
    CloseHandle(done);
}

TEST_CASE("No exception leaves a group thread; the end is still reported") {
    CaseLog log(L"scanfw-group");
    TestSink sink;
    int kind = 0;
    ScanGroup group(&sink, 64, [&](ScanGroup& g) -> DWORD {
        switch (kind) {
            case 0: throw Win32Error(5);
            case 1: throw std::runtime_error("broken walk");
            default: throw 42;
        }
    });
    for (kind = 0; kind < 3; ++kind) {
        CAPTURE(kind);
        CHECK(group.Start() == ScanGroup::Started);
        group.Wait(5000);
        CHECK(group.ExitCode() == ScanGroup::ExitFailed);
        CHECK(sink.finished.size() == size_t(kind + 1));
        REQUIRE(sink.errors.size() == size_t(kind + 1));
        CHECK_FALSE(sink.errors.back().empty());
    }
    CHECK(sink.errors[1] == L"broken walk");
    CHECK(sink.errors[0] == Win32Error(5).Message());

    CHECK(log.Text().find(L"[error] Scan group 64 failed: broken walk") != tstring::npos);
}

TEST_CASE("Pause holds the walk, resume releases it, a stop ends a paused walk promptly") {
    TestSink sink;
    std::atomic<long> steps{0};
    ScanGroup group(&sink, 1, [&](ScanGroup& g) {
        while (g.ContinueWalk()) {
            ++steps;
            Sleep(1);
        }
        return FinishAndReturn(g);
    });
    group.Start();
    REQUIRE(Eventually([&] { return steps > 5; }));

    group.SetPause(true);
    CHECK(group.Paused());
    Sleep(300);  // let a step in progress complete
    long held = steps;
    Sleep(200);
    CHECK(steps == held);

    group.SetPause(false);
    REQUIRE(Eventually([&] { return steps > held + 5; }));

    group.SetPause(true);
    Sleep(50);
    DWORD start = GetTickCount();
    group.RequestStop();
    group.Wait(5000);
    DWORD took = GetTickCount() - start;
    CHECK(took < 1000);
    CHECK(group.ExitCode() == ScanGroup::ExitStopped);
    CHECK(sink.finished.size() == 1);

    // A new scan never begins paused.
    group.Start();
    REQUIRE(Eventually([&] { return steps > held + 50; }));
    CHECK_FALSE(group.Paused());
    group.RequestStop();
    group.Wait(5000);
}

TEST_CASE("A consumer group is released when the producing group fails or is absent") {
    TestSink sink;
    CacheTable& table = CacheTable::Instance();
    std::atomic<int> consumerSaw{-1};
    auto consumerProc = [&](ScanGroup& g) {
        NamedCache* c = table.Find(CacheTable::AppIdCache, true);
        consumerSaw = (c && c->WaitReady(true)) ? 1 : 0;
        return FinishAndReturn(g);
    };

    SUBCASE("producer group not started") {
        table.ResetAll(2);
        ScanGroup consumer(&sink, 2, consumerProc);
        consumer.Start();
        consumer.Wait(5000);
        CHECK(consumer.ExitCode() == ScanGroup::ExitDone);
        CHECK(consumerSaw == 0);
    }
    SUBCASE("producer group fails before its cache is ready") {
        table.ResetAll(1 | 2);
        HANDLE go = CreateEventW(nullptr, TRUE, FALSE, nullptr);
        ScanGroup producer(&sink, 1, [&](ScanGroup& g) -> DWORD {
            table.GetOrCreate(CacheTable::AppIdCache)->Set(L"{X}", true);
            WaitForSingleObject(go, 10000);
            throw std::runtime_error("producer failed");
        });
        ScanGroup consumer(&sink, 2, consumerProc);
        producer.Start();
        consumer.Start();
        Sleep(50);
        CHECK(consumerSaw == -1);
        SetEvent(go);
        producer.Wait(5000);
        consumer.Wait(5000);
        CHECK(consumer.ExitCode() == ScanGroup::ExitDone);
        CHECK(consumerSaw == 0);
        CloseHandle(go);
    }
    SUBCASE("producer completes its cache") {
        table.ResetAll(1 | 2);
        ScanGroup consumer(&sink, 2, consumerProc);
        consumer.Start();
        ScanGroup producer(&sink, 1, [&](ScanGroup& g) {
            NamedCache* c = table.GetOrCreate(CacheTable::AppIdCache);
            c->Set(L"{X}", true);
            c->SetReady(true);
            return FinishAndReturn(g);
        });
        producer.Start();
        producer.Wait(5000);
        consumer.Wait(5000);
        CHECK(consumerSaw == 1);
    }
}

TEST_CASE("Destroying a running group stops its thread first") {
    TestSink sink;
    std::atomic<bool> ended{false};
    {
        ScanGroup group(&sink, 128, [&](ScanGroup& g) {
            while (g.ContinueWalk()) Sleep(1);
            ended = true;
            return FinishAndReturn(g);
        });
        group.Start();
        group.SetPause(true);
    }
    CHECK(ended);
    CHECK(sink.finished.size() == 1);
}

// The scan asks the drive mask at every path, while the settings object may
// still wait to read a busy file and another program saves it. A group ended
// there must leave no lock of the settings held.
TEST_CASE("A group ended while it asks the mask of a busy settings object leaves the settings usable") {
    TempFolder folder(L"scanfw-settings");
    tstring path = folder.File(L"settings.dat");
    // Mask 7, empty folders and mail texts, the mail switch off, automatic fix on.
    std::string bytes(23, '\0');
    bytes[0] = 7;
    bytes[21] = 1;
    WriteAll(path, bytes);
    HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    REQUIRE(file != INVALID_HANDLE_VALUE);
    // Left behind, not destroyed, when a call hangs: its end would hang too.
    Settings* settings = new Settings(true, path);
    REQUIRE_FALSE(settings->GetAutoFix());
    // Another thread stands for the other program saving the file.
    HANDLE held = CreateEventW(nullptr, TRUE, FALSE, nullptr), done = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    std::thread saver([&] {
        HANDLE lock = CreateMutexW(nullptr, FALSE, Settings::SaveLockName(path).c_str());
        if (lock && WaitForSingleObject(lock, 0) == WAIT_OBJECT_0) {
            SetEvent(held);
            WaitForSingleObject(done, testlimit::kStep);
            ReleaseMutex(lock);
        }
        if (lock) CloseHandle(lock);
    });
    REQUIRE(testlimit::Wait(held, testlimit::kStep, "another thread to take the settings' save lock"));
    TestSink sink;
    std::atomic<long> asked{0};
    // Made once: the loop allocates nothing, so the forced end cannot land
    // inside the heap's own lock.
    const tstring target = L"C:\\Windows\\notepad.exe";
    IsSkippedDrive(target);
    ScanGroup group(&sink, 4, [&](ScanGroup&) -> DWORD {
        for (;;) {
            IsSkippedDrive(target);
            ++asked;
        }
    });
    group.Start();
    REQUIRE(Eventually([&] { return asked > 0; }));
    Sleep(300);
    group.RequestStop();
    group.Wait(200);
    CHECK(group.ExitCode() == ScanGroup::ExitTerminated);
    SetEvent(done);
    testlimit::Join(saver, testlimit::kStep, "the thread holding the settings' save lock");
    CloseHandle(file);

    struct Call {
        Settings* settings;
        bool autoFix = false;
        int32_t mask = 0;
    } call{settings};
    HANDLE caller = CreateThread(nullptr, 0, [](void* p) -> DWORD {
        Call& c = *static_cast<Call*>(p);
        c.autoFix = c.settings->GetAutoFix();
        c.mask = Settings::GetSkipScanDrives();
        return 0;
    }, &call, 0, nullptr);
    REQUIRE(caller);
    bool returned = testlimit::Wait(caller, 10000, "a settings getter after a group was ended while it asked the mask");
    if (!returned) return;
    CloseHandle(caller);
    // The getters, not the scan, read the file once it is free.
    CHECK(call.autoFix);
    CHECK(call.mask == 7);
    CHECK(Settings::CurrentSkipScanDrives() == 7);
    delete settings;
    CloseHandle(held);
    CloseHandle(done);
}
