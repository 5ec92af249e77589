#include "engine/com/CrawlerEventDispatch.h"
#include "common/com/DispatchImpl.h"
#include "common/com/TypeLibrary.h"

namespace {
const DISPID kFirstEvent = 1;
const DISPID kLastEvent = 4;
}

STDMETHODIMP CrawlerEventDispatch::QueryInterface(REFIID iid, void** result) {
    return owner_->QueryInterface(iid, result);
}

STDMETHODIMP_(ULONG) CrawlerEventDispatch::AddRef() {
    return owner_->AddRef();
}

STDMETHODIMP_(ULONG) CrawlerEventDispatch::Release() {
    return owner_->Release();
}

STDMETHODIMP CrawlerEventDispatch::GetTypeInfoCount(UINT* count) {
    if (!count)
        return E_POINTER;
    *count = 1;
    return S_OK;
}

STDMETHODIMP CrawlerEventDispatch::GetTypeInfo(UINT index, LCID, ITypeInfo** result) {
    return DispatchTypeInfo(eventsIid_, index, result);
}

STDMETHODIMP CrawlerEventDispatch::GetIDsOfNames(REFIID, LPOLESTR* names, UINT count, LCID,
                                                 DISPID* ids) {
    return DispatchGetIDsOfNames(eventsIid_, names, count, ids);
}

STDMETHODIMP CrawlerEventDispatch::Invoke(DISPID id, REFIID riid, LCID, WORD, DISPPARAMS* params,
                                          VARIANT* result, EXCEPINFO*, UINT*) {
    if (!IsEqualIID(riid, IID_NULL))
        return DISP_E_UNKNOWNINTERFACE;
    if (id < kFirstEvent || id > kLastEvent)
        return DISP_E_MEMBERNOTFOUND;
    if (result)
        VariantInit(result);
    DISPPARAMS none = {};
    return events_.Fire(id, params ? *params : none);
}
