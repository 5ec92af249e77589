#include "app/frame/SplashWindow.h"
#include "app/AppUtilities.h"

SplashWindow::SplashWindow(HBITMAP bitmap, UINT displayTime, HWND centreOn)
    : bitmap_(bitmap), displayTime_(displayTime), centreOn_(centreOn) {}

void SplashWindow::ModifyClass(WNDCLASSEX& windowClass) const {
    windowClass.style = CS_HREDRAW | CS_VREDRAW | CS_DBLCLKS;
    windowClass.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
}

bool SplashWindow::Show(bool blocking, UINT time) {
    BITMAP info = {};
    if (!bitmap_ || !::GetObject(bitmap_, sizeof(info), &info)) return false;
    RECT rect = {0, 0, info.bmWidth, info.bmHeight};
    const DWORD style = WS_POPUP | WS_VISIBLE | 0x8;
    if (!Create(nullptr, &rect, TEXT(""), style, WS_EX_TOOLWINDOW)) return false;
    SetPos(HWND_TOPMOST, 0, 0, 0, 0, SWP_SHOWWINDOW | SWP_NOMOVE | SWP_NOSIZE);
    CenterOn(centreOn_);
    Update();
    if (!blocking) {
        SetTimer(kTimerId, displayTime_);
    } else {
        UINT wait = (time ? time : displayTime_);
        if (wait > 1) WaitPumping(wait - 1);
    }
    return true;
}

void SplashWindow::Paint() {
    PAINTSTRUCT paint;
    HDC dc = ::BeginPaint(Handle(), &paint);
    BITMAP info = {};
    HDC memory = ::CreateCompatibleDC(dc);
    if (memory && ::GetObject(bitmap_, sizeof(info), &info)) {
        HGDIOBJ old = ::SelectObject(memory, bitmap_);
        ::BitBlt(dc, 0, 0, info.bmWidth, info.bmHeight, memory, 0, 0, SRCCOPY);
        ::SelectObject(memory, old);
    }
    if (memory) ::DeleteDC(memory);
    ::EndPaint(Handle(), &paint);
}

LRESULT SplashWindow::OnMessage(UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_CREATE:
        CenterOn(centreOn_);
        return 0;
    case WM_PAINT:
        Paint();
        return 0;
    case WM_ERASEBKGND:
        return 1;
    case WM_KEYDOWN:
        if (wParam == VK_ESCAPE) Post(WM_CLOSE);
        return 0;
    case WM_TIMER:
        KillTimer(kTimerId);
        Post(WM_CLOSE);
        return 0;
    case WM_LBUTTONDOWN:
    case WM_RBUTTONDOWN:
        return 0;
    default:
        return DefaultProc(message, wParam, lParam);
    }
}
