#pragma once
#include <windows.h>
#include <oleauto.h>
#include <string>
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

// Scans the categories of mask and waits (up to limitMs) for the engine's
// finish event. With pump the wait dispatches messages, which an engine in
// another apartment needs to deliver its events into this one. In
// PageTestSupport.cpp, which needs the engine tests' TestSink.cpp.
bool ScanToFinish(ICrawler* engine, long mask, DWORD limitMs = 60000, bool pump = false);
