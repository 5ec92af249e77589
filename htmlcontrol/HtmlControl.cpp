#include "htmlcontrol/HtmlControl.h"
#include <mshtml.h>
#include <new>
#include "common/com/ComBoundary.h"
#include "common/errors/ErrorBase.h"
#include "common/log/Log.h"
#include "common/settings/AppFolders.h"
#include "common/system/WebAddress.h"
#include "htmlcontrol/LockdownSwitch.h"
#include "htmlcontrol/ScriptRunner.h"
#include "htmlcontrol/UrlPolicy.h"

namespace {
// DLCTL_SILENT | URL_ENCODING_ENABLE_UTF8 | PRAGMA_NO_CACHE | BGSOUNDS | VIDEOS | DLIMAGES
const LONG kDownloadControl = 0x40044070;
const DISPID kHTMLEvent = 1;

RECT ClientRect(HWND window) {
    RECT client = {};
    GetClientRect(window, &client);
    return client;
}

bool SameObject(IUnknown* a, IUnknown* b) {
    if (!a || !b)
        return false;
    ComPtr<IUnknown> ia, ib;
    return SUCCEEDED(a->QueryInterface(IID_IUnknown, ia.ReceiveVoid())) &&
           SUCCEEDED(b->QueryInterface(IID_IUnknown, ib.ReceiveVoid())) && ia.Get() == ib.Get();
}
}

HRESULT CQNHTMLControl::Create(IUnknown* outer, REFIID iid, void** result) noexcept {
    if (!result)
        return E_POINTER;
    *result = nullptr;
    if (outer && !IsEqualIID(iid, IID_IUnknown))
        return CLASS_E_NOAGGREGATION;
    return Hand(new (std::nothrow) CQNHTMLControl(outer), iid, result);
}

CQNHTMLControl::CQNHTMLControl(IUnknown* outer)
    : ActiveXControl(outer, CLSID_CQNHTMLControl, DIID__IQNHTMLControlEvents),
      htmlEvents_(this, DIID__IQNHTMLControlEvents), site_(*this), events_(*this) {
    // The control shares the main program's log file.
    UseDataFolderLog();
}

CQNHTMLControl::~CQNHTMLControl() = default;

STDMETHODIMP CQNHTMLControl::QueryInterface(REFIID iid, void** result) {
    return OuterUnknown()->QueryInterface(iid, result);
}

STDMETHODIMP_(ULONG) CQNHTMLControl::AddRef() {
    return OuterUnknown()->AddRef();
}

STDMETHODIMP_(ULONG) CQNHTMLControl::Release() {
    return OuterUnknown()->Release();
}

HRESULT CQNHTMLControl::InternalQueryInterface(REFIID iid, void** result) {
    if (IsEqualIID(iid, IID_IDispatch) || IsEqualIID(iid, IID_IQNHTMLControl)) {
        *result = static_cast<IQNHTMLControl*>(this);
        AddRef();
        return S_OK;
    }
    return ActiveXControl::InternalQueryInterface(iid, result);
}

void CQNHTMLControl::FinalRelease() {
    ActiveXControl::FinalRelease();
    // Without a window (never activated, or already destroyed) the browser
    // is gone; this only covers a window destroyed by its parent first.
    CloseBrowser();
}

// ---- the window and the browser

LRESULT CQNHTMLControl::OnMessage(UINT message, WPARAM, LPARAM, bool& handled) {
    switch (message) {
    case WM_CREATE:
        handled = true;
        return CreateBrowser() ? 0 : -1;
    case WM_SIZE:
        if (browserInPlace_ && site_.InPlaceActive()) {
            RECT client = ClientRect(Window());
            browserInPlace_->SetObjectRects(&client, &client);
        }
        break;
    case WM_DESTROY:
        CloseBrowser();
        break;
    default:
        break;
    }
    handled = false;
    return 0;
}

bool CQNHTMLControl::CreateBrowser() {
    creatingThread_ = GetCurrentThreadId();
    SuspendLockdown();
    lockdownSuspended_ = true;

    ComPtr<IOleObject> browser;
    if (SUCCEEDED(CoCreateInstance(CLSID_WebBrowser, nullptr, CLSCTX_INPROC_SERVER | CLSCTX_INPROC_HANDLER,
                                   IID_IOleObject, browser.ReceiveVoid())) &&
        SUCCEEDED(browser->SetClientSite(&site_))) {
        browserObject_ = browser;
        RECT client = ClientRect(Window());
        if (SUCCEEDED(browser->DoVerb(OLEIVERB_INPLACEACTIVATE, nullptr, &site_, 0, Window(), &client)) &&
            SUCCEEDED(browser.QueryInto(IID_IWebBrowser2, browser_))) {
            if (SUCCEEDED(browser_.QueryInto(IID_IOleInPlaceObject, browserInPlace_)))
                browserInPlace_->SetObjectRects(&client, &client);
        }
    }

    wchar_t name[260] = {};
    _snwprintf(name, 259, L"QNHTML_CONTROL_MSG_%llX",
               static_cast<unsigned long long>(reinterpret_cast<UINT_PTR>(Window())));
    controlMessage_ = RegisterWindowMessageW(name);

    if (!browser_)
        return true;
    ComPtr<IConnectionPointContainer> container;
    ComPtr<IConnectionPoint> point;
    if (SUCCEEDED(browser_.QueryInto(IID_IConnectionPointContainer, container)) &&
        SUCCEEDED(container->FindConnectionPoint(DIID_DWebBrowserEvents2, point.Receive())) &&
        SUCCEEDED(point->Advise(&events_, &eventsCookie_))) {
        eventsAdvised_ = true;
        return true;
    }
    return false;
}

// The browser holds the control through its client site: the connection
// is cut here, when the window goes, or the two would keep each other.
void CQNHTMLControl::CloseBrowser() {
    if (eventsAdvised_ && browser_) {
        ComPtr<IConnectionPointContainer> container;
        ComPtr<IConnectionPoint> point;
        if (SUCCEEDED(browser_.QueryInto(IID_IConnectionPointContainer, container)) &&
            SUCCEEDED(container->FindConnectionPoint(DIID_DWebBrowserEvents2, point.Receive())))
            point->Unadvise(eventsCookie_);
    }
    eventsAdvised_ = false;
    eventsCookie_ = 0;
    ComPtr<IOleObject> browser = browserObject_;
    browserInPlace_.Release();
    browser_.Release();
    browserObject_.Release();
    if (browser) {
        browser->Close(OLECLOSE_NOSAVE);
        browser->SetClientSite(nullptr);
    }
    topNavigationPending_ = false;
    if (lockdownSuspended_) {
        lockdownSuspended_ = false;
        ResumeLockdown();
    }
}

ComPtr<IOleInPlaceActiveObject> CQNHTMLControl::HostedActiveObject() {
    ComPtr<IOleInPlaceActiveObject> active;
    if (browser_)
        browser_.QueryInto(IID_IOleInPlaceActiveObject, active);
    return active;
}

bool CQNHTMLControl::ShowsProgramPage() {
    if (!browser_)
        return false;
    BSTR location = nullptr;
    bool program = SUCCEEDED(browser_->get_LocationURL(&location)) && location && IsProgramPage(location);
    SysFreeString(location);
    return program;
}

bool CQNHTMLControl::IsBrowser(IDispatch* frame) {
    return browser_ && SameObject(frame, browser_);
}

// ---- browser events

void CQNHTMLControl::OnBeforeNavigate(IDispatch* frame, const wchar_t* url, VARIANT* target, VARIANT_BOOL* cancel) {
    const bool topLevel = IsBrowser(frame);
    switch (JudgeNavigation(url, topLevel)) {
    case NavigationVerdict::Allow:
        // Named targets and "_blank" open in the frame itself.
        if (target && target->vt == VT_BSTR && target->bstrVal) {
            BSTR self = SysAllocString(L"_self");
            if (self) {
                SysFreeString(target->bstrVal);
                target->bstrVal = self;
            }
        }
        return;
    case NavigationVerdict::OpenInBrowser:
        *cancel = VARIANT_TRUE;
        OpenWebAddress(url);
        return;
    case NavigationVerdict::Refuse:
        *cancel = VARIANT_TRUE;
        Log::Instance().Print(LogError, L"[error] Navigation refused: %s", url ? url : L"");
        return;
    }
}

void CQNHTMLControl::OnNavigateComplete(IDispatch* frame) {
    if (IsBrowser(frame))
        topNavigationPending_ = true;
}

void CQNHTMLControl::OnDocumentComplete(IDispatch* frame, VARIANT* url) {
    if (!topNavigationPending_ || !IsBrowser(frame))
        return;
    topNavigationPending_ = false;
    BSTR name = SysAllocString(L"QN_CONTROL_DOC_COMPLETE");
    BSTR element = SysAllocString(L"");
    if (name && element)
        FireHTMLEvent(frame, name, element, url);
    SysFreeString(name);
    SysFreeString(element);
}

void CQNHTMLControl::OnNewWindow(VARIANT_BOOL* cancel) {
    *cancel = VARIANT_TRUE;
}

HRESULT CQNHTMLControl::FireHTMLEvent(IDispatch* document, BSTR eventName, BSTR element, VARIANT* param) {
    VARIANT arguments[4];
    arguments[3].vt = VT_DISPATCH;
    arguments[3].pdispVal = document;
    arguments[2].vt = VT_BSTR;
    arguments[2].bstrVal = eventName;
    arguments[1].vt = VT_BSTR;
    arguments[1].bstrVal = element;
    arguments[0].vt = VT_BYREF | VT_VARIANT;
    arguments[0].pvarVal = param;
    DISPPARAMS params = {arguments, nullptr, 4, 0};
    return htmlEvents_.Fire(kHTMLEvent, params);
}

// ---- IQNHTMLControl

STDMETHODIMP CQNHTMLControl::OnHTMLEvent(IDispatch* document, BSTR eventName, BSTR element, VARIANT* param) {
    ComPtr<IUnknown> keep(OuterUnknown());
    if (!eventName || SysStringLen(eventName) == 0)
        return E_NOTIMPL;
    // Events are raised on the window's thread only; the control marshals nothing.
    if (GetCurrentThreadId() == creatingThread_)
        FireHTMLEvent(document, eventName, element, param);
    return S_OK;
}

STDMETHODIMP CQNHTMLControl::put_Enabled(VARIANT_BOOL enabled) {
    return PutEnabled(enabled);
}

STDMETHODIMP CQNHTMLControl::get_Enabled(VARIANT_BOOL* enabled) {
    return GetEnabled(enabled);
}

STDMETHODIMP CQNHTMLControl::get_HWND(LONG* window) {
    if (!window)
        return E_POINTER;
    *window = LONG(reinterpret_cast<LONG_PTR>(Window()));
    return S_OK;
}

STDMETHODIMP CQNHTMLControl::get_AmbientDlControl(LONG* flags) {
    if (!flags)
        return E_POINTER;
    *flags = kDownloadControl;
    return S_OK;
}

STDMETHODIMP CQNHTMLControl::get_Parent(IUnknown** parent) {
    if (!parent)
        return E_POINTER;
    *parent = nullptr;
    if (!ClientSite())
        return E_FAIL;
    ComPtr<IOleContainer> container;
    HRESULT hr = ClientSite()->GetContainer(container.Receive());
    if (FAILED(hr))
        return hr;
    if (!container)
        return E_FAIL;
    return container->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(parent));
}

STDMETHODIMP CQNHTMLControl::get_Browser(IUnknown** browser) {
    if (!browser)
        return E_POINTER;
    if (!browser_)
        return S_FALSE;
    return browser_->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(browser));
}

STDMETHODIMP CQNHTMLControl::ExecScript(BSTR code, BSTR language, VARIANT* result) {
    if (result)
        VariantInit(result);
    if (!browser_)
        return E_FAIL;
    ComPtr<IDispatch> document;
    ComPtr<IHTMLDocument2> html;
    if (FAILED(browser_->get_Document(document.Receive())) || !document ||
        FAILED(document.QueryInto(IID_IHTMLDocument2, html)) || !html)
        return E_NOINTERFACE;
    ComPtr<IDispatch> window;
    HRESULT hr = html->get_Script(window.Receive());
    if (FAILED(hr))
        return hr;
    if (!window)
        return E_NOINTERFACE;
    return RunScript(window, code, language, result);
}

STDMETHODIMP CQNHTMLControl::get_ControlMessage(ULONG* message) {
    if (!message)
        return E_POINTER;
    *message = controlMessage_;
    return S_OK;
}
