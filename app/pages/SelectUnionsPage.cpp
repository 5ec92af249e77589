#include "app/pages/SelectUnionsPage.h"
#include <oleauto.h>
#include <shlwapi.h>
#include "app/AppUtilities.h"
#include "app/frame/UiServices.h"
#include "app/mainview/UpdateCheck.h"
#include "common/log/Log.h"

tstring SelectUnionsPage::UnionInfoAddress(const tstring& name) {
    wchar_t escaped[256] = {};
    DWORD length = 255;
    if (FAILED(UrlEscapeW(name.c_str(), escaped, &length, 0))) return tstring();
    return InfoPageAddress(escaped);
}

int SelectUnionsPage::OnHTMLEvent(IDispatch*, BSTR eventName, BSTR, VARIANT* param) {
    try {
        if (IsEvent(eventName, L"RefreshSelectedUnions")) {
            VARIANT mask;
            VariantInit(&mask);
            // A parameter that is no number leaves no category selected.
            selected_ = param && SUCCEEDED(VariantChangeType(&mask, param, 0, VT_I4)) ? mask.lVal : 0;
            VariantClear(&mask);
        } else if (IsEvent(eventName, L"UnionWebInfo")) {
            tstring address = UnionInfoAddress(param ? tstring::FromVariant(*param) : tstring());
            if (!address.empty())
                GetUiServices().ShellExecuteFile(nullptr, L"open", address.c_str(), nullptr, nullptr, SW_SHOWNORMAL);
        } else {
            return 1;
        }
    } catch (...) {
        Log::Instance().Print(LogError, L"[error] Category page: unexpected failure");
    }
    return 0;
}
