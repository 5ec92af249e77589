#pragma once
#include "app/html/HtmlPage.h"

// The page shown while a background operation runs. It handles no event, so
// the main view's own handling applies to all of them.
class BackgroundOperPage : public HtmlPage {
public:
    const wchar_t* PageName() const override { return L"backgroundOper.htm"; }
};
