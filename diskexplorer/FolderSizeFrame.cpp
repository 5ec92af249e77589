// The frame itself: its creation, commands, notifications, keys and menu
// help. Scanning, navigation and the bars have files of their own.
#include "diskexplorer/FolderSizeFrame.h"
#include "diskexplorer/ExplorerResources.h"
#include "diskexplorer/ExplorerSettings.h"
#include "diskexplorer/ShellLauncher.h"

const UINT g_activateMessage = RegisterWindowMessageW(L"QUARN_Drossel_Activate_633E1E43-D110-4bf1-ADD5-33E8BB1B6B1D");

namespace {

const UINT kPanelId = 1200;
const UINT kListId = 1201;
const UINT kSplitterId = 1202;
const wchar_t kNoNtfsDrive[] = L"It seems no NTFS drive on your system!";

class AboutDialog : public Dialog {
protected:
    bool OnCommand(WORD id, WORD code, HWND control) override {
        if (id == IDC_ABOUT_PICTURE && code == STN_CLICKED) {
            End(IDOK);
            return true;
        }
        return Dialog::OnCommand(id, code, control);
    }
};

tstring Resource(UINT id) { return tstring(MAKEINTRESOURCEW(id)); }

}  // namespace

FolderSizeFrame::FolderSizeFrame() : readyText_(Resource(IDS_READY)), statusText_(readyText_) {}

FolderSizeFrame::~FolderSizeFrame() {
    StopScan();
    if (loop_) {
        loop_->RemoveMessageFilter(this);
        loop_->RemoveIdleHandler(this);
    }
    if (model_) {
        model_->RemoveListener(cookie_);
        DeleteModel(model_);
    }
    for (HIMAGELIST images : {toolbarImages_, toolbarHotImages_})
        if (images)
            ImageList_Destroy(images);
    if (driveImages_)
        ImageList_Destroy(driveImages_);
    if (accelerators_)
        DestroyAcceleratorTable(accelerators_);
    if (menu_)
        DestroyMenu(menu_);
}

void FolderSizeFrame::ModifyClass(WNDCLASSEX& windowClass) const {
    windowClass.hIcon = LoadIconW(ResourceModule(), MAKEINTRESOURCEW(IDR_MAINFRAME));
    windowClass.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
}

HWND FolderSizeFrame::CreateFrame(MessageLoop* loop) {
    loop_ = loop;
    tstring title = Resource(IDR_MAINFRAME);
    HWND frame = Create(nullptr, nullptr, title.c_str(), WS_OVERLAPPEDWINDOW | WS_CLIPCHILDREN | WS_CLIPSIBLINGS,
                        WS_EX_APPWINDOW | WS_EX_WINDOWEDGE);
    return frame;
}

bool FolderSizeFrame::IsScanning() const {
    return worker_.IsValid() && WaitForSingleObject(worker_, 0) == WAIT_TIMEOUT;
}

LRESULT FolderSizeFrame::OnCreate() {
    menu_ = LoadMenuW(ResourceModule(), MAKEINTRESOURCEW(IDR_MAINFRAME));
    accelerators_ = LoadAcceleratorsW(ResourceModule(), MAKEINTRESOURCEW(IDR_MAINFRAME));
    CreateBars();
    status_ = CreateWindowExW(0, STATUSCLASSNAMEW, readyText_.c_str(), WS_CHILD | WS_VISIBLE | SBARS_SIZEGRIP, 0, 0,
                              0, 0, Handle(), nullptr, ResourceModule(), nullptr);
    int parts[] = {300, 460, -1};
    SendMessageW(status_, SB_SETPARTS, 3, reinterpret_cast<LPARAM>(parts));
    RECT none{0, 0, 0, 0};
    splitter_.Create(Handle(), &none, L"", WS_CHILD | WS_VISIBLE | WS_CLIPCHILDREN, 0, kSplitterId);
    panel_.Create(splitter_, &none, L"", WS_CHILD | WS_VISIBLE | WS_VSCROLL | WS_CLIPCHILDREN, 0, kPanelId);
    list_.Create(splitter_, kListId);
    splitter_.SetPanes(panel_, list_);
    splitter_.SetPosition(200);

    sortKey_ = 0;
    CheckCommand(ID_SORT_NAMES, true);
    CheckCommand(ID_SORT_SIZE, false);
    CheckCommand(ID_SORT_ITEMS, false);
    CheckCommand(ID_VIEW_TILES, true);
    EnableCommand(ID_REFRESH, false);
    EnableCommand(ID_GOTO, false);
    CheckRadioButton(panel_.Sort(), ID_SORT_NAMES, ID_SORT_ITEMS, ID_SORT_NAMES);

    if (loop_) {
        loop_->AddMessageFilter(this);
        loop_->AddIdleHandler(this);
    }
    if (driveText_.empty()) {
        MessageBoxW(Handle(), kNoNtfsDrive, L"", MB_OK);
        EnableWindow(combo_, FALSE);
    } else {
        StartScan(L"\\\\.\\" + driveText_.Left(2));
    }
    list_.SetFocus();
    Send(WM_COMMAND, ReadSetting(L"Sort", ID_SORT_SIZE, {ID_SORT_NAMES, ID_SORT_SIZE, ID_SORT_ITEMS}));
    Send(WM_COMMAND, ReadSetting(L"View", ID_VIEW_TILES, {ID_VIEW_TILES, ID_VIEW_DETAILS}));
    return 0;
}


void FolderSizeFrame::OnCommand(WORD id) {
    switch (id) {
    case ID_EXIT: Post(WM_CLOSE); break;
    case ID_VIEW_TILES: OnView(false); break;
    case ID_VIEW_DETAILS: OnView(true); break;
    case ID_VIEWS: OnView(!details_); break;
    case ID_SORT_NAMES:
    case ID_SORT_SIZE:
    case ID_SORT_ITEMS: OnSort(id - ID_SORT_NAMES); break;
    case ID_GOTO: ::SetFocus(combo_); break;
    case ID_REFRESH:
        if (!cancel_ && !driveText_.empty()) {
            wchar_t text[1024] = L"";
            if (IsWindowEnabled(combo_))
                GetWindowTextW(combo_, text, 1024);
            pendingPath_ = text;
            EnableCommand(ID_UP, false);
            StartScan(L"\\\\.\\" + driveText_.Left(2));
        }
        break;
    case ID_PROPERTIES: {
        int selected = list_.Selected();
        if (selected >= 0 && Model()) {
            LPARAM record = list_.Parameter(selected);
            if (record == FolderList::kAllFiles)
                record = current_;
            ShellLauncher::Current().Properties(Handle(), FolderPath(record));
        }
        break;
    }
    case ID_EXPLORE: {
        int selected = list_.Selected();
        if (selected >= 0)
            OpenInShell(list_.Parameter(selected));
        break;
    }
    case ID_ABOUT: {
        AboutDialog about;
        about.DoModal(GetActiveWindow(), IDD_ABOUT);
        break;
    }
    case ID_BACK: ChooseHistory(false, 1); break;
    case ID_FORWARD: ChooseHistory(true, 1); break;
    case ID_UP: OnUp(); break;
    default:
        if (id >= ID_DRIVE_FIRST && id <= ID_DRIVE_LAST)
            OnDriveCommand(id - ID_DRIVE_FIRST);
        break;
    }
}

LRESULT FolderSizeFrame::OnNotify(NMHDR* header) {
    if (header->hwndFrom == toolbar_ && header->code == TBN_DROPDOWN) {
        ShowDropDown(reinterpret_cast<NMTOOLBARW*>(header)->iItem);
        return TBDDRET_DEFAULT;
    }
    if (header->hwndFrom != list_.Handle())
        return 0;
    switch (header->code) {
    case NM_DBLCLK:
        OnItemActivate(reinterpret_cast<NMITEMACTIVATE*>(header)->iItem);
        return 0;
    case LVN_KEYDOWN: {
        WORD key = reinterpret_cast<NMLVKEYDOWN*>(header)->wVKey;
        if (key == VK_BACK)
            OnUp();
        else if (key == VK_RETURN)
            OnItemActivate(list_.Selected());
        return 0;
    }
    case LVN_ITEMCHANGED: {
        const NMLISTVIEW& change = *reinterpret_cast<NMLISTVIEW*>(header);
        if ((change.uNewState & LVIS_SELECTED) && !(change.uOldState & LVIS_SELECTED))
            OnSelectionInfo(change.lParam != FolderList::kAllFiles ? int64_t(change.lParam) : int64_t(current_));
        else if (change.uNewState == 0 && (change.uOldState & LVIS_SELECTED))
            OnSelectionInfo(current_);
        return 0;
    }
    case LVN_COLUMNCLICK:
        OnSort(reinterpret_cast<NMLISTVIEW*>(header)->iSubItem);
        return 0;
    default:
        return 0;
    }
}

bool FolderSizeFrame::PreTranslateMessage(MSG& message) {
    if (!IsWindow() || (message.hwnd != Handle() && !IsChild(Handle(), message.hwnd)))
        return false;
    // The menu's keys come first: Alt alone must be told from Alt with a key.
    if (commandBar_.PreTranslateMessage(message))
        return true;
    if (message.message == WM_KEYDOWN && message.wParam == VK_TAB) {
        if (GetFocus() == list_.Handle())
            ::SetFocus(combo_);
        else
            list_.SetFocus();
        return true;
    }
    if (message.message == WM_CHAR && message.wParam == 13) {
        HWND focus = GetFocus();
        if (focus == combo_ || GetParent(focus) == combo_) {
            OnAddressEnter();
            return true;
        }
    }
    return commandBar_.TranslateAccelerators(Handle(), accelerators_, message);
}

// Menu help: the highlighted command's prompt (its string's text up to the
// line break) in pane 0, and pane 0's own text back once the menu closes.
void FolderSizeFrame::OnMenuSelect(WORD item, WORD flags, HMENU menu) {
    if (flags == 0xFFFF && !menu) {
        SetStatus(statusText_);
        return;
    }
    UINT id = item;
    if (flags & (MF_POPUP | MF_SEPARATOR))
        id = 0;
    else if (id >= 0xF000)
        id = 0xEF00 + ((id & 0x0FF0) >> 4);  // the window menu's commands
    else if (id >= ID_DRIVE_FIRST && id <= ID_DRIVE_LAST)
        id = IDS_DRIVE_PROMPT;
    tstring prompt = id ? tstring(MAKEINTRESOURCEW(id)) : tstring();
    size_t end = prompt.find(L'\n');
    if (end != tstring::npos)
        prompt.resize(end);
    SendMessageW(status_, SB_SETTEXTW, 0, reinterpret_cast<LPARAM>(prompt.c_str()));
}

bool FolderSizeFrame::OnIdle() {
    bool items = list_.Count() > 0;
    EnableCommand(ID_BACK, items && !history_.BackEntries().empty());
    EnableCommand(ID_FORWARD, items && !history_.ForwardEntries().empty());
    EnableMenuItem(menu_, ID_PROPERTIES, MF_BYCOMMAND | (list_.Selected() >= 0 ? MF_ENABLED : MF_GRAYED));
    return false;
}

LRESULT FolderSizeFrame::OnMessage(UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_CREATE:
        return OnCreate();
    case WM_NCCALCSIZE:
    case WM_SHOWWINDOW:
        // The navigation band takes the room the drive toolbar leaves.
        if (driveBar_) {
            SendMessageW(rebar_, RB_MAXIMIZEBAND, 1, FALSE);
            RedrawWindow(rebar_, nullptr, nullptr, RDW_INVALIDATE | RDW_ALLCHILDREN);
        }
        break;
    case WM_SIZE: {
        SendMessageW(rebar_, WM_SIZE, 0, 0);
        SendMessageW(status_, WM_SIZE, 0, 0);
        RECT client = ClientRect(), bar{}, status{};
        GetWindowRect(rebar_, &bar);
        GetWindowRect(status_, &status);
        int top = bar.bottom - bar.top, bottom = client.bottom - (status.bottom - status.top);
        MoveWindow(splitter_, 0, top, client.right, std::max(bottom - top, 0), TRUE);
        HWND progress = progress_.load();
        if (progress) {
            RECT part{};
            SendMessageW(status_, SB_GETRECT, 1, reinterpret_cast<LPARAM>(&part));
            MoveWindow(progress, part.left, part.top, part.right - part.left, part.bottom - part.top, TRUE);
        }
        return 0;
    }
    case WM_CLOSE:
        // A stop would wait for the worker's read, however long the disk
        // takes; the worker only reads and the settings are already kept.
        if (stopping_ || IsScanning()) {
            EndProcessNow();
            return 0;
        }
        StopScan();
        Destroy();
        return 0;
    case WM_DESTROY:
        PostQuitMessage(0);
        return 0;
    case WM_SCAN_DONE:
        OnScanDone(wParam, lParam);
        return 0;
    case WM_SCAN_FAILED:
        OnScanFailed(wParam, lParam);
        return 0;
    case WM_CONTEXTMENU:
        OnContextMenu(lParam);
        return 0;
    case WM_ACTIVATE:
        if (LOWORD(wParam) == WA_INACTIVE)
            commandBar_.LeaveKeyboardMode();
        break;
    case WM_MENUSELECT:
        OnMenuSelect(LOWORD(wParam), HIWORD(wParam), reinterpret_cast<HMENU>(lParam));
        return 0;
    case WM_NOTIFY:
        return OnNotify(reinterpret_cast<NMHDR*>(lParam));
    case WM_COMMAND:
        if (lParam == 0 || reinterpret_cast<HWND>(lParam) == toolbar_ || reinterpret_cast<HWND>(lParam) == driveBar_) {
            OnCommand(LOWORD(wParam));
            return 0;
        }
        break;
    default:
        if (message == g_activateMessage && g_activateMessage != 0) {
            SetForegroundWindow(Handle());
            Send(WM_SYSCOMMAND, SC_RESTORE, 0);
            return 0;
        }
        break;
    }
    return DefaultProc(message, wParam, lParam);
}