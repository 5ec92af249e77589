#include "app/EngineEventSink.h"
#include <exception>
#include "common/log/Log.h"
#include "engine/engine.h"

namespace {

const UINT kEngineEventMessage = WM_APP + 0x2E1;

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
    return WindowImpl::Create(HWND_MESSAGE, nullptr, TEXT(""), 0) != nullptr;
}

void EngineEventSink::Detach() {
    receiver_ = nullptr;
    if (Handle()) DestroyWindow(Handle());
}

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
        EngineEvent* event = new EngineEvent();
        if (!ReadEvent(id, params, *event)) {
            delete event;
            return DISP_E_MEMBERNOTFOUND;
        }
        if (!receiver_ || !Handle() || !PostMessage(Handle(), kEngineEventMessage, 0, reinterpret_cast<LPARAM>(event)))
            delete event;
        return S_OK;
    } catch (const std::exception& e) {
        Log::Instance().Print(LogError, L"[error] Engine event %ld: %hs", static_cast<long>(id), e.what());
        return E_FAIL;
    } catch (...) {
        Log::Instance().Print(LogError, L"[error] Engine event %ld failed.", static_cast<long>(id));
        return E_FAIL;
    }
}

LRESULT EngineEventSink::OnMessage(UINT message, WPARAM wParam, LPARAM lParam) {
    if (message != kEngineEventMessage) return DefaultProc(message, wParam, lParam);
    EngineEvent* event = reinterpret_cast<EngineEvent*>(lParam);
    // Keeps the sink alive while the receiver may disconnect the engine.
    AddRef();
    try {
        if (receiver_) receiver_->OnEngineEvent(*event);
    } catch (...) {
        Log::Instance().Print(LogError, L"[error] Engine event %ld could not be shown.", static_cast<long>(event->id));
    }
    delete event;
    Release();
    return 0;
}
