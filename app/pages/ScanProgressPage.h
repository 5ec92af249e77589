#pragma once
#include "app/html/HtmlPage.h"

// The page shown while the engine scans; the main view sends it the progress.
class ScanProgressPage : public HtmlPage {
public:
    const wchar_t* PageName() const override { return L"ScanProgress.htm"; }
    DWORD HelpContextId() const override { return 1; }
};
