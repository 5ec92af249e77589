#include "htmlcontrol/BrowserEvents.h"
#include <exdisp.h>
#include <exdispid.h>

namespace {
// Argument n (0 = first) of an event, followed through one VT_BYREF|VT_VARIANT.
VARIANT* Argument(DISPPARAMS* params, UINT n) {
    if (!params || n >= params->cArgs)
        return nullptr;
    VARIANT* v = &params->rgvarg[params->cArgs - 1 - n];
    if (v->vt == (VT_BYREF | VT_VARIANT))
        v = v->pvarVal;
    return v;
}

IDispatch* DispatchOf(VARIANT* v) {
    if (!v)
        return nullptr;
    if (v->vt == VT_DISPATCH)
        return v->pdispVal;
    if (v->vt == (VT_BYREF | VT_DISPATCH) && v->ppdispVal)
        return *v->ppdispVal;
    return nullptr;
}

const wchar_t* TextOf(VARIANT* v) {
    if (!v)
        return nullptr;
    if (v->vt == VT_BSTR)
        return v->bstrVal;
    if (v->vt == (VT_BYREF | VT_BSTR) && v->pbstrVal)
        return *v->pbstrVal;
    return nullptr;
}

VARIANT_BOOL* FlagOf(VARIANT* v) {
    return v && v->vt == (VT_BYREF | VT_BOOL) ? v->pboolVal : nullptr;
}

VARIANT_BOOL g_ignored = VARIANT_FALSE;
}

STDMETHODIMP BrowserEventSink::QueryInterface(REFIID iid, void** result) {
    if (!result)
        return E_POINTER;
    if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IDispatch) || IsEqualIID(iid, DIID_DWebBrowserEvents2)) {
        *result = static_cast<IDispatch*>(this);
        return S_OK;
    }
    *result = nullptr;
    return E_NOINTERFACE;
}

STDMETHODIMP_(ULONG) BrowserEventSink::AddRef() {
    return 2;
}

STDMETHODIMP_(ULONG) BrowserEventSink::Release() {
    return 1;
}

STDMETHODIMP BrowserEventSink::GetTypeInfoCount(UINT* count) {
    if (!count)
        return E_POINTER;
    *count = 0;
    return S_OK;
}

STDMETHODIMP BrowserEventSink::GetTypeInfo(UINT, LCID, ITypeInfo** info) {
    if (info)
        *info = nullptr;
    return E_NOTIMPL;
}

STDMETHODIMP BrowserEventSink::GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) {
    return E_NOTIMPL;
}

STDMETHODIMP BrowserEventSink::Invoke(DISPID id, REFIID, LCID, WORD, DISPPARAMS* params, VARIANT*, EXCEPINFO*,
                                      UINT*) {
    try {
        switch (id) {
        case DISPID_BEFORENAVIGATE2: {
            // Without a Cancel to set the navigation cannot be stopped: answer
            // into a dummy so the judgement still runs and is logged.
            VARIANT_BOOL* cancel = FlagOf(Argument(params, 6));
            handler_.OnBeforeNavigate(DispatchOf(Argument(params, 0)), TextOf(Argument(params, 1)),
                                      Argument(params, 3), cancel ? cancel : &g_ignored);
            break;
        }
        case DISPID_NAVIGATECOMPLETE2:
            handler_.OnNavigateComplete(DispatchOf(Argument(params, 0)));
            break;
        case DISPID_NEWWINDOW2: {
            VARIANT_BOOL* cancel = FlagOf(Argument(params, 1));
            handler_.OnNewWindow(cancel ? cancel : &g_ignored);
            break;
        }
        case DISPID_DOCUMENTCOMPLETE:
            handler_.OnDocumentComplete(DispatchOf(Argument(params, 0)), Argument(params, 1));
            break;
        default:
            break;
        }
    } catch (...) {
    }
    return S_OK;
}
