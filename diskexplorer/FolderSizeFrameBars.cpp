// The frame's bars: the rebar with the command bar, the navigation and drive
// toolbars and the address bar, and the status bar.
#include <shlwapi.h>
#include "common/errors/ErrorBase.h"
#include "diskexplorer/DriveSource.h"
#include "diskexplorer/ExplorerResources.h"
#include "diskexplorer/ExplorerSettings.h"
#include "diskexplorer/FolderSizeFrame.h"

namespace {
bool g_detailsWidthsSet = false;
}  // namespace

void FolderSizeFrame::CreateBars() {
    rebar_ = CreateWindowExW(0, REBARCLASSNAMEW, L"",
                             WS_CHILD | WS_VISIBLE | WS_CLIPSIBLINGS | WS_CLIPCHILDREN | RBS_VARHEIGHT |
                                 RBS_BANDBORDERS | CCS_NODIVIDER,
                             0, 0, 0, 0, Handle(), nullptr, ResourceModule(), nullptr);
    commandBar_.CreateBar(rebar_, Handle(), menu_);
    toolbar_ = CreateWindowExW(0, TOOLBARCLASSNAMEW, L"",
                               WS_CHILD | WS_VISIBLE | TBSTYLE_FLAT | TBSTYLE_LIST | TBSTYLE_TOOLTIPS |
                                   CCS_NODIVIDER | CCS_NORESIZE | CCS_NOPARENTALIGN,
                               0, 0, 0, 0, rebar_, nullptr, ResourceModule(), nullptr);
    SendMessageW(toolbar_, TB_BUTTONSTRUCTSIZE, sizeof(TBBUTTON), 0);
    SendMessageW(toolbar_, TB_SETEXTENDEDSTYLE, 0, TBSTYLE_EX_DRAWDDARROWS | TBSTYLE_EX_MIXEDBUTTONS);
    // The same six images twice: as they rest and under the mouse.
    toolbarImages_ = LoadToolbarImages(IDB_TOOLBAR);
    toolbarHotImages_ = LoadToolbarImages(IDB_TOOLBAR_HOT);
    SendMessageW(toolbar_, TB_SETIMAGELIST, 0, reinterpret_cast<LPARAM>(toolbarImages_));
    SendMessageW(toolbar_, TB_SETHOTIMAGELIST, 0, reinterpret_cast<LPARAM>(toolbarHotImages_));
    TBBUTTON buttons[] = {
        {0, ID_BACK, 0, BTNS_DROPDOWN | BTNS_SHOWTEXT | BTNS_AUTOSIZE, {}, 0, reinterpret_cast<INT_PTR>(L"Back")},
        {1, ID_FORWARD, 0, BTNS_DROPDOWN, {}, 0, 0},
        {2, ID_UP, 0, BTNS_BUTTON, {}, 0, 0},
        {0, 0, 0, BTNS_SEP, {}, 0, 0},
        {3, ID_REFRESH, 0, BTNS_BUTTON, {}, 0, 0},
        {4, ID_VIEWS, TBSTATE_ENABLED, BTNS_DROPDOWN, {}, 0, 0},
    };
    SendMessageW(toolbar_, TB_ADDBUTTONSW, 6, reinterpret_cast<LPARAM>(buttons));
    commandBar_.TakeImages(toolbar_);
    commandBar_.SetCommandImage(ID_VIEW_TILES, 4);
    commandBar_.SetCommandImage(ID_VIEW_DETAILS, 5);
    CreateDriveBar();
    addressBar_.Create(rebar_, IDD_ADDRESS_BAR);
    combo_ = addressBar_.Item(IDC_ADDRESS);
    COMBOBOXINFO info{sizeof info};
    if (GetComboBoxInfo(combo_, &info) && info.hwndItem)
        SHAutoComplete(info.hwndItem, SHACF_FILESYS_DIRS | SHACF_AUTOSUGGEST_FORCE_ON | SHACF_AUTOAPPEND_FORCE_ON);

    const UINT kLocked = RBBS_CHILDEDGE | RBBS_USECHEVRON | RBBS_NOGRIPPER;
    AddBand(commandBar_, kLocked, -1, 22, 0);
    AddBand(toolbar_, kLocked | RBBS_BREAK, -1, 30, 20);
    AddBand(driveBar_, kLocked, 110, 40, 0);
    RECT address = addressBar_.WindowRect();
    AddBand(addressBar_, RBBS_CHILDEDGE | RBBS_NOGRIPPER | RBBS_BREAK, 100, address.bottom - address.top, 0,
            L"Directory");
}

HIMAGELIST FolderSizeFrame::LoadToolbarImages(UINT strip) {
    HIMAGELIST images = ImageList_Create(24, 24, ILC_COLOR24 | ILC_MASK, 6, 0);
    HBITMAP bitmap = static_cast<HBITMAP>(
        LoadImageW(ResourceModule(), MAKEINTRESOURCEW(strip), IMAGE_BITMAP, 0, 0, LR_CREATEDIBSECTION));
    ImageList_AddMasked(images, bitmap, RGB(255, 0, 255));
    DeleteObject(bitmap);
    return images;
}

// A band sized to its toolbar (minWidth -1: the whole toolbar; fallback: the
// height when the child tells none), `extra` pixels wider.
void FolderSizeFrame::AddBand(HWND child, UINT style, int minWidth, int height, int extra, const wchar_t* title) {
    SIZE size{};
    if (!title)
        SendMessageW(child, TB_GETMAXSIZE, 0, reinterpret_cast<LPARAM>(&size));
    REBARBANDINFOW band{};
    band.cbSize = sizeof band;
    band.fMask = RBBIM_CHILD | RBBIM_CHILDSIZE | RBBIM_STYLE | RBBIM_SIZE | (title ? RBBIM_TEXT : 0);
    band.fStyle = style;
    band.hwndChild = child;
    band.lpText = const_cast<wchar_t*>(title);
    band.cxMinChild = minWidth < 0 ? size.cx : minWidth;
    band.cyMinChild = size.cy > 0 ? size.cy : height;
    band.cx = size.cx + extra;
    SendMessageW(rebar_, RB_INSERTBANDW, -1, reinterpret_cast<LPARAM>(&band));
}

void FolderSizeFrame::CreateDriveBar() {
    driveBar_ = CreateWindowExW(0, TOOLBARCLASSNAMEW, L"",
                                WS_CHILD | WS_VISIBLE | TBSTYLE_FLAT | TBSTYLE_LIST | CCS_NODIVIDER | CCS_NORESIZE |
                                    CCS_NOPARENTALIGN,
                                0, 0, 0, 0, rebar_, nullptr, ResourceModule(), nullptr);
    SendMessageW(driveBar_, TB_BUTTONSTRUCTSIZE, sizeof(TBBUTTON), 0);
    SendMessageW(driveBar_, TB_SETEXTENDEDSTYLE, 0, TBSTYLE_EX_MIXEDBUTTONS);
    driveImages_ = ImageList_Create(32, 32, ILC_COLOR32 | ILC_MASK, 6, 0);
    const struct {
        uint32_t kind;
        int icon;
    } icons[] = {{DriveFloppy, IDI_FLOPPY}, {DriveRemovable, IDI_REMOVABLE}, {DriveFixed, IDI_FIXED},
                 {DriveCdRom, IDI_CDROM},   {DriveRemote, IDI_REMOTE},       {DriveRamDisk, IDI_RAMDISK}};
    for (const auto& icon : icons)
        ImageList_AddIcon(driveImages_, static_cast<HICON>(LoadImageW(ResourceModule(), MAKEINTRESOURCEW(icon.icon),
                                                                      IMAGE_ICON, 32, 32, LR_SHARED)));
    SendMessageW(driveBar_, TB_SETIMAGELIST, 0, reinterpret_cast<LPARAM>(driveImages_));
    try {
        drives_.EnumDrives(DriveFloppy | DriveRemovable | DriveFixed | DriveCdRom | DriveRemote | DriveRamDisk);
    } catch (const ErrorBase&) {
    }
    HMENU file = GetSubMenu(menu_, 0);
    UINT menuPosition = 0;
    for (size_t i = 0; i < drives_.Drives().size() && i <= ID_DRIVE_LAST - ID_DRIVE_FIRST; ++i) {
        const DriveEntry& drive = drives_.Drives()[i];
        tstring root;
        root += drive.letter;
        root += L":\\";
        bool ntfs = drive.kind == DriveFixed && DriveSource::Current().FileSystemName(root) == L"NTFS";
        int image = 0;
        for (int k = 0; k < 6; ++k)
            if (icons[k].kind == drive.kind)
                image = k;
        static wchar_t letters[26][2];
        letters[drive.letter - L'A'][0] = drive.letter;
        TBBUTTON button{image, static_cast<int>(ID_DRIVE_FIRST + i), static_cast<BYTE>(ntfs ? TBSTATE_ENABLED : 0),
                        BTNS_BUTTON | BTNS_SHOWTEXT | BTNS_AUTOSIZE, {}, 0,
                        reinterpret_cast<INT_PTR>(letters[drive.letter - L'A'])};
        SendMessageW(driveBar_, TB_ADDBUTTONSW, 1, reinterpret_cast<LPARAM>(&button));
        if (!ntfs)
            continue;
        InsertMenuW(file, menuPosition++, MF_BYPOSITION | MF_STRING, ID_DRIVE_FIRST + i, root.Left(1).c_str());
        if (driveText_.empty())
            driveText_ = root;
    }
    if (menuPosition)
        InsertMenuW(file, menuPosition, MF_BYPOSITION | MF_SEPARATOR, 0, nullptr);
}


void FolderSizeFrame::OnView(bool details) {
    list_.SetView(details);
    details_ = details;
    CheckCommand(ID_VIEW_TILES, !details);
    CheckCommand(ID_VIEW_DETAILS, details);
    SendMessageW(toolbar_, TB_CHANGEBITMAP, ID_VIEWS, details ? 5 : 4);
    if (details && !g_detailsWidthsSet) {
        g_detailsWidthsSet = true;
        list_.SetDetailsWidths();
    }
    WriteSetting(L"View", details ? ID_VIEW_DETAILS : ID_VIEW_TILES);
}


void FolderSizeFrame::SetStatus(const tstring& text) {
    statusText_ = text;
    SendMessageW(status_, SB_SETTEXTW, 0, reinterpret_cast<LPARAM>(text.c_str()));
}

void FolderSizeFrame::EnableCommand(UINT id, bool enable) {
    EnableMenuItem(menu_, id, MF_BYCOMMAND | (enable ? MF_ENABLED : MF_GRAYED));
    SendMessageW(toolbar_, TB_ENABLEBUTTON, id, enable);
}

void FolderSizeFrame::CheckCommand(UINT id, bool check) {
    CheckMenuItem(menu_, id, MF_BYCOMMAND | (check ? MF_CHECKED : MF_UNCHECKED));
}

