#pragma once
#include "common/ui/WindowImpl.h"

// One picture in a borderless, topmost window without a taskbar button,
// shown for a while at start-up. Escape closes it; clicks do not.
class SplashWindow : public WindowImpl {
public:
    static const UINT_PTR kTimerId = 1001;

    // The bitmap stays the caller's.
    SplashWindow(HBITMAP bitmap, UINT displayTime, HWND centreOn = nullptr);

    // False when the bitmap's size cannot be read or the window cannot be
    // made. Non-blocking: a timer closes the window after the display time.
    // Blocking: waits (time, or the display time when 0) less 1 ms while
    // pumping messages.
    bool Show(bool blocking, UINT time = 0);

protected:
    const TCHAR* ClassName() const override { return TEXT("OrvaneSplash"); }
    void ModifyClass(WNDCLASSEX& windowClass) const override;
    LRESULT OnMessage(UINT message, WPARAM wParam, LPARAM lParam) override;

private:
    void Paint();

    HBITMAP bitmap_;
    UINT displayTime_;
    HWND centreOn_;
};
