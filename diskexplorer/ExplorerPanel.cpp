#include "diskexplorer/ExplorerPanel.h"
#include "diskexplorer/ExplorerResources.h"

bool FramePane::OnCommand(WORD id, WORD code, HWND control) {
    if (code == BN_CLICKED && id >= ID_SORT_NAMES && id <= ID_SORT_ITEMS) {
        SendMessage(GetAncestor(Handle(), GA_ROOT), WM_COMMAND, MAKEWPARAM(id, 0), 0);
        return true;
    }
    return false;
}

LRESULT FramePane::OnNotify(int id, NMHDR* header, bool& handled) {
    handled = id == 1007 && (header->code == NM_CLICK || header->code == NM_RETURN);
    if (handled) {
        const NMLINK* link = reinterpret_cast<const NMLINK*>(header);
        wchar_t* end = nullptr;
        long record = wcstol(link->item.szID, &end, 10);
        if (end != link->item.szID && *end == L'\0' && record >= 0)
            SendMessage(GetAncestor(Handle(), GA_ROOT), WM_SCAN_DONE, static_cast<WPARAM>(record), 1);
    }
    return 0;
}

ExplorerPanel::~ExplorerPanel() {
    if (images_)
        ImageList_Destroy(images_);
    if (banner_)
        ImageList_Destroy(banner_);
}

void ExplorerPanel::SetDriveImage(HIMAGELIST shares, int image) {
    shares_ = shares;
    driveImage_ = image;
    if (IsWindow())
        Invalidate(false);
}

void ExplorerPanel::CreatePanes() {
    images_ = ImageList_Create(32, 32, ILC_COLOR32 | ILC_MASK, 3, 0);
    for (int icon : {IDI_FOLDER, IDI_FIXED, IDI_DRIVE})
        ImageList_AddIcon(images_, static_cast<HICON>(LoadImageW(ResourceModule(), MAKEINTRESOURCEW(icon), IMAGE_ICON,
                                                                 32, 32, LR_SHARED)));
    banner_ = ImageList_Create(127, 31, ILC_COLOR24 | ILC_MASK, 1, 0);
    HBITMAP banner = static_cast<HBITMAP>(
        LoadImageW(ResourceModule(), MAKEINTRESOURCEW(IDB_BANNER), IMAGE_BITMAP, 0, 0, LR_CREATEDIBSECTION));
    if (banner) {
        ImageList_AddMasked(banner_, banner, RGB(255, 0, 255));
        DeleteObject(banner);
    }
    SetImageList(images_);
    sortPane_.Create(Handle(), IDD_SORT_PANE);
    folderPane_.Create(Handle(), IDD_LINK_PANE);
    drivePane_.Create(Handle(), IDD_LINK_PANE);
    suitePane_.Create(Handle(), IDD_SUITE_PANE);
    SetButtonIcons(
        static_cast<HICON>(LoadImageW(ResourceModule(), MAKEINTRESOURCEW(IDI_EXPAND), IMAGE_ICON, 16, 16, 0)),
        static_cast<HICON>(LoadImageW(ResourceModule(), MAKEINTRESOURCEW(IDI_COLLAPSE), IMAGE_ICON, 16, 16, 0)));
    AddPane(sortPane_, L"Arrange Icons by", -1, -1);
    AddPane(drivePane_, L"Disk", -2, -1);
    AddPane(folderPane_, L"Folder", 0, -1);
    AddPane(suitePane_, nullptr, -2, -1);
}

LRESULT ExplorerPanel::OnMessage(UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == kGetOwnerImage) {
        OwnerImage& image = *reinterpret_cast<OwnerImage*>(lParam);
        if (wParam == DrivePane) {
            image = OwnerImage{shares_, driveImage_ < 0 ? 0 : driveImage_, 32, 0, 37, 32};
            return 1;
        }
        if (wParam == SuitePane) {
            image = OwnerImage{banner_, 0, 127, 4, 37, 29};
            return 1;
        }
        return 0;
    }
    LRESULT result = CollapsiblePanel::OnMessage(message, wParam, lParam);
    if (message == WM_CREATE)
        CreatePanes();
    return result;
}
