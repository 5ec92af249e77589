#include "HtmlTestSupport.h"
#include <exdispid.h>
#include "common/settings/UiCacheFolder.h"

ComPtr<IQNHTMLControl> NewControl() {
    ComPtr<IQNHTMLControl> control;
    CQNHTMLControl::Create(nullptr, IID_IQNHTMLControl, control.ReceiveVoid());
    return control;
}

CQNHTMLControl* Impl(IQNHTMLControl* control) {
    return static_cast<CQNHTMLControl*>(control);
}

ComPtr<IWebBrowser2> BrowserOf(IQNHTMLControl* control) {
    ComPtr<IUnknown> unknown;
    ComPtr<IWebBrowser2> browser;
    if (control->get_Browser(unknown.Receive()) == S_OK && unknown)
        unknown.QueryInto(IID_IWebBrowser2, browser);
    return browser;
}

bool EventRecorder::Connect(IUnknown* control) {
    ComPtr<IConnectionPointContainer> container;
    if (FAILED(control->QueryInterface(IID_IConnectionPointContainer, container.ReceiveVoid())) ||
        FAILED(container->FindConnectionPoint(DIID__IQNHTMLControlEvents, point_.Receive())))
        return false;
    return SUCCEEDED(point_->Advise(static_cast<IDispatch*>(this), &cookie_));
}

void EventRecorder::Disconnect() {
    if (point_)
        point_->Unadvise(cookie_);
    point_.Release();
}

STDMETHODIMP EventRecorder::QueryInterface(REFIID iid, void** result) {
    if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IDispatch) ||
        IsEqualIID(iid, DIID__IQNHTMLControlEvents)) {
        *result = static_cast<IDispatch*>(this);
        return S_OK;
    }
    *result = nullptr;
    return E_NOINTERFACE;
}

STDMETHODIMP EventRecorder::Invoke(DISPID id, REFIID, LCID, WORD, DISPPARAMS* params, VARIANT*, EXCEPINFO*, UINT*) {
    Call call{id, {}, nullptr, L"", L"", nullptr, GetCurrentThreadId()};
    for (UINT i = params->cArgs; i-- > 0;)
        call.types.push_back(params->rgvarg[i].vt);
    if (params->cArgs == 4) {
        call.document = params->rgvarg[3].pdispVal;
        if (params->rgvarg[2].bstrVal)
            call.name = params->rgvarg[2].bstrVal;
        if (params->rgvarg[1].bstrVal)
            call.element = params->rgvarg[1].bstrVal;
        call.param = params->rgvarg[0].pvarVal;
    }
    calls.push_back(call);
    return answer_;
}

bool BrowserEventLog::Connect(IUnknown* browser) {
    ComPtr<IConnectionPointContainer> container;
    if (FAILED(browser->QueryInterface(IID_IConnectionPointContainer, container.ReceiveVoid())) ||
        FAILED(container->FindConnectionPoint(DIID_DWebBrowserEvents2, point_.Receive())))
        return false;
    return SUCCEEDED(point_->Advise(static_cast<IDispatch*>(this), &cookie_));
}

void BrowserEventLog::Disconnect() {
    if (point_)
        point_->Unadvise(cookie_);
    point_.Release();
}

size_t BrowserEventLog::Count(DISPID id) const {
    size_t n = 0;
    for (const auto& e : events)
        n += e.first == id;
    return n;
}

STDMETHODIMP BrowserEventLog::QueryInterface(REFIID iid, void** result) {
    if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IDispatch) || IsEqualIID(iid, DIID_DWebBrowserEvents2)) {
        *result = static_cast<IDispatch*>(this);
        return S_OK;
    }
    *result = nullptr;
    return E_NOINTERFACE;
}

STDMETHODIMP BrowserEventLog::Invoke(DISPID id, REFIID, LCID, WORD, DISPPARAMS* params, VARIANT*, EXCEPINFO*, UINT*) {
    std::wstring text;
    for (UINT i = params->cArgs; i-- > 0;) {
        VARIANT* v = &params->rgvarg[i];
        if (v->vt == (VT_BYREF | VT_VARIANT))
            v = v->pvarVal;
        if (v->vt == VT_BSTR && v->bstrVal) {
            text = v->bstrVal;
            break;
        }
    }
    events.emplace_back(id, text);
    if (id == DISPID_NAVIGATEERROR && params->cArgs >= 4) {
        VARIANT* status = &params->rgvarg[params->cArgs - 4];
        if (status->vt == (VT_BYREF | VT_VARIANT))
            status = status->pvarVal;
        errors.push_back(status->vt == VT_I4 ? HRESULT(status->lVal) : E_FAIL);
    }
    return S_OK;
}

std::wstring CachePagePath(const wchar_t* name) {
    static const std::wstring folder = CreateUiCacheFolder();
    std::wstring path = folder + L"\\" + name;
    HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    const char page[] = "<html><body>page</body></html>";
    DWORD written = 0;
    WriteFile(file, page, sizeof page - 1, &written, nullptr);
    CloseHandle(file);
    return path;
}
