#include "EventSink.h"
#include <engine/engine.h>
#include <string>

namespace {

// Event arguments arrive in reverse order; convert defensively since a
// marshaled call may hand them over as other variant types.
long LongArg(DISPPARAMS* p, UINT fromEnd) {
    VARIANT v;
    VariantInit(&v);
    long value = 0;
    if (fromEnd < p->cArgs && SUCCEEDED(VariantChangeType(&v, &p->rgvarg[p->cArgs - 1 - fromEnd], 0, VT_I4)))
        value = v.lVal;
    VariantClear(&v);
    return value;
}

std::wstring TextArg(DISPPARAMS* p, UINT fromEnd) {
    VARIANT v;
    VariantInit(&v);
    std::wstring value;
    if (fromEnd < p->cArgs && SUCCEEDED(VariantChangeType(&v, &p->rgvarg[p->cArgs - 1 - fromEnd], 0, VT_BSTR)) &&
        v.bstrVal)
        value.assign(v.bstrVal, SysStringLen(v.bstrVal));
    VariantClear(&v);
    return value;
}

}  // namespace

STDMETHODIMP EventSink::QueryInterface(REFIID riid, void** ppv) {
    if (!ppv)
        return E_POINTER;
    if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IDispatch) || IsEqualIID(riid, DIID__ICrawlerEvents)) {
        *ppv = static_cast<IDispatch*>(this);
        AddRef();
        return S_OK;
    }
    *ppv = nullptr;
    return E_NOINTERFACE;
}

STDMETHODIMP_(ULONG) EventSink::Release() {
    ULONG n = --refs_;
    if (n == 0)
        delete this;
    return n;
}

STDMETHODIMP EventSink::GetTypeInfoCount(UINT* n) {
    if (n)
        *n = 0;
    return S_OK;
}

STDMETHODIMP EventSink::GetTypeInfo(UINT, LCID, ITypeInfo** info) {
    if (info)
        *info = nullptr;
    return E_NOTIMPL;
}

STDMETHODIMP EventSink::GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) { return E_NOTIMPL; }

STDMETHODIMP EventSink::Invoke(DISPID id, REFIID, LCID, WORD, DISPPARAMS* params, VARIANT*, EXCEPINFO*, UINT*) {
    if (!params)
        return E_INVALIDARG;
    switch (id) {
    case 1:
        if (onFound)
            onFound(TextArg(params, 0).c_str(), LongArg(params, 1), LongArg(params, 2), LongArg(params, 3));
        return S_OK;
    case 2:
        if (onFinish)
            onFinish(LongArg(params, 0));
        return S_OK;
    case 3:
        if (onProgress)
            onProgress(LongArg(params, 0), LongArg(params, 1));
        return S_OK;
    case 4:
        if (onStopped)
            onStopped();
        return S_OK;
    default:
        return DISP_E_MEMBERNOTFOUND;
    }
}
