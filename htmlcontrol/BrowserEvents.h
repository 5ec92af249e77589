#pragma once
#include <windows.h>
#include <oaidl.h>

// What the control does with the browser's DWebBrowserEvents2 events.
class BrowserEventHandler {
public:
    // target: the target frame name (a VT_BSTR VARIANT, may be null).
    virtual void OnBeforeNavigate(IDispatch* frame, const wchar_t* url, VARIANT* target, VARIANT_BOOL* cancel) = 0;
    virtual void OnNavigateComplete(IDispatch* frame) = 0;
    virtual void OnDocumentComplete(IDispatch* frame, VARIANT* url) = 0;
    virtual void OnNewWindow(VARIANT_BOOL* cancel) = 0;

protected:
    ~BrowserEventHandler() = default;
};

// The sink the control advises on its browser: reads the events' arguments
// as the browser passes them (by reference or by value) and hands them on.
// It lives inside the control and is unadvised before the control goes, so
// it counts no references of its own. Nothing is thrown out of Invoke.
class BrowserEventSink : public IDispatch {
public:
    explicit BrowserEventSink(BrowserEventHandler& handler) : handler_(handler) {}

    STDMETHODIMP QueryInterface(REFIID iid, void** result) override;
    STDMETHODIMP_(ULONG) AddRef() override;
    STDMETHODIMP_(ULONG) Release() override;
    STDMETHODIMP GetTypeInfoCount(UINT* count) override;
    STDMETHODIMP GetTypeInfo(UINT index, LCID locale, ITypeInfo** info) override;
    STDMETHODIMP GetIDsOfNames(REFIID iid, LPOLESTR* names, UINT count, LCID locale, DISPID* ids) override;
    STDMETHODIMP Invoke(DISPID id, REFIID iid, LCID locale, WORD flags, DISPPARAMS* params, VARIANT* result,
                        EXCEPINFO* exception, UINT* argumentError) override;

private:
    BrowserEventHandler& handler_;
};
