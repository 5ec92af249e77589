#pragma once
#include <windows.h>

// The modeless "Restoring..." box shown while a restore runs. No message loop
// runs meanwhile, so it is painted once when it appears.
class ProgressDialog {
public:
    ProgressDialog() = default;
    ~ProgressDialog() { Destroy(); }
    ProgressDialog(const ProgressDialog&) = delete;
    ProgressDialog& operator=(const ProgressDialog&) = delete;

    void Create(HINSTANCE instance, HWND parent);
    void Destroy();

private:
    static INT_PTR CALLBACK DialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

    HWND window_ = nullptr;
};
