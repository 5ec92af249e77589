#pragma once
#include <windows.h>
#include <ocidl.h>
#include <vector>
#include "common/com/ComPtr.h"
#include "common/com/ConnectionPointBase.h"

// The IPropertyNotifySink connection point of an apartment-threaded control,
// a member of the control (its container, which owns the reference count).
// Through it the control asks its container before a bindable property
// changes and tells it afterwards. Freed slots are reused; a cookie is the
// slot's index plus one.
class PropertyNotifyPoint : public ConnectionPointBase {
public:
    explicit PropertyNotifyPoint(IConnectionPointContainer* container)
        : ConnectionPointBase(container, IID_IPropertyNotifySink) {}

    STDMETHODIMP Advise(IUnknown* sink, DWORD* cookie) override;
    STDMETHODIMP Unadvise(DWORD cookie) override;
    STDMETHODIMP EnumConnections(IEnumConnections** result) override;

    // S_FALSE as soon as one sink refuses the change of id, else S_OK.
    HRESULT RequestEdit(DISPID id) noexcept;
    void Changed(DISPID id) noexcept;
    // Drops every connection (the control is going away).
    void Clear() noexcept;

private:
    std::vector<ComPtr<IPropertyNotifySink>> Snapshot() const;

    std::vector<ComPtr<IPropertyNotifySink>> sinks_;
};
