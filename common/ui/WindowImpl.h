#pragma once
#include "common/ui/Window.h"

// Base of every window the program implements. One window procedure serves
// all of them: it finds the C++ object (stored when the window is created or
// subclassed) and calls its OnMessage; a plain switch there handles what the
// window needs and hands the rest to DefaultProc.
//
// Nothing thrown inside OnMessage leaves the window procedure: it is reported
// (CallbackError.h) and the message answers 0, except WM_NCCREATE and
// WM_CREATE, whose failure makes CreateWindowEx fail.
//
// The object must outlive its window; a window still open when the object is
// destroyed is destroyed with it. OnFinalMessage runs after WM_NCDESTROY, when
// the object no longer has a window (an object created with new may delete
// itself there).
class WindowImpl : public Window {
public:
    WindowImpl() = default;
    virtual ~WindowImpl();
    WindowImpl(const WindowImpl&) = delete;
    WindowImpl& operator=(const WindowImpl&) = delete;

    // Registers the window class on first use (ClassName, ModifyClass) and
    // creates the window; returns its handle or NULL (GetLastError tells why).
    // A NULL rect takes CW_USEDEFAULT for a top-level window and an empty
    // rectangle for a child. For a child, `menuOrId` is its control id.
    HWND Create(HWND parent, const RECT* rect, const TCHAR* title, DWORD style, DWORD exStyle = 0,
                UINT_PTR menuOrId = 0);

    // Routes an existing window (for example a common control) to this
    // object; DefaultProc then calls the window's previous procedure.
    bool Subclass(HWND window);
    // Gives the window its previous procedure back and forgets it.
    HWND Unsubclass();

    // The object routed from a window, or NULL.
    static WindowImpl* FromHandle(HWND window);
    // The module whose window classes these are: the module holding this code
    // (a DLL registers its classes under its own instance).
    static HINSTANCE ClassModule();

protected:
    virtual LRESULT OnMessage(UINT message, WPARAM wParam, LPARAM lParam);
    LRESULT DefaultProc(UINT message, WPARAM wParam, LPARAM lParam);
    virtual void OnFinalMessage(HWND window) {}

    // The class name this object's windows are registered under.
    virtual const TCHAR* ClassName() const { return TEXT("OrvaneWindow"); }
    // Adjusts the class before it is first registered (style, cursor, brush,
    // icon). The procedure must stay this layer's unless it forwards to
    // WindowImpl::WindowProc.
    virtual void ModifyClass(WNDCLASSEX& windowClass) const {}

    // The procedure every class of this layer is registered with.
    static LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    // Links a window to an object: for class procedures that make their
    // object themselves before forwarding to WindowProc.
    static void Bind(HWND window, WindowImpl* object);

private:
    LRESULT Route(UINT message, WPARAM wParam, LPARAM lParam);
    bool RegisterOnce();

    WNDPROC previousProc_ = nullptr;
};
