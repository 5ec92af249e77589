#pragma once
#include <windows.h>
#include <shellapi.h>

// One icon in the notification area. The user sets properties; the object
// collects the changes and sends the add, modify or delete request the
// current state needs.
class TrayIcon {
public:
    TrayIcon();
    virtual ~TrayIcon();
    TrayIcon(const TrayIcon&) = delete;
    TrayIcon& operator=(const TrayIcon&) = delete;

    bool Add();
    bool Delete();
    bool Modify();
    void Update();
    void SetVisible(bool live);
    void SetWindow(HWND window);
    void SetId(UINT id);
    void SetCallbackMessage(UINT message);
    // -1 counts as none. An owned icon is destroyed when replaced or at the end.
    void SetIcon(HICON icon, bool owned);
    bool LoadIcon(HINSTANCE module, const wchar_t* nameOrId);
    void SetTip(const wchar_t* text);
    // After a shell restart the new shell knows nothing of the icon: it is
    // added anew with every property pending.
    void Readd();

    HWND Window() const { return data_.hWnd; }
    UINT Id() const { return data_.uID; }
    UINT CallbackMessage() const { return data_.uCallbackMessage; }
    HICON Icon() const { return data_.hIcon; }
    const wchar_t* Tip() const { return data_.szTip; }
    bool Live() const { return live_; }
    bool Added() const { return added_; }
    bool Valid() const { return data_.hWnd != nullptr && data_.uID != kNoId; }
    bool Showable() const { return Valid() && data_.hIcon != nullptr; }
    bool PendingChanges() const { return data_.uFlags != 0; }

    static const UINT kNoId = static_cast<UINT>(-1);

protected:
    // The one call into the shell, virtual so that tests can watch it.
    virtual BOOL Notify(DWORD message, NOTIFYICONDATAW* data);

private:
    void Reset();
    void DestroyOwnedIcon();

    NOTIFYICONDATAW data_;
    bool ownsIcon_ = true;
    bool live_ = true;
    bool added_ = false;
};
