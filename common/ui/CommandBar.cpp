#include "common/ui/CommandBar.h"

namespace {

// The bar whose popup is open on this thread: the menu hook has no other way
// to find it.
thread_local CommandBar* tracking = nullptr;

const int kFirstButton = 1;

TCHAR Upper(TCHAR c) { return static_cast<TCHAR>(reinterpret_cast<UINT_PTR>(CharUpper(reinterpret_cast<LPTSTR>(c)))); }

// The character after the first single '&' ("&&" is a literal ampersand).
TCHAR AccessKeyOf(const tstring& text) {
    for (size_t i = 0; i + 1 < text.size(); ++i) {
        if (text[i] != TEXT('&'))
            continue;
        if (text[i + 1] != TEXT('&'))
            return Upper(text[i + 1]);
        ++i;
    }
    return 0;
}

bool SystemShowsAccessKeys() {
    BOOL always = FALSE;
    return SystemParametersInfo(SPI_GETKEYBOARDCUES, 0, &always, 0) && always;
}

}  // namespace

CommandBar::~CommandBar() {
    if (hook_)
        UnhookWindowsHookEx(hook_);
    if (tracking == this)
        tracking = nullptr;
}

HWND CommandBar::CreateBar(HWND parent, HWND owner, HMENU menu) {
    HWND bar = CreateWindowEx(0, TOOLBARCLASSNAME, TEXT(""),
                              WS_CHILD | WS_VISIBLE | WS_CLIPSIBLINGS | TBSTYLE_FLAT | TBSTYLE_LIST | CCS_NODIVIDER |
                                  CCS_NORESIZE | CCS_NOPARENTALIGN,
                              0, 0, 0, 0, parent, nullptr, ClassModule(), nullptr);
    if (!bar || !Subclass(bar)) {
        if (bar)
            DestroyWindow(bar);
        return nullptr;
    }
    owner_ = owner;
    menu_ = menu;
    Send(TB_BUTTONSTRUCTSIZE, sizeof(TBBUTTON));
    Send(TB_SETEXTENDEDSTYLE, 0, TBSTYLE_EX_MIXEDBUTTONS);
    int count = GetMenuItemCount(menu);
    for (int i = 0; i < count; ++i) {
        TCHAR text[128] = TEXT("");
        GetMenuString(menu, i, text, 128, MF_BYPOSITION);
        titles_.push_back(text);
        keys_.push_back(AccessKeyOf(text));
    }
    for (int i = 0; i < count; ++i) {
        bool greyed = (GetMenuState(menu, i, MF_BYPOSITION) & (MF_GRAYED | MF_DISABLED)) != 0;
        TBBUTTON button{I_IMAGENONE, kFirstButton + i, static_cast<BYTE>(greyed ? 0 : TBSTATE_ENABLED),
                        BTNS_BUTTON | BTNS_AUTOSIZE | BTNS_SHOWTEXT, {}, 0,
                        reinterpret_cast<INT_PTR>(titles_[i].c_str())};
        Send(TB_ADDBUTTONS, 1, reinterpret_cast<LPARAM>(&button));
    }
    ShowAccessKeys(SystemShowsAccessKeys());
    return bar;
}

// ---- images ------------------------------------------------------------------

void CommandBar::TakeImages(HWND toolbar) {
    images_ = reinterpret_cast<HIMAGELIST>(::SendMessage(toolbar, TB_GETIMAGELIST, 0, 0));
    int count = static_cast<int>(::SendMessage(toolbar, TB_BUTTONCOUNT, 0, 0));
    for (int i = 0; i < count; ++i) {
        TBBUTTON button{};
        if (::SendMessage(toolbar, TB_GETBUTTON, i, reinterpret_cast<LPARAM>(&button)) && !(button.fsStyle & BTNS_SEP) &&
            button.iBitmap >= 0)
            imageOf_[button.idCommand] = button.iBitmap;
    }
    MarkImages(menu_);
}

void CommandBar::SetCommandImage(UINT command, int image) {
    imageOf_[command] = image;
    MarkImages(menu_);
}

// The system draws the items' texts, checks and grey; the bar draws only the
// images, through WM_MEASUREITEM and WM_DRAWITEM sent to the popups' owner.
void CommandBar::MarkImages(HMENU menu) {
    for (int i = 0; i < GetMenuItemCount(menu); ++i) {
        MENUITEMINFO item{sizeof item, MIIM_ID | MIIM_SUBMENU};
        if (!GetMenuItemInfo(menu, i, TRUE, &item))
            continue;
        if (item.hSubMenu) {
            MarkImages(item.hSubMenu);
        } else if (images_ && imageOf_.count(item.wID)) {
            MENUITEMINFO bitmap{sizeof bitmap, MIIM_BITMAP};
            bitmap.hbmpItem = HBMMENU_CALLBACK;
            SetMenuItemInfo(menu, i, TRUE, &bitmap);
        }
    }
}

void CommandBar::DrawImage(const DRAWITEMSTRUCT& item) const {
    auto image = imageOf_.find(item.itemID);
    int cx = 0, cy = 0;
    if (image == imageOf_.end() || !ImageList_GetIconSize(images_, &cx, &cy))
        return;
    int x = item.rcItem.left + (item.rcItem.right - item.rcItem.left - cx) / 2;
    int y = item.rcItem.top + (item.rcItem.bottom - item.rcItem.top - cy) / 2;
    if (item.itemState & (ODS_GRAYED | ODS_DISABLED)) {
        HICON icon = ImageList_GetIcon(images_, image->second, ILD_NORMAL);
        DrawState(item.hDC, nullptr, nullptr, reinterpret_cast<LPARAM>(icon), 0, x, y, cx, cy, DST_ICON | DSS_DISABLED);
        DestroyIcon(icon);
    } else {
        ImageList_Draw(images_, image->second, item.hDC, x, y, ILD_TRANSPARENT);
    }
    if (item.itemState & ODS_CHECKED) {
        RECT frame{x - 1, y - 1, x + cx + 1, y + cy + 1};
        DrawEdge(item.hDC, &frame, BDR_SUNKENOUTER, BF_RECT);
    }
}

// ---- keys ----------------------------------------------------------------------

bool CommandBar::IsGreyed(UINT command) const {
    UINT state = GetMenuState(menu_, command, MF_BYCOMMAND);
    return state != static_cast<UINT>(-1) && (state & (MF_GRAYED | MF_DISABLED)) != 0;
}

bool CommandBar::TranslateAccelerators(HWND target, HACCEL table, MSG& message) const {
    if (!table)
        return false;
    if (message.message == WM_KEYDOWN || message.message == WM_SYSKEYDOWN) {
        BYTE modifiers = static_cast<BYTE>((GetKeyState(VK_CONTROL) < 0 ? FCONTROL : 0) |
                                           (GetKeyState(VK_SHIFT) < 0 ? FSHIFT : 0) |
                                           ((GetKeyState(VK_MENU) < 0 || (message.lParam & (1 << 29))) ? FALT : 0));
        std::vector<ACCEL> entries(CopyAcceleratorTable(table, nullptr, 0));
        CopyAcceleratorTable(table, entries.data(), static_cast<int>(entries.size()));
        for (const ACCEL& entry : entries)
            if ((entry.fVirt & FVIRTKEY) && entry.key == message.wParam &&
                (entry.fVirt & (FCONTROL | FSHIFT | FALT)) == modifiers && IsGreyed(entry.cmd))
                return true;
    }
    return ::TranslateAccelerator(target, table, &message) != 0;
}

int CommandBar::FindAccessKey(TCHAR key) const {
    key = Upper(key);
    for (int i = 0; i < Count(); ++i)
        if (key && keys_[i] == key && Send(TB_ISBUTTONENABLED, kFirstButton + i))
            return i;
    return -1;
}

void CommandBar::ShowAccessKeys(bool show) {
    show = show || SystemShowsAccessKeys();
    if (show == cuesShown_ && IsWindow())
        return;
    cuesShown_ = show;
    // The toolbar draws by its text flags in some versions and by its window's
    // keyboard-cue state in others: both are set.
    Send(TB_SETDRAWTEXTFLAGS, DT_HIDEPREFIX, show ? 0 : DT_HIDEPREFIX);
    Send(WM_UPDATEUISTATE, MAKEWPARAM(show ? UIS_CLEAR : UIS_SET, UISF_HIDEACCEL));
    Invalidate();
}

void CommandBar::EnterKeyboardMode(int index) {
    keyboard_ = index;
    GetCursorPos(&pointer_);
    Send(TB_SETHOTITEM, index);
    ShowAccessKeys(true);
}

void CommandBar::LeaveKeyboardMode() {
    keyboard_ = -1;
    altAlone_ = false;
    Send(TB_SETHOTITEM, static_cast<WPARAM>(-1));
    ShowAccessKeys(false);
}

bool CommandBar::PreTranslateMessage(MSG& message) {
    if (!IsWindow() || open_ >= 0 || Count() == 0 || (message.hwnd != owner_ && !IsChild(owner_, message.hwnd)))
        return false;
    switch (message.message) {
    case WM_SYSKEYDOWN:
        return OnSystemKey(message, true);
    case WM_SYSKEYUP:
        return OnSystemKey(message, false);
    case WM_SYSCHAR:
        return OpenByAccessKey(static_cast<TCHAR>(message.wParam));
    case WM_KEYDOWN:
        altAlone_ = false;
        return keyboard_ >= 0 && OnKeyboardModeKey(message.wParam);
    case WM_CHAR:
        if (keyboard_ < 0)
            return false;
        if (OpenByAccessKey(static_cast<TCHAR>(message.wParam)))
            return true;
        LeaveKeyboardMode();  // and the character goes where it would have gone
        return false;
    case WM_LBUTTONDOWN:
    case WM_RBUTTONDOWN:
    case WM_MBUTTONDOWN:
    case WM_NCLBUTTONDOWN:
    case WM_NCRBUTTONDOWN:
        // Alt held across a click is not Alt alone.
        altAlone_ = false;
        if (keyboard_ >= 0)
            LeaveKeyboardMode();
        return false;
    default:
        return false;
    }
}

// Alt or F10 pressed and released alone switches keyboard mode; Alt with
// another key is that key's (an accelerator, say).
bool CommandBar::OnSystemKey(const MSG& message, bool down) {
    bool f10 = message.wParam == VK_F10 && GetKeyState(VK_SHIFT) >= 0;
    if (message.wParam == VK_MENU) {
        if (down && !(message.lParam & (1 << 30))) {
            altAlone_ = true;
            ShowAccessKeys(true);
        } else if (!down && altAlone_) {
            keyboard_ >= 0 ? LeaveKeyboardMode() : EnterKeyboardMode(0);
            return true;
        } else if (!down && keyboard_ < 0) {
            ShowAccessKeys(false);
        }
        return false;
    }
    if (!down)
        return f10;  // the system would open the window menu on the release of F10
    altAlone_ = false;
    if (f10) {
        keyboard_ >= 0 ? LeaveKeyboardMode() : EnterKeyboardMode(0);
        return true;
    }
    if (keyboard_ >= 0)
        LeaveKeyboardMode();
    return false;
}

bool CommandBar::OnKeyboardModeKey(WPARAM key) {
    switch (key) {
    case VK_LEFT: EnterKeyboardMode(Wrap(keyboard_ - 1)); return true;
    case VK_RIGHT: EnterKeyboardMode(Wrap(keyboard_ + 1)); return true;
    case VK_UP:
    case VK_DOWN:
    case VK_RETURN: OpenPopup(keyboard_, true); return true;
    case VK_ESCAPE: LeaveKeyboardMode(); return true;
    case VK_SHIFT:
    case VK_CONTROL: return false;  // perhaps the start of an access key
    default:
        // An access key comes back as WM_CHAR; any other key ends keyboard
        // mode and does its usual work (Tab moves the focus, say).
        if (FindAccessKey(static_cast<TCHAR>(MapVirtualKey(static_cast<UINT>(key), MAPVK_VK_TO_CHAR))) < 0)
            LeaveKeyboardMode();
        return false;
    }
}

bool CommandBar::OpenByAccessKey(TCHAR key) {
    int index = FindAccessKey(key);
    if (index >= 0)
        OpenPopup(index, true);
    return index >= 0;
}

// ---- popups ----------------------------------------------------------------------

void CommandBar::OpenPopup(int index, bool keyboard) {
    if (open_ >= 0 || index < 0 || index >= Count())
        return;
    keyboard_ = -1;
    altAlone_ = false;
    int last = index;
    escaped_ = false;
    // Each round shows one popup; a move to another one ends it and names the next.
    while (index >= 0 && GetSubMenu(menu_, index) && Send(TB_ISBUTTONENABLED, kFirstButton + index)) {
        last = index;
        if (UINT command = TrackPopup(index, keyboard)) {
            escaped_ = false;
            ::PostMessage(owner_, WM_COMMAND, command, 0);
            break;
        }
        index = next_;
        keyboard = nextByKeyboard_;
    }
    // Escape on a popup leaves the bar in keyboard mode on its button.
    if (escaped_)
        EnterKeyboardMode(last);
    else
        LeaveKeyboardMode();
}

UINT CommandBar::TrackPopup(int index, bool keyboard) {
    RECT button{};
    Send(TB_GETITEMRECT, index, reinterpret_cast<LPARAM>(&button));
    MapWindowPoints(Handle(), nullptr, reinterpret_cast<POINT*>(&button), 2);
    open_ = index;
    openMenu_ = selectedMenu_ = GetSubMenu(menu_, index);
    selectedIsPopup_ = false;
    next_ = -1;
    escaped_ = false;
    Send(TB_SETHOTITEM, static_cast<WPARAM>(-1));
    Send(TB_PRESSBUTTON, kFirstButton + index, TRUE);
    // A popup opened from the keyboard starts with its first item selected, as the menu bar's do.
    if (keyboard)
        Post(WM_KEYDOWN, VK_DOWN, 0);
    GetCursorPos(&pointer_);
    tracking = this;
    hook_ = SetWindowsHookEx(WH_MSGFILTER, &CommandBar::MenuHook, nullptr, GetCurrentThreadId());
    TPMPARAMS place{sizeof place, button};
    UINT command = TrackPopupMenuEx(openMenu_, TPM_LEFTALIGN | TPM_TOPALIGN | TPM_VERTICAL | TPM_LEFTBUTTON | TPM_RETURNCMD,
                                    button.left, button.bottom, Handle(), &place);
    if (hook_)
        UnhookWindowsHookEx(hook_);
    hook_ = nullptr;
    tracking = nullptr;
    Send(TB_PRESSBUTTON, kFirstButton + index, FALSE);
    open_ = -1;
    return command;
}

void CommandBar::SwitchTo(int index, bool keyboard) {
    next_ = index;
    nextByKeyboard_ = keyboard;
    EndMenu();
}

LRESULT CALLBACK CommandBar::MenuHook(int code, WPARAM wParam, LPARAM lParam) {
    if (code == MSGF_MENU && tracking && lParam && tracking->OnMenuInput(*reinterpret_cast<MSG*>(lParam)))
        return 1;
    return CallNextHookEx(nullptr, code, wParam, lParam);
}

// Input the menu is about to handle: the moves that leave this popup for
// another one are the bar's.
bool CommandBar::OnMenuInput(const MSG& message) {
    switch (message.message) {
    case WM_KEYDOWN:
        // Left leaves the popup from its own items (in a submenu it closes the
        // submenu); Right does so from any item without a submenu.
        if (message.wParam == VK_LEFT && selectedMenu_ == openMenu_) {
            SwitchTo(Wrap(open_ - 1), true);
            return true;
        }
        if (message.wParam == VK_RIGHT && !selectedIsPopup_) {
            SwitchTo(Wrap(open_ + 1), true);
            return true;
        }
        if (message.wParam == VK_ESCAPE && selectedMenu_ == openMenu_)
            escaped_ = true;
        return false;
    case WM_MOUSEMOVE:
    case WM_LBUTTONDOWN: {
        // The system sends a move without movement whenever a window appears
        // or goes (a popup among them): only a real move switches popups.
        if (message.message == WM_MOUSEMOVE && message.pt.x == pointer_.x && message.pt.y == pointer_.y)
            return false;
        pointer_ = message.pt;
        POINT point = message.pt;
        ScreenToClient(Handle(), &point);
        RECT client = ClientRect();
        int hit = static_cast<int>(Send(TB_HITTEST, 0, reinterpret_cast<LPARAM>(&point)));
        if (!PtInRect(&client, point) || hit < 0 || hit >= Count())
            return false;
        if (message.message == WM_LBUTTONDOWN && hit == open_)
            SwitchTo(-1, false);  // a click on the open popup's button closes it
        else if (hit != open_ && Send(TB_ISBUTTONENABLED, kFirstButton + hit))
            SwitchTo(hit, false);
        else
            return false;
        return true;
    }
    default:
        return false;
    }
}

// In keyboard mode the keyboard's button is the one hot button. The toolbar
// would make the button under the pointer hot on any move, among them the
// move without movement that the system sends when the closed popup goes:
// only a real move takes the hot button, and the keyboard's then follows it.
LRESULT CommandBar::OnKeyboardModeMouse(UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_MOUSEMOVE) {
        POINT point{static_cast<short>(LOWORD(lParam)), static_cast<short>(HIWORD(lParam))};
        ClientToScreen(Handle(), &point);
        if (point.x == pointer_.x && point.y == pointer_.y)
            return 0;
        pointer_ = point;
    }
    LRESULT result = DefaultProc(message, wParam, lParam);
    int hot = static_cast<int>(Send(TB_GETHOTITEM));
    if (message == WM_MOUSEMOVE && hot >= 0 && hot < Count() && Send(TB_ISBUTTONENABLED, kFirstButton + hot))
        keyboard_ = hot;
    else if (hot != keyboard_)
        Send(TB_SETHOTITEM, keyboard_);  // the pointer left the bar, or rests on a greyed button
    return result;
}

LRESULT CommandBar::OnMessage(UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_LBUTTONDOWN:
    case WM_LBUTTONDBLCLK: {
        POINT point{static_cast<short>(LOWORD(lParam)), static_cast<short>(HIWORD(lParam))};
        int hit = static_cast<int>(Send(TB_HITTEST, 0, reinterpret_cast<LPARAM>(&point)));
        if (hit >= 0 && hit < Count())
            OpenPopup(hit, false);
        return 0;
    }
    case WM_MOUSEMOVE:
    case WM_MOUSELEAVE:
        if (keyboard_ >= 0)
            return OnKeyboardModeMouse(message, wParam, lParam);
        break;
    case WM_MENUSELECT:
        if (!(HIWORD(wParam) == 0xFFFF && lParam == 0)) {
            selectedMenu_ = reinterpret_cast<HMENU>(lParam);
            selectedIsPopup_ = (HIWORD(wParam) & MF_POPUP) != 0;
        }
        return ::SendMessage(owner_, message, wParam, lParam);
    case WM_INITMENUPOPUP:
        return ::SendMessage(owner_, message, wParam, lParam);
    case WM_MEASUREITEM: {
        auto& item = *reinterpret_cast<MEASUREITEMSTRUCT*>(lParam);
        int cx = 0, cy = 0;
        if (item.CtlType != ODT_MENU || !imageOf_.count(item.itemID) || !ImageList_GetIconSize(images_, &cx, &cy))
            break;
        item.itemWidth = cx;
        item.itemHeight = cy;
        return TRUE;
    }
    case WM_DRAWITEM: {
        auto& item = *reinterpret_cast<DRAWITEMSTRUCT*>(lParam);
        if (item.CtlType != ODT_MENU)
            break;
        DrawImage(item);
        return TRUE;
    }
    default:
        break;
    }
    return DefaultProc(message, wParam, lParam);
}
