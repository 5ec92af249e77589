#pragma once
#include <windows.h>
#include <ole2.h>
#include <ocidl.h>

// A small ActiveX container for tests: a top-level window of its own and a
// client and in-place site for one control, which it activates in place in
// that window. The site counts no references (it outlives the control's use
// of it: Close cuts the control loose).
class ControlContainer : public IOleClientSite, public IOleInPlaceSite {
public:
    ControlContainer() {
        WNDCLASSW wc = {};
        wc.lpfnWndProc = DefWindowProcW;
        wc.hInstance = GetModuleHandleW(nullptr);
        wc.lpszClassName = L"OrvaneTestContainer";
        RegisterClassW(&wc);
        window_ = CreateWindowExW(0, L"OrvaneTestContainer", L"container", WS_OVERLAPPEDWINDOW | WS_CLIPCHILDREN,
                                  0, 0, 640, 480, nullptr, nullptr, GetModuleHandleW(nullptr), nullptr);
    }
    ~ControlContainer() {
        Close();
        DestroyWindow(window_);
    }
    ControlContainer(const ControlContainer&) = delete;
    ControlContainer& operator=(const ControlContainer&) = delete;

    // Takes the control, gives it this site and activates it in place.
    HRESULT Activate(IUnknown* control) {
        Close();
        HRESULT hr = control->QueryInterface(IID_IOleObject, reinterpret_cast<void**>(&object_));
        if (FAILED(hr))
            return hr;
        hr = object_->SetClientSite(this);
        if (FAILED(hr))
            return hr;
        RECT area = {0, 0, 600, 400};
        return object_->DoVerb(OLEIVERB_INPLACEACTIVATE, nullptr, this, 0, window_, &area);
    }
    // IOleObject::Close, then the site is taken back and the control released.
    void Close() {
        if (!object_)
            return;
        object_->Close(OLECLOSE_NOSAVE);
        object_->SetClientSite(nullptr);
        object_->Release();
        object_ = nullptr;
    }

    HWND Window() const { return window_; }
    bool InPlaceActive() const { return inPlaceActive_; }
    bool UIActive() const { return uiActive_; }
    int Deactivations() const { return deactivations_; }

    STDMETHODIMP QueryInterface(REFIID iid, void** result) override {
        if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IOleClientSite))
            *result = static_cast<IOleClientSite*>(this);
        else if (IsEqualIID(iid, IID_IOleWindow) || IsEqualIID(iid, IID_IOleInPlaceSite))
            *result = static_cast<IOleInPlaceSite*>(this);
        else {
            *result = nullptr;
            return E_NOINTERFACE;
        }
        return S_OK;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return 2; }
    STDMETHODIMP_(ULONG) Release() override { return 1; }

    STDMETHODIMP SaveObject() override { return E_NOTIMPL; }
    STDMETHODIMP GetMoniker(DWORD, DWORD, IMoniker** moniker) override {
        *moniker = nullptr;
        return E_NOTIMPL;
    }
    STDMETHODIMP GetContainer(IOleContainer** container) override {
        *container = nullptr;
        return E_NOINTERFACE;
    }
    STDMETHODIMP ShowObject() override { return S_OK; }
    STDMETHODIMP OnShowWindow(BOOL) override { return S_OK; }
    STDMETHODIMP RequestNewObjectLayout() override { return E_NOTIMPL; }

    STDMETHODIMP GetWindow(HWND* window) override {
        *window = window_;
        return S_OK;
    }
    STDMETHODIMP ContextSensitiveHelp(BOOL) override { return E_NOTIMPL; }
    STDMETHODIMP CanInPlaceActivate() override { return S_OK; }
    STDMETHODIMP OnInPlaceActivate() override {
        inPlaceActive_ = true;
        return S_OK;
    }
    STDMETHODIMP OnUIActivate() override {
        uiActive_ = true;
        return S_OK;
    }
    STDMETHODIMP GetWindowContext(IOleInPlaceFrame** frame, IOleInPlaceUIWindow** document, LPRECT position,
                                  LPRECT clip, LPOLEINPLACEFRAMEINFO) override {
        *frame = nullptr;
        *document = nullptr;
        *position = {0, 0, 600, 400};
        *clip = *position;
        return S_OK;
    }
    STDMETHODIMP Scroll(SIZE) override { return E_NOTIMPL; }
    STDMETHODIMP OnUIDeactivate(BOOL) override {
        uiActive_ = false;
        return S_OK;
    }
    STDMETHODIMP OnInPlaceDeactivate() override {
        inPlaceActive_ = false;
        ++deactivations_;
        return S_OK;
    }
    STDMETHODIMP DiscardUndoState() override { return E_NOTIMPL; }
    STDMETHODIMP DeactivateAndUndo() override { return E_NOTIMPL; }
    STDMETHODIMP OnPosRectChange(LPCRECT) override { return E_NOTIMPL; }

private:
    HWND window_ = nullptr;
    IOleObject* object_ = nullptr;
    bool inPlaceActive_ = false;
    bool uiActive_ = false;
    int deactivations_ = 0;
};

// Dispatches the thread's messages until done() is true or the time is up;
// returns done().
template <class Done>
bool PumpUntil(Done done, DWORD milliseconds = 10000) {
    const DWORD start = GetTickCount();
    while (!done()) {
        if (GetTickCount() - start > milliseconds)
            return done();
        MSG message;
        while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&message);
            DispatchMessageW(&message);
        }
        MsgWaitForMultipleObjects(0, nullptr, FALSE, 20, QS_ALLINPUT);
    }
    return true;
}
