#pragma once
#include <functional>
#include "app/html/HtmlPage.h"
#include "app/mainview/UpdateCheck.h"

// The first page shown: where the user starts a scan, checks for updates
// and opens the support page.
class ScanStartPage : public HtmlPage {
public:
    const wchar_t* PageName() const override { return L"scanStart.htm"; }
    DWORD HelpContextId() const override { return 2; }
    int OnHTMLEvent(IDispatch* document, BSTR eventName, BSTR element, VARIANT* param) override;

    // Where the support link finds the user's e-mail address (the engine's
    // report address); none gives an empty one.
    void SetSupportMail(std::function<tstring()> mail) { supportMail_ = std::move(mail); }
    UpdateChecker& Updates() { return updates_; }
    // An update answer that came while another page was shown.
    void OnShown() override;

private:
    void Script(const tstring& code);
    void ShowCheckLink();
    void ShowAnswer(const tstring& script);

    UpdateChecker updates_;
    std::function<tstring()> supportMail_;
    tstring unseenAnswer_;
};

// The user's display name, else the account name.
tstring SupportUserName();
