#include "common/com/ConnectionPoint.h"
#include "common/com/ComPtr.h"
#include "common/com/GlobalInterfaceTable.h"
#include "common/errors/ErrorBase.h"
#include <olectl.h>
#include <algorithm>

namespace {
// Moves the texts of a failed sink call into the thread's error information.
void KeepExceptionInfo(EXCEPINFO& info, HRESULT hr) {
    if (info.pfnDeferredFillIn)
        info.pfnDeferredFillIn(&info);
    ComPtr<ICreateErrorInfo> create;
    if (SUCCEEDED(CreateErrorInfo(create.Receive()))) {
        create->SetDescription(info.bstrDescription);
        create->SetSource(info.bstrSource);
        create->SetHelpFile(info.bstrHelpFile);
        create->SetHelpContext(info.dwHelpContext);
        ComPtr<IErrorInfo> error;
        if (SUCCEEDED(create.QueryInto(IID_IErrorInfo, error)))
            SetErrorInfo(0, error);
    }
    SysFreeString(info.bstrDescription);
    SysFreeString(info.bstrSource);
    SysFreeString(info.bstrHelpFile);
}
}

ConnectionPoint::ConnectionPoint(IConnectionPointContainer* container, REFIID events)
    : ConnectionPointBase(container, events) {}

ConnectionPoint::~ConnectionPoint() {
    MtaScope com;
    for (const Sink& sink : sinks_) {
        GlobalInterfaceTable::Revoke(sink.cookie);
        sink.direct->Release();
    }
}

bool ConnectionPoint::Apartment::operator==(const Apartment& other) const {
    bool known = type == APTTYPE_MTA || type == APTTYPE_STA || type == APTTYPE_MAINSTA;
    return known && type == other.type && thread == other.thread;
}

ConnectionPoint::Apartment ConnectionPoint::CurrentApartment() noexcept {
    APTTYPE type = APTTYPE_CURRENT;
    APTTYPEQUALIFIER qualifier = APTTYPEQUALIFIER_NONE;
    if (FAILED(CoGetApartmentType(&type, &qualifier)))
        return Apartment{APTTYPE_CURRENT, 0};
    DWORD thread = type == APTTYPE_MTA ? 0 : GetCurrentThreadId();
    return Apartment{type, thread};
}

STDMETHODIMP ConnectionPoint::Advise(IUnknown* sink, DWORD* cookie) {
    if (!cookie)
        return E_POINTER;
    *cookie = 0;
    if (!sink)
        return E_POINTER;
    ComPtr<IDispatch> dispatch;
    // A script sink answers only IDispatch, not the event interface's own IID.
    if (FAILED(sink->QueryInterface(events_, dispatch.ReceiveVoid())) &&
        FAILED(sink->QueryInterface(IID_IDispatch, dispatch.ReceiveVoid())))
        return CONNECT_E_CANNOTCONNECT;
    MtaScope com;
    DWORD registered = 0;
    try {
        registered = GlobalInterfaceTable::Register(dispatch, IID_IDispatch);
        CriticalSectionLock hold(lock_);
        sinks_.push_back(Sink{registered, dispatch, CurrentApartment()});
    } catch (const ErrorBase& e) {
        return HResultOf(e);
    } catch (...) {
        if (registered)
            GlobalInterfaceTable::Revoke(registered);
        return E_OUTOFMEMORY;
    }
    dispatch.Detach();
    *cookie = registered;
    return S_OK;
}

STDMETHODIMP ConnectionPoint::Unadvise(DWORD cookie) {
    IDispatch* direct = nullptr;
    {
        CriticalSectionLock hold(lock_);
        auto it = std::find_if(sinks_.begin(), sinks_.end(),
                               [cookie](const Sink& sink) { return sink.cookie == cookie; });
        if (cookie == 0 || it == sinks_.end())
            return CONNECT_E_NOCONNECTION;
        direct = it->direct;
        sinks_.erase(it);
    }
    MtaScope com;
    GlobalInterfaceTable::Revoke(cookie);
    direct->Release();
    return S_OK;
}

STDMETHODIMP ConnectionPoint::EnumConnections(IEnumConnections** result) {
    if (!result)
        return E_POINTER;
    *result = nullptr;
    return E_NOTIMPL;
}

std::vector<ConnectionPoint::Sink> ConnectionPoint::Snapshot() noexcept {
    CriticalSectionLock hold(lock_);
    try {
        std::vector<Sink> copy = sinks_;
        for (const Sink& sink : copy)
            sink.direct->AddRef();
        return copy;
    } catch (...) {
        return {};
    }
}

IDispatch* ConnectionPoint::Reach(const Sink& sink, const Apartment& here) noexcept {
    if (sink.home == here) {
        sink.direct->AddRef();
        return sink.direct;
    }
    IDispatch* marshaled = nullptr;
    if (FAILED(GlobalInterfaceTable::Get(sink.cookie, IID_IDispatch,
                                         reinterpret_cast<void**>(&marshaled))))
        return nullptr;
    return marshaled;
}

HRESULT ConnectionPoint::Fire(DISPID id, DISPPARAMS& params) noexcept {
    MtaScope com;
    const Apartment here = CurrentApartment();
    std::vector<Sink> sinks = Snapshot();
    HRESULT hr = S_OK;
    for (const Sink& sink : sinks) {
        if (FAILED(hr))
            break;
        // A sink unadvised since the snapshot was taken is no longer called.
        if (!IsAdvised(sink.cookie))
            continue;
        ComPtr<IDispatch> target;
        target.Attach(Reach(sink, here));
        if (!target)
            continue;
        VARIANT result;
        VariantInit(&result);
        EXCEPINFO exception = {};
        UINT argumentError = 0;
        hr = target->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD, &params, &result,
                            &exception, &argumentError);
        VariantClear(&result);
        if (FAILED(hr))
            KeepExceptionInfo(exception, hr);
    }
    for (const Sink& sink : sinks)
        sink.direct->Release();
    return hr;
}

bool ConnectionPoint::IsAdvised(DWORD cookie) noexcept {
    CriticalSectionLock hold(lock_);
    for (const Sink& sink : sinks_)
        if (sink.cookie == cookie)
            return true;
    return false;
}

size_t ConnectionPoint::SinkCount() noexcept {
    CriticalSectionLock hold(lock_);
    return sinks_.size();
}
