#pragma once
#include <windows.h>
#include <exdisp.h>
#include "htmlcontrol/qnControl.h"
#include "common/com/ActiveXControl.h"
#include "common/com/ConnectionPoint.h"
#include "common/com/DispatchImpl.h"
#include "htmlcontrol/BrowserEvents.h"
#include "htmlcontrol/BrowserHost.h"
#include "htmlcontrol/BrowserSite.h"

// The HTML host control: an ActiveX control whose window holds a WebBrowser
// object. It is that browser's site and security manager, gives program
// pages `window.external` (itself) and turns their OnHTMLEvent calls into
// HTMLEvent events on the thread that made its window.
class CQNHTMLControl : public ActiveXControl,
                       public DispatchImpl<IQNHTMLControl, &IID_IQNHTMLControl>,
                       private BrowserHost,
                       private BrowserEventHandler {
public:
    // The class object's creator; outer may aggregate the control.
    static HRESULT Create(IUnknown* outer, REFIID iid, void** result) noexcept;

    STDMETHODIMP QueryInterface(REFIID iid, void** result) override;
    STDMETHODIMP_(ULONG) AddRef() override;
    STDMETHODIMP_(ULONG) Release() override;

    // IQNHTMLControl
    STDMETHODIMP OnHTMLEvent(IDispatch* document, BSTR eventName, BSTR element, VARIANT* param) override;
    STDMETHODIMP put_Enabled(VARIANT_BOOL enabled) override;
    STDMETHODIMP get_Enabled(VARIANT_BOOL* enabled) override;
    STDMETHODIMP get_HWND(LONG* window) override;
    STDMETHODIMP get_AmbientDlControl(LONG* flags) override;
    STDMETHODIMP get_Parent(IUnknown** parent) override;
    STDMETHODIMP get_Browser(IUnknown** browser) override;
    STDMETHODIMP ExecScript(BSTR code, BSTR language, VARIANT* result) override;
    STDMETHODIMP get_ControlMessage(ULONG* message) override;

    // The browser's client site and event sink, as the browser sees them.
    IOleClientSite* BrowserClientSite() { return &site_; }
    IDispatch* BrowserEvents() { return &events_; }

private:
    explicit CQNHTMLControl(IUnknown* outer);
    ~CQNHTMLControl() override;

    HRESULT InternalQueryInterface(REFIID iid, void** result) override;
    void FinalRelease() override;
    LRESULT OnMessage(UINT message, WPARAM wParam, LPARAM lParam, bool& handled) override;
    IConnectionPoint* EventPoint() override { return &htmlEvents_; }
    ComPtr<IOleInPlaceActiveObject> HostedActiveObject() override;

    // WM_CREATE: the browser, the control message and the event sink; false
    // when the sink cannot be advised (the window is then not made).
    bool CreateBrowser();
    void CloseBrowser();
    HRESULT FireHTMLEvent(IDispatch* document, BSTR eventName, BSTR element, VARIANT* param);
    bool IsBrowser(IDispatch* frame);

    // BrowserHost
    IUnknown* HostUnknown() override { return OuterUnknown(); }
    HWND HostWindow() override { return Window(); }
    IDispatch* HostDispatch() override { return static_cast<IQNHTMLControl*>(this); }
    bool ShowsProgramPage() override;

    // BrowserEventHandler
    void OnBeforeNavigate(IDispatch* frame, const wchar_t* url, VARIANT* target, VARIANT_BOOL* cancel) override;
    void OnNavigateComplete(IDispatch* frame) override;
    void OnDocumentComplete(IDispatch* frame, VARIANT* url) override;
    void OnNewWindow(VARIANT_BOOL* cancel) override;

    ConnectionPoint htmlEvents_;
    BrowserSite site_;
    BrowserEventSink events_;
    DWORD creatingThread_ = 0;
    UINT controlMessage_ = 0;
    DWORD eventsCookie_ = 0;
    bool eventsAdvised_ = false;
    bool lockdownSuspended_ = false;
    ComPtr<IWebBrowser2> browser_;
    ComPtr<IOleInPlaceObject> browserInPlace_;
    ComPtr<IOleObject> browserObject_;
    // The top-level frame's NavigateComplete2 was seen and its
    // DocumentComplete is still to come.
    bool topNavigationPending_ = false;
};
