#include "app/MainViewRunnerHost.h"
#include "app/MainView.h"
#include "common/log/Log.h"

void MainViewRunnerHost::ShowBackgroundPage(int) {
    // The background-operation page comes with the view's scan pages; until
    // then the current page stays while the run goes on.
    remembered_ = view_.View().CurrentPage();
}

void MainViewRunnerHost::RestorePage() {
    if (remembered_ && view_.View().CurrentPage() != remembered_) view_.View().ShowPage(remembered_, L"");
}

void MainViewRunnerHost::SetQuiet(bool quiet) { view_.SetQuiet(quiet); }

ICrawler* MainViewRunnerHost::StartScan(LONG mask) {
    view_.SetScannedMask(mask);
    HRESULT hr = view_.StartScan();
    if (FAILED(hr)) {
        Log::Instance().Print(LogError, L"[error] The scheduled scan did not start: 0x%08X.", static_cast<unsigned>(hr));
        return nullptr;
    }
    return view_.Engine();
}

LONG MainViewRunnerHost::FinishedMask() { return view_.FinishedMask(); }
