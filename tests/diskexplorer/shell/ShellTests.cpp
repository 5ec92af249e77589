#include <windows.h>
#include "doctest/doctest.h"
#include "common/errors/ErrorBase.h"
#include "common/errors/ErrorText.h"
#include "tests/diskexplorer/frame/FrameHarness.h"
#include "tests/support/StartProcess.h"

namespace {
// Starts Drossel.exe and waits for its end, handling this thread's sent
// messages meanwhile (its broadcast waits for every top-level window).
DWORD RunDrossel(BoxAnswerer* answerer = nullptr, DWORD* process = nullptr) {
    tstring command = L"\"" + EnvironmentPath(L"DROSSEL_EXE") + L"\"";
    STARTUPINFOW startup{sizeof startup};
    PROCESS_INFORMATION info{};
    if (!CreateProcessRetrying(nullptr, &command[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &info))
        return 0xDEAD;
    std::unique_ptr<BoxAnswerer> boxes;
    if (process)
        *process = info.dwProcessId;
    while (MsgWaitForMultipleObjects(1, &info.hProcess, FALSE, 60000, QS_ALLINPUT) == WAIT_OBJECT_0 + 1)
        MessageLoop::PumpThread();
    DWORD code = 0xBEEF;
    GetExitCodeProcess(info.hProcess, &code);
    CloseHandle(info.hProcess);
    CloseHandle(info.hThread);
    return code;
}

struct ActivationWatcher : WindowImpl {
    int received = 0;
    LRESULT OnMessage(UINT message, WPARAM wParam, LPARAM lParam) override {
        if (message == g_activateMessage)
            ++received;
        return DefaultProc(message, wParam, lParam);
    }
    const TCHAR* ClassName() const override { return L"DrosselActivationWatcher"; }
};

}  // namespace

TEST_CASE("Drossel.exe: a second start raises the first; Wine's volumes end in the error box") {
    SUBCASE("the mutex is held") {
        HANDLE mutex = CreateMutexW(nullptr, FALSE, L"QUARN-Drossel-69144AF1-FA15-4b28-9D76-F6F3E3C06C92");
        ActivationWatcher watcher;
        RECT rect{0, 0, 10, 10};
        watcher.Create(nullptr, &rect, L"watcher", WS_POPUP);
        CHECK(RunDrossel() == DWORD(-2));
        CHECK(watcher.received == 1);
        CloseHandle(mutex);
    }
    SUBCASE("the volume control codes are not supported") {
        tstring command = L"\"" + EnvironmentPath(L"DROSSEL_EXE") + L"\"";
        STARTUPINFOW startup{sizeof startup};
        PROCESS_INFORMATION info{};
        REQUIRE(CreateProcessRetrying(nullptr, &command[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                                      &info));
        std::vector<BoxAnswerer::Box> seen;
        {
            BoxAnswerer boxes(IDOK, info.dwProcessId);
            CHECK(WaitForSingleObject(info.hProcess, 60000) == WAIT_OBJECT_0);
            seen = boxes.Boxes();
        }
        DWORD code = 0xBEEF;
        GetExitCodeProcess(info.hProcess, &code);
        CloseHandle(info.hProcess);
        CloseHandle(info.hThread);
        CHECK(code == 0);
        REQUIRE(seen.size() == 1);
        CHECK(seen[0].caption == L"Unexpected Error");
        CHECK(seen[0].text == ModuleErrorText(FoldWin32(ERROR_NOT_SUPPORTED)));
    }
}

