#pragma once
#include <windows.h>

// Which keyboard messages the browser never sees, so that it behaves as an
// application screen: no back (Backspace, Alt+Left), no refresh (F5), no
// full screen (F11), no new window, print or open (Ctrl+N, P, O), no
// browser keys.
struct KeyDecision {
    // Not offered to the control: translated and dispatched normally.
    bool holdBack = false;
    // Ctrl+C: also post "CONTROL_C" to the current page.
    bool postCopy = false;
};

// isDown answers whether a virtual key is down now.
KeyDecision FilterKey(UINT message, WPARAM key, bool (*isDown)(int virtualKey));

// GetKeyState's answer.
bool IsKeyDownNow(int virtualKey);
