#include "common/com/PropertyNotifyPoint.h"
#include <olectl.h>

STDMETHODIMP PropertyNotifyPoint::Advise(IUnknown* sink, DWORD* cookie) {
    if (!cookie)
        return E_POINTER;
    *cookie = 0;
    if (!sink)
        return E_POINTER;
    ComPtr<IPropertyNotifySink> notify;
    if (FAILED(sink->QueryInterface(IID_IPropertyNotifySink, notify.ReceiveVoid())))
        return CONNECT_E_CANNOTCONNECT;
    try {
        size_t slot = 0;
        while (slot < sinks_.size() && sinks_[slot])
            ++slot;
        if (slot == sinks_.size())
            sinks_.emplace_back();
        sinks_[slot] = notify;
        *cookie = DWORD(slot + 1);
        return S_OK;
    } catch (...) {
        return E_OUTOFMEMORY;
    }
}

STDMETHODIMP PropertyNotifyPoint::Unadvise(DWORD cookie) {
    if (cookie == 0 || cookie > sinks_.size() || !sinks_[cookie - 1])
        return CONNECT_E_NOCONNECTION;
    sinks_[cookie - 1].Release();
    return S_OK;
}

STDMETHODIMP PropertyNotifyPoint::EnumConnections(IEnumConnections** result) {
    if (!result)
        return E_POINTER;
    *result = nullptr;
    return E_NOTIMPL;
}

std::vector<ComPtr<IPropertyNotifySink>> PropertyNotifyPoint::Snapshot() const {
    std::vector<ComPtr<IPropertyNotifySink>> copy;
    for (const auto& sink : sinks_)
        if (sink)
            copy.push_back(sink);
    return copy;
}

HRESULT PropertyNotifyPoint::RequestEdit(DISPID id) noexcept {
    try {
        // A sink may unadvise itself from inside the call.
        for (const auto& sink : Snapshot())
            if (sink->OnRequestEdit(id) == S_FALSE)
                return S_FALSE;
        return S_OK;
    } catch (...) {
        return E_OUTOFMEMORY;
    }
}

void PropertyNotifyPoint::Changed(DISPID id) noexcept {
    try {
        for (const auto& sink : Snapshot())
            sink->OnChanged(id);
    } catch (...) {
    }
}

void PropertyNotifyPoint::Clear() noexcept {
    std::vector<ComPtr<IPropertyNotifySink>> gone;
    gone.swap(sinks_);
}
