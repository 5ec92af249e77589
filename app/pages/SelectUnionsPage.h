#pragma once
#include <cstdint>
#include "app/html/HtmlPage.h"
#include "common/tstring/tstring.h"

// The page on which the user chooses the scan categories. It remembers the
// last choice, which the main view preselects when it shows the page again.
class SelectUnionsPage : public HtmlPage {
public:
    const wchar_t* PageName() const override { return L"scanSelectUnions.htm"; }
    DWORD HelpContextId() const override { return 3; }
    int OnHTMLEvent(IDispatch* document, BSTR eventName, BSTR element, VARIANT* param) override;

    int32_t SelectedUnions() const { return selected_; }
    // The information page of a category name; empty when it cannot be escaped.
    static tstring UnionInfoAddress(const tstring& name);

private:
    int32_t selected_ = 0;
};
