#pragma once
#include <windows.h>
#include "common/tstring/tstring.h"

// A window handle as a value: a thin wrapper whose methods read like the
// Win32 calls they make. It never owns the window: copying, attaching and
// detaching only change which window it names, and its destruction leaves
// the window alone (Destroy is the only call that ends a window).
class Window {
public:
    Window(HWND handle = nullptr) : handle_(handle) {}

    HWND Handle() const { return handle_; }
    operator HWND() const { return handle_; }
    void Attach(HWND handle) { handle_ = handle; }
    HWND Detach() {
        HWND h = handle_;
        handle_ = nullptr;
        return h;
    }
    // A handle is set and still names a window.
    bool IsWindow() const { return handle_ != nullptr && ::IsWindow(handle_) != FALSE; }

    bool Destroy() { return ::DestroyWindow(handle_) != FALSE; }
    bool Show(int command) { return ::ShowWindow(handle_, command) != FALSE; }
    bool Enable(bool enable) { return ::EnableWindow(handle_, enable ? TRUE : FALSE) != FALSE; }
    bool IsEnabled() const { return ::IsWindowEnabled(handle_) != FALSE; }
    bool IsVisible() const { return ::IsWindowVisible(handle_) != FALSE; }
    bool IsIconic() const { return ::IsIconic(handle_) != FALSE; }
    bool IsZoomed() const { return ::IsZoomed(handle_) != FALSE; }
    bool Update() { return ::UpdateWindow(handle_) != FALSE; }
    bool Invalidate(bool erase = true) { return ::InvalidateRect(handle_, nullptr, erase ? TRUE : FALSE) != FALSE; }
    HWND SetFocus() { return ::SetFocus(handle_); }

    bool SetText(const TCHAR* text) { return ::SetWindowText(handle_, text) != FALSE; }
    tstring Text() const;

    LRESULT Send(UINT message, WPARAM wParam = 0, LPARAM lParam = 0) const {
        return ::SendMessage(handle_, message, wParam, lParam);
    }
    bool Post(UINT message, WPARAM wParam = 0, LPARAM lParam = 0) const {
        return ::PostMessage(handle_, message, wParam, lParam) != FALSE;
    }

    Window Parent() const { return Window(::GetParent(handle_)); }
    Window Item(int id) const { return Window(::GetDlgItem(handle_, id)); }
    int Id() const { return ::GetDlgCtrlID(handle_); }
    LONG_PTR Style() const { return ::GetWindowLongPtr(handle_, GWL_STYLE); }
    LONG_PTR ExStyle() const { return ::GetWindowLongPtr(handle_, GWL_EXSTYLE); }

    // Client rectangle (left and top 0); an empty rectangle for no window.
    RECT ClientRect() const;
    // Window rectangle in screen coordinates.
    RECT WindowRect() const;
    bool Move(const RECT& rect, bool repaint = true) {
        return ::MoveWindow(handle_, rect.left, rect.top, rect.right - rect.left, rect.bottom - rect.top,
                            repaint ? TRUE : FALSE) != FALSE;
    }
    bool SetPos(HWND insertAfter, int x, int y, int cx, int cy, UINT flags) {
        return ::SetWindowPos(handle_, insertAfter, x, y, cx, cy, flags) != FALSE;
    }
    // Centres the window on `over` (its window rectangle), or on the work
    // area of the monitor nearest to the window when `over` is NULL or hidden,
    // keeping it inside that work area.
    bool CenterOn(HWND over);

    bool SetTimer(UINT_PTR id, UINT milliseconds) { return ::SetTimer(handle_, id, milliseconds, nullptr) != 0; }
    bool KillTimer(UINT_PTR id) { return ::KillTimer(handle_, id) != FALSE; }

private:
    HWND handle_;
};
