#pragma once
#include <windows.h>
#include <oaidl.h>
#include <vector>
#include "common/system/CriticalSection.h"

// A sink that records the DISPIDs, first arguments and threads of its calls.
class Recorder : public IDispatch {
public:
    explicit Recorder(HRESULT answer = S_OK) : answer_(answer) {}
    virtual ~Recorder() = default;

    struct Call {
        DISPID id;
        long first;
        DWORD thread;
    };
    std::vector<Call> Calls() {
        CriticalSectionLock hold(lock_);
        return calls_;
    }

    STDMETHODIMP QueryInterface(REFIID iid, void** result) override {
        if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IDispatch)) {
            *result = static_cast<IDispatch*>(this);
            AddRef();
            return S_OK;
        }
        *result = nullptr;
        return E_NOINTERFACE;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return ULONG(InterlockedIncrement(&refs_)); }
    STDMETHODIMP_(ULONG) Release() override {
        LONG n = InterlockedDecrement(&refs_);
        if (n == 0)
            delete this;
        return ULONG(n);
    }
    STDMETHODIMP GetTypeInfoCount(UINT* count) override {
        *count = 0;
        return S_OK;
    }
    STDMETHODIMP GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
    STDMETHODIMP GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override {
        return E_NOTIMPL;
    }
    STDMETHODIMP Invoke(DISPID id, REFIID, LCID, WORD, DISPPARAMS* params, VARIANT*,
                        EXCEPINFO* exception, UINT*) override {
        long first = -1;
        if (params && params->cArgs > 0 && params->rgvarg[params->cArgs - 1].vt == VT_I4)
            first = params->rgvarg[params->cArgs - 1].lVal;
        {
            CriticalSectionLock hold(lock_);
            calls_.push_back(Call{id, first, GetCurrentThreadId()});
        }
        if (FAILED(answer_) && exception)
            exception->bstrDescription = SysAllocString(L"sink refused");
        return answer_;
    }

private:
    LONG refs_ = 1;
    HRESULT answer_;
    CriticalSection lock_;
    std::vector<Call> calls_;
};

// An object that answers nothing but IUnknown.
class BareUnknown : public IUnknown {
public:
    STDMETHODIMP QueryInterface(REFIID iid, void** result) override {
        *result = IsEqualIID(iid, IID_IUnknown) ? this : nullptr;
        if (!*result)
            return E_NOINTERFACE;
        AddRef();
        return S_OK;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return ++refs_; }
    STDMETHODIMP_(ULONG) Release() override { return --refs_; }
    ULONG refs_ = 1;
};
