#pragma once
#include <windows.h>
#include <commctrl.h>
#include <map>
#include <vector>
#include "common/tstring/tstring.h"
#include "common/ui/MessageLoop.h"
#include "common/ui/WindowImpl.h"

// A menu bar drawn as a flat toolbar (so that it can live in a rebar band):
// one button per top-level item of a menu, each opening its popup under the
// button. It behaves as the system's menu bar does: Alt or F10 alone puts it
// in keyboard mode, Alt+letter or the letter in keyboard mode opens the popup
// with that access key, Left and Right move between popups while one is open
// (and the mouse does so by moving over another button), and access keys are
// underlined only once the keyboard is used, unless the system shows them
// always. Commands with an image in a toolbar's strip show it in the popups,
// greyed when the command is greyed.
//
// The popups' owner is the bar: commands go to the owner window as WM_COMMAND
// with lParam 0, and WM_INITMENUPOPUP and WM_MENUSELECT are passed on to it.
// The owner offers the bar every message first (PreTranslateMessage) and
// translates its accelerators through TranslateAccelerators below.
class CommandBar : public WindowImpl, public MessageFilter {
public:
    CommandBar() = default;
    ~CommandBar() override;

    // Makes the bar as a child of `parent` for the top-level items of `menu`
    // (which stays the caller's); NULL on failure.
    HWND CreateBar(HWND parent, HWND owner, HMENU menu);
    // Shows each command of the menu that is also a button of `toolbar` with
    // that button's image. Call once the menu holds all its items.
    void TakeImages(HWND toolbar);
    // Shows `command` with image `image` of that toolbar's strip.
    void SetCommandImage(UINT command, int image);
    // Like the system's TranslateAccelerator for a window with this menu: a
    // key whose command is greyed in the menu is eaten and sends nothing.
    bool TranslateAccelerators(HWND target, HACCEL table, MSG& message) const;

    bool PreTranslateMessage(MSG& message) override;

    // Opens popup `index` (keyboard: with its first item selected) and runs
    // the menu until it closes; returns at once when a popup is already open.
    void OpenPopup(int index, bool keyboard);
    // The button shown hot in keyboard mode, or -1 outside keyboard mode.
    int KeyboardItem() const { return keyboard_; }
    bool ShowsAccessKeys() const { return cuesShown_; }
    // Ends keyboard mode (when the owner is deactivated, for one).
    void LeaveKeyboardMode();

protected:
    LRESULT OnMessage(UINT message, WPARAM wParam, LPARAM lParam) override;

private:
    bool OnSystemKey(const MSG& message, bool down);
    bool OnKeyboardModeKey(WPARAM key);
    bool OpenByAccessKey(TCHAR key);
    static LRESULT CALLBACK MenuHook(int code, WPARAM wParam, LPARAM lParam);
    bool OnMenuInput(const MSG& message);
    UINT TrackPopup(int index, bool keyboard);
    void SwitchTo(int index, bool keyboard);
    void EnterKeyboardMode(int index);
    LRESULT OnKeyboardModeMouse(UINT message, WPARAM wParam, LPARAM lParam);
    void ShowAccessKeys(bool show);
    int FindAccessKey(TCHAR key) const;
    int Count() const { return static_cast<int>(titles_.size()); }
    int Wrap(int index) const { return (index + Count()) % Count(); }
    bool IsGreyed(UINT command) const;
    void MarkImages(HMENU menu);
    void DrawImage(const DRAWITEMSTRUCT& item) const;

    HWND owner_ = nullptr;
    HMENU menu_ = nullptr;
    std::vector<tstring> titles_;
    std::vector<TCHAR> keys_;
    HIMAGELIST images_ = nullptr;
    std::map<UINT, int> imageOf_;

    bool altAlone_ = false;
    bool cuesShown_ = true;
    int keyboard_ = -1;

    // While a popup is open: which, where the menu's selection is, and what
    // the user asked for next.
    int open_ = -1;
    HMENU openMenu_ = nullptr;
    HMENU selectedMenu_ = nullptr;
    bool selectedIsPopup_ = false;
    int next_ = -1;
    bool nextByKeyboard_ = false;
    bool escaped_ = false;
    // Where the pointer was when last seen by the open popup's hook or by the
    // bar in keyboard mode, or when keyboard mode began.
    POINT pointer_{};
    HHOOK hook_ = nullptr;
};
