#include "common/ui/AxHostWindow.h"
#include <ocidl.h>
#include <string>
#include "common/ui/CallbackError.h"

// The host's side of the in-place protocol. A separate reference-counted
// object because the control may hold its site longer than the window lives;
// once the window has gone the site answers without it.
class AxSite final : public IOleClientSite, public IOleInPlaceSite, public IOleInPlaceFrame {
public:
    explicit AxSite(AxHostWindow* host) : host_(host) {}
    void Forget() { host_ = nullptr; }

    // IUnknown
    STDMETHODIMP QueryInterface(REFIID iid, void** result) override {
        if (!result) return E_POINTER;
        *result = nullptr;
        if (iid == IID_IUnknown || iid == IID_IOleClientSite) {
            *result = static_cast<IOleClientSite*>(this);
        } else if (iid == IID_IOleWindow || iid == IID_IOleInPlaceSite) {
            *result = static_cast<IOleInPlaceSite*>(this);
        } else if (iid == IID_IOleInPlaceUIWindow || iid == IID_IOleInPlaceFrame) {
            *result = static_cast<IOleInPlaceFrame*>(this);
        } else {
            return E_NOINTERFACE;
        }
        AddRef();
        return S_OK;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return InterlockedIncrement(&references_); }
    STDMETHODIMP_(ULONG) Release() override {
        LONG left = InterlockedDecrement(&references_);
        if (left == 0) delete this;
        return left;
    }

    // IOleClientSite
    STDMETHODIMP SaveObject() override { return E_NOTIMPL; }
    STDMETHODIMP GetMoniker(DWORD, DWORD, IMoniker** moniker) override {
        if (moniker) *moniker = nullptr;
        return E_NOTIMPL;
    }
    STDMETHODIMP GetContainer(IOleContainer** container) override {
        if (container) *container = nullptr;
        return E_NOINTERFACE;
    }
    STDMETHODIMP ShowObject() override { return S_OK; }
    STDMETHODIMP OnShowWindow(BOOL) override { return S_OK; }
    STDMETHODIMP RequestNewObjectLayout() override { return E_NOTIMPL; }

    // IOleWindow (of the in-place site and the frame alike)
    STDMETHODIMP GetWindow(HWND* window) override {
        if (!window) return E_POINTER;
        *window = host_ ? host_->Handle() : nullptr;
        return *window ? S_OK : E_FAIL;
    }
    STDMETHODIMP ContextSensitiveHelp(BOOL) override { return E_NOTIMPL; }

    // IOleInPlaceSite
    STDMETHODIMP CanInPlaceActivate() override { return host_ ? S_OK : S_FALSE; }
    STDMETHODIMP OnInPlaceActivate() override { return S_OK; }
    STDMETHODIMP OnUIActivate() override { return S_OK; }
    STDMETHODIMP GetWindowContext(IOleInPlaceFrame** frame, IOleInPlaceUIWindow** document, LPRECT position,
                                  LPRECT clip, LPOLEINPLACEFRAMEINFO info) override {
        if (!frame || !document || !position || !clip || !info) return E_POINTER;
        *document = nullptr;
        *frame = static_cast<IOleInPlaceFrame*>(this);
        AddRef();
        RECT client = host_ ? host_->ClientRect() : RECT{};
        *position = client;
        *clip = client;
        info->fMDIApp = FALSE;
        info->hwndFrame = host_ ? ::GetAncestor(host_->Handle(), GA_ROOT) : nullptr;
        info->haccel = nullptr;
        info->cAccelEntries = 0;
        return S_OK;
    }
    STDMETHODIMP Scroll(SIZE) override { return E_NOTIMPL; }
    STDMETHODIMP OnUIDeactivate(BOOL) override { return S_OK; }
    STDMETHODIMP OnInPlaceDeactivate() override { return S_OK; }
    STDMETHODIMP DiscardUndoState() override { return S_OK; }
    STDMETHODIMP DeactivateAndUndo() override { return S_OK; }
    STDMETHODIMP OnPosRectChange(LPCRECT rect) override {
        if (host_ && host_->inPlace_ && rect) host_->inPlace_->SetObjectRects(rect, rect);
        return S_OK;
    }

    // IOleInPlaceUIWindow
    STDMETHODIMP GetBorder(LPRECT) override { return INPLACE_E_NOTOOLSPACE; }
    STDMETHODIMP RequestBorderSpace(LPCBORDERWIDTHS) override { return INPLACE_E_NOTOOLSPACE; }
    STDMETHODIMP SetBorderSpace(LPCBORDERWIDTHS) override { return S_OK; }
    STDMETHODIMP SetActiveObject(IOleInPlaceActiveObject* object, LPCOLESTR) override {
        if (host_) host_->activeObject_ = object;
        return S_OK;
    }

    // IOleInPlaceFrame
    STDMETHODIMP InsertMenus(HMENU, LPOLEMENUGROUPWIDTHS) override { return E_NOTIMPL; }
    STDMETHODIMP SetMenu(HMENU, HOLEMENU, HWND) override { return S_OK; }
    STDMETHODIMP RemoveMenus(HMENU) override { return S_OK; }
    STDMETHODIMP SetStatusText(LPCOLESTR) override { return S_OK; }
    STDMETHODIMP EnableModeless(BOOL) override { return S_OK; }
    STDMETHODIMP TranslateAccelerator(LPMSG, WORD) override { return S_FALSE; }

private:
    ~AxSite() = default;
    LONG references_ = 1;
    AxHostWindow* host_;
};

namespace {

std::wstring WideText(const TCHAR* text) { return tstring(text).ToWide(); }

HRESULT ClassIdOf(const TCHAR* progIdOrClsid, CLSID& clsid) {
    std::wstring name = WideText(progIdOrClsid);
    if (name.empty()) return E_INVALIDARG;
    if (name[0] == L'{') return ::CLSIDFromString(name.c_str(), &clsid);
    return ::CLSIDFromProgID(name.c_str(), &clsid);
}

}  // namespace

AxHostWindow::AxHostWindow() : site_(new AxSite(this)) {}

AxHostWindow::~AxHostWindow() {
    // The window (and with it the control) goes first, while the site still
    // knows its host.
    if (Handle() && ::IsWindow(Handle())) ::DestroyWindow(Handle());
    DestroyControl();
    site_->Forget();
    site_->Release();
}

bool AxHostWindow::RegisterClass() {
    AxHostWindow probe;
    WNDCLASSEX existing = {};
    existing.cbSize = sizeof(existing);
    if (::GetClassInfoEx(ClassModule(), probe.ClassName(), &existing)) return true;
    WNDCLASSEX windowClass = {};
    windowClass.cbSize = sizeof(windowClass);
    windowClass.hInstance = ClassModule();
    windowClass.hCursor = ::LoadCursor(nullptr, IDC_ARROW);
    windowClass.lpszClassName = probe.ClassName();
    probe.ModifyClass(windowClass);
    return ::RegisterClassEx(&windowClass) != 0 || ::GetLastError() == ERROR_CLASS_ALREADY_EXISTS;
}

void AxHostWindow::ModifyClass(WNDCLASSEX& windowClass) const {
    windowClass.style = CS_DBLCLKS;
    windowClass.lpfnWndProc = &AxHostWindow::ClassProc;
    windowClass.hbrBackground = nullptr;  // the control paints everything
}

LRESULT CALLBACK AxHostWindow::ClassProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_NCCREATE && !FromHandle(window)) {
        auto* create = reinterpret_cast<CREATESTRUCT*>(lParam);
        if (!create->lpCreateParams) {
            auto* host = new (std::nothrow) AxHostWindow;
            if (!host) return FALSE;
            host->ownedByWindow_ = true;
            Bind(window, host);
        }
    }
    return WindowProc(window, message, wParam, lParam);
}

HRESULT AxHostWindow::CreateControl(const TCHAR* progIdOrClsid) {
    if (!Handle()) return E_UNEXPECTED;
    DestroyControl();
    CLSID clsid;
    HRESULT hr = ClassIdOf(progIdOrClsid, clsid);
    if (FAILED(hr)) return hr;
    ComPtr<IOleObject> control;
    hr = ::CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IOleObject, control.ReceiveVoid());
    if (FAILED(hr)) return hr;

    IOleClientSite* site = static_cast<IOleClientSite*>(site_);
    DWORD status = 0;
    control->GetMiscStatus(DVASPECT_CONTENT, &status);
    bool siteFirst = (status & OLEMISC_SETCLIENTSITEFIRST) != 0;
    if (siteFirst) control->SetClientSite(site);
    ComPtr<IPersistStreamInit> persist;
    if (SUCCEEDED(control.QueryInto(IID_IPersistStreamInit, persist))) persist->InitNew();
    if (!siteFirst) control->SetClientSite(site);
    control->SetHostNames(L"AxHostWindow", nullptr);

    control_ = control;
    RECT client = ClientRect();
    hr = control->DoVerb(OLEIVERB_INPLACEACTIVATE, nullptr, site, 0, Handle(), &client);
    if (FAILED(hr)) {
        DestroyControl();
        return hr;
    }
    control.QueryInto(IID_IOleInPlaceObject, inPlace_);
    if (!activeObject_) control.QueryInto(IID_IOleInPlaceActiveObject, activeObject_);
    ResizeControl();
    return S_OK;
}

void AxHostWindow::DestroyControl() {
    if (!control_) return;
    ComPtr<IOleObject> control = control_;
    control_.Release();
    activeObject_.Release();
    if (inPlace_) {
        inPlace_->InPlaceDeactivate();
        inPlace_.Release();
    }
    control->Close(OLECLOSE_NOSAVE);
    control->SetClientSite(nullptr);
}

HRESULT AxHostWindow::QueryControl(REFIID iid, void** result) const {
    if (!result) return E_POINTER;
    *result = nullptr;
    if (!control_) return E_NOINTERFACE;
    return control_->QueryInterface(iid, result);
}

bool AxHostWindow::TranslateAccelerator(MSG& message) {
    if (!activeObject_) return false;
    return activeObject_->TranslateAccelerator(&message) == S_OK;
}

void AxHostWindow::ResizeControl() {
    if (!inPlace_) return;
    RECT client = ClientRect();
    inPlace_->SetObjectRects(&client, &client);
}

LRESULT AxHostWindow::OnMessage(UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_CREATE: {
        LRESULT result = DefaultProc(message, wParam, lParam);
        // Only a window the class made by itself takes its control from its text.
        tstring name = Text();
        if (ownedByWindow_ && !name.empty() && FAILED(CreateControl(name.c_str()))) return -1;
        return result;
    }
    case WM_SIZE:
        ResizeControl();
        return DefaultProc(message, wParam, lParam);
    case WM_SETFOCUS: {
        ComPtr<IOleWindow> controlWindow;
        HWND inner = nullptr;
        if (inPlace_ && SUCCEEDED(inPlace_.QueryInto(IID_IOleWindow, controlWindow)) &&
            SUCCEEDED(controlWindow->GetWindow(&inner)) && inner) {
            ::SetFocus(inner);
            return 0;
        }
        return DefaultProc(message, wParam, lParam);
    }
    case WM_ERASEBKGND:
        return control_ ? 1 : DefaultProc(message, wParam, lParam);
    case WM_DESTROY:
        DestroyControl();
        return DefaultProc(message, wParam, lParam);
    default:
        return DefaultProc(message, wParam, lParam);
    }
}

void AxHostWindow::OnFinalMessage(HWND) {
    if (ownedByWindow_) delete this;
}

HRESULT EventConnection::Connect(IUnknown* source, REFIID events, IUnknown* sink) {
    if (!source || !sink) return E_POINTER;
    if (cookie_) return E_UNEXPECTED;
    ComPtr<IConnectionPointContainer> container;
    HRESULT hr = source->QueryInterface(IID_IConnectionPointContainer, container.ReceiveVoid());
    if (FAILED(hr)) return hr;
    ComPtr<IConnectionPoint> point;
    hr = container->FindConnectionPoint(events, point.Receive());
    if (FAILED(hr)) return hr;
    DWORD cookie = 0;
    hr = point->Advise(sink, &cookie);
    if (FAILED(hr)) return hr;
    point_ = point;
    cookie_ = cookie;
    return S_OK;
}

void EventConnection::Disconnect() {
    if (point_ && cookie_) point_->Unadvise(cookie_);
    point_.Release();
    cookie_ = 0;
}
