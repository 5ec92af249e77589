#include <doctest/doctest.h>
#include <stdexcept>
#include "RecordingUiServices.h"
#include "app/frame/MainFrame.h"
#include "app/OperationLock.h"
#include "common/ui/CallbackError.h"

namespace {

struct FakeClient : FrameClient {
    HWND CreateClient(HWND frame) override {
        return CreateWindowExW(0, L"STATIC", L"", WS_CHILD | WS_VISIBLE, 0, 0, 10, 10, frame, nullptr, nullptr,
                               nullptr);
    }
    void SetSplitterPosition(int position) override { splitter = position; }
    bool RunScheduledJob(int operation) override {
        jobs.push_back(operation);
        lockHeldInJob = !TryBeginOperation();
        if (throwInJob) throw std::runtime_error("job failed");
        return keepLock;
    }
    void ClearQuiet() override { ++quietCleared; }
    int AskToSaveChanges() override { return saveAnswer; }
    void SetStopRequested() override { stopRequested = true; }
    bool IsScanRunning() override { return scanning; }
    void StopScanForClose() override { ++scanStops; }

    int splitter = 0;
    std::vector<int> jobs;
    bool lockHeldInJob = false, throwInJob = false, keepLock = false;
    int quietCleared = 0, saveAnswer = IDOK, scanStops = 0;
    bool stopRequested = false, scanning = false;
};

const UINT kRequest = RegisterWindowMessageW(L"ORVANE_DISP_MSG");

MSG Request(HWND to, int operation, LPARAM sender) {
    MSG message = {};
    message.hwnd = to;
    message.message = kRequest;
    message.wParam = static_cast<WPARAM>(operation);
    message.lParam = sender;
    return message;
}

bool ClosePosted(HWND frame) {
    MSG message;
    // A destroyed frame's WM_QUIT comes through any filter.
    while (PeekMessageW(&message, frame, WM_CLOSE, WM_CLOSE, PM_REMOVE)) {
        if (message.message == WM_CLOSE) return true;
    }
    return false;
}

void Quiet(const TCHAR*, const TCHAR*) {}

}  // namespace

TEST_CASE("a visible user-started frame refuses requests of other processes; a hidden one queues them once") {
    RecordingUiServices ui;
    FakeClient client;
    MainFrame frame(client, kRequest, OperationNone);
    REQUIRE(frame.CreateFrame(0));
    CHECK(client.splitter == 100);  // an eighth of the width, at least 100
    frame.Show(SW_SHOW);

    CHECK(frame.OnRequest(Request(frame, OperationBackup, 4711)));
    REQUIRE(ui.boxes.size() == 1);
    CHECK(ui.boxes[0].text.find(L"Backup has been queued to run now, but another instance") == 0);
    CHECK(ui.boxes[0].type == MB_ICONINFORMATION);
    CHECK(frame.Queue().empty());
    // The missed-job check's requests (-1) are queued even so.
    frame.OnRequest(Request(frame, OperationCompact, -1));
    CHECK(frame.Queue() == std::vector<int>{OperationCompact});

    // Another top-level window's copy of the broadcast is taken without effect.
    HWND other = CreateWindowExW(0, L"STATIC", L"", WS_POPUP, 0, 0, 1, 1, nullptr, nullptr, nullptr, nullptr);
    CHECK(frame.OnRequest(Request(other, OperationScanFix, 4711)));
    CHECK(ui.boxes.size() == 1);
    DestroyWindow(other);

    frame.Show(SW_HIDE);
    frame.OnRequest(Request(frame, OperationScanFix, 4711));
    frame.OnRequest(Request(frame, OperationScanFix, 4711));
    frame.OnRequest(Request(frame, OperationNone, 4711));  // only brings the frame up
    CHECK(frame.Queue() == std::vector<int>{OperationCompact, OperationScanFix});
    CHECK(frame.IsVisible());
    // A request dispatched by a modal loop, past the filters, still counts.
    frame.Show(SW_HIDE);
    frame.Send(kRequest, OperationBackup, 4711);
    CHECK(frame.Queue().back() == OperationBackup);
    CHECK(ui.boxes.size() == 1);
    frame.Destroy();
}

TEST_CASE("the timer starts queued jobs under the lock, and a hidden idle frame closes itself") {
    SetCallbackErrorReporter(Quiet);
    RecordingUiServices ui;
    FakeClient client;
    MainFrame frame(client, kRequest, OperationBackup);
    REQUIRE(frame.CreateFrame(0));
    frame.QueueOperation(OperationBackup);
    frame.QueueOperation(OperationScanFix);

    frame.OnTimer();  // not ready yet
    CHECK(client.jobs.empty());
    frame.SetReady(true);
    frame.OnTimer();
    CHECK(client.jobs == std::vector<int>{OperationBackup});
    CHECK(client.lockHeldInJob);
    CHECK_FALSE(IsOperationRunning());  // the job did not keep it

    client.throwInJob = true;
    frame.OnTimer();
    CHECK(client.jobs.size() == 2);
    CHECK_FALSE(IsOperationRunning());
    CHECK(client.quietCleared == 1);

    // While someone else holds the lock nothing starts.
    client.throwInJob = false;
    frame.QueueOperation(OperationCompact);
    REQUIRE(TryBeginOperation());
    frame.OnTimer();
    CHECK(client.jobs.size() == 2);
    EndOperation();
    frame.OnTimer();
    CHECK(client.jobs.back() == OperationCompact);

    // Idle and hidden: the second idle tick closes the frame.
    CHECK_FALSE(ClosePosted(frame));
    frame.OnTimer();
    CHECK_FALSE(ClosePosted(frame));
    frame.OnTimer();
    CHECK(ClosePosted(frame));
    frame.Destroy();
    SetCallbackErrorReporter(nullptr);
}

TEST_CASE("closing during an operation asks once, hides, and ends when the operation has") {
    RecordingUiServices ui;
    ui.boxAnswer = IDYES;
    FakeClient client;
    client.scanning = true;
    MainFrame frame(client, kRequest, OperationNone);
    REQUIRE(frame.CreateFrame(0));
    frame.Show(SW_SHOW);

    client.saveAnswer = IDCANCEL;
    frame.Send(WM_CLOSE);
    CHECK(frame.IsVisible());
    CHECK(ui.boxes.empty());
    client.saveAnswer = IDOK;

    REQUIRE(TryBeginOperation());
    frame.Send(WM_CLOSE);
    REQUIRE(ui.boxes.size() == 1);
    CHECK(ui.boxes[0].text == L"Do you want to cancel the current operation and quit?");
    CHECK(ui.boxes[0].type == (MB_YESNO | MB_ICONQUESTION | MB_DEFBUTTON2));
    CHECK(client.stopRequested);
    CHECK(client.scanStops == 1);
    CHECK_FALSE(frame.IsVisible());
    CHECK(frame.QuitRequested());
    frame.Send(WM_CLOSE);
    CHECK(ui.boxes.size() == 1);  // asked once
    CHECK(frame.IsWindow());

    EndOperation();
    frame.Send(WM_CLOSE);
    CHECK_FALSE(frame.IsWindow());

    // A shutdown during an operation is refused once; the program then ends after it.
    MainFrame second(client, kRequest, OperationNone);
    REQUIRE(second.CreateFrame(0));
    REQUIRE(TryBeginOperation());
    CHECK(second.Send(WM_QUERYENDSESSION) == FALSE);
    CHECK(second.QuitRequested());
    EndOperation();
    CHECK(second.Send(WM_QUERYENDSESSION) == TRUE);
    second.Destroy();
}

TEST_CASE("the frame's size: 800 x 630, or the screen less a pixel under safe boot") {
    CHECK(MainFrame::FrameSize(0, 1280, 1024).cx == 800);
    CHECK(MainFrame::FrameSize(0, 1280, 1024).cy == 630);
    CHECK(MainFrame::FrameSize(1, 1280, 1024).cx == 1279);
    CHECK(MainFrame::FrameSize(2, 1280, 1024).cy == 1023);
    CHECK(MainFrame::FrameSize(1, 600, 400).cx == 640);
    CHECK(MainFrame::FrameSize(1, 600, 400).cy == 480);
}
