#pragma once
#include <ole2.h>
#include <oleidl.h>
#include <ocidl.h>
#include "common/com/ComPtr.h"
#include "common/ui/WindowImpl.h"

class AxSite;

// A window that hosts one ActiveX control in place: it is the control's
// client site, in-place site and frame, sizes the control with the window and
// closes it when the window goes.
//
// The window class is "AtlAxWin71". A window of that class created without a
// C++ object (plain CreateWindowEx) gets one of its own, freed with the
// window, and creates the control named by its window text (a ProgID or a
// CLSID in braces) on WM_CREATE. Derived classes create their control in
// their own WM_CREATE through CreateControl.
class AxHostWindow : public WindowImpl {
public:
    AxHostWindow();
    ~AxHostWindow() override;

    // Registers the class so that plain CreateWindowEx calls can use it.
    static bool RegisterClass();

    // Creates the control (in-process server) from a ProgID or "{clsid}" text,
    // activates it in place inside this window and returns the HRESULT.
    HRESULT CreateControl(const TCHAR* progIdOrClsid);
    // Deactivates and closes the control and drops every reference to it.
    void DestroyControl();
    bool HasControl() const { return static_cast<bool>(control_); }
    HRESULT QueryControl(REFIID iid, void** result) const;
    template <class Q>
    HRESULT QueryControl(REFIID iid, ComPtr<Q>& result) const {
        return QueryControl(iid, result.ReceiveVoid());
    }

    // Offers a keyboard message to the control's in-place active object;
    // true when the control used it (S_OK).
    bool TranslateAccelerator(MSG& message);

protected:
    const TCHAR* ClassName() const override { return TEXT("AtlAxWin71"); }
    void ModifyClass(WNDCLASSEX& windowClass) const override;
    LRESULT OnMessage(UINT message, WPARAM wParam, LPARAM lParam) override;
    void OnFinalMessage(HWND window) override;

private:
    friend class AxSite;
    static LRESULT CALLBACK ClassProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    void ResizeControl();

    AxSite* site_;
    ComPtr<IOleObject> control_;
    ComPtr<IOleInPlaceObject> inPlace_;
    ComPtr<IOleInPlaceActiveObject> activeObject_;
    bool ownedByWindow_ = false;
};

// One connection of a sink to a source's connection point; disconnects when
// it goes.
class EventConnection {
public:
    EventConnection() = default;
    ~EventConnection() { Disconnect(); }
    EventConnection(const EventConnection&) = delete;
    EventConnection& operator=(const EventConnection&) = delete;

    HRESULT Connect(IUnknown* source, REFIID events, IUnknown* sink);
    void Disconnect();
    bool IsConnected() const { return cookie_ != 0; }

private:
    ComPtr<IConnectionPoint> point_;
    DWORD cookie_ = 0;
};
