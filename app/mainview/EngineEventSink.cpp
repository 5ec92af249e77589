#include "app/mainview/EngineEventSink.h"
#include <exception>
#include "common/log/Log.h"
#include "engine/engine.h"

namespace {

const UINT kEngineEventMessage = WM_APP + 0x2E1;
const UINT_PTR kDrainTimer = 1;
// Only events whose wake message could not be posted wait for it.
const UINT kDrainInterval = 250;

bool ReadLong(const DISPPARAMS* params, UINT index, long& value) {
    VARIANT converted;
    VariantInit(&converted);
    if (FAILED(VariantChangeType(&converted, &params->rgvarg[params->cArgs - 1 - index], 0, VT_I4))) return false;
    value = converted.lVal;
    return true;
}

}  // namespace

EngineEventSink::EngineEventSink(EngineEventReceiver* receiver) : receiver_(receiver) {
    // Without it the events still arrive, marshaled through the UI thread.
    if (FAILED(CoCreateFreeThreadedMarshaler(static_cast<IDispatch*>(this), &marshaler_))) marshaler_ = nullptr;
}

EngineEventSink::~EngineEventSink() {
    if (marshaler_) marshaler_->Release();
}

bool EngineEventSink::Create() {
    if (!WindowImpl::Create(HWND_MESSAGE, nullptr, TEXT(""), 0)) return false;
    if (::SetTimer(Handle(), kDrainTimer, kDrainInterval, nullptr)) return true;
    DestroyWindow(Handle());
    return false;
}

void EngineEventSink::Detach() {
    receiver_ = nullptr;
    if (Handle()) DestroyWindow(Handle());
    CriticalSectionLock lock(queueLock_);
    queue_.clear();
    wakePending_ = false;
}

bool EngineEventSink::PostWake() { return PostMessage(Handle(), kEngineEventMessage, 0, 0) != FALSE; }

STDMETHODIMP EngineEventSink::QueryInterface(REFIID iid, void** object) {
    if (!object) return E_POINTER;
    if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IDispatch) || IsEqualIID(iid, DIID__ICrawlerEvents)) {
        *object = static_cast<IDispatch*>(this);
        AddRef();
        return S_OK;
    }
    if (IsEqualIID(iid, IID_IMarshal) && marshaler_) return marshaler_->QueryInterface(iid, object);
    *object = nullptr;
    return E_NOINTERFACE;
}

STDMETHODIMP_(ULONG) EngineEventSink::AddRef() { return InterlockedIncrement(&references_); }

STDMETHODIMP_(ULONG) EngineEventSink::Release() {
    LONG left = InterlockedDecrement(&references_);
    if (left == 0) delete this;
    return left;
}

STDMETHODIMP EngineEventSink::GetTypeInfoCount(UINT* count) {
    if (count) *count = 0;
    return S_OK;
}

STDMETHODIMP EngineEventSink::GetTypeInfo(UINT, LCID, ITypeInfo** info) {
    if (info) *info = nullptr;
    return E_NOTIMPL;
}

STDMETHODIMP EngineEventSink::GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) { return E_NOTIMPL; }

bool EngineEventSink::ReadEvent(DISPID id, const DISPPARAMS* params, EngineEvent& event) {
    static const UINT kArguments[] = {0, 4, 1, 2, 0};
    if (id < 1 || id > 4) return false;
    UINT count = params ? params->cArgs : 0;
    if (count != kArguments[id]) return false;
    event.id = id;
    switch (id) {
    case 1: {
        const VARIANT& item = params->rgvarg[count - 1];
        if (item.vt == VT_BSTR)
            event.item.assign(item.bstrVal ? item.bstrVal : L"", item.bstrVal ? SysStringLen(item.bstrVal) : 0);
        else if (item.vt == (VT_BSTR | VT_BYREF) && item.pbstrVal && *item.pbstrVal)
            event.item.assign(*item.pbstrVal, SysStringLen(*item.pbstrVal));
        else
            return false;
        return ReadLong(params, 1, event.unionBit) && ReadLong(params, 2, event.second) &&
               ReadLong(params, 3, event.fixId);
    }
    case 2:
        return ReadLong(params, 0, event.unionBit);
    case 3:
        return ReadLong(params, 0, event.unionBit) && ReadLong(params, 1, event.second);
    default:
        return true;
    }
}

STDMETHODIMP EngineEventSink::Invoke(DISPID id, REFIID, LCID, WORD, DISPPARAMS* params, VARIANT* result,
                                     EXCEPINFO*, UINT*) {
    if (result) VariantInit(result);
    try {
        EngineEvent event;
        if (!ReadEvent(id, params, event)) return DISP_E_MEMBERNOTFOUND;
        if (!receiver_ || !Handle()) return S_OK;
        {
            CriticalSectionLock lock(queueLock_);
            queue_.push_back(std::move(event));
            if (wakePending_) return S_OK;
            wakePending_ = true;
        }
        if (!PostWake()) {
            // The queue stays; the drain timer hands it over.
            CriticalSectionLock lock(queueLock_);
            wakePending_ = false;
        }
        return S_OK;
    } catch (const std::exception& e) {
        Log::Instance().Print(LogError, L"[error] Engine event %ld: %hs", static_cast<long>(id), e.what());
        return E_FAIL;
    } catch (...) {
        Log::Instance().Print(LogError, L"[error] Engine event %ld failed.", static_cast<long>(id));
        return E_FAIL;
    }
}

void EngineEventSink::Deliver() {
    // Keeps the sink alive while the receiver may disconnect the engine.
    AddRef();
    {
        // Events queued from now on may need a wake of their own.
        CriticalSectionLock lock(queueLock_);
        wakePending_ = false;
    }
    for (;;) {
        EngineEvent event;
        {
            CriticalSectionLock lock(queueLock_);
            if (queue_.empty() || !receiver_) break;
            // One at a time: a receiver that pumps messages takes the next
            // ones in their order.
            event = std::move(queue_.front());
            queue_.pop_front();
        }
        try {
            if (receiver_) receiver_->OnEngineEvent(event);
        } catch (...) {
            Log::Instance().Print(LogError, L"[error] Engine event %ld could not be shown.", static_cast<long>(event.id));
        }
    }
    Release();
}

LRESULT EngineEventSink::OnMessage(UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == kEngineEventMessage || (message == WM_TIMER && wParam == kDrainTimer)) {
        Deliver();
        return 0;
    }
    return DefaultProc(message, wParam, lParam);
}
