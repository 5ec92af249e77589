#pragma once
#include <windows.h>
#include <oaidl.h>
#include <string>
#include <vector>

// An event sink that records what reaches it and on which thread.
class TestSink : public IDispatch {
public:
    struct Call {
        DISPID id;
        std::vector<std::wstring> arguments;  // in declaration order, as text
        DWORD thread;
    };

    explicit TestSink(HRESULT answer = S_OK) : answer_(answer) {
        InitializeCriticalSection(&lock_);
    }
    virtual ~TestSink() { DeleteCriticalSection(&lock_); }

    std::vector<Call> Calls();

    STDMETHODIMP QueryInterface(REFIID iid, void** result) override;
    STDMETHODIMP_(ULONG) AddRef() override;
    STDMETHODIMP_(ULONG) Release() override;
    STDMETHODIMP GetTypeInfoCount(UINT* count) override;
    STDMETHODIMP GetTypeInfo(UINT, LCID, ITypeInfo**) override;
    STDMETHODIMP GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override;
    STDMETHODIMP Invoke(DISPID id, REFIID, LCID, WORD, DISPPARAMS* params, VARIANT*, EXCEPINFO*,
                        UINT*) override;

private:
    LONG refs_ = 1;
    HRESULT answer_;
    CRITICAL_SECTION lock_;
    std::vector<Call> calls_;
};
