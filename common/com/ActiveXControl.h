#pragma once
#include <windows.h>
#include <ocidl.h>
#include <oleidl.h>
#include "common/com/ComModule.h"
#include "common/com/ComPtr.h"
#include "common/com/PropertyNotifyPoint.h"

// The ActiveX control side of an in-process server: the OLE embedding,
// in-place activation, view, persistence and class information interfaces of
// a control that always activates with a window of its own, its stock
// `Enabled` property with the IPropertyNotifySink connection point that
// guards it, and aggregation.
//
// A control derives from this class and from its own dual interface. Every
// IUnknown of the object goes to the controlling unknown (the aggregating
// outer object, or the object's own inner unknown): the derived class
// forwards its IUnknown members to OuterUnknown() and extends
// InternalQueryInterface. Window messages reach OnMessage first.
class ActiveXControl : public IOleObject,
                       public IOleInPlaceObject,
                       public IOleInPlaceActiveObject,
                       public IOleControl,
                       public IViewObjectEx,
                       public IPersistStreamInit,
                       public IProvideClassInfo2,
                       public IConnectionPointContainer {
public:
    ActiveXControl(const ActiveXControl&) = delete;
    ActiveXControl& operator=(const ActiveXControl&) = delete;

    // The controlling unknown, for the IUnknown members of every interface.
    IUnknown* OuterUnknown() const { return outer_; }
    // The object's own, non-delegating IUnknown: what an aggregating outer
    // object holds, and the object's identity when it is not aggregated.
    IUnknown* InnerUnknown() { return &inner_; }

    // Finishes the creation of a new control (reference count 0): answers
    // iid on its inner unknown, deleting the control when that fails.
    static HRESULT Hand(ActiveXControl* control, REFIID iid, void** result) noexcept;

    // The window class is the module's; DllMain drops it when the module is unloaded.
    static void UnregisterWindowClass() noexcept;

    // IOleObject
    STDMETHODIMP SetClientSite(IOleClientSite* site) override;
    STDMETHODIMP GetClientSite(IOleClientSite** site) override;
    STDMETHODIMP SetHostNames(LPCOLESTR app, LPCOLESTR object) override;
    STDMETHODIMP Close(DWORD saveOption) override;
    STDMETHODIMP SetMoniker(DWORD which, IMoniker* moniker) override;
    STDMETHODIMP GetMoniker(DWORD assign, DWORD which, IMoniker** moniker) override;
    STDMETHODIMP InitFromData(IDataObject* data, BOOL creation, DWORD reserved) override;
    STDMETHODIMP GetClipboardData(DWORD reserved, IDataObject** data) override;
    STDMETHODIMP DoVerb(LONG verb, LPMSG message, IOleClientSite* activeSite, LONG index,
                        HWND parent, LPCRECT position) override;
    STDMETHODIMP EnumVerbs(IEnumOLEVERB** verbs) override;
    STDMETHODIMP Update() override;
    STDMETHODIMP IsUpToDate() override;
    STDMETHODIMP GetUserClassID(CLSID* clsid) override;
    STDMETHODIMP GetUserType(DWORD form, LPOLESTR* type) override;
    STDMETHODIMP SetExtent(DWORD aspect, SIZEL* size) override;
    STDMETHODIMP GetExtent(DWORD aspect, SIZEL* size) override;
    STDMETHODIMP Advise(IAdviseSink* sink, DWORD* connection) override;
    STDMETHODIMP Unadvise(DWORD connection) override;
    STDMETHODIMP EnumAdvise(IEnumSTATDATA** advise) override;
    STDMETHODIMP GetMiscStatus(DWORD aspect, DWORD* status) override;
    STDMETHODIMP SetColorScheme(LOGPALETTE* palette) override;

    // IOleWindow (of IOleInPlaceObject and IOleInPlaceActiveObject)
    STDMETHODIMP GetWindow(HWND* window) override;
    STDMETHODIMP ContextSensitiveHelp(BOOL enter) override;
    // IOleInPlaceObject
    STDMETHODIMP InPlaceDeactivate() override;
    STDMETHODIMP UIDeactivate() override;
    STDMETHODIMP SetObjectRects(LPCRECT position, LPCRECT clip) override;
    STDMETHODIMP ReactivateAndUndo() override;
    // IOleInPlaceActiveObject
    STDMETHODIMP TranslateAccelerator(LPMSG message) override;
    STDMETHODIMP OnFrameWindowActivate(BOOL activate) override;
    STDMETHODIMP OnDocWindowActivate(BOOL activate) override;
    STDMETHODIMP ResizeBorder(LPCRECT border, IOleInPlaceUIWindow* window, BOOL frame) override;
    STDMETHODIMP EnableModeless(BOOL enable) override;

    // IOleControl
    STDMETHODIMP GetControlInfo(CONTROLINFO* info) override;
    STDMETHODIMP OnMnemonic(MSG* message) override;
    STDMETHODIMP OnAmbientPropertyChange(DISPID id) override;
    STDMETHODIMP FreezeEvents(BOOL freeze) override;

    // IViewObject, IViewObject2, IViewObjectEx
    STDMETHODIMP Draw(DWORD aspect, LONG index, void* aspectInfo, DVTARGETDEVICE* device,
                      HDC targetDevice, HDC draw, LPCRECTL bounds, LPCRECTL windowBounds,
                      BOOL(STDMETHODCALLTYPE* proceed)(ULONG_PTR), ULONG_PTR argument) override;
    STDMETHODIMP GetColorSet(DWORD aspect, LONG index, void* aspectInfo, DVTARGETDEVICE* device,
                             HDC targetDevice, LOGPALETTE** colors) override;
    STDMETHODIMP Freeze(DWORD aspect, LONG index, void* aspectInfo, DWORD* freeze) override;
    STDMETHODIMP Unfreeze(DWORD freeze) override;
    STDMETHODIMP SetAdvise(DWORD aspects, DWORD flags, IAdviseSink* sink) override;
    STDMETHODIMP GetAdvise(DWORD* aspects, DWORD* flags, IAdviseSink** sink) override;
    STDMETHODIMP GetExtent(DWORD aspect, LONG index, DVTARGETDEVICE* device, LPSIZEL size) override;
    STDMETHODIMP GetRect(DWORD aspect, LPRECTL rect) override;
    STDMETHODIMP GetViewStatus(DWORD* status) override;
    STDMETHODIMP QueryHitPoint(DWORD aspect, LPCRECT bounds, POINT point, LONG closeHint,
                               DWORD* result) override;
    STDMETHODIMP QueryHitRect(DWORD aspect, LPCRECT bounds, LPCRECT rect, LONG closeHint,
                              DWORD* result) override;
    STDMETHODIMP GetNaturalExtent(DWORD aspect, LONG index, DVTARGETDEVICE* device,
                                  HDC targetDevice, DVEXTENTINFO* info, LPSIZEL size) override;

    // IPersist, IPersistStreamInit
    STDMETHODIMP GetClassID(CLSID* clsid) override;
    STDMETHODIMP IsDirty() override;
    STDMETHODIMP Load(LPSTREAM stream) override;
    STDMETHODIMP Save(LPSTREAM stream, BOOL clearDirty) override;
    STDMETHODIMP GetSizeMax(ULARGE_INTEGER* size) override;
    STDMETHODIMP InitNew() override;

    // IProvideClassInfo, IProvideClassInfo2
    STDMETHODIMP GetClassInfo(ITypeInfo** info) override;
    STDMETHODIMP GetGUID(DWORD kind, GUID* guid) override;

    // IConnectionPointContainer
    STDMETHODIMP EnumConnectionPoints(IEnumConnectionPoints** points) override;
    STDMETHODIMP FindConnectionPoint(REFIID iid, IConnectionPoint** point) override;

protected:
    // clsid: the coclass; events: its default source dispinterface.
    ActiveXControl(IUnknown* outer, REFCLSID clsid, REFIID events);
    virtual ~ActiveXControl();

    // The interfaces of the object, asked by the inner unknown; a derived
    // class answers its own and passes the rest on. The answer is AddRef'd.
    virtual HRESULT InternalQueryInterface(REFIID iid, void** result);
    // Runs once when the last reference goes, before the object is deleted,
    // while every part of it still works: closes the window.
    virtual void FinalRelease();

    // A message of the control's window. Return with handled false to let
    // the default handling (activation on focus, painting, reflection) run.
    virtual LRESULT OnMessage(UINT message, WPARAM wParam, LPARAM lParam, bool& handled);
    // Paints the control (in its window, or for a container through Draw).
    virtual void OnDraw(HDC dc, const RECT& bounds);
    // The connection point of the control's default event interface.
    virtual IConnectionPoint* EventPoint() = 0;
    // The in-place object the control hosts, which gets the keys the
    // container hands to the control; null when there is none.
    virtual ComPtr<IOleInPlaceActiveObject> HostedActiveObject();

    HWND Window() const { return window_; }
    IOleClientSite* ClientSite() const { return clientSite_; }
    bool InPlaceActive() const { return inPlaceActive_; }

    // The stock Enabled property. A put asks every IPropertyNotifySink first
    // and keeps the value when one refuses (S_FALSE).
    HRESULT PutEnabled(VARIANT_BOOL enabled);
    HRESULT GetEnabled(VARIANT_BOOL* enabled);
    void SetDirty(bool dirty) { dirty_ = dirty; }
    // Tells the view's advise sink that the picture changed and repaints.
    void ViewChanged();

private:
    class Inner : public IUnknown {
    public:
        explicit Inner(ActiveXControl* owner) : owner_(owner) {}
        STDMETHODIMP QueryInterface(REFIID iid, void** result) override;
        STDMETHODIMP_(ULONG) AddRef() override;
        STDMETHODIMP_(ULONG) Release() override;

    private:
        ActiveXControl* owner_;
        RefCount refs_;
    };

    static LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    LRESULT HandleMessage(UINT message, WPARAM wParam, LPARAM lParam);
    HRESULT InPlaceActivate(LONG verb);
    HRESULT UIActivate();
    bool CreateControlWindow(HWND parent, const RECT& position);

    Inner inner_;
    IUnknown* outer_;
    ModuleLock moduleLock_;
    CLSID clsid_;
    IID events_;
    PropertyNotifyPoint propertyNotify_;

    HWND window_ = nullptr;
    ComPtr<IOleClientSite> clientSite_;
    ComPtr<IOleInPlaceSite> inPlaceSite_;
    ComPtr<IOleInPlaceFrame> frame_;
    ComPtr<IOleInPlaceUIWindow> document_;
    ComPtr<IOleAdviseHolder> adviseHolder_;
    ComPtr<IAdviseSink> viewSink_;
    DWORD viewAspects_ = 0;
    DWORD viewFlags_ = 0;
    SIZEL extent_;
    VARIANT_BOOL enabled_ = VARIANT_TRUE;
    bool dirty_ = false;
    bool inPlaceActive_ = false;
    bool uiActive_ = false;
    LONG frozenEvents_ = 0;
};
