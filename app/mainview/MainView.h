#pragma once
#include "app/frame/FrameClient.h"
#include "app/html/HtmlView.h"
#include "app/mainview/EngineEventSink.h"
#include <memory>
#include "app/html/PageNavigator.h"
#include "app/mainview/ScanStartPage.h"
#include "common/com/ComPtr.h"
#include "common/ui/SplitterWindow.h"

struct BackupJob;
struct ICrawler;

// The frame's client: the HTML view in a splitter, the page objects, and the
// fallback handler of page events the current page leaves alone.
class MainView : public WindowImpl,
                 public HtmlEventHandler,
                 public FrameClient,
                 private EngineEventReceiver,
                 private PageDisplay {
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
    bool IsScanRunning() override { return scanRunning_; }
    void StopScanForClose() override;

    // A new engine with this view's event sink connected; the HRESULT.
    HRESULT ConnectEngine();
    void DisconnectEngine();
    // Scans the scanned mask with a fresh engine and takes the operation lock.
    HRESULT StartScan();
    ICrawler* Engine() const { return engine_; }
    // The sink the engine raises its events on; NULL before the first connection.
    IDispatch* EventSink() const { return sink_; }
    void SetScannedMask(long mask) { scannedMask_ = mask; }
    // The categories whose groups have finished, for a scheduled run.
    long FinishedMask() const { return finishedMask_; }
    // How long a scheduled scan may run before it is stopped.
    void SetScheduledScanLimit(DWORD milliseconds) { scheduledScanLimit_ = milliseconds; }
    // How long a backup, scheduled or before a fix, may run before it is given up.
    void SetBackupWaitLimit(DWORD milliseconds) { backupWaitLimit_ = milliseconds; }

protected:
    // Shows a page object with its query in the HTML view; false on failure.
    virtual bool DisplayPage(HtmlPage* page, const wchar_t* query);
    const TCHAR* ClassName() const override { return TEXT("OrvaneMainView"); }
    LRESULT OnMessage(UINT message, WPARAM wParam, LPARAM lParam) override;

private:
    // The scheduled run's view of this one: its pages and its scan state.
    friend class MainViewRunnerHost;

    bool ShowPage(HtmlPage* page, const wchar_t* query) override;
    int OnGoWww(VARIANT* param);
    // The side bar: the current page may keep the view; then the item's page.
    int OnOutBarItem(IDispatch* document, BSTR element, VARIANT* param);
    int Dispatch(IDispatch* document, BSTR eventName, BSTR element, VARIANT* param);
    // From page script with a browser of version 7 or later, handlers act on a
    // posted copy of their event; true when the event was reposted.
    bool Defer(IDispatch* document, const wchar_t* eventName, VARIANT* param);
    int OnScanExpress(VARIANT* param);
    int OnScanCustom();
    int OnScanCustomStart(IDispatch* document, BSTR element, VARIANT* param);
    int OnSelectUnionCancel(VARIANT* param);
    int OnScanStop(IDispatch* document);
    int OnViewResult();
    int OnScanAgain();
    int OnFix(VARIANT* param);
    // The backup made before a fix when AutoBackupSwitch is on: a worker
    // that posts "Fix" again through the shown page when it ends.
    bool StartFixBackup(const tstring& excluded);
    std::shared_ptr<BackupJob> EndFixBackup();
    // The fix the view decided on, until the fixing page takes it over.
    class FixReservation {
    public:
        explicit FixReservation(PageNavigator& pages);
        ~FixReservation();
        FixReservation(const FixReservation&) = delete;
        FixReservation& operator=(const FixReservation&) = delete;
        void Cancel();
        void HandOver() { pages_ = nullptr; }

    private:
        PageNavigator* pages_;
    };
    void ShowAboutBox();
    int BeginScan(long mask, const wchar_t* query, bool autoFix);
    // While a scan runs, the view goes back to its progress page; false
    // when no scan runs.
    bool ReturnToRunningScan();
    // Whether the shown page may be left for a scan page: false while a fix
    // is on its way, or when the page keeps the view (its own question).
    bool MayLeave();
    bool ShowStartPage();
    // Runs script in the shown page, logging a failure.
    void RunPageScript(const tstring& code, bool throughControl);
    void EndScanLock();
    // Lets go of the engine's event sink: whatever that engine still raises
    // (the ends of stopped groups) belongs to no scan of this view.
    void DropSink();
    // Scan events are the progress page's: nothing runs when another is shown.
    void RunScanScript(const tstring& code);
    // Tells the user why an operation was not started.
    void RefuseBusy(UINT reason);
    void OnEngineEvent(const EngineEvent& event) override;
    void OnScanFinished(long unionBit);
    HtmlPage* ScanPage(ScanPageKind kind);

    SplitterWindow splitter_;
    HtmlView html_;
    ScanStartPage startPage_;
    tstring startQuery_;
    // The progress page's query of the running scan.
    tstring scanQuery_;
    bool autoFixBox_ = false;
    bool stopRequested_ = false;
    bool quiet_ = false;
    HtmlPage* shown_ = nullptr;
    // The query shown_ came with, so a page can be shown again as it was.
    tstring shownQuery_;
    ComPtr<ICrawler> engine_;
    // The engine of the running scan, kept until it is stopped or replaced.
    ComPtr<ICrawler> scanEngine_;
    EngineEventSink* sink_ = nullptr;
    DWORD cookie_ = 0;
    long scannedMask_ = 0;
    long finishedMask_ = 0;
    bool stopped_ = false;
    bool resultsShown_ = false;
    bool selectionShown_ = false;
    bool autoFixAfterScan_ = false;
    // The automatic fix chosen with a custom scan's start, for its posted copy.
    bool customAutoFix_ = false;
    bool scanRunning_ = false;
    bool scanHoldsLock_ = false;
    // Set from the start of a fix's backup until its "Fix" comes back.
    std::shared_ptr<BackupJob> fixBackup_;
    bool fixBackupHoldsLock_ = false;
    DWORD scheduledScanLimit_;
    DWORD backupWaitLimit_;
};
