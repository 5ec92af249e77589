#include "app/frame/TrayIcon.h"
#include <cwchar>

TrayIcon::TrayIcon() { Reset(); }

TrayIcon::~TrayIcon() {
    if (added_ && data_.uID != 0) Delete();
    DestroyOwnedIcon();
    Reset();
}

void TrayIcon::Reset() {
    ZeroMemory(&data_, sizeof(data_));
    // The layout with the balloon fields but without the GUID: its size on
    // x64 is 952 bytes (936 is the same layout's 32-bit size).
    data_.cbSize = NOTIFYICONDATAW_V2_SIZE;
    data_.uID = kNoId;
    ownsIcon_ = true;
    live_ = true;
    added_ = false;
}

void TrayIcon::DestroyOwnedIcon() {
    if (ownsIcon_ && data_.hIcon) ::DestroyIcon(data_.hIcon);
    data_.hIcon = nullptr;
}

BOOL TrayIcon::Notify(DWORD message, NOTIFYICONDATAW* data) { return ::Shell_NotifyIconW(message, data); }

bool TrayIcon::Add() {
    if (added_ || !Showable() || !(data_.uFlags & NIF_ICON)) return false;
    if (!Notify(NIM_ADD, &data_)) return false;
    added_ = true;
    data_.uFlags = 0;
    return true;
}

bool TrayIcon::Delete() {
    if (!added_ || !Valid()) return false;
    if (!Notify(NIM_DELETE, &data_)) return false;
    added_ = false;
    return true;
}

bool TrayIcon::Modify() {
    if (!added_ || !Valid() || data_.uFlags == 0) return false;
    if (!Notify(NIM_MODIFY, &data_)) return false;
    data_.uFlags = 0;
    return true;
}

void TrayIcon::Update() {
    if (!added_) {
        Add();
    } else if (!Showable()) {
        Delete();
    } else if (data_.uFlags != 0) {
        Modify();
    }
}

void TrayIcon::SetVisible(bool live) {
    live_ = live;
    if (live_) Update();
}

void TrayIcon::SetWindow(HWND window) {
    if (window == data_.hWnd) return;
    if (added_) Delete();
    data_.hWnd = window;
    if (window) Update();
}

void TrayIcon::SetId(UINT id) {
    if (id == data_.uID) return;
    if (added_) Delete();
    data_.uID = id;
    if (id != 0 && live_) Update();
}

void TrayIcon::SetCallbackMessage(UINT message) {
    if (message == data_.uCallbackMessage) return;
    data_.uCallbackMessage = message;
    data_.uFlags |= NIF_MESSAGE;
    if (live_) Update();
}

void TrayIcon::SetIcon(HICON icon, bool owned) {
    if (icon == reinterpret_cast<HICON>(-1)) icon = nullptr;
    if (icon == data_.hIcon) return;
    DestroyOwnedIcon();
    data_.hIcon = icon;
    ownsIcon_ = owned;
    data_.uFlags |= NIF_ICON;
    if (live_) Update();
}

bool TrayIcon::LoadIcon(HINSTANCE module, const wchar_t* nameOrId) {
    HICON icon = ::LoadIconW(module, nameOrId);
    if (!icon) return false;
    SetIcon(icon, true);
    return true;
}

void TrayIcon::SetTip(const wchar_t* text) {
    const size_t room = sizeof(data_.szTip) / sizeof(data_.szTip[0]);
    wcsncpy(data_.szTip, text ? text : L"", room - 1);
    data_.szTip[room - 1] = 0;
    data_.uFlags |= NIF_TIP;
    if (!live_) return;
    if (!added_) {
        Add();
    } else if (Showable()) {
        Modify();
    } else {
        Delete();
    }
}

void TrayIcon::Readd() {
    // The old shell's icon is gone with it, so a delete would fail and leave
    // the object thinking the icon is still there.
    added_ = false;
    data_.uFlags |= NIF_MESSAGE | NIF_ICON | NIF_TIP;
    if (live_) Add();
}
