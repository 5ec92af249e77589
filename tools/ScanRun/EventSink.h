#pragma once
#include <windows.h>
#include <oleauto.h>
#include <atomic>
#include <functional>
#include "common/tstring/tstring.h"

// Receives the engine's _ICrawlerEvents through IDispatch::Invoke, called on
// the engine's group threads: the handlers must be thread-safe.
class EventSink : public IDispatch {
public:
    std::function<void(const wchar_t* item, long regUnion, long errorId, long fixId)> onFound;
    std::function<void(long regUnion, long percent)> onProgress;
    std::function<void(long regUnion)> onFinish;
    std::function<void()> onStopped;

    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override;
    STDMETHODIMP_(ULONG) AddRef() override { return ++refs_; }
    STDMETHODIMP_(ULONG) Release() override;
    STDMETHODIMP GetTypeInfoCount(UINT* n) override;
    STDMETHODIMP GetTypeInfo(UINT, LCID, ITypeInfo** info) override;
    STDMETHODIMP GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override;
    STDMETHODIMP Invoke(DISPID id, REFIID, LCID, WORD, DISPPARAMS* params, VARIANT*, EXCEPINFO*, UINT*) override;

private:
    std::atomic<ULONG> refs_{1};
};
