#pragma once
#include "common/ui/Window.h"

// Base of every dialog the program implements: one dialog procedure finds the
// C++ object and calls OnInitDialog, OnCommand, OnNotify or OnMessage.
//
// Nothing thrown in those leaves the dialog procedure: it is reported
// (CallbackError.h) and the message counts as handled; a dialog whose
// OnInitDialog throws ends at once with -1.
class Dialog : public Window {
public:
    Dialog() = default;
    virtual ~Dialog();
    Dialog(const Dialog&) = delete;
    Dialog& operator=(const Dialog&) = delete;

    // Runs the dialog of template `templateId` in `module` (the resource
    // module of tstring.h when NULL) modally; returns what End was given, or
    // -1 when the dialog could not be created.
    INT_PTR DoModal(HWND parent, UINT templateId, HINSTANCE module = nullptr);
    // The same from a template in memory.
    INT_PTR DoModal(HWND parent, const DLGTEMPLATE* dialogTemplate, HINSTANCE module = nullptr);

    // Creates the dialog modeless; the caller's message loop should offer its
    // messages to IsDialogMessage (a MessageFilter can do that).
    HWND Create(HWND parent, UINT templateId, HINSTANCE module = nullptr);

    // Ends a modal dialog with `result`, or destroys a modeless one.
    void End(INT_PTR result);
    bool IsModal() const { return modal_; }
    // Keyboard navigation for a modeless dialog; true when the message was used.
    bool IsDialogMessage(MSG& message);

    // The object routed from a dialog window, or NULL.
    static Dialog* FromHandle(HWND window);

protected:
    // Return true to let the system give the focus to the first tab stop,
    // false when the dialog set the focus itself.
    virtual bool OnInitDialog() { return true; }
    // Return true when handled. The default ends the dialog on IDOK and
    // IDCANCEL with that id.
    virtual bool OnCommand(WORD id, WORD code, HWND control);
    // The notification's result (DWLP_MSGRESULT); set handled false to leave
    // it to the system.
    virtual LRESULT OnNotify(int id, NMHDR* header, bool& handled) {
        handled = false;
        return 0;
    }
    // Every other message: return true when handled, the result in `result`
    // (for the messages whose answer is the procedure's return value, see
    // DialogProc's documentation).
    virtual bool OnMessage(UINT message, WPARAM wParam, LPARAM lParam, INT_PTR& result) { return false; }
    virtual void OnFinalMessage(HWND window) {}

private:
    static INT_PTR CALLBACK DialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    INT_PTR Route(UINT message, WPARAM wParam, LPARAM lParam);

    bool modal_ = false;
};
