#pragma once
#include "app/mainview/ScheduledRunner.h"
#include "common/tstring/tstring.h"

class HtmlPage;
class MainView;

// The main view as a scheduled run sees it.
class MainViewRunnerHost : public ScheduledRunnerView {
public:
    explicit MainViewRunnerHost(MainView& view) : view_(view) {}
    void ShowBackgroundPage(int operation) override;
    void RestorePage() override;
    void SetRunning(bool running) override { running_ = running; }
    void SetQuiet(bool quiet) override;
    ICrawler* StartScan(LONG mask) override;
    LONG FinishedMask() override;
    void StopScan(ICrawler* crawler) override;

private:
    MainView& view_;
    HtmlPage* remembered_ = nullptr;
    tstring rememberedQuery_;
    bool running_ = false;
    // Whether the run scanned: the view's engine and its records are new.
    bool scanned_ = false;
};
