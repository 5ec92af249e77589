#pragma once
#include <windows.h>
#include <oaidl.h>

// What the objects the control hands to its browser (client site, security
// manager, event sink) need of the control. They live inside the control
// and share its reference count.
class BrowserHost {
public:
    // The control's controlling unknown, which counts their references.
    virtual IUnknown* HostUnknown() = 0;
    // The control's window: the browser's parent and the owner of its dialogs.
    virtual HWND HostWindow() = 0;
    // The control's IQNHTMLControl (no reference added): page script's
    // window.external and the ambient properties' dispatch.
    virtual IDispatch* HostDispatch() = 0;
    // Whether the browser shows a program page now (its LocationURL).
    virtual bool ShowsProgramPage() = 0;

protected:
    ~BrowserHost() = default;
};
