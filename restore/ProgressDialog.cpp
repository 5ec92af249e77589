#include "restore/ProgressDialog.h"
#include "restore/resource.h"

void ProgressDialog::Create(HINSTANCE instance, HWND parent) {
    Destroy();
    window_ = CreateDialogParamA(instance, MAKEINTRESOURCEA(IDD_PROGRESS), parent, DialogProc, 0);
    if (!window_)
        return;  // the restore runs as well without it
    ShowWindow(window_, SW_SHOW);
    RedrawWindow(window_, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_UPDATENOW | RDW_ALLCHILDREN);
}

void ProgressDialog::Destroy() {
    if (window_) {
        DestroyWindow(window_);
        window_ = nullptr;
    }
}

INT_PTR CALLBACK ProgressDialog::DialogProc(HWND, UINT message, WPARAM, LPARAM) {
    return message == WM_INITDIALOG ? TRUE : FALSE;
}
