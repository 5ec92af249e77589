#include "engine/com/CqnRegRecord.h"
#include "common/errors/ErrorBase.h"
#include <new>

namespace {
void Replace(BSTR& field, const wchar_t* text) {
    if (field && text && wcscmp(field, text) == 0 && SysStringLen(field) == wcslen(field))
        return;
    BSTR copy = nullptr;
    if (text) {
        copy = SysAllocString(text);
        if (!copy)
            throw HRError(E_OUTOFMEMORY);
    }
    SysFreeString(field);
    field = copy;
}

HRESULT CopyOut(BSTR field, BSTR* result) {
    if (!result)
        return S_OK;
    *result = nullptr;
    if (!field)
        return S_OK;
    *result = SysAllocStringByteLen(reinterpret_cast<const char*>(field), SysStringByteLen(field));
    return *result ? S_OK : E_OUTOFMEMORY;
}

HRESULT CopyOut(long field, LONG* result) {
    if (result)
        *result = field;
    return S_OK;
}
}

HRESULT CqnRegRecord::CreateInstance(CqnRegRecord** result) noexcept {
    if (!result)
        return E_POINTER;
    *result = nullptr;
    CqnRegRecord* record = new (std::nothrow) CqnRegRecord();
    if (!record)
        return E_OUTOFMEMORY;
    // Hold the object while the marshaler aggregates it: the inner object
    // may take and drop references on its outer unknown.
    record->refs_.AddRef();
    HRESULT hr = record->marshaler_.Create(static_cast<IqnRegRecord*>(record));
    record->refs_.Release();
    if (FAILED(hr)) {
        delete record;
        return hr;
    }
    *result = record;
    return S_OK;
}

CqnRegRecord::~CqnRegRecord() {
    marshaler_.Release();
    SysFreeString(item_);
    SysFreeString(reason_);
    SysFreeString(keyPath_);
    SysFreeString(valueName_);
}

void CqnRegRecord::SetFields(const wchar_t* item, const wchar_t* reason, long regUnion,
                             long errorId, long fixId, const wchar_t* keyPath,
                             const wchar_t* valueName) {
    CriticalSectionLock hold(lock_);
    Replace(item_, item);
    Replace(reason_, reason);
    Replace(keyPath_, keyPath);
    Replace(valueName_, valueName);
    regUnion_ = regUnion;
    errorId_ = errorId;
    fixId_ = fixId;
}

STDMETHODIMP CqnRegRecord::QueryInterface(REFIID iid, void** result) {
    if (!result)
        return E_POINTER;
    if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IDispatch) ||
        IsEqualIID(iid, IID_IqnRegRecord)) {
        *result = static_cast<IqnRegRecord*>(this);
        AddRef();
        return S_OK;
    }
    if (marshaler_.Answers(iid, result))
        return S_OK;
    *result = nullptr;
    return E_NOINTERFACE;
}

STDMETHODIMP_(ULONG) CqnRegRecord::AddRef() {
    return refs_.AddRef();
}

STDMETHODIMP_(ULONG) CqnRegRecord::Release() {
    ULONG n = refs_.Release();
    if (n == 0)
        delete this;
    return n;
}

STDMETHODIMP CqnRegRecord::get_Item(BSTR* pVal) { return CopyOut(item_, pVal); }
STDMETHODIMP CqnRegRecord::get_Reason(BSTR* pVal) { return CopyOut(reason_, pVal); }
STDMETHODIMP CqnRegRecord::get_FixID(LONG* pVal) { return CopyOut(fixId_, pVal); }
STDMETHODIMP CqnRegRecord::get_ErrorID(LONG* pVal) { return CopyOut(errorId_, pVal); }
STDMETHODIMP CqnRegRecord::get_RegUnion(LONG* pVal) { return CopyOut(regUnion_, pVal); }
STDMETHODIMP CqnRegRecord::get_KeyPath(BSTR* pVal) { return CopyOut(keyPath_, pVal); }
STDMETHODIMP CqnRegRecord::get_ValueName(BSTR* pVal) { return CopyOut(valueName_, pVal); }
