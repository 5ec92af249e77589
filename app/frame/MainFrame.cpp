#include "app/frame/MainFrame.h"
#include <algorithm>
#include "app/AppUtilities.h"
#include "app/OperationLock.h"
#include "app/resource.h"
#include "common/log/Log.h"
#include "common/system/ModuleVersion.h"
#include "common/ui/CallbackError.h"

namespace {

const UINT_PTR kTimerId = 0;

const wchar_t* OperationName(int operation) {
    switch (operation) {
    case OperationBackup:
        return L"Backup";
    case OperationCompact:
        return L"Compact";
    default:
        return L"Scan and Fix";
    }
}

}  // namespace

tstring FrameTitle() {
    tstring title(MAKEINTRESOURCEW(IDS_PRODUCT_TITLE));
    int major = 0, minor = 0;
    swscanf(ModuleVersion().FileVersion().c_str(), L"%d.%d", &major, &minor);
    return title + FormatText(L" %d.%d", major, minor);
}

MainFrame::MainFrame(FrameClient& client, UINT requestMessage, int startOperation)
    : client_(client),
      requestMessage_(requestMessage),
      startOperation_(startOperation),
      taskbarMessage_(::RegisterWindowMessageW(L"TaskbarCreated")) {}

MainFrame::~MainFrame() {
    if (MessageLoop* loop = MessageLoop::ForCurrentThread()) {
        loop->RemoveMessageFilter(this);
        loop->RemoveIdleHandler(this);
    }
}

SIZE MainFrame::FrameSize(int cleanBoot, int screenWidth, int screenHeight) {
    if (cleanBoot <= 0) return SIZE{kWidth, kHeight};
    return SIZE{std::max(screenWidth - 1, 640), std::max(screenHeight - 1, 480)};
}

void MainFrame::ModifyClass(WNDCLASSEX& windowClass) const {
    windowClass.hIcon = ::LoadIconW(::GetModuleHandleW(nullptr), MAKEINTRESOURCEW(IDI_MAINFRAME));
    windowClass.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
}

HWND MainFrame::CreateFrame(int cleanBoot) {
    SIZE size = FrameSize(cleanBoot, ::GetSystemMetrics(SM_CXSCREEN), ::GetSystemMetrics(SM_CYSCREEN));
    minimum_ = initial_ = size;
    RECT rect = {0, 0, size.cx, size.cy};
    return Create(nullptr, &rect, L"", WS_OVERLAPPEDWINDOW | WS_CLIPCHILDREN);
}

void MainFrame::ShowTrayIcon() {
    tray_.SetVisible(false);
    tray_.SetWindow(Handle());
    tray_.SetId(kTrayIconId);
    tray_.SetCallbackMessage(trayMessage_);
    tray_.LoadIcon(::GetModuleHandleW(nullptr), MAKEINTRESOURCEW(IDI_MAINFRAME));
    tray_.SetTip(L"QUARN Orvane");
    tray_.SetVisible(true);
}

LRESULT MainFrame::OnCreate() {
    if (startOperation_ != OperationNone) {
        trayMessage_ = ::RegisterWindowMessageW(L"ORVANE_TRAY_MSG");
        ShowTrayIcon();
    }
    HWND view = client_.CreateClient(Handle());
    if (view) {
        RECT client = ClientRect();
        ::MoveWindow(view, 0, 0, client.right, client.bottom, TRUE);
    }
    client_.SetSplitterPosition(std::max<int>(static_cast<int>((ClientRect().right - ClientRect().left) / 8), 100));
    if (MessageLoop* loop = MessageLoop::ForCurrentThread()) {
        loop->AddMessageFilter(this);
        loop->AddIdleHandler(this);
    }
    SetText(FrameTitle().c_str());
    SetTimer(kTimerId, 1000);
    return 0;
}

void MainFrame::OnFirstShow() {
    RECT rect = WindowRect();
    int cx = (rect.left + rect.right) / 2;
    int cy = (rect.top + rect.bottom) / 2;
    int left = cx - initial_.cx / 2;
    int top = cy - initial_.cy / 2;
    if (left < 0) left = 1;
    if (top < 0) top = 1;
    SetPos(nullptr, left, top, initial_.cx, initial_.cy, SWP_NOZORDER | SWP_NOACTIVATE);
}

void MainFrame::OnSizing(WPARAM edge, RECT* rect) {
    if (rect->right - rect->left < minimum_.cx) {
        if (edge == WMSZ_LEFT || edge == WMSZ_TOPLEFT || edge == WMSZ_BOTTOMLEFT) {
            rect->left = rect->right - minimum_.cx;
        } else {
            rect->right = rect->left + minimum_.cx;
        }
    }
    if (rect->bottom - rect->top < minimum_.cy) {
        if (edge == WMSZ_TOP || edge == WMSZ_TOPLEFT || edge == WMSZ_TOPRIGHT) {
            rect->top = rect->bottom - minimum_.cy;
        } else {
            rect->bottom = rect->top + minimum_.cy;
        }
    }
}

void MainFrame::ActivateFrame() {
    if (!IsVisible()) {
        Show(SW_SHOW);
        tray_.Delete();
    }
    if (IsIconic()) Show(IsZoomed() ? SW_MAXIMIZE : SW_RESTORE);
    ::AllowSetForegroundWindow(::GetCurrentProcessId());
    ::SetForegroundWindow(Handle());
}

void MainFrame::QueueOperation(int operation) {
    if (operation == OperationNone) return;
    if (std::find(queue_.begin(), queue_.end(), operation) != queue_.end()) return;
    queue_.push_back(operation);
}

bool MainFrame::OnRequest(const MSG& message) {
    if (!Handle() || message.message != requestMessage_) return false;
    // A broadcast reaches every top-level window of this thread (the splash,
    // the input method's window...): only the copy addressed to the frame
    // counts, or one request would be handled several times.
    if (message.hwnd != Handle()) return true;
    int operation = static_cast<int>(message.wParam);
    bool fromOtherVisible = IsVisible() && startOperation_ == OperationNone && message.lParam != -1;
    if (fromOtherVisible || operation == OperationNone) {
        ActivateFrame();
        if (operation >= OperationBackup && operation <= OperationScanFix) {
            tstring text;
            text.FormatResource(IDS_OPERATION_QUEUED, OperationName(operation));
            ShowMessageBox(Handle(), text.c_str(), nullptr, MB_ICONINFORMATION);
        }
    } else {
        QueueOperation(operation);
    }
    return true;
}

bool MainFrame::PreTranslateMessage(MSG& message) { return OnRequest(message); }

void MainFrame::OnTimer() {
    if (!ready_ || inTimer_) return;
    inTimer_ = true;
    if (quitRequested_) {
        Post(WM_CLOSE);
    } else if (TryBeginOperation()) {
        int operation = OperationNone;
        if (!queue_.empty()) {
            operation = queue_.front();
            queue_.erase(queue_.begin());
        } else if (!IsVisible()) {
            // A hidden (scheduled) instance ends about two seconds after its
            // last operation.
            if (idleSeen_) {
                Post(WM_CLOSE);
            } else {
                idleSeen_ = true;
            }
        }
        RunQueuedOperation(client_, operation);
    }
    inTimer_ = false;
}

void RunQueuedOperation(FrameClient& client, int operation) {
    try {
        bool kept = false;
        if (operation >= OperationBackup && operation <= OperationScanFix) kept = client.RunScheduledJob(operation);
        if (!kept) EndOperation();
    } catch (...) {
        ReportCurrentException(L"scheduled job");
        EndOperation();
        client.ClearQuiet();
    }
}

void MainFrame::OnClose() {
    if (client_.AskToSaveChanges() == IDCANCEL) return;
    if (TryBeginOperation()) {
        EndOperation();
        KillTimer(kTimerId);
        Destroy();
        return;
    }
    if (!quitRequested_ && IsVisible()) {
        int answer = ShowMessageBox(Handle(), MAKEINTRESOURCEW(IDS_CANCEL_AND_QUIT), nullptr,
                                    MB_YESNO | MB_ICONQUESTION | MB_DEFBUTTON2);
        if (answer == IDNO) return;
    }
    client_.SetStopRequested();
    PumpMessages();
    if (client_.IsScanRunning()) {
        try {
            client_.StopScanForClose();
        } catch (...) {
        }
    }
    Show(SW_HIDE);
    PumpMessages();
    quitRequested_ = true;
}

LRESULT MainFrame::OnMessage(UINT message, WPARAM wParam, LPARAM lParam) {
    if (trayMessage_ != 0 && message == trayMessage_) {
        if (lParam == WM_LBUTTONDBLCLK) ActivateFrame();
        return 0;
    }
    if (message == requestMessage_ && requestMessage_ != 0) {
        // Reached the window directly: a modal loop (a message box, a dialog)
        // dispatched it without offering it to the filters.
        MSG request = {Handle(), message, wParam, lParam, 0, {}};
        OnRequest(request);
        return 0;
    }
    if (message == taskbarMessage_ && taskbarMessage_ != 0) {
        // A new shell knows nothing of the old one's icons.
        if (startOperation_ != OperationNone && !IsVisible()) tray_.Readd();
        return DefaultProc(message, wParam, lParam);
    }
    switch (message) {
    case WM_CREATE:
        return OnCreate();
    case WM_SHOWWINDOW:
        if (wParam && !shown_) {
            shown_ = true;
            OnFirstShow();
        }
        return DefaultProc(message, wParam, lParam);
    case WM_SIZE: {
        HWND view = ::GetWindow(Handle(), GW_CHILD);
        if (view) ::MoveWindow(view, 0, 0, LOWORD(lParam), HIWORD(lParam), TRUE);
        return 0;
    }
    case WM_CLOSE:
        OnClose();
        return 0;
    case WM_QUERYENDSESSION:
        if (TryBeginOperation()) {
            EndOperation();
            return TRUE;
        }
        quitRequested_ = true;
        return FALSE;
    case WM_TIMER:
        if (wParam == kTimerId) OnTimer();
        return 0;
    case WM_SIZING:
        OnSizing(wParam, reinterpret_cast<RECT*>(lParam));
        return TRUE;
    case WM_DESTROY:
        tray_.Delete();
        ::PostQuitMessage(0);
        return 0;
    default:
        return DefaultProc(message, wParam, lParam);
    }
}
