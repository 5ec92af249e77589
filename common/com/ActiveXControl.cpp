#include "common/com/ActiveXControl.h"
#include <olectl.h>
#include <new>
#include "common/com/ClassInfo.h"
#include "common/com/ComBoundary.h"
#include "common/com/ConnectionPointEnum.h"

namespace {
const wchar_t kWindowClass[] = L"OrvaneControlWindow";
// Reflected notifications come back to a control offset by OCM__BASE.
const UINT kReflectBase = 0x2000;
// The persisted form: a version, then the extent in HIMETRIC.
const DWORD kStreamVersion = 1;

bool RegisterWindowClass(WNDPROC procedure) {
    WNDCLASSEXW existing = {sizeof existing};
    if (GetClassInfoExW(ComModule::Instance(), kWindowClass, &existing))
        return true;
    WNDCLASSEXW wc = {sizeof wc};
    wc.style = CS_DBLCLKS;
    wc.lpfnWndProc = procedure;
    wc.hInstance = ComModule::Instance();
    wc.hCursor = LoadCursorW(nullptr, MAKEINTRESOURCEW(32512));
    wc.lpszClassName = kWindowClass;
    return RegisterClassExW(&wc) != 0 || GetLastError() == ERROR_CLASS_ALREADY_EXISTS;
}

bool IsInTree(HWND root, HWND window) {
    return window && (window == root || IsChild(root, window));
}
}

// ---- creation, identity, lifetime

ActiveXControl::ActiveXControl(IUnknown* outer, REFCLSID clsid, REFIID events)
    : inner_(this), outer_(outer ? outer : &inner_), clsid_(clsid), events_(events),
      propertyNotify_(this) {
    // Two inches square until the container says otherwise.
    extent_.cx = 2 * 2540;
    extent_.cy = 2 * 2540;
}

ActiveXControl::~ActiveXControl() = default;

HRESULT ActiveXControl::Hand(ActiveXControl* control, REFIID iid, void** result) noexcept {
    if (!control)
        return E_OUTOFMEMORY;
    control->inner_.AddRef();
    HRESULT hr = control->inner_.QueryInterface(iid, result);
    control->inner_.Release();
    return hr;
}

STDMETHODIMP ActiveXControl::Inner::QueryInterface(REFIID iid, void** result) {
    if (!result)
        return E_POINTER;
    *result = nullptr;
    if (IsEqualIID(iid, IID_IUnknown)) {
        *result = static_cast<IUnknown*>(this);
        AddRef();
        return S_OK;
    }
    return owner_->InternalQueryInterface(iid, result);
}

STDMETHODIMP_(ULONG) ActiveXControl::Inner::AddRef() {
    return refs_.AddRef();
}

STDMETHODIMP_(ULONG) ActiveXControl::Inner::Release() {
    ULONG n = refs_.Release();
    if (n == 0) {
        // Guards against a reference taken and dropped again while closing.
        refs_.AddRef();
        owner_->FinalRelease();
        delete owner_;
    }
    return n;
}

HRESULT ActiveXControl::InternalQueryInterface(REFIID iid, void** result) {
    void* answer = nullptr;
    if (IsEqualIID(iid, IID_IOleObject))
        answer = static_cast<IOleObject*>(this);
    else if (IsEqualIID(iid, IID_IOleWindow) || IsEqualIID(iid, IID_IOleInPlaceObject))
        answer = static_cast<IOleInPlaceObject*>(this);
    else if (IsEqualIID(iid, IID_IOleInPlaceActiveObject))
        answer = static_cast<IOleInPlaceActiveObject*>(this);
    else if (IsEqualIID(iid, IID_IOleControl))
        answer = static_cast<IOleControl*>(this);
    else if (IsEqualIID(iid, IID_IViewObject) || IsEqualIID(iid, IID_IViewObject2) ||
             IsEqualIID(iid, IID_IViewObjectEx))
        answer = static_cast<IViewObjectEx*>(this);
    else if (IsEqualIID(iid, IID_IPersist) || IsEqualIID(iid, IID_IPersistStreamInit))
        answer = static_cast<IPersistStreamInit*>(this);
    else if (IsEqualIID(iid, IID_IProvideClassInfo) || IsEqualIID(iid, IID_IProvideClassInfo2))
        answer = static_cast<IProvideClassInfo2*>(this);
    else if (IsEqualIID(iid, IID_IConnectionPointContainer))
        answer = static_cast<IConnectionPointContainer*>(this);
    if (!answer)
        return E_NOINTERFACE;
    *result = answer;
    outer_->AddRef();
    return S_OK;
}

void ActiveXControl::FinalRelease() {
    InPlaceDeactivate();
    if (window_)
        DestroyWindow(window_);
    propertyNotify_.Clear();
    viewSink_.Release();
    adviseHolder_.Release();
    clientSite_.Release();
}

void ActiveXControl::UnregisterWindowClass() noexcept {
    UnregisterClassW(kWindowClass, ComModule::Instance());
}

// ---- the window

bool ActiveXControl::CreateControlWindow(HWND parent, const RECT& position) {
    if (!RegisterWindowClass(&ActiveXControl::WindowProc))
        return false;
    HWND window = CreateWindowExW(0, kWindowClass, L"", WS_CHILD | WS_CLIPCHILDREN | WS_CLIPSIBLINGS,
                                  position.left, position.top, position.right - position.left,
                                  position.bottom - position.top, parent, nullptr,
                                  ComModule::Instance(), this);
    return window != nullptr;
}

LRESULT CALLBACK ActiveXControl::WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    ActiveXControl* control = nullptr;
    if (message == WM_NCCREATE) {
        control = static_cast<ActiveXControl*>(reinterpret_cast<CREATESTRUCTW*>(lParam)->lpCreateParams);
        SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(control));
        control->window_ = window;
    } else {
        control = reinterpret_cast<ActiveXControl*>(GetWindowLongPtrW(window, GWLP_USERDATA));
    }
    if (!control)
        return DefWindowProcW(window, message, wParam, lParam);
    LRESULT result = control->HandleMessage(message, wParam, lParam);
    if (message == WM_NCDESTROY) {
        SetWindowLongPtrW(window, GWLP_USERDATA, 0);
        control->window_ = nullptr;
    }
    return result;
}

LRESULT ActiveXControl::HandleMessage(UINT message, WPARAM wParam, LPARAM lParam) {
    bool handled = false;
    LRESULT result = 0;
    try {
        result = OnMessage(message, wParam, lParam, handled);
    } catch (...) {
        // Nothing may unwind through the system's window procedure.
        handled = false;
    }
    if (handled)
        return result;
    switch (message) {
    case WM_SETFOCUS:
        if (inPlaceActive_ && !uiActive_)
            UIActivate();
        break;
    case WM_KILLFOCUS:
        if (uiActive_ && !IsInTree(window_, reinterpret_cast<HWND>(wParam)))
            UIDeactivate();
        break;
    case WM_MOUSEACTIVATE:
        if (inPlaceActive_ && !uiActive_)
            UIActivate();
        break;
    case WM_PAINT: {
        PAINTSTRUCT paint;
        HDC dc = BeginPaint(window_, &paint);
        RECT client;
        GetClientRect(window_, &client);
        if (dc)
            OnDraw(dc, client);
        EndPaint(window_, &paint);
        return 0;
    }
    default:
        if (message >= kReflectBase && message < kReflectBase + WM_USER)
            return DefWindowProcW(window_, message - kReflectBase, wParam, lParam);
        break;
    }
    return DefWindowProcW(window_, message, wParam, lParam);
}

LRESULT ActiveXControl::OnMessage(UINT, WPARAM, LPARAM, bool& handled) {
    handled = false;
    return 0;
}

void ActiveXControl::OnDraw(HDC dc, const RECT& bounds) {
    FillRect(dc, &bounds, GetSysColorBrush(COLOR_WINDOW));
}

ComPtr<IOleInPlaceActiveObject> ActiveXControl::HostedActiveObject() {
    return ComPtr<IOleInPlaceActiveObject>();
}

// ---- activation

HRESULT ActiveXControl::InPlaceActivate(LONG verb) {
    if (!clientSite_)
        return S_OK;
    if (!inPlaceActive_) {
        ComPtr<IOleInPlaceSite> site;
        if (FAILED(clientSite_.QueryInto(IID_IOleInPlaceSite, site)))
            return E_FAIL;
        if (site->CanInPlaceActivate() != S_OK)
            return E_FAIL;
        inPlaceSite_ = site;
        inPlaceActive_ = true;
        inPlaceSite_->OnInPlaceActivate();
    }
    RECT position = {}, clip = {};
    OLEINPLACEFRAMEINFO frameInfo = {sizeof frameInfo};
    frame_.Release();
    document_.Release();
    HRESULT hr = inPlaceSite_->GetWindowContext(frame_.Receive(), document_.Receive(), &position, &clip,
                                                &frameInfo);
    if (FAILED(hr)) {
        InPlaceDeactivate();
        return hr;
    }
    if (!window_) {
        HWND parent = nullptr;
        if (FAILED(inPlaceSite_->GetWindow(&parent)) || !CreateControlWindow(parent, position)) {
            InPlaceDeactivate();
            return E_FAIL;
        }
    } else {
        SetObjectRects(&position, &clip);
    }
    ShowWindow(window_, SW_SHOWNA);
    if (verb == OLEIVERB_INPLACEACTIVATE)
        return S_OK;
    return UIActivate();
}

HRESULT ActiveXControl::UIActivate() {
    if (!inPlaceActive_ || uiActive_)
        return S_OK;
    uiActive_ = true;
    inPlaceSite_->OnUIActivate();
    if (!IsInTree(window_, GetFocus()))
        SetFocus(window_);
    auto* active = static_cast<IOleInPlaceActiveObject*>(this);
    if (frame_) {
        frame_->SetActiveObject(active, nullptr);
        frame_->SetBorderSpace(nullptr);
    }
    if (document_) {
        document_->SetActiveObject(active, nullptr);
        document_->SetBorderSpace(nullptr);
    }
    return S_OK;
}

// ---- IOleObject

STDMETHODIMP ActiveXControl::SetClientSite(IOleClientSite* site) {
    clientSite_ = site;
    return S_OK;
}

STDMETHODIMP ActiveXControl::GetClientSite(IOleClientSite** site) {
    if (!site)
        return E_POINTER;
    *site = clientSite_;
    if (*site)
        (*site)->AddRef();
    return S_OK;
}

STDMETHODIMP ActiveXControl::SetHostNames(LPCOLESTR, LPCOLESTR) {
    return S_OK;
}

STDMETHODIMP ActiveXControl::Close(DWORD) {
    InPlaceDeactivate();
    if (adviseHolder_)
        adviseHolder_->SendOnClose();
    return S_OK;
}

STDMETHODIMP ActiveXControl::SetMoniker(DWORD, IMoniker*) {
    return E_NOTIMPL;
}

STDMETHODIMP ActiveXControl::GetMoniker(DWORD, DWORD, IMoniker** moniker) {
    if (moniker)
        *moniker = nullptr;
    return E_NOTIMPL;
}

STDMETHODIMP ActiveXControl::InitFromData(IDataObject*, BOOL, DWORD) {
    return E_NOTIMPL;
}

STDMETHODIMP ActiveXControl::GetClipboardData(DWORD, IDataObject** data) {
    if (data)
        *data = nullptr;
    return E_NOTIMPL;
}

STDMETHODIMP ActiveXControl::DoVerb(LONG verb, LPMSG, IOleClientSite*, LONG, HWND, LPCRECT) {
    switch (verb) {
    case OLEIVERB_PRIMARY:
    case OLEIVERB_SHOW:
    case OLEIVERB_UIACTIVATE:
    case OLEIVERB_INPLACEACTIVATE:
        return InPlaceActivate(verb);
    case OLEIVERB_HIDE:
        UIDeactivate();
        if (window_)
            ShowWindow(window_, SW_HIDE);
        return S_OK;
    case OLEIVERB_DISCARDUNDOSTATE:
        return S_OK;
    default:
        return verb > 0 ? OLEOBJ_S_INVALIDVERB : E_NOTIMPL;
    }
}

STDMETHODIMP ActiveXControl::EnumVerbs(IEnumOLEVERB** verbs) {
    return OleRegEnumVerbs(clsid_, verbs);
}

STDMETHODIMP ActiveXControl::Update() {
    return S_OK;
}

STDMETHODIMP ActiveXControl::IsUpToDate() {
    return S_OK;
}

STDMETHODIMP ActiveXControl::GetUserClassID(CLSID* clsid) {
    return GetClassID(clsid);
}

STDMETHODIMP ActiveXControl::GetUserType(DWORD form, LPOLESTR* type) {
    return OleRegGetUserType(clsid_, form, type);
}

STDMETHODIMP ActiveXControl::SetExtent(DWORD aspect, SIZEL* size) {
    if (aspect != DVASPECT_CONTENT)
        return DV_E_DVASPECT;
    if (!size)
        return E_POINTER;
    if (size->cx != extent_.cx || size->cy != extent_.cy) {
        extent_ = *size;
        dirty_ = true;
        ViewChanged();
    }
    return S_OK;
}

STDMETHODIMP ActiveXControl::GetExtent(DWORD aspect, SIZEL* size) {
    if (aspect != DVASPECT_CONTENT)
        return DV_E_DVASPECT;
    if (!size)
        return E_POINTER;
    *size = extent_;
    return S_OK;
}

STDMETHODIMP ActiveXControl::Advise(IAdviseSink* sink, DWORD* connection) {
    if (!connection)
        return E_POINTER;
    *connection = 0;
    if (!adviseHolder_) {
        HRESULT hr = CreateOleAdviseHolder(adviseHolder_.Receive());
        if (FAILED(hr))
            return hr;
    }
    return adviseHolder_->Advise(sink, connection);
}

STDMETHODIMP ActiveXControl::Unadvise(DWORD connection) {
    if (!adviseHolder_)
        return OLE_E_NOCONNECTION;
    return adviseHolder_->Unadvise(connection);
}

STDMETHODIMP ActiveXControl::EnumAdvise(IEnumSTATDATA** advise) {
    if (!advise)
        return E_POINTER;
    *advise = nullptr;
    if (!adviseHolder_)
        return E_FAIL;
    return adviseHolder_->EnumAdvise(advise);
}

STDMETHODIMP ActiveXControl::GetMiscStatus(DWORD aspect, DWORD* status) {
    return OleRegGetMiscStatus(clsid_, aspect, status);
}

STDMETHODIMP ActiveXControl::SetColorScheme(LOGPALETTE*) {
    return E_NOTIMPL;
}

// ---- IOleWindow, IOleInPlaceObject, IOleInPlaceActiveObject

STDMETHODIMP ActiveXControl::GetWindow(HWND* window) {
    if (!window)
        return E_POINTER;
    *window = window_;
    return window_ ? S_OK : E_FAIL;
}

STDMETHODIMP ActiveXControl::ContextSensitiveHelp(BOOL) {
    return E_NOTIMPL;
}

STDMETHODIMP ActiveXControl::InPlaceDeactivate() {
    if (!inPlaceActive_)
        return S_OK;
    UIDeactivate();
    inPlaceActive_ = false;
    if (window_)
        DestroyWindow(window_);
    ComPtr<IOleInPlaceSite> site = inPlaceSite_;
    inPlaceSite_.Release();
    frame_.Release();
    document_.Release();
    if (site)
        site->OnInPlaceDeactivate();
    return S_OK;
}

STDMETHODIMP ActiveXControl::UIDeactivate() {
    if (!uiActive_)
        return S_OK;
    uiActive_ = false;
    if (frame_)
        frame_->SetActiveObject(nullptr, nullptr);
    if (document_)
        document_->SetActiveObject(nullptr, nullptr);
    if (inPlaceSite_)
        inPlaceSite_->OnUIDeactivate(FALSE);
    return S_OK;
}

STDMETHODIMP ActiveXControl::SetObjectRects(LPCRECT position, LPCRECT) {
    if (!position)
        return E_POINTER;
    if (window_)
        SetWindowPos(window_, nullptr, position->left, position->top, position->right - position->left,
                     position->bottom - position->top, SWP_NOZORDER | SWP_NOACTIVATE);
    return S_OK;
}

STDMETHODIMP ActiveXControl::ReactivateAndUndo() {
    return E_NOTIMPL;
}

STDMETHODIMP ActiveXControl::TranslateAccelerator(LPMSG message) {
    ComPtr<IOleInPlaceActiveObject> hosted = HostedActiveObject();
    if (hosted)
        return hosted->TranslateAccelerator(message);
    return S_FALSE;
}

STDMETHODIMP ActiveXControl::OnFrameWindowActivate(BOOL) {
    return S_OK;
}

STDMETHODIMP ActiveXControl::OnDocWindowActivate(BOOL) {
    return S_OK;
}

STDMETHODIMP ActiveXControl::ResizeBorder(LPCRECT, IOleInPlaceUIWindow*, BOOL) {
    return S_OK;
}

STDMETHODIMP ActiveXControl::EnableModeless(BOOL) {
    return S_OK;
}

// ---- IOleControl

STDMETHODIMP ActiveXControl::GetControlInfo(CONTROLINFO*) {
    return E_NOTIMPL;
}

STDMETHODIMP ActiveXControl::OnMnemonic(MSG*) {
    return E_NOTIMPL;
}

STDMETHODIMP ActiveXControl::OnAmbientPropertyChange(DISPID) {
    return S_OK;
}

STDMETHODIMP ActiveXControl::FreezeEvents(BOOL freeze) {
    frozenEvents_ += freeze ? 1 : (frozenEvents_ > 0 ? -1 : 0);
    return S_OK;
}

// ---- IViewObjectEx

STDMETHODIMP ActiveXControl::Draw(DWORD aspect, LONG, void*, DVTARGETDEVICE*, HDC, HDC draw, LPCRECTL bounds,
                                  LPCRECTL, BOOL(STDMETHODCALLTYPE*)(ULONG_PTR), ULONG_PTR) {
    if (aspect != DVASPECT_CONTENT)
        return DV_E_DVASPECT;
    if (!draw)
        return E_INVALIDARG;
    RECT area = {};
    if (bounds)
        area = {bounds->left, bounds->top, bounds->right, bounds->bottom};
    else if (window_)
        GetClientRect(window_, &area);
    else
        return E_INVALIDARG;
    OnDraw(draw, area);
    return S_OK;
}

STDMETHODIMP ActiveXControl::GetColorSet(DWORD, LONG, void*, DVTARGETDEVICE*, HDC, LOGPALETTE** colors) {
    if (colors)
        *colors = nullptr;
    return E_NOTIMPL;
}

STDMETHODIMP ActiveXControl::Freeze(DWORD, LONG, void*, DWORD*) {
    return E_NOTIMPL;
}

STDMETHODIMP ActiveXControl::Unfreeze(DWORD) {
    return E_NOTIMPL;
}

STDMETHODIMP ActiveXControl::SetAdvise(DWORD aspects, DWORD flags, IAdviseSink* sink) {
    viewSink_ = sink;
    viewAspects_ = aspects;
    viewFlags_ = flags;
    if (sink && (flags & ADVF_PRIMEFIRST))
        sink->OnViewChange(DVASPECT_CONTENT, -1);
    return S_OK;
}

STDMETHODIMP ActiveXControl::GetAdvise(DWORD* aspects, DWORD* flags, IAdviseSink** sink) {
    if (aspects)
        *aspects = viewAspects_;
    if (flags)
        *flags = viewFlags_;
    if (sink) {
        *sink = viewSink_;
        if (*sink)
            (*sink)->AddRef();
    }
    return S_OK;
}

STDMETHODIMP ActiveXControl::GetExtent(DWORD aspect, LONG, DVTARGETDEVICE*, LPSIZEL size) {
    return GetExtent(aspect, size);
}

STDMETHODIMP ActiveXControl::GetRect(DWORD aspect, LPRECTL rect) {
    if (!rect)
        return E_POINTER;
    if (aspect != DVASPECT_CONTENT)
        return DV_E_DVASPECT;
    *rect = {0, 0, extent_.cx, extent_.cy};
    return S_OK;
}

STDMETHODIMP ActiveXControl::GetViewStatus(DWORD* status) {
    if (!status)
        return E_POINTER;
    *status = VIEWSTATUS_OPAQUE | VIEWSTATUS_SOLIDBKGND;
    return S_OK;
}

STDMETHODIMP ActiveXControl::QueryHitPoint(DWORD aspect, LPCRECT bounds, POINT point, LONG, DWORD* result) {
    if (!bounds || !result)
        return E_POINTER;
    if (aspect != DVASPECT_CONTENT)
        return E_FAIL;
    *result = PtInRect(bounds, point) ? HITRESULT_HIT : HITRESULT_OUTSIDE;
    return S_OK;
}

STDMETHODIMP ActiveXControl::QueryHitRect(DWORD aspect, LPCRECT bounds, LPCRECT rect, LONG, DWORD* result) {
    if (!bounds || !rect || !result)
        return E_POINTER;
    if (aspect != DVASPECT_CONTENT)
        return E_FAIL;
    RECT common;
    *result = IntersectRect(&common, bounds, rect) ? HITRESULT_HIT : HITRESULT_OUTSIDE;
    return S_OK;
}

STDMETHODIMP ActiveXControl::GetNaturalExtent(DWORD, LONG, DVTARGETDEVICE*, HDC, DVEXTENTINFO*, LPSIZEL) {
    return E_NOTIMPL;
}

// ---- IPersistStreamInit

STDMETHODIMP ActiveXControl::GetClassID(CLSID* clsid) {
    if (!clsid)
        return E_POINTER;
    *clsid = clsid_;
    return S_OK;
}

STDMETHODIMP ActiveXControl::IsDirty() {
    return dirty_ ? S_OK : S_FALSE;
}

STDMETHODIMP ActiveXControl::Load(LPSTREAM stream) {
    if (!stream)
        return E_POINTER;
    DWORD data[3] = {};
    ULONG read = 0;
    HRESULT hr = stream->Read(data, sizeof data, &read);
    if (FAILED(hr))
        return hr;
    if (read != sizeof data || data[0] != kStreamVersion)
        return E_FAIL;
    extent_.cx = LONG(data[1]);
    extent_.cy = LONG(data[2]);
    dirty_ = false;
    return S_OK;
}

STDMETHODIMP ActiveXControl::Save(LPSTREAM stream, BOOL clearDirty) {
    if (!stream)
        return E_POINTER;
    DWORD data[3] = {kStreamVersion, DWORD(extent_.cx), DWORD(extent_.cy)};
    HRESULT hr = stream->Write(data, sizeof data, nullptr);
    if (SUCCEEDED(hr) && clearDirty)
        dirty_ = false;
    return hr;
}

STDMETHODIMP ActiveXControl::GetSizeMax(ULARGE_INTEGER* size) {
    if (!size)
        return E_POINTER;
    size->QuadPart = 3 * sizeof(DWORD);
    return S_OK;
}

STDMETHODIMP ActiveXControl::InitNew() {
    dirty_ = false;
    return S_OK;
}

// ---- IProvideClassInfo2

STDMETHODIMP ActiveXControl::GetClassInfo(ITypeInfo** info) {
    return ClassInfoOf(clsid_, info);
}

STDMETHODIMP ActiveXControl::GetGUID(DWORD kind, GUID* guid) {
    return ClassGuidOf(kind, events_, guid);
}

// ---- IConnectionPointContainer

STDMETHODIMP ActiveXControl::EnumConnectionPoints(IEnumConnectionPoints** points) {
    return ComCall([&] { return ConnectionPointEnum::Create({EventPoint(), &propertyNotify_}, 0, points); });
}

STDMETHODIMP ActiveXControl::FindConnectionPoint(REFIID iid, IConnectionPoint** point) {
    return ComCall([&] { return FindConnectionPointIn({EventPoint(), &propertyNotify_}, iid, point); });
}

// ---- stock properties and notifications

HRESULT ActiveXControl::PutEnabled(VARIANT_BOOL enabled) {
    if (propertyNotify_.RequestEdit(DISPID_ENABLED) == S_FALSE)
        return S_FALSE;
    enabled_ = enabled ? VARIANT_TRUE : VARIANT_FALSE;
    dirty_ = true;
    propertyNotify_.Changed(DISPID_ENABLED);
    ViewChanged();
    return S_OK;
}

HRESULT ActiveXControl::GetEnabled(VARIANT_BOOL* enabled) {
    if (!enabled)
        return E_POINTER;
    *enabled = enabled_;
    return S_OK;
}

void ActiveXControl::ViewChanged() {
    if (window_)
        InvalidateRect(window_, nullptr, TRUE);
    if (viewSink_)
        viewSink_->OnViewChange(DVASPECT_CONTENT, -1);
}
