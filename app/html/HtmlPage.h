#pragma once
#include <windows.h>
#include <mshtml.h>
#include <memory>
#include "app/html/PageDocument.h"
#include "common/com/ComPtr.h"
#include "common/tstring/tstring.h"
#include "htmlcontrol/qnControl.h"

// Receives page events: from page script through window.external.OnHTMLEvent
// (document set) and from worker threads through HtmlPage::PostEvent
// (document NULL, element an empty text). Returns 1 when not handled, any
// other value (handlers return 0) when handled.
class HtmlEventHandler {
public:
    virtual int OnHTMLEvent(IDispatch* document, BSTR eventName, BSTR element, VARIANT* param) = 0;

protected:
    ~HtmlEventHandler() = default;
};

// What a page reaches of the control that shows it: the HTML view gives the
// real control, tests a recording script sink.
class PageHost {
public:
    // The control's ExecScript (code, language); the failed HRESULT, if any.
    virtual HRESULT ExecScript(const wchar_t* code, const wchar_t* language) = 0;
    // The current document, or NULL when there is none.
    virtual std::unique_ptr<PageDocument> Document() = 0;
    virtual HWND ControlWindow() = 0;
    // The control's Enabled property.
    virtual void SetControlEnabled(bool enabled) = 0;

protected:
    ~PageHost() = default;
};

// Base of every page object: one per page file, living as long as the main
// view. The view hands it the control when it shows the page.
class HtmlPage : public HtmlEventHandler {
public:
    HtmlPage();
    virtual ~HtmlPage();
    HtmlPage(const HtmlPage&) = delete;
    HtmlPage& operator=(const HtmlPage&) = delete;

    // The base handles nothing.
    int OnHTMLEvent(IDispatch* document, BSTR eventName, BSTR element, VARIANT* param) override { return 1; }
    // The page's file name in the UI cache, e.g. "scanResults.htm".
    virtual const wchar_t* PageName() const = 0;
    // 0: F1 opens the help contents.
    virtual DWORD HelpContextId() const { return 0; }

    // Called by the view on every show: the control (a new reference), its
    // event message and the window posted events go to; the thread is the
    // showing one.
    void AttachControl(IUnknown* control, UINT controlMessage, HWND eventWindow, PageHost* host);

    ComPtr<IUnknown> GetControl() const { return control_; }
    // The control as IQNHTMLControl, or NULL.
    ComPtr<IQNHTMLControl> GetHtmlControl() const;
    // The control's browser document, or NULL.
    ComPtr<IHTMLDocument2> QueryDocument() const;
    // The element of that id as IHTMLElement3, or NULL.
    ComPtr<IHTMLElement3> GetElement(const wchar_t* id) const;

    // Runs script through the control with "JavaScript"; a failure raises HRError.
    void ExecScript(const tstring& code);
    // Runs script through the page window's execScript ("JScript" when no
    // language is given; empty code runs nothing). Raises HRError.
    void RunScript(const tstring& code, const wchar_t* language = nullptr);

    // Sets or removes "DISABLED" on the element (the body for an empty id) and
    // everything below it; true when the last change succeeded.
    bool EnableElement(const wchar_t* id, bool enable);
    void EnablePage(bool enable);
    void EnableControl(bool enable);

    // Posts an event to the UI thread; callable from any thread. False when
    // the page has never been shown or the post failed (nothing is kept then).
    bool PostEvent(const wchar_t* eventName, const VARIANT* param);

    // Whether the view shows this page now. A page that is not shown runs no
    // script: what its workers report still reaches it (PostEvent), but the
    // document on screen belongs to another page.
    bool Shown() const { return shown_; }
    void Hide() { shown_ = false; }
    // After the view has shown the page: a page whose worker ended while it
    // was not shown puts the outcome on screen now.
    virtual void OnShown() {}

    void DisableCloseMenu();
    void EnableCloseMenu();
    bool CloseDisabled() const { return closeDisabled_; }
    UINT ControlMessage() const { return controlMessage_; }
    DWORD UiThreadId() const { return uiThreadId_; }
    HWND EventWindow() const { return eventWindow_; }

private:
    ComPtr<IUnknown> control_;
    PageHost* host_ = nullptr;
    volatile UINT controlMessage_ = 0;
    volatile HWND eventWindow_ = nullptr;
    DWORD uiThreadId_;
    bool closeDisabled_ = false;
    bool shown_ = false;
};

// The dispatch rule: the current page first, the fallback when there is none
// or it leaves the event unhandled. An event without document, name and
// element reaches nobody.
int DispatchHtmlEvent(HtmlEventHandler* page, HtmlEventHandler* fallback, IDispatch* document, BSTR eventName,
                      BSTR element, VARIANT* param);

// Dispatchers compare event names exactly, case and all.
bool IsEvent(BSTR eventName, const wchar_t* name);

// A posted event's parameter with the page whose worker posted it, so that
// the end of the work reaches that page even when another one is shown.
struct PostedParam {
    VARIANT value;
    bool present;
    HtmlEventHandler* target;
};

// Posts an event (name and a copy of param) as `message` to `window`; target,
// when given, is the page object it is for. The receiver owns both
// (ReceivePostedEvent); on a failed post they are freed here.
bool PostHtmlEvent(HWND window, UINT message, const wchar_t* eventName, const VARIANT* param,
                   HtmlEventHandler* target = nullptr);
// Takes a posted event's name and parameter, calls handle (name, param or
// NULL) and frees both on every path.
template <class Handle>
void ReceivePostedEvent(WPARAM wParam, LPARAM lParam, Handle&& handle);
// The page object a posted event is for; NULL when any page may take it.
inline HtmlEventHandler* PostedEventTarget(LPARAM lParam) {
    return lParam ? reinterpret_cast<PostedParam*>(lParam)->target : nullptr;
}

void FreePostedEvent(WPARAM wParam, LPARAM lParam);

template <class Handle>
void ReceivePostedEvent(WPARAM wParam, LPARAM lParam, Handle&& handle) {
    struct Owner {
        WPARAM w;
        LPARAM l;
        ~Owner() { FreePostedEvent(w, l); }
    } owner{wParam, lParam};
    auto* posted = reinterpret_cast<PostedParam*>(lParam);
    handle(reinterpret_cast<BSTR>(wParam), posted && posted->present ? &posted->value : nullptr);
}
