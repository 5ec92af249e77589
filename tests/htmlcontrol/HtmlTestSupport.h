#pragma once
#include <windows.h>
#include <ole2.h>
#include <exdisp.h>
#include <string>
#include <vector>
#include "ControlContainer.h"
#include "common/com/ComPtr.h"
#include "htmlcontrol/HtmlControl.h"

// OLE on the test's thread for a scope (the control is apartment-threaded).
struct OleApartment {
    OleApartment() { OleInitialize(nullptr); }
    ~OleApartment() { OleUninitialize(); }
};

// A control of the class compiled into the test, not yet activated.
ComPtr<IQNHTMLControl> NewControl();
CQNHTMLControl* Impl(IQNHTMLControl* control);
ComPtr<IWebBrowser2> BrowserOf(IQNHTMLControl* control);

// An HTMLEvent sink that records each call's argument types and values.
class EventRecorder : public IDispatch {
public:
    struct Call {
        DISPID id;
        std::vector<VARTYPE> types;  // in declaration order
        IDispatch* document;
        std::wstring name;
        std::wstring element;
        VARIANT* param;
        DWORD thread;
    };
    explicit EventRecorder(HRESULT answer = S_OK) : answer_(answer) {}
    // Connects to the control's HTMLEvent; false when that fails.
    bool Connect(IUnknown* control);
    void Disconnect();

    std::vector<Call> calls;

    STDMETHODIMP QueryInterface(REFIID iid, void** result) override;
    STDMETHODIMP_(ULONG) AddRef() override { return 2; }
    STDMETHODIMP_(ULONG) Release() override { return 1; }
    STDMETHODIMP GetTypeInfoCount(UINT* count) override {
        *count = 0;
        return S_OK;
    }
    STDMETHODIMP GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
    STDMETHODIMP GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return E_NOTIMPL; }
    STDMETHODIMP Invoke(DISPID id, REFIID, LCID, WORD, DISPPARAMS* params, VARIANT*, EXCEPINFO*, UINT*) override;

private:
    HRESULT answer_;
    ComPtr<IConnectionPoint> point_;
    DWORD cookie_ = 0;
};

// The DWebBrowserEvents2 calls the browser makes, recorded by DISPID.
class BrowserEventLog : public IDispatch {
public:
    bool Connect(IUnknown* browser);
    void Disconnect();
    std::vector<std::pair<DISPID, std::wstring>> events;  // DISPID, first BSTR argument found
    std::vector<HRESULT> errors;                           // NavigateError status codes
    size_t Count(DISPID id) const;

    STDMETHODIMP QueryInterface(REFIID iid, void** result) override;
    STDMETHODIMP_(ULONG) AddRef() override { return 2; }
    STDMETHODIMP_(ULONG) Release() override { return 1; }
    STDMETHODIMP GetTypeInfoCount(UINT* count) override {
        *count = 0;
        return S_OK;
    }
    STDMETHODIMP GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
    STDMETHODIMP GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return E_NOTIMPL; }
    STDMETHODIMP Invoke(DISPID id, REFIID, LCID, WORD, DISPPARAMS* params, VARIANT*, EXCEPINFO*, UINT*) override;

private:
    ComPtr<IConnectionPoint> point_;
    DWORD cookie_ = 0;
};

// A fresh page file in this process's UI cache folder (created on first use).
std::wstring CachePagePath(const wchar_t* name);
