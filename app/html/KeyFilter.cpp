#include "app/html/KeyFilter.h"

bool IsKeyDownNow(int virtualKey) { return (::GetKeyState(virtualKey) & 0x8000) != 0; }

KeyDecision FilterKey(UINT message, WPARAM key, bool (*isDown)(int virtualKey)) {
    KeyDecision decision;
    bool alt = isDown(VK_LMENU) || isDown(VK_RMENU) || isDown(VK_MENU);
    bool ctrl = isDown(VK_LCONTROL) || isDown(VK_RCONTROL) || isDown(VK_CONTROL);
    switch (key) {
    case VK_BACK:
    case VK_F5:
    case VK_F11:
    case VK_BROWSER_BACK:
    case VK_BROWSER_FORWARD:
    case VK_BROWSER_REFRESH:
    case VK_BROWSER_STOP:
    case VK_BROWSER_SEARCH:
    case VK_BROWSER_FAVORITES:
    case VK_BROWSER_HOME:
        decision.holdBack = true;
        break;
    case VK_LEFT:
    case VK_RIGHT:
        decision.holdBack = alt;
        break;
    case 'N':
    case 'P':
    case 'O':
        decision.holdBack = ctrl;
        break;
    case 'C':
        decision.postCopy = ctrl && message == WM_KEYDOWN;
        break;
    default:
        break;
    }
    return decision;
}
