#include "app/mainview/ScanStartPage.h"
#define SECURITY_WIN32
#include <security.h>
#include <oleauto.h>
#include "app/AppUtilities.h"
#include "app/frame/UiServices.h"
#include "common/errors/ErrorBase.h"
#include "common/log/Log.h"
#include "common/system/WebAddress.h"

namespace {

tstring ParamText(const VARIANT* param) {
    return param && param->vt == VT_BSTR && param->bstrVal ? tstring::FromWide(param->bstrVal) : tstring();
}

}  // namespace

tstring SupportUserName() {
    wchar_t name[512] = {};
    ULONG size = 512;
    if (GetUserNameExW(NameDisplay, name, &size) && name[0]) return name;
    DWORD account = 512;
    if (GetUserNameW(name, &account) && name[0]) return name;
    return L"Customer Name";
}

void ScanStartPage::Script(const tstring& code) {
    try {
        ExecScript(code);
    } catch (const ErrorBase& e) {
        Log::Instance().Print(LogError, L"[error] Start page: %s", e.Message().c_str());
    }
}

void ScanStartPage::ShowCheckLink() {
    Script(L"checkStr.innerHTML = \"<a href=\\\"javascript:;\\\" onClick=\\\"CheckForUpdates();\\\">Check for updates</a>\"");
}

void ScanStartPage::ShowAnswer(const tstring& script) {
    ShowCheckLink();
    Script(script);
    Script(L"checking = false");
}

void ScanStartPage::OnShown() {
    if (unseenAnswer_.empty()) return;
    ShowAnswer(unseenAnswer_);
    unseenAnswer_.clear();
}

int ScanStartPage::OnHTMLEvent(IDispatch*, BSTR eventName, BSTR, VARIANT* param) {
    if (IsEvent(eventName, L"ShowNews")) {
        Script(L"ShowNews();");
        PumpMessages();
    } else if (IsEvent(eventName, L"CheckUpdates")) {
        if (updates_.Running()) return 0;
        unseenAnswer_.clear();
        Script(L"license_middle.innerHTML = \"Please wait...<img src=\\\"prog.gif\\\" width=25px height=25px></img>\"");
        if (!updates_.Start(this)) {
            ShowCheckLink();
            Script(L"license_middle.innerHTML = \"Can't connect to server. Check your Internet connection or try again later.\"");
            Script(L"checking = false");
        }
    } else if (IsEvent(eventName, L"CancelUpdates")) {
        updates_.Cancel();
        ShowCheckLink();
        Script(L"license_middle.innerHTML = \"Operation was canceled by user.\"");
        Script(L"checking = false");
        PumpMessages();
    } else if (IsEvent(eventName, L"ShowUpdate")) {
        // A cancelled check's late answer is dropped.
        tstring script = updates_.Accept(ParamText(param));
        if (script.empty()) return 0;
        // The check is over either way; the answer waits for the page.
        if (!Shown()) {
            unseenAnswer_ = script;
            return 0;
        }
        ShowAnswer(script);
        PumpMessages();
    } else if (IsEvent(eventName, L"SubmitTicketOnline")) {
        // The page may name the support page; else it is the maker's.
        tstring base = ParamText(param);
        if (base.empty()) base = ProductSite() + L"/support";
        tstring address = SupportAddress(base, SupportUserName(), supportMail_ ? supportMail_() : tstring());
        if (IsWebAddress(base.c_str()) && base.find_first_of(L"?#") == tstring::npos && IsWebAddress(address.c_str()))
            GetUiServices().ShellExecuteFile(nullptr, L"open", address.c_str(), nullptr, nullptr, SW_SHOWNORMAL);
    } else {
        return 1;
    }
    return 0;
}
