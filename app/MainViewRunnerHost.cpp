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

ICrawler* MainViewRunnerHost::StartScan(LONG) {
    // The view's engine connection starts scans; without one there is none.
    Log::Instance().Print(LogError, L"[error] The main view has no engine connection to scan with.");
    return nullptr;
}
