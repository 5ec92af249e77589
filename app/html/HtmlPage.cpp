#include "app/html/HtmlPage.h"
#include <exdisp.h>
#include "app/AppUtilities.h"
#include "app/html/MshtmlDocument.h"
#include "common/errors/ErrorBase.h"

namespace {

// Not in mingw-w64's uuid library; kept local so that no second definition
// can meet another library's.
const IID kIidHtmlElement3 = {0x3050f673, 0x98b5, 0x11cf, {0xbb, 0x82, 0x00, 0xaa, 0x00, 0xbd, 0xce, 0x0b}};

}  // namespace

HtmlPage::HtmlPage() : uiThreadId_(::GetCurrentThreadId()) {}

HtmlPage::~HtmlPage() = default;

void HtmlPage::AttachControl(IUnknown* control, UINT controlMessage, HWND eventWindow, PageHost* host) {
    control_ = control;
    host_ = host;
    controlMessage_ = controlMessage;
    eventWindow_ = eventWindow;
    uiThreadId_ = ::GetCurrentThreadId();
    shown_ = true;
}

ComPtr<IQNHTMLControl> HtmlPage::GetHtmlControl() const {
    ComPtr<IUnknown> unknown;
    ComPtr<IQNHTMLControl> control;
    if (control_ && SUCCEEDED(control_.QueryInto(IID_IUnknown, unknown)))
        unknown.QueryInto(IID_IQNHTMLControl, control);
    return control;
}

ComPtr<IHTMLDocument2> HtmlPage::QueryDocument() const {
    ComPtr<IHTMLDocument2> document;
    if (!control_) return document;
    // The browser as the control hands it out: its IDispatch property "Browser".
    ComPtr<IDispatch> automation;
    if (FAILED(control_.QueryInto(IID_IDispatch, automation))) return document;
    LPOLESTR name = const_cast<LPOLESTR>(L"Browser");
    DISPID id = 0;
    if (FAILED(automation->GetIDsOfNames(IID_NULL, &name, 1, LOCALE_SYSTEM_DEFAULT, &id))) return document;
    DISPPARAMS none = {};
    VARIANT result;
    VariantInit(&result);
    if (FAILED(automation->Invoke(id, IID_NULL, LOCALE_SYSTEM_DEFAULT, DISPATCH_PROPERTYGET, &none, &result, nullptr,
                                  nullptr)))
        return document;
    ComPtr<IWebBrowser2> browser;
    if ((result.vt == VT_UNKNOWN || result.vt == VT_DISPATCH) && result.punkVal)
        result.punkVal->QueryInterface(IID_IWebBrowser2, browser.ReceiveVoid());
    VariantClear(&result);
    ComPtr<IDispatch> documentDispatch;
    if (browser && SUCCEEDED(browser->get_Document(documentDispatch.Receive())) && documentDispatch)
        documentDispatch.QueryInto(IID_IHTMLDocument2, document);
    return document;
}

ComPtr<IHTMLElement3> HtmlPage::GetElement(const wchar_t* id) const {
    ComPtr<IHTMLElement3> element;
    ComPtr<IHTMLElement> found = MshtmlDocument::FindElement(QueryDocument(), id);
    if (found) found.QueryInto(kIidHtmlElement3, element);
    return element;
}

void HtmlPage::ExecScript(const tstring& code) {
    if (!host_) throw HRError(E_POINTER);
    if (!shown_) return;
    HRESULT hr = host_->ExecScript(code.c_str(), L"JavaScript");
    if (FAILED(hr)) throw HRError(hr);
}

void HtmlPage::RunScript(const tstring& code, const wchar_t* language) {
    if (code.empty() || (host_ && !shown_)) return;
    std::unique_ptr<PageDocument> document = host_ ? host_->Document() : nullptr;
    if (!document) throw HRError(E_POINTER);
    document->ExecScript(code.c_str(), language);
}

bool HtmlPage::EnableElement(const wchar_t* id, bool enable) {
    if (!shown_) return false;
    std::unique_ptr<PageDocument> document = host_ ? host_->Document() : nullptr;
    if (!document) return false;
    std::unique_ptr<PageElement> target = (id && *id) ? document->ElementById(id) : document->Body();
    if (!target) return false;
    auto apply = [enable](PageElement& element) {
        return enable ? element.RemoveAttribute(L"DISABLED") : element.SetAttribute(L"DISABLED", L"true");
    };
    bool last = apply(*target);
    if (!last) return false;
    // The `all` collection already holds every level below: one pass reaches them all.
    for (auto& element : target->Descendants()) last = apply(*element);
    return last;
}

void HtmlPage::EnablePage(bool enable) {
    if (!shown_) return;
    if (EnableElement(nullptr, enable) && host_) {
        host_->ExecScript(enable ? L"document.body.style.cursor = 'auto';" : L"document.body.style.cursor = 'wait';",
                          L"JScript");
    }
    if (host_) host_->SetControlEnabled(enable);
    EnableControl(enable);
}

void HtmlPage::EnableControl(bool enable) {
    HWND window = host_ ? host_->ControlWindow() : nullptr;
    if (window) ::EnableWindow(window, enable ? TRUE : FALSE);
}

bool HtmlPage::PostEvent(const wchar_t* eventName, const VARIANT* param) {
    UINT message = controlMessage_;
    HWND window = eventWindow_;
    if (message == 0 || window == nullptr) return false;
    return PostHtmlEvent(window, message, eventName, param, this);
}

void HtmlPage::DisableCloseMenu() {
    closeDisabled_ = true;
    HMENU menu = ::GetSystemMenu(GetMainWindow(), FALSE);
    if (menu) ::EnableMenuItem(menu, SC_CLOSE, MF_BYCOMMAND | MF_DISABLED | MF_GRAYED);
}

void HtmlPage::EnableCloseMenu() {
    closeDisabled_ = false;
    HMENU menu = ::GetSystemMenu(GetMainWindow(), FALSE);
    if (menu) ::EnableMenuItem(menu, SC_CLOSE, MF_BYCOMMAND | MF_ENABLED);
}

int DispatchHtmlEvent(HtmlEventHandler* page, HtmlEventHandler* fallback, IDispatch* document, BSTR eventName,
                      BSTR element, VARIANT* param) {
    if (!document && !eventName && !element) return 1;
    int result = page ? page->OnHTMLEvent(document, eventName, element, param) : 1;
    if (result == 1 && fallback) result = fallback->OnHTMLEvent(document, eventName, element, param);
    return result;
}

bool IsEvent(BSTR eventName, const wchar_t* name) {
    return eventName && name && ::SysStringLen(eventName) == wcslen(name) && wcscmp(eventName, name) == 0;
}

bool PostHtmlEvent(HWND window, UINT message, const wchar_t* eventName, const VARIANT* param,
                   HtmlEventHandler* target) {
    BSTR name = nullptr;
    if (eventName) {
        name = ::SysAllocString(eventName);
        if (!name) throw HRError(E_OUTOFMEMORY);
    }
    auto* copy = static_cast<PostedParam*>(::HeapAlloc(::GetProcessHeap(), HEAP_ZERO_MEMORY, sizeof(PostedParam)));
    if (!copy) {
        ::SysFreeString(name);
        throw HRError(E_OUTOFMEMORY);
    }
    VariantInit(&copy->value);
    copy->target = target;
    copy->present = param != nullptr;
    if (param) {
        HRESULT hr = VariantCopy(&copy->value, const_cast<VARIANT*>(param));
        if (FAILED(hr)) {
            FreePostedEvent(reinterpret_cast<WPARAM>(name), reinterpret_cast<LPARAM>(copy));
            throw HRError(hr);
        }
    }
    if (::PostMessageW(window, message, reinterpret_cast<WPARAM>(name), reinterpret_cast<LPARAM>(copy))) return true;
    FreePostedEvent(reinterpret_cast<WPARAM>(name), reinterpret_cast<LPARAM>(copy));
    return false;
}

void FreePostedEvent(WPARAM wParam, LPARAM lParam) {
    ::SysFreeString(reinterpret_cast<BSTR>(wParam));
    if (auto* param = reinterpret_cast<PostedParam*>(lParam)) {
        VariantClear(&param->value);
        ::HeapFree(::GetProcessHeap(), 0, param);
    }
}
