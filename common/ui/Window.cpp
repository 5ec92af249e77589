#include "common/ui/Window.h"

tstring Window::Text() const {
    tstring text;
    int length = ::GetWindowTextLength(handle_);
    if (length <= 0) return text;
    text.resize(static_cast<size_t>(length) + 1);
    int copied = ::GetWindowText(handle_, &text[0], length + 1);
    text.resize(copied > 0 ? static_cast<size_t>(copied) : 0);
    return text;
}

RECT Window::ClientRect() const {
    RECT rect = {};
    if (!::GetClientRect(handle_, &rect)) rect = RECT{};
    return rect;
}

RECT Window::WindowRect() const {
    RECT rect = {};
    if (!::GetWindowRect(handle_, &rect)) rect = RECT{};
    return rect;
}

bool Window::CenterOn(HWND over) {
    RECT own = WindowRect();
    RECT area = {};
    HMONITOR monitor = ::MonitorFromWindow(over && ::IsWindowVisible(over) ? over : handle_, MONITOR_DEFAULTTONEAREST);
    MONITORINFO info = {};
    info.cbSize = sizeof(info);
    if (monitor && ::GetMonitorInfo(monitor, &info)) {
        area = info.rcWork;
    } else if (!::SystemParametersInfo(SPI_GETWORKAREA, 0, &area, 0)) {
        return false;
    }
    RECT target = area;
    if (over && ::IsWindowVisible(over)) ::GetWindowRect(over, &target);
    int width = own.right - own.left;
    int height = own.bottom - own.top;
    int x = target.left + ((target.right - target.left) - width) / 2;
    int y = target.top + ((target.bottom - target.top) - height) / 2;
    if (x + width > area.right) x = area.right - width;
    if (y + height > area.bottom) y = area.bottom - height;
    if (x < area.left) x = area.left;
    if (y < area.top) y = area.top;
    // A child is placed in its parent's client coordinates.
    if (Style() & WS_CHILD) {
        POINT p = {x, y};
        ::ScreenToClient(::GetParent(handle_), &p);
        x = p.x;
        y = p.y;
    }
    return SetPos(nullptr, x, y, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}
