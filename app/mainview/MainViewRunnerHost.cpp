#include "app/mainview/MainViewRunnerHost.h"
#include "app/mainview/MainView.h"
#include "common/log/Log.h"
#include "engine/engine.h"

void MainViewRunnerHost::ShowBackgroundPage(int operation) {
    remembered_ = view_.shown_;
    rememberedQuery_ = view_.shownQuery_;
    tstring query = FormatText(L"%u", static_cast<unsigned>(operation));
    if (!view_.ShowPage(view_.ScanPage(ScanPageKind::Background), query.c_str()))
        Log::Instance().Print(LogError, L"[error] The background-operation page could not be shown.%s", L"");
}

void MainViewRunnerHost::RestorePage() {
    // The run's scan replaced the engine whose records the results listed,
    // and may have fixed them: they are not shown again, nor reached again
    // from the side bar.
    bool listGone = scanned_ && remembered_ == view_.ScanPage(ScanPageKind::Results);
    if (scanned_) view_.resultsShown_ = false;
    if (!remembered_ || (view_.shown_ == remembered_ && !listGone)) return;
    // The start page comes back with its own query and box state. A fixing
    // page shown again would start over with no worker behind it: the fix
    // ended before the run could take the lock.
    if (remembered_ == &view_.startPage_ || remembered_ == view_.ScanPage(ScanPageKind::Fixing) || listGone)
        view_.ShowStartPage();
    else
        view_.ShowPage(remembered_, rememberedQuery_.c_str());
}

void MainViewRunnerHost::SetQuiet(bool quiet) { view_.SetQuiet(quiet); }

ICrawler* MainViewRunnerHost::StartScan(LONG mask) {
    view_.SetScannedMask(mask);
    scanned_ = true;
    HRESULT hr = view_.StartScan();
    if (FAILED(hr)) {
        Log::Instance().Print(LogError, L"[error] The scheduled scan did not start: 0x%08X.", static_cast<unsigned>(hr));
        return nullptr;
    }
    return view_.Engine();
}

LONG MainViewRunnerHost::FinishedMask() { return view_.FinishedMask(); }

void MainViewRunnerHost::StopScan(ICrawler* crawler) {
    crawler->Stop();
    // The stopped scan is over for the view too: finishes that still come in
    // start nothing.
    view_.stopped_ = true;
    view_.DropSink();
    view_.EndScanLock();
}
