#pragma once
#include <exdisp.h>
#include "app/html/HtmlPage.h"
#include "common/ui/AxHostWindow.h"
#include "common/ui/MessageLoop.h"
#include "htmlcontrol/qnControl.h"

class HtmlEventSink;

// Receives the events worker threads post (HtmlPage::PostEvent) on the UI
// thread. A message-only window rather than a thread message: a modal loop
// (a message box, a dialog) dispatches window messages but drops thread
// messages that no filter of its own takes.
class PostedEventWindow : public WindowImpl {
public:
    using Receiver = void (*)(void* context, BSTR eventName, VARIANT* param);
    // Also told the page object the event is for (NULL: any).
    using TargetedReceiver = void (*)(void* context, HtmlEventHandler* target, BSTR eventName, VARIANT* param);
    PostedEventWindow(Receiver receiver, void* context) : receiver_(receiver), context_(context) {}
    PostedEventWindow(TargetedReceiver receiver, void* context) : targeted_(receiver), context_(context) {}
    bool Create();
    // The message the events come as (the control's registered message).
    void SetEventMessage(UINT message) { eventMessage_ = message; }
    UINT EventMessage() const { return eventMessage_; }

protected:
    const TCHAR* ClassName() const override { return TEXT("OrvanePostedEvents"); }
    LRESULT OnMessage(UINT message, WPARAM wParam, LPARAM lParam) override;

private:
    Receiver receiver_ = nullptr;
    TargetedReceiver targeted_ = nullptr;
    void* context_;
    UINT eventMessage_ = 0;
};

// The child window of the main view that hosts the HTML host control: it
// shows page objects' files from the UI cache, hands the control's events to
// the current page and then to the main view, and keeps the browser from
// acting as a browser (see KeyFilter.h).
class HtmlView : public AxHostWindow, public PageHost, private MessageFilter {
public:
    explicit HtmlView(HtmlEventHandler* fallback);
    ~HtmlView() override;

    // False without a control or browser, or when the navigation could not
    // start. Holds the operation lock for the navigation when it is free.
    bool ShowPage(HtmlPage* page, const wchar_t* query);
    HtmlPage* CurrentPage() const { return current_; }
    IQNHTMLControl* Control() const { return control_; }
    ComPtr<IWebBrowser2> Browser() const;
    // The control's event message, read on first need.
    UINT ControlMessage();
    HWND EventWindow() const { return events_.Handle(); }

    // The current page, then the fallback (DispatchHtmlEvent).
    int Dispatch(IDispatch* document, BSTR eventName, BSTR element, VARIANT* param);

    // PageHost
    HRESULT ExecScript(const wchar_t* code, const wchar_t* language) override;
    std::unique_ptr<PageDocument> Document() override;
    HWND ControlWindow() override;
    void SetControlEnabled(bool enabled) override;

    // "<folder>\<page>" with the query after '#' (or '&' when the address
    // already holds '#'); the separator is not doubled.
    static tstring BuildAddress(const tstring& folder, const wchar_t* pageName, const wchar_t* query);
    // LoadLibraryW and DllRegisterServer; 0 when either is missing.
    static HRESULT RegisterServer(const wchar_t* dllName);
    // Waits up to 5 s for the browser to finish loading, pumping messages.
    static void WaitForDocument(IWebBrowser2* browser);

protected:
    LRESULT OnMessage(UINT message, WPARAM wParam, LPARAM lParam) override;

private:
    bool PreTranslateMessage(MSG& message) override;
    void CreateHostedControl();
    void ReleaseHostedControl();
    bool IsOwnWindow(HWND window) const;
    static void ReceivePosted(void* context, HtmlEventHandler* target, BSTR eventName, VARIANT* param);

    HtmlEventHandler* fallback_;
    HtmlPage* current_ = nullptr;
    ComPtr<IQNHTMLControl> control_;
    HtmlEventSink* sink_;
    EventConnection connection_;
    PostedEventWindow events_;
    UINT controlMessage_ = 0;
    bool filterRegistered_ = false;
};
