#include "htmlcontrol/ScriptRunner.h"
#include "common/com/ComBoundary.h"
#include "common/errors/ErrorBase.h"
#include "common/errors/ErrorText.h"
#include "common/log/Log.h"

namespace {
const LCID kSystemLocale = 0x800;  // LOCALE_SYSTEM_DEFAULT
const wchar_t kMethod[] = L"execScript";

class BstrHolder {
public:
    explicit BstrHolder(const wchar_t* text) : text_(SysAllocString(text)) {
        if (!text_)
            throw HRError(E_OUTOFMEMORY);
    }
    ~BstrHolder() { SysFreeString(text_); }
    BstrHolder(const BstrHolder&) = delete;
    BstrHolder& operator=(const BstrHolder&) = delete;
    BSTR Get() const { return text_; }

private:
    BSTR text_;
};

[[noreturn]] void Fail(HRESULT hr, const tstring& text) {
    HRError error(hr);
    error.SetMessage(text);
    throw error;
}

void Invoke(IDispatch* window, const wchar_t* code, const wchar_t* language, VARIANT& value) {
    DISPID id = DISPID_UNKNOWN;
    LPOLESTR name = const_cast<LPOLESTR>(kMethod);
    HRESULT hr = window->GetIDsOfNames(IID_NULL, &name, 1, kSystemLocale, &id);
    if (FAILED(hr))
        Fail(hr, tstring(L"GetIDsOfNames failed. method: ") + kMethod + L" " + ModuleErrorText(hr));

    BstrHolder codeText(code);
    BstrHolder languageText(language);
    // DISPPARAMS holds the arguments last first.
    VARIANT arguments[2];
    arguments[0].vt = VT_BSTR;
    arguments[0].bstrVal = languageText.Get();
    arguments[1].vt = VT_BSTR;
    arguments[1].bstrVal = codeText.Get();
    DISPPARAMS params = {arguments, nullptr, 2, 0};
    EXCEPINFO exception = {};
    UINT argumentError = 0;
    hr = window->Invoke(id, IID_NULL, kSystemLocale, DISPATCH_METHOD, &params, &value, &exception, &argumentError);
    if (SUCCEEDED(hr))
        return;
    tstring text = tstring(L"Invoke failed. method: ") + kMethod + L" " + ModuleErrorText(hr);
    if (hr == DISP_E_EXCEPTION) {
        if (exception.pfnDeferredFillIn)
            exception.pfnDeferredFillIn(&exception);
        text += L" exeption info: ";
        if (exception.bstrDescription)
            text += exception.bstrDescription;
    }
    SysFreeString(exception.bstrDescription);
    SysFreeString(exception.bstrSource);
    SysFreeString(exception.bstrHelpFile);
    Fail(hr, text);
}
}

HRESULT RunScript(IDispatch* window, const wchar_t* code, const wchar_t* language, VARIANT* result) noexcept {
    if (result)
        VariantInit(result);
    const wchar_t* text = code ? code : L"";
    VARIANT value;
    VariantInit(&value);
    try {
        if (!window)
            throw HRError(E_POINTER);
        if (*text)
            Invoke(window, text, language && *language ? language : L"JScript", value);
        HRESULT hr = result ? VariantCopy(result, &value) : S_OK;
        VariantClear(&value);
        return hr;
    } catch (const ErrorBase& e) {
        VariantClear(&value);
        Log::Instance().Print(LogError, L"[error] Error in script: %s", text);
        try {
            SetComErrorInfo(e.Message(), GUID_NULL);
        } catch (...) {
        }
        return HResultOf(e);
    } catch (...) {
        VariantClear(&value);
        return E_FAIL;
    }
}
