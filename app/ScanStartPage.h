#pragma once
#include "app/HtmlPage.h"

// The first page shown: where the user starts a scan.
class ScanStartPage : public HtmlPage {
public:
    const wchar_t* PageName() const override { return L"scanStart.htm"; }
    DWORD HelpContextId() const override { return 2; }
};
