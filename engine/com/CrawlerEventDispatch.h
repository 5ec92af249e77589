#pragma once
#include <windows.h>
#include <oaidl.h>
#include "common/com/ConnectionPoint.h"

// The engine object's own implementation of its event interface: a call of
// an event's DISPID on it raises that event to every advised sink. It shares
// the identity and the reference count of its owner.
class CrawlerEventDispatch : public IDispatch {
public:
    CrawlerEventDispatch(IUnknown* owner, ConnectionPoint& events, REFIID eventsIid)
        : owner_(owner), events_(events), eventsIid_(eventsIid) {}
    virtual ~CrawlerEventDispatch() = default;

    STDMETHODIMP QueryInterface(REFIID iid, void** result) override;
    STDMETHODIMP_(ULONG) AddRef() override;
    STDMETHODIMP_(ULONG) Release() override;
    STDMETHODIMP GetTypeInfoCount(UINT* count) override;
    STDMETHODIMP GetTypeInfo(UINT index, LCID, ITypeInfo** result) override;
    STDMETHODIMP GetIDsOfNames(REFIID, LPOLESTR* names, UINT count, LCID, DISPID* ids) override;
    STDMETHODIMP Invoke(DISPID id, REFIID riid, LCID, WORD flags, DISPPARAMS* params,
                        VARIANT* result, EXCEPINFO* exception, UINT* argumentError) override;

private:
    IUnknown* owner_;
    ConnectionPoint& events_;
    IID eventsIid_;
};
