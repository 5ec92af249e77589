#include "app/html/HtmlView.h"
#include <mshtml.h>
#include "app/AppUtilities.h"
#include "app/html/BrowserSettingsOverride.h"
#include "app/html/BrowserVersion.h"
#include "app/html/KeyFilter.h"
#include "app/html/MshtmlDocument.h"
#include "app/html/UiCache.h"
#include "app/OperationLock.h"
#include "common/errors/CheckObjects.h"
#include "common/log/Log.h"
#include "common/ui/CallbackError.h"
#include <htmlhelp.h>

// The control's outgoing events as an automation sink: HTMLEvent is DISPID 1
// with (document, name, element, param).
class HtmlEventSink final : public IDispatch {
public:
    explicit HtmlEventSink(HtmlView* view) : view_(view) {}
    void Forget() { view_ = nullptr; }

    STDMETHODIMP QueryInterface(REFIID iid, void** result) override {
        if (!result) return E_POINTER;
        *result = nullptr;
        if (iid != IID_IUnknown && iid != IID_IDispatch && iid != DIID__IQNHTMLControlEvents) return E_NOINTERFACE;
        *result = static_cast<IDispatch*>(this);
        AddRef();
        return S_OK;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return InterlockedIncrement(&references_); }
    STDMETHODIMP_(ULONG) Release() override {
        LONG left = InterlockedDecrement(&references_);
        if (left == 0) delete this;
        return left;
    }
    STDMETHODIMP GetTypeInfoCount(UINT* count) override {
        if (count) *count = 0;
        return S_OK;
    }
    STDMETHODIMP GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
    STDMETHODIMP GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return E_NOTIMPL; }
    STDMETHODIMP Invoke(DISPID id, REFIID, LCID, WORD, DISPPARAMS* parameters, VARIANT* result, EXCEPINFO*,
                        UINT*) override {
        if (id != 1) return DISP_E_MEMBERNOTFOUND;
        if (!parameters || parameters->cArgs != 4) return DISP_E_BADPARAMCOUNT;
        if (!view_) return S_OK;
        return GuardCallback(TEXT("page event"), HRESULT(E_FAIL), [&] {
            // Automation passes the arguments last first.
            VARIANT* args = parameters->rgvarg;
            IDispatch* document = ArgumentDispatch(args[3]);
            BSTR name = ArgumentText(args[2]);
            BSTR element = ArgumentText(args[1]);
            VARIANT* param = &args[0];
            if (param->vt == (VT_VARIANT | VT_BYREF)) param = param->pvarVal;
            view_->Dispatch(document, name, element, param);
            if (result) VariantInit(result);
            return S_OK;
        });
    }

private:
    ~HtmlEventSink() = default;
    static IDispatch* ArgumentDispatch(const VARIANT& v) {
        if (v.vt == VT_DISPATCH) return v.pdispVal;
        if (v.vt == (VT_DISPATCH | VT_BYREF)) return *v.ppdispVal;
        return nullptr;
    }
    static BSTR ArgumentText(const VARIANT& v) {
        if (v.vt == VT_BSTR) return v.bstrVal;
        if (v.vt == (VT_BSTR | VT_BYREF)) return *v.pbstrVal;
        return nullptr;
    }

    LONG references_ = 1;
    HtmlView* view_;
};

bool PostedEventWindow::Create() {
    return WindowImpl::Create(HWND_MESSAGE, nullptr, TEXT(""), 0) != nullptr;
}

LRESULT PostedEventWindow::OnMessage(UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == eventMessage_ && eventMessage_ != 0) {
        HtmlEventHandler* target = PostedEventTarget(lParam);
        ReceivePostedEvent(wParam, lParam, [&](BSTR name, VARIANT* param) {
            if (targeted_)
                targeted_(context_, target, name, param);
            else
                receiver_(context_, name, param);
        });
        return 0;
    }
    if (message == WM_DESTROY && eventMessage_ != 0) {
        // Events still queued would leak their name and parameter.
        MSG left;
        while (::PeekMessageW(&left, Handle(), eventMessage_, eventMessage_, PM_REMOVE)) {
            // WM_QUIT comes through any filter: it belongs to the loop.
            if (left.message == WM_QUIT) {
                ::PostQuitMessage(static_cast<int>(left.wParam));
                break;
            }
            FreePostedEvent(left.wParam, left.lParam);
        }
    }
    return DefaultProc(message, wParam, lParam);
}

HtmlView::HtmlView(HtmlEventHandler* fallback)
    : fallback_(fallback), sink_(new HtmlEventSink(this)), events_(&HtmlView::ReceivePosted, this) {}

HtmlView::~HtmlView() {
    if (Handle() && ::IsWindow(Handle())) ::DestroyWindow(Handle());
    ReleaseHostedControl();
    sink_->Forget();
    sink_->Release();
}

HRESULT HtmlView::RegisterServer(const wchar_t* dllName) {
    HMODULE module = ::LoadLibraryW(dllName);
    if (!module) return 0;
    using RegisterProc = HRESULT(STDAPICALLTYPE*)();
    auto proc = reinterpret_cast<RegisterProc>(::GetProcAddress(module, "DllRegisterServer"));
    return proc ? proc() : 0;
}

void HtmlView::CreateHostedControl() {
    HRESULT hr = CreateControl(TEXT("qnControl.QNHTMLControl"));
    if (FAILED(hr)) {
        // Started from its folder without an installation: register and retry.
        RegisterServer(L"qnControl.dll");
        RegisterServer(L"OrvaneEngine.dll");
        HRCheck retry(L"Creating the HTML control");
        retry = CreateControl(TEXT("qnControl.QNHTMLControl"));
    }
    HRCheck check(L"Connecting to the HTML control");
    check = QueryControl(IID_IQNHTMLControl, control_);
    check = connection_.Connect(control_, DIID__IQNHTMLControlEvents, sink_);
    if (ComPtr<IWebBrowser2> browser = Browser()) browser->put_RegisterAsDropTarget(VARIANT_FALSE);
    if (!events_.Handle()) events_.Create();
    if (MessageLoop* loop = MessageLoop::ForCurrentThread()) {
        loop->AddMessageFilter(this);
        filterRegistered_ = true;
    }
}

void HtmlView::ReleaseHostedControl() {
    if (filterRegistered_) {
        if (MessageLoop* loop = MessageLoop::ForCurrentThread()) loop->RemoveMessageFilter(this);
        filterRegistered_ = false;
    }
    connection_.Disconnect();
    control_.Release();
    if (events_.Handle()) events_.Destroy();
    current_ = nullptr;
    fallback_ = nullptr;
}

LRESULT HtmlView::OnMessage(UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_CREATE: {
        LRESULT result = AxHostWindow::OnMessage(message, wParam, lParam);
        try {
            CreateHostedControl();
        } catch (const ErrorBase& e) {
            // The program then runs without pages rather than not at all.
            Log::Instance().Print(LogError, L"[error] HTML control: %s", e.Message().c_str());
            connection_.Disconnect();
            control_.Release();
            DestroyControl();
        }
        return result;
    }
    case WM_DESTROY: {
        LRESULT result = AxHostWindow::OnMessage(message, wParam, lParam);
        ReleaseHostedControl();
        return result;
    }
    default:
        return AxHostWindow::OnMessage(message, wParam, lParam);
    }
}

ComPtr<IWebBrowser2> HtmlView::Browser() const {
    ComPtr<IWebBrowser2> browser;
    ComPtr<IUnknown> unknown;
    if (control_ && control_->get_Browser(unknown.Receive()) == S_OK && unknown)
        unknown.QueryInto(IID_IWebBrowser2, browser);
    return browser;
}

UINT HtmlView::ControlMessage() {
    if (controlMessage_ == 0 && control_) {
        ULONG message = 0;
        if (SUCCEEDED(control_->get_ControlMessage(&message))) controlMessage_ = message;
        events_.SetEventMessage(controlMessage_);
    }
    return controlMessage_;
}

int HtmlView::Dispatch(IDispatch* document, BSTR eventName, BSTR element, VARIANT* param) {
    return DispatchHtmlEvent(current_, fallback_, document, eventName, element, param);
}

void HtmlView::ReceivePosted(void* context, HtmlEventHandler* target, BSTR eventName, VARIANT* param) {
    auto* view = static_cast<HtmlView*>(context);
    BSTR empty = ::SysAllocString(L"");
    // A worker's end goes to the page that started it, shown or not.
    GuardCallback(TEXT("posted page event"), 0, [&] {
        return DispatchHtmlEvent(target ? target : view->current_, view->fallback_, nullptr, eventName, empty, param);
    });
    ::SysFreeString(empty);
}

HRESULT HtmlView::ExecScript(const wchar_t* code, const wchar_t* language) {
    if (!control_) return E_POINTER;
    BSTR codeText = ::SysAllocString(code);
    BSTR languageText = ::SysAllocString(language);
    VARIANT result;
    VariantInit(&result);
    HRESULT hr = (codeText && languageText) ? control_->ExecScript(codeText, languageText, &result) : E_OUTOFMEMORY;
    VariantClear(&result);
    ::SysFreeString(codeText);
    ::SysFreeString(languageText);
    return hr;
}

std::unique_ptr<PageDocument> HtmlView::Document() {
    ComPtr<IWebBrowser2> browser = Browser();
    ComPtr<IDispatch> dispatch;
    ComPtr<IHTMLDocument2> document;
    if (!browser || FAILED(browser->get_Document(dispatch.Receive())) || !dispatch ||
        FAILED(dispatch.QueryInto(IID_IHTMLDocument2, document)))
        return nullptr;
    return std::make_unique<MshtmlDocument>(document);
}

HWND HtmlView::ControlWindow() {
    LONG window = 0;
    if (!control_ || FAILED(control_->get_HWND(&window))) return nullptr;
    return reinterpret_cast<HWND>(static_cast<LONG_PTR>(window));
}

void HtmlView::SetControlEnabled(bool enabled) {
    if (control_) control_->put_Enabled(enabled ? VARIANT_TRUE : VARIANT_FALSE);
}

tstring HtmlView::BuildAddress(const tstring& folder, const wchar_t* pageName, const wchar_t* query) {
    tstring address = folder + L"\\" + pageName;
    if (query && *query) {
        wchar_t separator = address.find(L'#') == tstring::npos ? L'#' : L'&';
        if (query[0] != separator) address += separator;
        address += query;
    }
    return address;
}

void HtmlView::WaitForDocument(IWebBrowser2* browser) {
    BrowserVersion version = GetIEVersion();
    const DWORD step = version.AtLeast(6, 0) ? 26 : 52;
    for (DWORD elapsed = 0; elapsed < 5000; elapsed += step) {
        ::Sleep(step);
        PumpMessages();
        READYSTATE state = READYSTATE_UNINITIALIZED;
        if (FAILED(browser->get_ReadyState(&state))) continue;
        if (state == READYSTATE_COMPLETE) return;
        if (state == READYSTATE_INTERACTIVE && !version.AtLeast(7, 0)) {
            // Older browsers stay interactive after the document is complete.
            ComPtr<IDispatch> dispatch;
            ComPtr<IHTMLDocument2> document;
            BSTR text = nullptr;
            if (SUCCEEDED(browser->get_Document(dispatch.Receive())) && dispatch &&
                SUCCEEDED(dispatch.QueryInto(IID_IHTMLDocument2, document)) &&
                SUCCEEDED(document->get_readyState(&text)) && text && wcscmp(text, L"complete") == 0) {
                ::SysFreeString(text);
                PumpMessages();
                ::Sleep(step);
                PumpMessages();
                return;
            }
            ::SysFreeString(text);
        }
    }
}

namespace {

bool firstNavigationDone = false;

VARIANT Missing() {
    VARIANT missing;
    VariantInit(&missing);
    missing.vt = VT_ERROR;
    missing.scode = DISP_E_PARAMNOTFOUND;
    return missing;
}

HRESULT Navigate(IWebBrowser2* browser, const tstring& address) {
    VARIANT target;
    target.vt = VT_BSTR;
    target.bstrVal = ::SysAllocString(address.c_str());
    if (!target.bstrVal) return E_OUTOFMEMORY;
    VARIANT none = Missing();
    HRESULT hr = browser->Navigate2(&target, &none, &none, &none, &none);
    VariantClear(&target);
    return hr;
}

}  // namespace

bool HtmlView::ShowPage(HtmlPage* page, const wchar_t* query) {
    ComPtr<IWebBrowser2> browser = Browser();
    if (!control_ || !browser || !page) return false;
    // Held for the navigation when it is free.
    OperationScope lock;
    // Restored on every way out, an exception included.
    std::unique_ptr<BrowserSettingsOverride> overrides;
    if (!firstNavigationDone) overrides = std::make_unique<BrowserSettingsOverride>();

    bool again = current_ == page;
    if (current_ && !again) current_->Hide();
    current_ = page;
    page->AttachControl(control_, ControlMessage(), events_.Handle(), this);
    tstring address = BuildAddress(GetUiCacheFolder(false), page->PageName(), query);

    HWND controlWindow = ControlWindow();
    bool hidden = false;
    if (!GetIEVersion().AtLeast(5, 5) && controlWindow && ::IsWindowVisible(controlWindow)) {
        ::ShowWindow(controlWindow, SW_HIDE);
        hidden = true;
    }
    if (again && SUCCEEDED(Navigate(browser, L"about:blank"))) {
        PumpMessages();
        WaitForDocument(browser);
    } else if (again) {
        PumpMessages();
    }
    HRESULT hr = Navigate(browser, address);
    firstNavigationDone = true;
    PumpMessages();
    if (hidden) ::ShowWindow(controlWindow, SW_SHOWNORMAL);
    PumpMessages();
    if (SUCCEEDED(hr)) WaitForDocument(browser);

    if (std::unique_ptr<PageDocument> document = Document()) {
        if (std::unique_ptr<PageElement> table = document->ElementById(L"mainTable")) table->Focus();
    }
    PumpMessages();
    if (SUCCEEDED(hr) && current_ == page) page->OnShown();
    return SUCCEEDED(hr);
}

bool HtmlView::IsOwnWindow(HWND window) const {
    return window && (window == Handle() || ::IsChild(Handle(), window));
}

bool HtmlView::PreTranslateMessage(MSG& message) {
    if (message.message == WM_SYSCOMMAND && (message.wParam & 0xFFF0) == SC_CLOSE && current_ &&
        current_->CloseDisabled())
        return true;
    ControlMessage();
    if (message.message == WM_KEYUP && message.wParam == VK_F1) {
        DWORD context = current_ ? current_->HelpContextId() : 0;
        if (context) {
            ShowHelp(HH_HELP_CONTEXT, context);
        } else {
            ShowHelp(HH_DISPLAY_TOC, 0);
        }
        return true;
    }
    if (message.message >= WM_KEYFIRST && message.message <= WM_KEYLAST && control_ && IsOwnWindow(message.hwnd)) {
        KeyDecision decision = FilterKey(message.message, message.wParam, &IsKeyDownNow);
        if (decision.postCopy && current_) current_->PostEvent(L"CONTROL_C", nullptr);
        if (decision.holdBack) return false;
        HWND controlWindow = ControlWindow();
        if (!controlWindow || !::IsWindowEnabled(controlWindow)) return false;
        MSG copy = message;
        if (TranslateAccelerator(copy)) return true;
        if (message.wParam == VK_TAB) {
            copy = message;
            return TranslateAccelerator(copy);
        }
        return false;
    }
    bool shift = IsKeyDownNow(VK_SHIFT) || IsKeyDownNow(VK_LSHIFT) || IsKeyDownNow(VK_RSHIFT);
    // No Shift-click into a new browser window.
    if (message.message == WM_LBUTTONDOWN && shift && IsOwnWindow(message.hwnd)) return true;
    if (message.message == WM_MOUSEWHEEL && shift && control_ && IsOwnWindow(message.hwnd)) return true;
    return false;
}
