#pragma once
#include "app/FrameClient.h"
#include "app/HtmlView.h"
#include "app/ScanStartPage.h"
#include "common/ui/SplitterWindow.h"

// The frame's client: the HTML view in a splitter, the page objects, and the
// fallback handler of page events the current page leaves alone.
class MainView : public WindowImpl, public HtmlEventHandler, public FrameClient {
public:
    MainView();
    ~MainView() override;

    HtmlView& View() { return html_; }
    ScanStartPage& StartPage() { return startPage_; }
    bool StopRequested() const { return stopRequested_; }
    bool Quiet() const { return quiet_; }
    void SetQuiet(bool quiet) { quiet_ = quiet; }

    // HtmlEventHandler: the view's own events.
    int OnHTMLEvent(IDispatch* document, BSTR eventName, BSTR element, VARIANT* param) override;

    // FrameClient
    HWND CreateClient(HWND frame) override;
    void SetSplitterPosition(int position) override { splitter_.SetPosition(position); }
    bool RunScheduledJob(int operation) override;
    void ClearQuiet() override { quiet_ = false; }
    int AskToSaveChanges() override;
    void SetStopRequested() override { stopRequested_ = true; }
    bool IsScanRunning() override { return false; }
    void StopScanForClose() override {}

protected:
    const TCHAR* ClassName() const override { return TEXT("OrvaneMainView"); }
    LRESULT OnMessage(UINT message, WPARAM wParam, LPARAM lParam) override;

private:
    int OnGoWww(VARIANT* param);
    // The side bar: the current page may keep the view; then the item's page.
    int OnOutBarItem(VARIANT* param);

    SplitterWindow splitter_;
    HtmlView html_;
    ScanStartPage startPage_;
    tstring startQuery_;
    bool autoFixBox_ = false;
    bool stopRequested_ = false;
    bool quiet_ = false;
};
