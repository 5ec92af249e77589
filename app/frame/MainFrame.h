#pragma once
#include <vector>
#include "app/frame/FrameClient.h"
#include "app/frame/TrayIcon.h"
#include "common/ui/MessageLoop.h"
#include "common/ui/WindowImpl.h"

// The top-level window of the program. It takes operation requests (from a
// second instance, a scheduled start, the missed-job check) as the request
// message, queues them and starts them one at a time from a one-second timer
// when the operation lock is free; it decides how the program closes while an
// operation runs; a scheduled instance shows a tray icon instead.
class MainFrame : public WindowImpl, private MessageFilter, private IdleHandler {
public:
    static const int kWidth = 800;
    static const int kHeight = 630;
    static const UINT kTrayIconId = 1;

    MainFrame(FrameClient& client, UINT requestMessage, int startOperation);
    ~MainFrame() override;

    // cleanBoot is GetSystemMetrics(SM_CLEANBOOT): under safe boot the frame
    // fills the screen less one pixel, at least 640 x 480.
    static SIZE FrameSize(int cleanBoot, int screenWidth, int screenHeight);

    HWND CreateFrame(int cleanBoot);
    void SetReady(bool ready) { ready_ = ready; }
    void ActivateFrame();
    void QueueOperation(int operation);
    const std::vector<int>& Queue() const { return queue_; }
    bool QuitRequested() const { return quitRequested_; }
    TrayIcon& Tray() { return tray_; }

    // The timer's step (public for tests, which drive it without waiting).
    void OnTimer();
    bool OnRequest(const MSG& message);

protected:
    const TCHAR* ClassName() const override { return TEXT("OrvaneMainFrame"); }
    void ModifyClass(WNDCLASSEX& windowClass) const override;
    LRESULT OnMessage(UINT message, WPARAM wParam, LPARAM lParam) override;

private:
    bool PreTranslateMessage(MSG& message) override;
    bool OnIdle() override { return false; }
    LRESULT OnCreate();
    void OnFirstShow();
    void OnClose();
    void OnSizing(WPARAM edge, RECT* rect);
    void ShowTrayIcon();

    FrameClient& client_;
    UINT requestMessage_;
    int startOperation_;
    UINT trayMessage_ = 0;
    UINT taskbarMessage_;
    TrayIcon tray_;
    SIZE minimum_ = {kWidth, kHeight};
    SIZE initial_ = {kWidth, kHeight};
    bool quitRequested_ = false;
    bool ready_ = false;
    bool shown_ = false;
    bool inTimer_ = false;
    bool idleSeen_ = false;
    std::vector<int> queue_;
};

// The frame's title: string 208, a blank and major.minor of the program's file version.
tstring FrameTitle();
