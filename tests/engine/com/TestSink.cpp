#include "TestSink.h"
#include "engine/engine.h"

std::vector<TestSink::Call> TestSink::Calls() {
    EnterCriticalSection(&lock_);
    std::vector<Call> copy = calls_;
    LeaveCriticalSection(&lock_);
    return copy;
}

STDMETHODIMP TestSink::QueryInterface(REFIID iid, void** result) {
    if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IDispatch) ||
        IsEqualIID(iid, DIID__ICrawlerEvents)) {
        *result = static_cast<IDispatch*>(this);
        AddRef();
        return S_OK;
    }
    *result = nullptr;
    return E_NOINTERFACE;
}

STDMETHODIMP_(ULONG) TestSink::AddRef() {
    return ULONG(InterlockedIncrement(&refs_));
}

STDMETHODIMP_(ULONG) TestSink::Release() {
    LONG n = InterlockedDecrement(&refs_);
    if (n == 0)
        delete this;
    return ULONG(n);
}

STDMETHODIMP TestSink::GetTypeInfoCount(UINT* count) {
    *count = 0;
    return S_OK;
}

STDMETHODIMP TestSink::GetTypeInfo(UINT, LCID, ITypeInfo**) {
    return E_NOTIMPL;
}

STDMETHODIMP TestSink::GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) {
    return E_NOTIMPL;
}

STDMETHODIMP TestSink::Invoke(DISPID id, REFIID, LCID, WORD, DISPPARAMS* params, VARIANT*,
                              EXCEPINFO*, UINT*) {
    Call call{id, {}, GetCurrentThreadId()};
    for (UINT i = params ? params->cArgs : 0; i-- > 0;) {
        VARIANT text;
        VariantInit(&text);
        if (SUCCEEDED(VariantChangeType(&text, &params->rgvarg[i], 0, VT_BSTR)) && text.bstrVal)
            call.arguments.push_back(text.bstrVal);
        else
            call.arguments.push_back(L"?");
        VariantClear(&text);
    }
    EnterCriticalSection(&lock_);
    calls_.push_back(call);
    LeaveCriticalSection(&lock_);
    return answer_;
}
