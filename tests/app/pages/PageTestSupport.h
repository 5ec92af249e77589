#pragma once
#include <windows.h>
#include <oleauto.h>
#include <string>
#include <vector>
#include "RecordingScriptSink.h"
#include "app/mainview/MainView.h"
#include "engine/engine.h"

// Event parameters as the page script passes them; the receiver clears them.
inline VARIANT Text(const wchar_t* text) {
    VARIANT v;
    v.vt = VT_BSTR;
    v.bstrVal = SysAllocString(text);
    return v;
}

inline VARIANT Number(int value) {
    VARIANT v;
    v.vt = VT_I4;
    v.lVal = value;
    return v;
}

inline VARIANT Bool(bool value) {
    VARIANT v;
    v.vt = VT_BOOL;
    v.boolVal = value ? VARIANT_TRUE : VARIANT_FALSE;
    return v;
}

// Hands the page an event as its script raises it; param is cleared after.
inline int SendEvent(HtmlEventHandler& page, const wchar_t* name, const wchar_t* element, VARIANT param) {
    BSTR n = SysAllocString(name), e = SysAllocString(element);
    int result = page.OnHTMLEvent(nullptr, n, e, &param);
    SysFreeString(n);
    SysFreeString(e);
    VariantClear(&param);
    return result;
}

inline std::wstring ClipboardText() {
    std::wstring text;
    if (!OpenClipboard(nullptr)) return text;
    HANDLE data = GetClipboardData(CF_UNICODETEXT);
    if (const wchar_t* p = data ? static_cast<const wchar_t*>(GlobalLock(data)) : nullptr) {
        text = p;
        GlobalUnlock(data);
    }
    CloseClipboard();
    return text;
}

// A message-only window standing in for the view's: the pages post their
// events to it and its procedure hands them back.
inline HWND EventWindow(const wchar_t* className, WNDPROC procedure) {
    WNDCLASSW wc = {};
    wc.lpfnWndProc = procedure;
    wc.lpszClassName = className;
    RegisterClassW(&wc);
    return CreateWindowExW(0, wc.lpszClassName, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, nullptr, nullptr);
}

// The view with its HTML view replaced by the recording sink and a list of
// the pages it shows.
class ListingView : public MainView {
public:
    RecordingScriptSink sink;
    std::vector<std::wstring> shown;

protected:
    bool DisplayPage(HtmlPage* page, const wchar_t* query) override {
        page->AttachControl(nullptr, 0, nullptr, &sink);
        shown.push_back(std::wstring(page->PageName()) + L"#" + query);
        return true;
    }
};

// Scans the categories of mask and waits (up to limitMs) for the engine's
// finish event. With pump the wait dispatches messages, which an engine in
// another apartment needs to deliver its events into this one. In
// PageTestSupport.cpp, which needs the engine tests' TestSink.cpp.
bool ScanToFinish(ICrawler* engine, long mask, DWORD limitMs = 60000, bool pump = false);
