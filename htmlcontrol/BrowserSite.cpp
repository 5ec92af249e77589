#include "htmlcontrol/BrowserSite.h"

namespace {
// The menus the browser shows itself: edit boxes, selections and the like.
bool IsBrowserMenu(DWORD id) {
    return id == 2 || id == 4 || id == 8 || id == 16;
}

const DWORD kHostFlags = DOCHOSTUIFLAG_DIALOG | DOCHOSTUIFLAG_NO3DBORDER | DOCHOSTUIFLAG_DISABLE_SCRIPT_INACTIVE |
                         DOCHOSTUIFLAG_ENABLE_INPLACE_NAVIGATION | DOCHOSTUIFLAG_THEME |
                         DOCHOSTUIFLAG_NO3DOUTERBORDER;
const DWORD kShowScriptError = 40;  // OLECMDID_SHOWSCRIPTERROR
}

STDMETHODIMP BrowserSite::QueryInterface(REFIID iid, void** result) {
    if (!result)
        return E_POINTER;
    *result = nullptr;
    if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IOleClientSite))
        *result = static_cast<IOleClientSite*>(this);
    else if (IsEqualIID(iid, IID_IOleWindow) || IsEqualIID(iid, IID_IOleInPlaceSite))
        *result = static_cast<IOleInPlaceSite*>(this);
    else if (IsEqualIID(iid, IID_IDocHostUIHandler))
        *result = static_cast<IDocHostUIHandler*>(this);
    else if (IsEqualIID(iid, IID_IDocHostShowUI))
        *result = static_cast<IDocHostShowUI*>(this);
    else if (IsEqualIID(iid, IID_IOleCommandTarget))
        *result = static_cast<IOleCommandTarget*>(this);
    else if (IsEqualIID(iid, IID_IServiceProvider))
        *result = static_cast<IServiceProvider*>(this);
    else if (IsEqualIID(iid, IID_IDispatch))
        *result = static_cast<IDispatch*>(this);
    else
        return E_NOINTERFACE;
    AddRef();
    return S_OK;
}

STDMETHODIMP_(ULONG) BrowserSite::AddRef() {
    return host_.HostUnknown()->AddRef();
}

STDMETHODIMP_(ULONG) BrowserSite::Release() {
    return host_.HostUnknown()->Release();
}

// ---- IOleClientSite

STDMETHODIMP BrowserSite::SaveObject() {
    return E_NOTIMPL;
}

STDMETHODIMP BrowserSite::GetMoniker(DWORD, DWORD, IMoniker** moniker) {
    if (moniker)
        *moniker = nullptr;
    return E_NOTIMPL;
}

STDMETHODIMP BrowserSite::GetContainer(IOleContainer** container) {
    if (container)
        *container = nullptr;
    return E_NOINTERFACE;
}

STDMETHODIMP BrowserSite::ShowObject() {
    return S_OK;
}

STDMETHODIMP BrowserSite::OnShowWindow(BOOL) {
    return S_OK;
}

STDMETHODIMP BrowserSite::RequestNewObjectLayout() {
    return E_NOTIMPL;
}

// ---- IOleInPlaceSite

STDMETHODIMP BrowserSite::GetWindow(HWND* window) {
    if (!window)
        return E_POINTER;
    *window = host_.HostWindow();
    return *window ? S_OK : E_FAIL;
}

STDMETHODIMP BrowserSite::ContextSensitiveHelp(BOOL) {
    return E_NOTIMPL;
}

STDMETHODIMP BrowserSite::CanInPlaceActivate() {
    return S_OK;
}

STDMETHODIMP BrowserSite::OnInPlaceActivate() {
    inPlaceActive_ = true;
    return S_OK;
}

STDMETHODIMP BrowserSite::OnUIActivate() {
    return E_NOTIMPL;
}

STDMETHODIMP BrowserSite::GetWindowContext(IOleInPlaceFrame** frame, IOleInPlaceUIWindow** document,
                                           LPRECT position, LPRECT clip, LPOLEINPLACEFRAMEINFO frameInfo) {
    if (frame)
        *frame = nullptr;
    if (document)
        *document = nullptr;
    RECT client = {};
    GetClientRect(host_.HostWindow(), &client);
    if (position)
        *position = client;
    if (clip)
        *clip = client;
    if (frameInfo) {
        frameInfo->fMDIApp = FALSE;
        frameInfo->hwndFrame = host_.HostWindow();
        frameInfo->haccel = nullptr;
        frameInfo->cAccelEntries = 0;
    }
    return S_OK;
}

STDMETHODIMP BrowserSite::Scroll(SIZE) {
    return E_NOTIMPL;
}

STDMETHODIMP BrowserSite::OnUIDeactivate(BOOL) {
    return E_NOTIMPL;
}

STDMETHODIMP BrowserSite::OnInPlaceDeactivate() {
    inPlaceActive_ = false;
    return S_OK;
}

STDMETHODIMP BrowserSite::DiscardUndoState() {
    return E_NOTIMPL;
}

STDMETHODIMP BrowserSite::DeactivateAndUndo() {
    return E_NOTIMPL;
}

STDMETHODIMP BrowserSite::OnPosRectChange(LPCRECT) {
    return E_NOTIMPL;
}

// ---- IDocHostUIHandler

STDMETHODIMP BrowserSite::ShowContextMenu(DWORD id, POINT*, IUnknown*, IDispatch*) {
    return IsBrowserMenu(id) ? S_FALSE : S_OK;
}

STDMETHODIMP BrowserSite::GetHostInfo(DOCHOSTUIINFO* info) {
    if (!info)
        return E_POINTER;
    // The structure's own size: the browser checks it against what it knows.
    info->cbSize = sizeof(DOCHOSTUIINFO);
    info->dwFlags = kHostFlags;
    info->dwDoubleClick = DOCHOSTUIDBLCLK_DEFAULT;
    info->pchHostCss = nullptr;
    info->pchHostNS = nullptr;
    return S_OK;
}

STDMETHODIMP BrowserSite::ShowUI(DWORD, IOleInPlaceActiveObject*, IOleCommandTarget*, IOleInPlaceFrame*,
                                 IOleInPlaceUIWindow*) {
    return S_FALSE;
}

STDMETHODIMP BrowserSite::HideUI() {
    return S_OK;
}

STDMETHODIMP BrowserSite::UpdateUI() {
    return S_OK;
}

STDMETHODIMP BrowserSite::EnableModeless(BOOL) {
    return E_NOTIMPL;
}

STDMETHODIMP BrowserSite::OnDocWindowActivate(BOOL) {
    return S_OK;
}

STDMETHODIMP BrowserSite::OnFrameWindowActivate(BOOL) {
    return S_OK;
}

STDMETHODIMP BrowserSite::ResizeBorder(LPCRECT, IOleInPlaceUIWindow*, BOOL) {
    return E_NOTIMPL;
}

STDMETHODIMP BrowserSite::TranslateAccelerator(LPMSG, const GUID*, DWORD) {
    return S_FALSE;
}

STDMETHODIMP BrowserSite::GetOptionKeyPath(LPOLESTR* key, DWORD) {
    if (key)
        *key = nullptr;
    return INET_E_DEFAULT_ACTION;
}

STDMETHODIMP BrowserSite::GetDropTarget(IDropTarget*, IDropTarget** result) {
    if (result)
        *result = nullptr;
    return E_NOTIMPL;
}

STDMETHODIMP BrowserSite::GetExternal(IDispatch** external) {
    if (!external)
        return E_POINTER;
    *external = nullptr;
    // window.external reaches handlers that change the machine: only the
    // program's own pages get it.
    if (!host_.ShowsProgramPage())
        return S_FALSE;
    *external = host_.HostDispatch();
    (*external)->AddRef();
    return S_OK;
}

STDMETHODIMP BrowserSite::TranslateUrl(DWORD, LPWSTR, LPWSTR* result) {
    if (result)
        *result = nullptr;
    return E_NOTIMPL;
}

STDMETHODIMP BrowserSite::FilterDataObject(IDataObject*, IDataObject** result) {
    if (result)
        *result = nullptr;
    return S_FALSE;
}

// ---- IDocHostShowUI

STDMETHODIMP BrowserSite::ShowMessage(HWND window, LPOLESTR text, LPOLESTR caption, DWORD type, LPOLESTR, DWORD,
                                      LRESULT* result) {
    // A question with an icon and Yes and No buttons is the browser asking
    // whether to go on after a script error: answered No without showing.
    if ((type & MB_TYPEMASK) == MB_YESNO && (type & 0x30) != 0) {
        if (result)
            *result = IDNO;
        return S_OK;
    }
    LRESULT answer = MessageBoxW(window, text, caption, type);
    if (result)
        *result = answer;
    return S_OK;
}

STDMETHODIMP BrowserSite::ShowHelp(HWND, LPOLESTR, UINT, DWORD, POINT, IDispatch*) {
    return S_FALSE;
}

// ---- IOleCommandTarget

STDMETHODIMP BrowserSite::QueryStatus(const GUID*, ULONG, OLECMD*, OLECMDTEXT*) {
    return S_OK;
}

STDMETHODIMP BrowserSite::Exec(const GUID* group, DWORD id, DWORD, VARIANT*, VARIANT*) {
    if (group && IsEqualGUID(*group, CGID_DocHostCommandHandler) && id == kShowScriptError)
        return OLECMDERR_E_DISABLED;
    return OLECMDERR_E_NOTSUPPORTED;
}

// ---- IServiceProvider

STDMETHODIMP BrowserSite::QueryService(REFGUID service, REFIID iid, void** result) {
    if (!result)
        return E_POINTER;
    *result = nullptr;
    if (IsEqualGUID(service, SID_SInternetSecurityManager)) {
        if (!IsEqualIID(iid, IID_IInternetSecurityManager))
            return E_NOINTERFACE;
    } else if (!IsEqualIID(iid, IID_IInternetHostSecurityManager)) {
        return E_NOINTERFACE;
    }
    return security_.QueryInterface(iid, result);
}

// ---- IDispatch

STDMETHODIMP BrowserSite::GetTypeInfoCount(UINT* count) {
    return host_.HostDispatch()->GetTypeInfoCount(count);
}

STDMETHODIMP BrowserSite::GetTypeInfo(UINT index, LCID locale, ITypeInfo** info) {
    return host_.HostDispatch()->GetTypeInfo(index, locale, info);
}

STDMETHODIMP BrowserSite::GetIDsOfNames(REFIID iid, LPOLESTR* names, UINT count, LCID locale, DISPID* ids) {
    return host_.HostDispatch()->GetIDsOfNames(iid, names, count, locale, ids);
}

STDMETHODIMP BrowserSite::Invoke(DISPID id, REFIID iid, LCID locale, WORD flags, DISPPARAMS* params,
                                 VARIANT* result, EXCEPINFO* exception, UINT* argumentError) {
    return host_.HostDispatch()->Invoke(id, iid, locale, flags, params, result, exception, argumentError);
}
