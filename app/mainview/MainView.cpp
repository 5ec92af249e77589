#include "app/mainview/MainView.h"
#include <htmlhelp.h>
#include <shlobj.h>
#include <cwchar>
#include <set>
#include "app/AppUtilities.h"
#include "app/frame/UiServices.h"
#include "app/html/BrowserVersion.h"
#include "app/html/PageNavigator.h"
#include "app/html/ScriptText.h"
#include "app/html/UiCache.h"
#include "app/mainview/MainViewRunnerHost.h"
#include "app/mainview/ScheduledRunner.h"
#include "app/OperationLock.h"
#include "app/resource.h"
#include "common/errors/ErrorBase.h"
#include "common/log/Log.h"
#include "common/settings/Settings.h"
#include "common/system/WebAddress.h"
#include "engine/engine.h"

namespace {

// Every category but 128 (names with embedded NUL characters).
const long kAllUnions = 0xFF & ~128;
IDispatch* const kClosing = reinterpret_cast<IDispatch*>(-1);
IDispatch* const kPostedStop = reinterpret_cast<IDispatch*>(-2);

bool LaterBrowser() { return GetIEVersion().AtLeast(7, 0); }

tstring ParamText(const VARIANT* param) {
    if (!param) return tstring();
    if (param->vt == VT_BSTR) return param->bstrVal ? tstring(param->bstrVal, SysStringLen(param->bstrVal)) : tstring();
    VARIANT text;
    VariantInit(&text);
    tstring result;
    if (SUCCEEDED(VariantChangeType(&text, const_cast<VARIANT*>(param), 0, VT_BSTR)) && text.bstrVal)
        result = text.bstrVal;
    VariantClear(&text);
    return result;
}

bool ElementIs(BSTR element, const wchar_t* name) { return element && wcscmp(element, name) == 0; }

// The product runs with its frame; without one (a test) the view counts as shown.
bool FrameVisible() {
    HWND frame = GetMainWindow();
    return !frame || IsWindowVisible(frame);
}

void SetCloseCommand(bool enabled) {
    HWND frame = GetMainWindow();
    if (!frame) return;
    HMENU menu = GetSystemMenu(frame, FALSE);
    if (menu) EnableMenuItem(menu, SC_CLOSE, MF_BYCOMMAND | (enabled ? MF_ENABLED : MF_GRAYED));
}

const wchar_t* BoolText(bool value) { return value ? L"true" : L"false"; }

// The support link carries the engine's report address; before the first
// scan no engine is connected, so a short-lived one reads it.
tstring EngineReportMail(ICrawler* connected) {
    ComPtr<ICrawler> engine(connected);
    CLSID clsid;
    if (!engine && (FAILED(CLSIDFromProgID(L"OrvaneEngine.Crawler", &clsid)) ||
                    FAILED(CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER | CLSCTX_LOCAL_SERVER, IID_ICrawler,
                                            engine.ReceiveVoid()))))
        return tstring();
    BSTR mail = nullptr;
    tstring result;
    if (SUCCEEDED(engine->get_ReportMail(&mail)) && mail) result = mail;
    SysFreeString(mail);
    return result;
}

}  // namespace

MainView::MainView()
    : html_(this),
      scheduledScanLimit_(ScheduledRunner::kScanWaitLimit),
      backupWaitLimit_(ScheduledRunner::kBackupWaitLimit) {
    startPage_.SetSupportMail([this] { return EngineReportMail(engine_); });
}

MainView::~MainView() {
    // Without a window to destroy (a view never created), a running scan is
    // stopped here: its threads must not outlive the view into the process's
    // exit, which kills them wherever they are.
    DropSink();
    if (engine_) engine_->Stop();
}

void MainView::DropSink() {
    if (!sink_) return;
    sink_->Detach();
    sink_->Release();
    sink_ = nullptr;
}

HWND MainView::CreateClient(HWND frame) {
    return Create(frame, nullptr, nullptr, WS_CHILD | WS_VISIBLE | WS_CLIPSIBLINGS | WS_CLIPCHILDREN);
}

bool MainView::DisplayPage(HtmlPage* page, const wchar_t* query) { return html_.ShowPage(page, query); }

bool MainView::ShowPage(HtmlPage* page, const wchar_t* query) {
    if (!page || !DisplayPage(page, query)) return false;
    shown_ = page;
    shownQuery_ = query ? query : L"";
    return true;
}

HtmlPage* MainView::ScanPage(ScanPageKind kind) {
    PageNavigator* pages = GetPageNavigator();
    return pages ? pages->ScanPage(kind, engine_) : nullptr;
}

LRESULT MainView::OnMessage(UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_CREATE: {
        const DWORD childStyle = WS_CHILD | WS_VISIBLE | WS_CLIPSIBLINGS | WS_CLIPCHILDREN;
        if (!splitter_.Create(Handle(), nullptr, nullptr, childStyle)) return -1;
        if (!html_.Create(splitter_, nullptr, nullptr, childStyle)) return -1;
        splitter_.SetPanes(html_, nullptr);
        splitter_.ShowSinglePane(true);
        if (PageNavigator* pages = GetPageNavigator()) pages->ViewCreated();
        ShowStartPage();
        return 0;
    }
    case WM_SIZE:
        splitter_.Move(RECT{0, 0, LOWORD(lParam), HIWORD(lParam)});
        return 0;
    case WM_DESTROY:
        if (engine_) {
            ComPtr<ICrawler> engine = engine_;
            DisconnectEngine();
            engine->Stop();
        }
        GetUiServices().ShowHtmlHelp(GetMainWindow(), HelpFilePath().c_str(), HH_CLOSE_ALL, 0);
        return DefaultProc(message, wParam, lParam);
    default:
        return DefaultProc(message, wParam, lParam);
    }
}

HRESULT MainView::ConnectEngine() {
    DisconnectEngine();
    CLSID clsid;
    HRESULT hr = CLSIDFromProgID(L"OrvaneEngine.Crawler", &clsid);
    if (FAILED(hr)) return hr;
    ComPtr<ICrawler> engine;
    hr = CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER | CLSCTX_INPROC_HANDLER | CLSCTX_LOCAL_SERVER |
                          CLSCTX_REMOTE_SERVER, IID_ICrawler, engine.ReceiveVoid());
    if (FAILED(hr)) return hr;
    if (cookie_) return E_UNEXPECTED;
    if (!sink_) {
        sink_ = new EngineEventSink(this);
        if (!sink_->Create()) return HRESULT_FROM_WIN32(GetLastError());
    }
    ComPtr<IConnectionPointContainer> container;
    ComPtr<IConnectionPoint> point;
    hr = engine->QueryInterface(IID_IConnectionPointContainer, container.ReceiveVoid());
    if (SUCCEEDED(hr)) hr = container->FindConnectionPoint(DIID__ICrawlerEvents, point.Receive());
    if (SUCCEEDED(hr)) hr = point->Advise(static_cast<IDispatch*>(sink_), &cookie_);
    if (FAILED(hr)) return hr;
    engine_ = engine;
    BSTR undoDirectory = nullptr;
    if (SUCCEEDED(engine_->get_UndoDirectory(&undoDirectory))) SysFreeString(undoDirectory);
    if (PageNavigator* pages = GetPageNavigator()) pages->SetEngine(engine_);
    return S_OK;
}

void MainView::DisconnectEngine() {
    if (engine_ && cookie_) {
        ComPtr<IConnectionPointContainer> container;
        ComPtr<IConnectionPoint> point;
        if (SUCCEEDED(engine_->QueryInterface(IID_IConnectionPointContainer, container.ReceiveVoid())) &&
            SUCCEEDED(container->FindConnectionPoint(DIID__ICrawlerEvents, point.Receive())))
            point->Unadvise(cookie_);
    }
    cookie_ = 0;
    // Each engine gets a sink of its own, so none of its events can be
    // taken for those of the next one.
    DropSink();
    engine_.Release();
    scanEngine_.Release();
    if (PageNavigator* pages = GetPageNavigator()) pages->SetEngine(nullptr);
}

HRESULT MainView::StartScan() {
    stopped_ = false;
    resultsShown_ = false;
    HRESULT hr = ConnectEngine();
    // Cleared once the old engine's sink is gone: nothing of it can count now.
    finishedMask_ = 0;
    if (Handle()) EnableWindow(Handle(), TRUE);
    // Running before the engine starts: its first groups may end at once.
    scanRunning_ = SUCCEEDED(hr);
    if (SUCCEEDED(hr)) hr = engine_->Scan(scannedMask_);
    if (FAILED(hr)) {
        scanRunning_ = false;
        scannedMask_ = 0;
        return hr;
    }
    scanEngine_ = engine_;
    return hr;
}

void MainView::RefuseBusy(UINT reason) {
    Log::Instance().Print(LogInfo, L"[info] Refused: %s", reason == IDS_SCAN_RUNNING ? L"a scan is running." :
                                                                                         L"another operation is running.");
    if (FrameVisible()) ShowMessageBox(GetMainWindow(), reason, 0, MB_ICONINFORMATION);
}

void MainView::RunScanScript(const tstring& code) {
    if (shown_ && shown_ == ScanPage(ScanPageKind::Progress)) RunPageScript(code, false);
}

void MainView::EndScanLock() {
    // Only the scan that took the lock gives it back, and only once.
    if (scanHoldsLock_) EndOperation();
    scanHoldsLock_ = false;
    scanRunning_ = false;
    scanEngine_.Release();
}

int MainView::OnHTMLEvent(IDispatch* document, BSTR eventName, BSTR element, VARIANT* param) {
    if (!document && !eventName && !element) return 1;
    // Nothing may escape into the page's script call.
    try {
        return Dispatch(document, eventName, element, param);
    } catch (const ErrorBase& e) {
        Log::Instance().Print(LogError, L"[error] %s: %s", eventName ? eventName : L"", e.Message().c_str());
    } catch (...) {
        Log::Instance().Print(LogError, L"[error] %s failed.", eventName ? eventName : L"");
    }
    if (Handle()) EnableWindow(Handle(), TRUE);
    return E_FAIL;
}

bool MainView::Defer(IDispatch* document, const wchar_t* eventName, VARIANT* param) {
    if (!document || document == kClosing || !LaterBrowser()) return false;
    HtmlPage* via = shown_ ? shown_ : &startPage_;
    if (!via->PostEvent(eventName, param))
        Log::Instance().Print(LogError, L"[error] %s could not be posted.", eventName);
    return true;
}

int MainView::Dispatch(IDispatch* document, BSTR eventName, BSTR element, VARIANT* param) {
    // A scheduled run owns the view until it ends: a scan or page started
    // from the background page's side bar would take its engine away.
    if (quiet_ && !(IsEvent(eventName, L"OutBarItemClicked") && ParamText(param) == L"Help")) return 0;
    if (IsEvent(eventName, L"OutBarItemClicked")) return OnOutBarItem(document, element, param);
    if (IsEvent(eventName, L"Scan_Express"))
        return Defer(document, L"Scan_Express", param) ? 0 : OnScanExpress(param);
    if (IsEvent(eventName, L"Scan_Custom"))
        return Defer(document, L"Scan_Custom", param) ? 0 : MayLeave() ? OnScanCustom() : 0;
    if (IsEvent(eventName, L"Scan_ScanCustomStart")) return OnScanCustomStart(document, element, param);
    if (IsEvent(eventName, L"Scan_SelectUnionCancel"))
        return Defer(document, L"Scan_SelectUnionCancel", param) ? 0 : MayLeave() ? OnSelectUnionCancel(param) : 0;
    if (IsEvent(eventName, L"Scan_ScanStop")) return OnScanStop(document);
    if (IsEvent(eventName, L"Scan_ViewResult"))
        return Defer(document, L"Scan_ViewResult", param) ? 0 : MayLeave() ? OnViewResult() : 0;
    if (IsEvent(eventName, L"Scan_Again"))
        return Defer(document, L"Scan_Again", param) ? 0 : MayLeave() ? OnScanAgain() : 0;
    if (IsEvent(eventName, L"Fix")) return Defer(document, L"Fix", param) ? 0 : OnFix(param);
    if (IsEvent(eventName, L"GoWWW")) return OnGoWww(param);
    if (IsEvent(eventName, L"AutoFixChecked")) {
        VARIANT value;
        VariantInit(&value);
        autoFixBox_ = param && SUCCEEDED(VariantChangeType(&value, param, 0, VT_I4)) && value.lVal != 0;
        return 0;
    }
    return 1;
}

void MainView::RunPageScript(const tstring& code, bool throughControl) {
    if (!shown_) return;
    try {
        if (throughControl)
            shown_->ExecScript(code);
        else
            shown_->RunScript(code);
    } catch (const ErrorBase& e) {
        Log::Instance().Print(LogError, L"[error] Script %s: %s", code.substr(0, 40).c_str(), e.Message().c_str());
    }
}

bool MainView::MayLeave() {
    PageNavigator* pages = GetPageNavigator();
    return !pages || pages->AskToLeave(shown_, L"RegistryScan") != IDCANCEL;
}

bool MainView::ShowStartPage() {
    if (!ShowPage(&startPage_, startQuery_.c_str())) return false;
    RunPageScript(tstring(L"autofixbox.checked = ") + BoolText(autoFixBox_) + L";", true);
    return true;
}

bool MainView::ReturnToRunningScan() {
    if (!scanRunning_) return false;
    HtmlPage* progress = ScanPage(ScanPageKind::Progress);
    if (shown_ != progress) ShowPage(progress, scanQuery_.c_str());
    return true;
}

namespace {

// The view window is enabled again on every way out of a start.
class DisabledWindow {
public:
    explicit DisabledWindow(HWND window) : window_(window) {
        if (window_) EnableWindow(window_, FALSE);
    }
    ~DisabledWindow() {
        if (window_) EnableWindow(window_, TRUE);
    }
    DisabledWindow(const DisabledWindow&) = delete;
    DisabledWindow& operator=(const DisabledWindow&) = delete;

private:
    HWND window_;
};

}  // namespace

int MainView::BeginScan(long mask, const wchar_t* query, bool autoFix) {
    // One scan at a time: a second start leaves the running one on its page,
    // with the automatic fix it was started with.
    if (ReturnToRunningScan()) return 0;
    // Taken before anything can pump; given back on every way out until the
    // scan holds it.
    OperationScope lock;
    if (!lock.Held()) {
        RefuseBusy(IDS_OPERATION_BUSY);
        return 0;
    }
    autoFixAfterScan_ = autoFix;
    DisabledWindow disabled(Handle());
    if (!ShowPage(ScanPage(ScanPageKind::Progress), query)) return E_FAIL;
    scanQuery_ = query;
    scannedMask_ = mask;
    lock.HandOver();
    scanHoldsLock_ = true;
    HRESULT hr = E_FAIL;
    try {
        hr = StartScan();
    } catch (...) {
        EndScanLock();
        throw;
    }
    if (FAILED(hr)) {
        Log::Instance().Print(LogError, L"[error] The scan did not start (0x%08lX).", hr);
        EndScanLock();
    }
    return SUCCEEDED(hr) ? 0 : hr;
}

int MainView::OnScanExpress(VARIANT* param) {
    Log::Instance().Print(LogInfo, L"[info] Starting express scan.%s", L"");
    return BeginScan(kAllUnions, L"", ParamText(param) == L"autofix");
}

int MainView::OnScanCustom() {
    // The running scan keeps its page and its automatic fix.
    if (ReturnToRunningScan()) return 0;
    autoFixAfterScan_ = false;
    PageNavigator* pages = GetPageNavigator();
    tstring query = FormatText(L"unions=%u", static_cast<unsigned>(pages ? pages->SelectedUnions() : 0));
    if (!ShowPage(ScanPage(ScanPageKind::SelectUnions), query.c_str())) return E_FAIL;
    RunPageScript(tstring(L"autofixbox.checked = ") + BoolText(autoFixBox_), true);
    RunPageScript(tstring(L"auto_fix = '") + BoolText(autoFixBox_) + L"'", true);
    selectionShown_ = true;
    return 0;
}

int MainView::OnScanCustomStart(IDispatch* document, BSTR element, VARIANT* param) {
    // The posted copy carries no element: the choice is read from the page's call.
    if (document) customAutoFix_ = ElementIs(element, L"autofix");
    if (Defer(document, L"Scan_ScanCustomStart", param)) return 0;
    VARIANT mask;
    VariantInit(&mask);
    // A bit that no group answers would never finish: the scan would run forever.
    if (!param || FAILED(VariantChangeType(&mask, param, 0, VT_I4)) || mask.lVal == 0 || (mask.lVal & ~0xFFL) != 0)
        return E_INVALIDARG;
    tstring query = FormatText(L"unions=%u", static_cast<unsigned>(mask.lVal));
    return BeginScan(mask.lVal, query.c_str(), customAutoFix_);
}

int MainView::OnSelectUnionCancel(VARIANT* param) {
    if (!ShowPage(&startPage_, startQuery_.c_str())) return E_FAIL;
    // Only the box's two states go back into script.
    tstring text = ParamText(param);
    if (text == L"true" || text == L"false") {
        autoFixBox_ = text == L"true";
        RunPageScript(L"autofixbox.checked = " + text, true);
    }
    return 0;
}

int MainView::OnScanStop(IDispatch* document) {
    if (Defer(document, L"Scan_ScanStop", nullptr)) return 0;
    // A posted stop whose scan has ended meanwhile has nothing to stop.
    if (!scanRunning_) return 0;
    if (!document && LaterBrowser()) document = kPostedStop;
    SetCloseCommand(false);
    stopped_ = true;
    if (!quiet_ && document) {
        RunScanScript(L"StopButton.disabled = true;");
        RunScanScript(L"StopButton.style.display = 'none';");
        RunScanScript(L"stopping.style.display = 'inline';");
    }
    // "Stopping" is painted, but no message is handled before the stop: a
    // start the user clicked meanwhile comes after it, not inside it.
    if (HWND frame = GetMainWindow()) RedrawWindow(frame, nullptr, nullptr, RDW_UPDATENOW | RDW_ALLCHILDREN);
    ComPtr<ICrawler> engine = scanEngine_ ? scanEngine_ : engine_;
    DropSink();
    if (engine) engine->Stop();
    EndScanLock();
    if (document && document != kClosing) ShowStartPage();
    SetCloseCommand(true);
    return 0;
}

void MainView::StopScanForClose() { OnScanStop(kClosing); }

int MainView::OnViewResult() {
    long count = -1;
    if (engine_ && SUCCEEDED(engine_->get_Count(&count)) && count == 0 && FrameVisible() &&
        ShowPage(ScanPage(ScanPageKind::Fixing), L"0"))
        return 0;
    SetCloseCommand(false);
    bool shown = ShowPage(ScanPage(ScanPageKind::Results), L"");
    SetCloseCommand(true);
    if (!shown) return E_FAIL;
    resultsShown_ = true;
    return 0;
}

int MainView::OnScanAgain() {
    resultsShown_ = false;
    selectionShown_ = false;
    return ShowStartPage() ? 0 : E_FAIL;
}

int MainView::OnFix(VARIANT* param) {
    tstring excludedText = ParamText(param);
    bool backedUp = false;
    if (fixBackup_) {
        // Asked again while the backup runs: the same fix, already on its way.
        if (!fixBackup_->Done()) return 0;
        std::shared_ptr<BackupJob> job = EndFixBackup();
        if (!job->Error().empty()) {
            // The user asked for a backup before every fix: none, no fix.
            Log::Instance().Print(LogError, L"[error] The backup before fixing failed: %s", job->Error().c_str());
            if (job->GivenUp())
                ShowMessageBox(GetMainWindow(), IDS_FIX_BACKUP_UNFINISHED, IDS_ERROR, MB_ICONERROR);
            else
                ShowMessageBox(GetMainWindow(), job->Error().c_str(), L"Error", MB_ICONERROR);
            OnViewResult();
            return 0;
        }
        excludedText = job->param;
        backedUp = true;
    }
    PageNavigator* pages = GetPageNavigator();
    // A second request while a fix is on its way (a double click, a scan's
    // automatic fix) would start another worker on the same records; the
    // fix the user sees needs no box.
    if (!pages || pages->FixBusy()) {
        Log::Instance().Print(LogInfo, L"[info] Fix refused: a fix is running.");
        return 0;
    }
    // Taken before the fixing page's load can pump, and handed to the fix.
    OperationScope lock;
    if (!lock.Held()) {
        RefuseBusy(IDS_OPERATION_BUSY);
        return 0;
    }
    long count = 0;
    if (!engine_ || FAILED(engine_->get_Count(&count)) || !FrameVisible()) return 0;
    // From here the fix is decided: nothing leaves for another page.
    FixReservation reservation(*pages);
    std::set<long> excluded;
    for (const wchar_t* p = excludedText.c_str(); *p;) {
        wchar_t* end = nullptr;
        long id = wcstol(p, &end, 10);
        if (end == p) {
            ++p;
            continue;
        }
        excluded.insert(id);
        p = end;
    }
    // Only records with a FixID are fixed: the total must match what the
    // fixing page reports, or its progress never reaches the end.
    long total = 0;
    for (long i = 1; i <= count; ++i) {
        ComPtr<IqnRegRecord> record;
        long fixId = 0;
        if (SUCCEEDED(engine_->Record(i, record.Receive())) && record && SUCCEEDED(record->get_FixID(&fixId)) &&
            fixId != 0 && !excluded.count(fixId))
            ++total;
    }
    tstring query = FormatText(L"%ld", total);
    BSTR undoDirectory = nullptr;
    if (SUCCEEDED(engine_->get_UndoDirectory(&undoDirectory)) && undoDirectory && *undoDirectory)
        SHPathPrepareForWriteW(GetMainWindow(), nullptr, undoDirectory, SHPPFW_DEFAULT);
    SysFreeString(undoDirectory);
    // Only the results page has toolbars; an automatic fix comes from the progress page.
    if (total > 0 && shown_ && shown_ == ScanPage(ScanPageKind::Results)) RunPageScript(L"DisableToolbars();", true);
    long autoBackup = 0;
    if (!backedUp && SUCCEEDED(engine_->get_AutoBackupSwitch(&autoBackup)) && autoBackup == 1) {
        // The backup takes the lock for itself; the fix comes when it ends.
        reservation.Cancel();
        lock.Release();
        return StartFixBackup(excludedText) ? 0 : E_FAIL;
    }
    resultsShown_ = false;
    if (!ShowPage(ScanPage(ScanPageKind::Fixing), query.c_str())) return E_FAIL;
    lock.HandOver();
    reservation.HandOver();
    pages->StartFix(engine_, excludedText.c_str());
    return 0;
}

MainView::FixReservation::FixReservation(PageNavigator& pages) : pages_(&pages) { pages.ReserveFix(true); }

MainView::FixReservation::~FixReservation() { Cancel(); }

void MainView::FixReservation::Cancel() {
    if (pages_) pages_->ReserveFix(false);
    pages_ = nullptr;
}

bool MainView::StartFixBackup(const tstring& excluded) {
    auto job = std::make_shared<BackupJob>();
    BSTR folder = nullptr;
    if (SUCCEEDED(engine_->get_BackupDirectory(&folder)) && folder && *folder) job->folder = folder;
    SysFreeString(folder);
    if (job->folder.empty()) job->folder = GetSettings().BackupFolder();
    long retention = 1;
    job->retention = FAILED(engine_->get_BackupRetentionSwitch(&retention)) || retention == 1;
    job->eventName = L"Fix";
    job->param = excluded;
    HtmlPage* via = shown_ ? shown_ : &startPage_;
    // Without a way back the worker's end would never be seen.
    if (via->EventWindow() && via->ControlMessage()) job->notify = via;
    PageNavigator* pages = GetPageNavigator();
    job->progress.Connect(pages ? pages->OpenBackupProgress(GetMainWindow()) : nullptr);
    // Nothing else may start, and the window may not close, meanwhile.
    fixBackupHoldsLock_ = TryBeginOperation();
    if (Handle()) EnableWindow(Handle(), FALSE);
    SetCloseCommand(false);
    fixBackup_ = job;
    // At the limit the end is posted all the same, as a backup given up.
    bool started = ScheduledRunner::StartBackup(job, backupWaitLimit_);
    if (started && job->notify) return true;
    // No post will come back: the backup is waited for here, or never ran.
    if (started) ScheduledRunner::WaitForBackup(*job, backupWaitLimit_);
    VARIANT none;
    VariantInit(&none);
    return OnFix(&none) == 0;
}

std::shared_ptr<BackupJob> MainView::EndFixBackup() {
    std::shared_ptr<BackupJob> job = std::move(fixBackup_);
    if (PageNavigator* pages = GetPageNavigator()) pages->CloseBackupProgress();
    if (fixBackupHoldsLock_) EndOperation();
    fixBackupHoldsLock_ = false;
    if (Handle()) EnableWindow(Handle(), TRUE);
    SetCloseCommand(true);
    return job;
}

void MainView::OnEngineEvent(const EngineEvent& event) {
    switch (event.id) {
    case 1:
        if (quiet_ || event.fixId == 0) return;
        RunScanScript(FormatText(L"OnRecordFound(%ld, %ld, '", event.unionBit, event.second) +
                      EscapeScriptString(ShowLineBreaks(event.item)) + L"');");
        return;
    case 2:
        OnScanFinished(event.unionBit);
        return;
    case 3:
        if (quiet_ || event.unionBit == -1) return;
        RunScanScript(FormatText(L"OnScanProgress(%ld, %ld);", event.unionBit, event.second));
        return;
    default:
        return;
    }
}

void MainView::OnScanFinished(long unionBit) {
    if (unionBit != -1) finishedMask_ |= unionBit;
    // A scan completes once, when each of its own groups has ended.
    bool complete = scanRunning_ && !stopped_ && (finishedMask_ & scannedMask_) == scannedMask_;
    if (quiet_) {
        // The scheduled run reads the masks itself; the scan is over all the same.
        if (complete) EndScanLock();
        return;
    }
    if (unionBit != -1) RunScanScript(FormatText(L"OnScanFinish(%ld);", unionBit));
    if (!complete) return;
    EndScanLock();
    if (autoFixAfterScan_) {
        VARIANT express;
        VariantInit(&express);
        express.vt = VT_BSTR;
        express.bstrVal = SysAllocString(L"EXPRESS");
        if (LaterBrowser()) {
            HtmlPage* progress = ScanPage(ScanPageKind::Progress);
            if (!progress || !progress->PostEvent(L"Fix", &express)) OnFix(&express);
        } else {
            OnFix(&express);
        }
        VariantClear(&express);
        return;
    }
    if (FrameVisible()) RunScanScript(L"WaitAndGo();");
    scannedMask_ = 0;
    finishedMask_ = 0;
}

int MainView::AskToSaveChanges() {
    PageNavigator* pages = GetPageNavigator();
    return pages ? pages->AskToLeave(html_.CurrentPage(), nullptr) : IDOK;
}

int MainView::OnOutBarItem(IDispatch* document, BSTR element, VARIANT* param) {
    bool fromDone = ElementIs(element, L"FROM_DONE");
    if (fromDone && Defer(document, L"OutBarItemClicked", param)) return 0;
    tstring itemText = ParamText(param);
    const wchar_t* item = itemText.c_str();
    PageNavigator* pages = GetPageNavigator();
    if (wcscmp(item, L"Help") == 0) {
        DWORD id = shown_ ? shown_->HelpContextId() : 0;
        ShowHelp(id ? HH_HELP_CONTEXT : HH_DISPLAY_TOC, id);
        return 0;
    }
    if (wcscmp(item, L"Bonus") == 0) {
        StartDiskExplorer();
        return 0;
    }
    // The About box leaves the page where it is: nothing to save or close.
    if (wcscmp(item, L"RegisterAbout") == 0) {
        ShowAboutBox();
        return 0;
    }
    // The undo page's pending entries are written before it is left.
    if (shown_ && engine_ && wcscmp(shown_->PageName(), L"undo.htm") == 0) {
        HRESULT hr = engine_->FinalizeUndoSession();
        if (FAILED(hr)) Log::Instance().Print(LogError, L"[error] Closing the undo session: 0x%08lX.", hr);
    }
    // The running scan keeps the view on its progress page, where its
    // events, its end and its stop belong.
    if (scanRunning_) {
        if (wcscmp(item, L"RegistryScan") != 0) RefuseBusy(IDS_SCAN_RUNNING);
        HtmlPage* progress = ScanPage(ScanPageKind::Progress);
        if (shown_ != progress) ShowPage(progress, scanQuery_.c_str());
        return 0;
    }
    if (pages && pages->AskToLeave(shown_, item) == IDCANCEL) return 0;
    if (shown_) shown_->EnableControl(false);
    if (wcscmp(item, L"RegistryScan") == 0) {
        if (fromDone) resultsShown_ = false;
        if (Handle()) EnableWindow(Handle(), FALSE);
        long count = 0;
        if (resultsShown_ && engine_ && SUCCEEDED(engine_->get_Count(&count)) && count > 0)
            OnViewResult();
        else if (selectionShown_)
            OnScanCustom();
        else
            ShowStartPage();
        if (Handle()) EnableWindow(Handle(), TRUE);
    } else if (pages) {
        // Before the first scan there is no engine yet; its pages find out
        // for themselves when it cannot be had.
        if (!engine_ && pages->NeedsEngine(item)) {
            HRESULT hr = ConnectEngine();
            if (FAILED(hr))
                Log::Instance().Print(LogError, L"[error] No engine for %s (0x%08lX).", item, static_cast<unsigned long>(hr));
        }
        pages->ShowItem(*this, item);
    }
    if (shown_) shown_->EnableControl(true);
    return 0;
}

int MainView::OnGoWww(VARIANT* param) {
    if (!param || param->vt != VT_BSTR || !param->bstrVal || !*param->bstrVal) return 0;
    // Page text may carry any address; only web pages are opened.
    if (IsWebAddress(param->bstrVal))
        GetUiServices().ShellExecuteFile(nullptr, L"open", param->bstrVal, nullptr, nullptr, SW_SHOWNORMAL);
    return 0;
}

void MainView::ShowAboutBox() {
    tstring picture;
    try {
        picture = GetUiCacheFolder(true) + L"\\splash.jpg";
    } catch (const ErrorBase& e) {
        Log::Instance().Print(LogError, L"[error] About box picture: %s", e.Message().c_str());
    }
    GetUiServices().ShowAboutBox(GetMainWindow(), picture.c_str());
}

bool MainView::RunScheduledJob(int operation) {
    MainViewRunnerHost host(*this);
    ScheduledRunner runner(host);
    runner.SetScanWaitLimit(scheduledScanLimit_);
    runner.SetBackupWaitLimit(backupWaitLimit_);
    runner.Run(operation);
    return true;
}
