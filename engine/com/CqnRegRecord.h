#pragma once
#include "engine/engine.h"
#include "common/com/ComModule.h"
#include "common/com/DispatchImpl.h"
#include "common/com/FreeThreadedMarshaler.h"
#include "common/system/CriticalSection.h"

// One finding as the caller sees it: fixed texts and numbers that any
// thread may read. The aggregated free-threaded marshaler hands callers in
// other apartments the object itself rather than a proxy.
class CqnRegRecord : public DispatchImpl<IqnRegRecord, &IID_IqnRegRecord> {
public:
    // A new object with reference count 0; the creator takes the first reference.
    static HRESULT CreateInstance(CqnRegRecord** result) noexcept;

    // Each text is kept up to its first NUL; null text gives a null field.
    // Throws HRError(E_OUTOFMEMORY) when a copy cannot be made.
    void SetFields(const wchar_t* item, const wchar_t* reason, long regUnion, long errorId,
                   long fixId, const wchar_t* keyPath, const wchar_t* valueName);

    STDMETHODIMP QueryInterface(REFIID iid, void** result) override;
    STDMETHODIMP_(ULONG) AddRef() override;
    STDMETHODIMP_(ULONG) Release() override;

    STDMETHODIMP get_Item(BSTR* pVal) override;
    STDMETHODIMP get_Reason(BSTR* pVal) override;
    STDMETHODIMP get_FixID(LONG* pVal) override;
    STDMETHODIMP get_ErrorID(LONG* pVal) override;
    STDMETHODIMP get_RegUnion(LONG* pVal) override;
    STDMETHODIMP get_KeyPath(BSTR* pVal) override;
    STDMETHODIMP get_ValueName(BSTR* pVal) override;

private:
    CqnRegRecord() = default;
    virtual ~CqnRegRecord();

    RefCount refs_;
    CriticalSection lock_;
    ModuleLock moduleLock_;
    FreeThreadedMarshaler marshaler_;
    BSTR item_ = nullptr;
    BSTR reason_ = nullptr;
    long regUnion_ = 0;
    long errorId_ = 0;
    long fixId_ = 0;
    BSTR keyPath_ = nullptr;
    BSTR valueName_ = nullptr;
};
