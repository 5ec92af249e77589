#define DOCTEST_CONFIG_IMPLEMENT
#include <doctest/doctest.h>
#include <pthread.h>
#include <atomic>
#include <cstdio>
#include "TestLimits.h"

namespace testlimit {
namespace {

// Well inside CTest's limit for the whole program.
constexpr ULONGLONG kCaseLimit = 240000;
constexpr ULONGLONG kExitLimit = 60000;

std::atomic<const char*> waitingFor{nullptr};
std::atomic<const char*> runningCase{nullptr};
std::atomic<ULONGLONG> deadline{0};
std::atomic<bool> exiting{false};
// Cases that passed the run's filters; -1 until a run ended.
std::atomic<long> casesRun{-1};

// The running case's own word on where it is, and when it said it.
struct Place {
    Place() { InitializeCriticalSection(&lock); }
    CRITICAL_SECTION lock;
    char text[1024] = "";
    ULONGLONG said = 0;
} place;

// Keeps the running case and its deadline for the watchdog.
struct CaseWatch : doctest::IReporter {
    explicit CaseWatch(const doctest::ContextOptions&) {}
    void report_query(const doctest::QueryData&) override {}
    void test_run_start() override {}
    void test_run_end(const doctest::TestRunStats& stats) override {
        casesRun = long(stats.numTestCasesPassingFilters);
    }
    void test_case_start(const doctest::TestCaseData& data) override {
        SetPlace("");
        runningCase = data.m_name;
        deadline = GetTickCount64() + kCaseLimit;
    }
    void test_case_reenter(const doctest::TestCaseData&) override {}
    void test_case_end(const doctest::CurrentTestCaseStats&) override {
        runningCase = nullptr;
        deadline = 0;
    }
    void test_case_exception(const doctest::TestCaseException&) override {}
    void subcase_start(const doctest::SubcaseSignature&) override {}
    void subcase_end() override {}
    void log_assert(const doctest::AssertData&) override {}
    void log_message(const doctest::MessageData&) override {}
    void test_case_skipped(const doctest::TestCaseData&) override {}
};
REGISTER_LISTENER("limits", 1, CaseWatch);

DWORD WINAPI Watchdog(void*) {
    for (;;) {
        Sleep(500);
        ULONGLONG due = deadline;
        if (due && GetTickCount64() > due)
            Abandon(exiting ? "the program to end after its cases (objects released at exit)" : "the test case to end");
    }
}

// Children the test starts end with it, whatever way it ends.
void KeepChildrenInJob() {
    HANDLE job = CreateJobObjectW(nullptr, nullptr);
    JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits{};
    limits.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE | JOB_OBJECT_LIMIT_BREAKAWAY_OK;
    if (!job || !SetInformationJobObject(job, JobObjectExtendedLimitInformation, &limits, sizeof limits) ||
        !AssignProcessToJobObject(job, GetCurrentProcess())) {
        if (job)
            CloseHandle(job);
    }
}

// The test's own desktop, when it runs on one. Wine gives each new thread the
// default desktop rather than its process's, so a thread-attach callback moves
// every new thread there before it can make a window.
HDESK ownDesktop = nullptr;

void NTAPI MoveThreadToOwnDesktop(void*, DWORD reason, void*) {
    if (reason == DLL_THREAD_ATTACH && ownDesktop)
        SetThreadDesktop(ownDesktop);
}
extern "C" __attribute__((section(".CRT$XLY"), used)) const PIMAGE_TLS_CALLBACK orvaneThreadDesktop =
    MoveThreadToOwnDesktop;

// A test whose result depends on the foreground window, focus, menus or the
// keyboard runs on a desktop of its own (named by ORVANE_TEST_DESKTOP): the
// wineserver keeps one foreground window per desktop, which the other tests'
// windows would take. The program starts itself again there; -1 when it
// already runs there or runs on the default desktop.
int RunOnOwnDesktop() {
    wchar_t name[64] = L"", current[64] = L"";
    if (!GetEnvironmentVariableW(L"ORVANE_TEST_DESKTOP", name, 64))
        return -1;
    GetUserObjectInformationW(GetThreadDesktop(GetCurrentThreadId()), UOI_NAME, current, sizeof current, nullptr);
    if (lstrcmpiW(name, current) == 0) {
        ownDesktop = GetThreadDesktop(GetCurrentThreadId());
        return -1;
    }
    HDESK desktop = CreateDesktopW(name, nullptr, nullptr, 0, GENERIC_ALL, nullptr);
    STARTUPINFOW startup{sizeof startup};
    startup.lpDesktop = name;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
    startup.hStdOutput = GetStdHandle(STD_OUTPUT_HANDLE);
    startup.hStdError = GetStdHandle(STD_ERROR_HANDLE);
    PROCESS_INFORMATION process{};
    if (!desktop || !CreateProcessW(nullptr, GetCommandLineW(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup,
                                    &process)) {
        fprintf(stderr, "cannot start the tests on desktop %ls (error %lu)\n", name, GetLastError());
        return 1;
    }
    // Under CTest's limit for the whole program; its cases keep their own.
    if (WaitForSingleObject(process.hProcess, 500000) != WAIT_OBJECT_0)
        Abandon("the tests on their own desktop");
    DWORD code = 1;
    GetExitCodeProcess(process.hProcess, &code);
    return int(code);
}

}  // namespace

void SetPlace(const char* text) {
    EnterCriticalSection(&place.lock);
    lstrcpynA(place.text, text ? text : "", sizeof place.text);
    place.said = GetTickCount64();
    LeaveCriticalSection(&place.lock);
}

Waiting::Waiting(const char* what) : previous_(waitingFor.exchange(what)) {}
Waiting::~Waiting() { waitingFor = previous_; }

void Abandon(const char* what) {
    const char* inner = waitingFor;
    const char* name = runningCase;
    fprintf(stderr, "\nLIMIT: waited too long for %s", what);
    if (inner && inner != what)
        fprintf(stderr, " (while waiting for %s)", inner);
    if (name)
        fprintf(stderr, " in test case \"%s\"", name);
    // The thread that writes the place may be the one that hangs: never wait for it.
    if (TryEnterCriticalSection(&place.lock)) {
        if (place.text[0])
            fprintf(stderr, "; the case was at: %s (said %lu s before)", place.text,
                    static_cast<unsigned long>((GetTickCount64() - place.said) / 1000));
        LeaveCriticalSection(&place.lock);
    }
    fprintf(stderr, "; ending the test program\n");
    fflush(stdout);
    fflush(stderr);
    TerminateProcess(GetCurrentProcess(), 3);
    ExitProcess(3);
}

bool Wait(HANDLE handle, DWORD milliseconds, const char* what, bool pump) {
    Waiting note(what);
    ULONGLONG end = GetTickCount64() + milliseconds;
    for (;;) {
        ULONGLONG now = GetTickCount64();
        DWORD left = now < end ? DWORD(end - now) : 0;
        DWORD status = pump ? MsgWaitForMultipleObjects(1, &handle, FALSE, left, QS_ALLINPUT)
                            : WaitForSingleObject(handle, left);
        if (status == WAIT_OBJECT_0)
            return true;
        if (status != WAIT_OBJECT_0 + 1) {
            FAIL_CHECK("waited " << milliseconds / 1000 << " s for " << doctest::String(what) << " in vain");
            return false;
        }
        MSG message;
        while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&message);
            DispatchMessageW(&message);
        }
    }
}

void Join(HANDLE thread, DWORD milliseconds, const char* what) {
    Waiting note(what);
    if (thread && WaitForSingleObject(thread, milliseconds) == WAIT_TIMEOUT)
        Abandon(what);
}

void Join(std::thread& thread, DWORD milliseconds, const char* what) {
    if (!thread.joinable())
        return;
    Join(pthread_gethandle(thread.native_handle()), milliseconds, what);
    thread.join();
}

}  // namespace testlimit

int main(int argc, char** argv) {
    testlimit::KeepChildrenInJob();
    CloseHandle(CreateThread(nullptr, 0, testlimit::Watchdog, nullptr, 0, nullptr));
    int relaunched = testlimit::RunOnOwnDesktop();
    if (relaunched >= 0)
        return relaunched;
    doctest::Context context(argc, argv);
    int result = context.run();
    // A filter that matches no case (a case renamed, a pattern mistyped)
    // would otherwise pass without testing anything.
    if (result == 0 && !context.shouldExit() && testlimit::casesRun == 0) {
        std::fprintf(stderr, "no test case matched the filters: nothing was tested\n");
        result = 1;
    }
    testlimit::exiting = true;
    testlimit::deadline = GetTickCount64() + testlimit::kExitLimit;
    return result;
}
