#include "diskexplorer/PaneDialog.h"

PaneDialog::~PaneDialog() {
    if (brush_)
        DeleteObject(brush_);
}

bool PaneDialog::OnMessage(UINT message, WPARAM wParam, LPARAM lParam, INT_PTR& result) {
    switch (message) {
    case WM_CTLCOLORSTATIC:
    case WM_CTLCOLORBTN:
    case WM_CTLCOLORDLG:
        if (!brush_)
            brush_ = CreateSolidBrush(RGB(240, 241, 245));
        SetBkMode(reinterpret_cast<HDC>(wParam), TRANSPARENT);
        result = reinterpret_cast<INT_PTR>(brush_);
        return true;
    default:
        return false;
    }
}
