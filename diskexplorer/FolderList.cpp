#include "diskexplorer/FolderList.h"
#include "diskexplorer/ExplorerResources.h"
#include "diskexplorer/FolderFigures.h"

namespace {
HIMAGELIST LoadStrip(int resource, int size) {
    HIMAGELIST list = ImageList_Create(size, size, ILC_COLOR24 | ILC_MASK, 30, 0);
    HBITMAP bitmap = static_cast<HBITMAP>(
        LoadImageW(ResourceModule(), MAKEINTRESOURCEW(resource), IMAGE_BITMAP, 0, 0, LR_CREATEDIBSECTION));
    if (bitmap) {
        ImageList_AddMasked(list, bitmap, RGB(255, 0, 255));
        DeleteObject(bitmap);
    }
    return list;
}

void InsertGroup(HWND list, int id, const wchar_t* header) {
    LVGROUP group{};
    group.cbSize = sizeof group;
    group.mask = LVGF_HEADER | LVGF_GROUPID | LVGF_ALIGN;
    group.pszHeader = const_cast<wchar_t*>(header);
    group.iGroupId = id;
    group.uAlign = LVGA_HEADER_LEFT;
    ListView_InsertGroup(list, -1, &group);
}
}  // namespace

FolderList::~FolderList() {
    if (large_)
        ImageList_Destroy(large_);
    if (small_)
        ImageList_Destroy(small_);
}

bool FolderList::Create(HWND parent, UINT id) {
    Attach(CreateWindowExW(WS_EX_CLIENTEDGE, WC_LISTVIEWW, L"",
                           WS_CHILD | WS_VISIBLE | WS_CLIPSIBLINGS | WS_CLIPCHILDREN | LVS_SINGLESEL | LVS_SORTASCENDING |
                               LVS_SHAREIMAGELISTS,
                           0, 0, 0, 0, parent, reinterpret_cast<HMENU>(static_cast<UINT_PTR>(id)), ResourceModule(),
                           nullptr));
    if (!Handle())
        return false;
    large_ = LoadStrip(IDB_SHARE32, 32);
    small_ = LoadStrip(IDB_SHARE16, 16);
    ListView_SetImageList(Handle(), large_, LVSIL_NORMAL);
    ListView_SetImageList(Handle(), small_, LVSIL_SMALL);
    const wchar_t* titles[] = {L"Name", L"Size", L"Items"};
    for (int i = 0; i < 3; ++i) {
        LVCOLUMNW column{};
        column.mask = LVCF_TEXT | LVCF_WIDTH | LVCF_FMT | LVCF_SUBITEM;
        column.fmt = LVCFMT_LEFT;
        column.pszText = const_cast<wchar_t*>(titles[i]);
        column.cx = ListView_GetStringWidth(Handle(), titles[i]) + 15;
        column.iSubItem = i;
        ListView_InsertColumn(Handle(), i, &column);
    }
    ListView_EnableGroupView(Handle(), TRUE);
    InsertGroup(Handle(), DriveGroup, L"Drive");
    InsertGroup(Handle(), FilesGroup, L"Files");
    InsertGroup(Handle(), FolderGroup, L"Folders");
    LVTILEVIEWINFO tiles{};
    tiles.cbSize = sizeof tiles;
    tiles.dwMask = LVTVIM_COLUMNS;
    tiles.cLines = 3;
    ListView_SetTileViewInfo(Handle(), &tiles);
    SetView(false);
    return true;
}

void FolderList::Clear() {
    ListView_DeleteAllItems(Handle());
    count_ = 0;
}

void FolderList::AddItem(LPARAM parameter, uint32_t percent, const tstring& name, uint64_t size, uint64_t items,
                         Group group) {
    LVITEMW item{};
    item.mask = LVIF_TEXT | LVIF_IMAGE | LVIF_PARAM | LVIF_GROUPID;
    item.iItem = count_;
    item.pszText = const_cast<wchar_t*>(name.c_str());
    item.iImage = ShareImage(percent);
    item.lParam = parameter;
    item.iGroupId = group;
    int index = ListView_InsertItem(Handle(), &item);
    if (index < 0)
        return;
    tstring sizeText = FormatGrouped(static_cast<int64_t>(size));
    tstring itemsText = FormatGrouped(static_cast<int64_t>(items));
    ListView_SetItemText(Handle(), index, 1, const_cast<wchar_t*>(sizeText.c_str()));
    ListView_SetItemText(Handle(), index, 2, const_cast<wchar_t*>(itemsText.c_str()));
    UINT columns[] = {1, 2};
    LVTILEINFO tile{};
    tile.cbSize = sizeof tile;
    tile.iItem = index;
    tile.cColumns = 2;
    tile.puColumns = columns;
    ListView_SetTileInfo(Handle(), &tile);
    ++count_;
}

void FolderList::SetView(bool details) { Send(LVM_SETVIEW, details ? LV_VIEW_DETAILS : LV_VIEW_TILE); }

void FolderList::SetDetailsWidths() {
    ListView_SetColumnWidth(Handle(), 0, 250);
    ListView_SetColumnWidth(Handle(), 1, 150);
    ListView_SetColumnWidth(Handle(), 2, 70);
}

void FolderList::Sort(PFNLVCOMPARE compare, LPARAM context) { ListView_SortItems(Handle(), compare, context); }

int FolderList::Selected() const { return ListView_GetNextItem(Handle(), -1, LVNI_SELECTED); }

LPARAM FolderList::Parameter(int index) const {
    LVITEMW item{};
    item.mask = LVIF_PARAM;
    item.iItem = index;
    if (!ListView_GetItem(Handle(), &item))
        return 0;
    return item.lParam;
}

int FolderList::GroupOf(int index) const {
    LVITEMW item{};
    item.mask = LVIF_GROUPID;
    item.iItem = index;
    if (!ListView_GetItem(Handle(), &item))
        return -1;
    return item.iGroupId;
}

int FolderList::ItemImage(int index) const {
    LVITEMW item{};
    item.mask = LVIF_IMAGE;
    item.iItem = index;
    if (!ListView_GetItem(Handle(), &item))
        return -1;
    return item.iImage;
}

tstring FolderList::ItemText(int index, int column) const {
    wchar_t text[512] = L"";
    ListView_GetItemText(Handle(), index, column, text, 512);
    return text;
}

void FolderList::Select(int index) {
    ListView_SetItemState(Handle(), index, LVIS_SELECTED | LVIS_FOCUSED, LVIS_SELECTED | LVIS_FOCUSED);
    ListView_EnsureVisible(Handle(), index, FALSE);
}
