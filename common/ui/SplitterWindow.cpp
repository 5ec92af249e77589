#include "common/ui/SplitterWindow.h"
#include <windowsx.h>

void SplitterWindow::ModifyClass(WNDCLASSEX& windowClass) const {
    windowClass.hCursor = ::LoadCursor(nullptr, IDC_SIZEWE);
    windowClass.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
}

void SplitterWindow::SetPanes(HWND left, HWND right) {
    left_ = left;
    right_ = right;
    Layout();
}

int SplitterWindow::Clamp(int position) const {
    RECT client = ClientRect();
    int widest = client.right - kBarWidth;
    if (position > widest) position = widest;
    if (position < kMinPane) position = kMinPane;
    return position;
}

void SplitterWindow::SetPosition(int position) {
    position_ = position < 0 ? 0 : position;
    Layout();
}

void SplitterWindow::ShowSinglePane(bool single) {
    single_ = single;
    if (right_) ::ShowWindow(right_, single ? SW_HIDE : SW_SHOWNA);
    Layout();
}

void SplitterWindow::Layout() {
    if (!Handle()) return;
    RECT client = ClientRect();
    if (single_) {
        if (left_) ::MoveWindow(left_, 0, 0, client.right, client.bottom, TRUE);
        return;
    }
    // The wanted position is kept; only its use is clamped, so that a window
    // that shrinks and grows again gets its bar back where it was.
    int bar = Clamp(position_);
    if (left_) ::MoveWindow(left_, 0, 0, bar, client.bottom, TRUE);
    if (right_) ::MoveWindow(right_, bar + kBarWidth, 0, client.right - bar - kBarWidth, client.bottom, TRUE);
}

LRESULT SplitterWindow::OnMessage(UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_SIZE:
        Layout();
        return 0;
    case WM_LBUTTONDOWN:
        if (!single_) {
            dragging_ = true;
            ::SetCapture(Handle());
        }
        return 0;
    case WM_MOUSEMOVE:
        if (dragging_) {
            position_ = Clamp(GET_X_LPARAM(lParam) - kBarWidth / 2);
            Layout();
        }
        return 0;
    case WM_NOTIFY:
    case WM_COMMAND:
    case WM_DRAWITEM:
        // The splitter only lays its panes out: what they report is for the
        // window that owns the splitter.
        return ::SendMessage(::GetParent(Handle()), message, wParam, lParam);
    case WM_LBUTTONUP:
    case WM_CAPTURECHANGED:
        if (dragging_) {
            dragging_ = false;
            if (message == WM_LBUTTONUP) ::ReleaseCapture();
        }
        return 0;
    default:
        return DefaultProc(message, wParam, lParam);
    }
}
