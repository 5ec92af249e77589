// Navigation: the folder shown, its sort, the histories with their
// drop-downs, the address field and the list's context menu.
#include <windowsx.h>
#include <algorithm>
#include "common/system/TimeText.h"
#include "diskexplorer/ExplorerResources.h"
#include "diskexplorer/ExplorerSettings.h"
#include "diskexplorer/FolderFigures.h"
#include "diskexplorer/FolderSizeFrame.h"
#include "diskexplorer/ShellLauncher.h"

namespace {
const wchar_t kWrongFolder[] =
    L"Incorrect folder name. Please specify an existing folder on the currently selected NTFS drive";
}  // namespace

bool FolderSizeFrame::IsShownFolder(int64_t record) const {
    const MftScanner* model = Model();
    if (!model || record < 0)
        return false;
    if (record == MftScanner::kRootRecord)
        return true;
    const FolderRecord* entry = model->Record(static_cast<uint64_t>(record));
    return entry && record >= MftScanner::kFirstShownRecord && entry->IsFolder() && !entry->names.empty();
}

tstring FolderSizeFrame::FolderPath(int64_t record) const {
    return model_->BuildFolderPath(static_cast<uint32_t>(record), driveText_);
}

void FolderSizeFrame::ShowFolder(int64_t record) {
    const MftScanner* model = Model();
    if (!model || !model->Record(static_cast<uint64_t>(record)) || record < 0)
        return;
    current_ = static_cast<uint32_t>(record);
    EnableCommand(ID_UP, current_ > MftScanner::kRootRecord);
    list_.Clear();
    const auto& records = model->Records();
    const FolderRecord& shown = records[current_];
    for (size_t i = MftScanner::kFirstShownRecord; i < records.size(); ++i) {
        const FolderRecord& entry = records[i];
        if (!entry.IsFolder())
            continue;
        for (const FolderName& name : entry.names)
            if (name.parent == current_)
                list_.AddItem(static_cast<LPARAM>(i), SharePercent(entry.totalSize, shown.totalSize),
                              tstring(name.text, name.length), entry.totalSize, entry.totalFileCount,
                              FolderList::FolderGroup);
    }
    list_.AddItem(FolderList::kAllFiles, SharePercent(shown.size, shown.totalSize), L"All files", shown.size,
                  shown.fileCount, FolderList::FilesGroup);
    list_.Sort(&FolderSizeFrame::CompareItems, reinterpret_cast<LPARAM>(this));
    if (details_) {
        list_.SetView(false);
        list_.SetView(true);
    }
    list_.Select(0);
    list_.SetFocus();
    SetWindowTextW(combo_, TrimBackslashes(FolderPath(current_)).c_str());
}

int CALLBACK FolderSizeFrame::CompareItems(LPARAM a, LPARAM b, LPARAM self) {
    if (a == FolderList::kAllFiles)
        return 1;
    if (b == FolderList::kAllFiles)
        return -1;
    const FolderSizeFrame& frame = *reinterpret_cast<FolderSizeFrame*>(self);
    const FolderRecord& first = *frame.model_->Record(static_cast<uint64_t>(a));
    const FolderRecord& second = *frame.model_->Record(static_cast<uint64_t>(b));
    switch (frame.sortKey_) {
    case 0: {
        tstring x(first.names[0].text, first.names[0].length), y(second.names[0].text, second.names[0].length);
        return lstrcmpW(x.c_str(), y.c_str());
    }
    case 1:
        if (int64_t(second.totalSize) > int64_t(first.totalSize))
            return 1;
        return int64_t(second.totalSize) < int64_t(first.totalSize) ? -1 : 0;
    default:
        return static_cast<int>(second.totalFileCount - first.totalFileCount);
    }
}

void FolderSizeFrame::OpenInShell(int64_t record) {
    const MftScanner* model = Model();
    if (!model)
        return;
    tstring path = record == MftScanner::kRootRecord ? driveText_
                   : record == FolderList::kAllFiles ? FolderPath(current_)
                                                     : FolderPath(record);
    ShellLauncher::Current().Open(Handle(), path, tstring(), SW_SHOW);
}

void FolderSizeFrame::OnSort(int key) {
    if (key == sortKey_ || key < 0 || key > 2)
        return;
    sortKey_ = key;
    for (int k = 0; k < 3; ++k)
        CheckCommand(ID_SORT_NAMES + k, k == key);
    CheckRadioButton(panel_.Sort(), ID_SORT_NAMES, ID_SORT_ITEMS, ID_SORT_NAMES + key);
    if (Model())
        list_.Sort(&FolderSizeFrame::CompareItems, reinterpret_cast<LPARAM>(this));
    list_.SetFocus();
    if (details_) {
        list_.SetView(false);
        list_.SetView(true);
    }
    WriteSetting(L"Sort", ID_SORT_NAMES + key);
}


void FolderSizeFrame::OnSelectionInfo(int64_t record) {
    if (!Model() || (record != current_ && !IsShownFolder(record)))
        return;
    tstring path = FolderPath(record);
    tstring when;
    HandleHolder folder(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr,
                                    OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    FILETIME written, local;
    SYSTEMTIME time;
    if (folder.IsValid() && GetFileTime(folder, nullptr, nullptr, &written) && FileTimeToLocalFileTime(&written, &local) &&
        FileTimeToSystemTime(&local, &time))
        when = TimeText(time);
    panel_.Folder().SetLinkText(FormatText(L"<A ID=\"%d\">%s</A>\r\n\r\nDate Modified:\r\n%s", int(record),
                                           TrimBackslashes(path).c_str(), when.c_str()));
}

int64_t FolderSizeFrame::EnterFolder(int item) {
    int64_t record = list_.Parameter(item);
    history_.Enter(current_);
    RefillAddressList();
    return record;
}

void FolderSizeFrame::RefillAddressList() {
    SendMessageW(combo_, CB_RESETCONTENT, 0, 0);
    if (!Model())
        return;
    for (uint32_t record : history_.BackEntries()) {
        tstring text = TrimBackslashes(FolderPath(record));
        LRESULT index = SendMessageW(combo_, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(text.c_str()));
        if (index >= 0)
            SendMessageW(combo_, CB_SETITEMDATA, index, record);
    }
}

void FolderSizeFrame::OnItemActivate(int item) {
    if (item < 0 || !Model())
        return;
    // The "All files" item is told by its parameter: Wine's list view keeps no group ids.
    if (list_.Parameter(item) != FolderList::kAllFiles)
        ShowFolder(EnterFolder(item));
    else
        OpenInShell(FolderList::kAllFiles);
}

void FolderSizeFrame::OnUp() {
    const MftScanner* model = Model();
    if (!model || current_ < MftScanner::kFirstShownRecord)
        return;
    int32_t parent = model->ParentOf(current_);
    if (parent < 0)
        return;
    history_.Up(current_);
    ShowFolder(parent);
}

void FolderSizeFrame::ChooseHistory(bool forward, size_t k) {
    if (!Model())
        return;
    int64_t shown = forward ? history_.Forward(current_, k) : history_.Back(current_, k);
    if (shown >= 0)
        ShowFolder(shown);
}

void FolderSizeFrame::ShowDropDown(int button) {
    RECT rect{};
    SendMessageW(toolbar_, TB_GETRECT, button, reinterpret_cast<LPARAM>(&rect));
    POINT corner{rect.left, rect.bottom};
    ClientToScreen(toolbar_, &corner);
    HMONITOR monitor = MonitorFromPoint(corner, MONITOR_DEFAULTTONEAREST);
    MONITORINFO info{sizeof info};
    if (GetMonitorInfoW(monitor, &info) && !PtInRect(&info.rcMonitor, corner)) {
        corner.x = std::max(info.rcMonitor.left, std::min(corner.x, info.rcMonitor.right - 1));
        corner.y = std::max(info.rcMonitor.top, std::min(corner.y, info.rcMonitor.bottom - 1));
    }
    HMENU menu = CreatePopupMenu();
    if (button == ID_VIEWS) {
        AppendMenuW(menu, MF_STRING | (details_ ? 0 : MF_CHECKED), ID_VIEW_TILES, L"Tiles");
        AppendMenuW(menu, MF_STRING | (details_ ? MF_CHECKED : 0), ID_VIEW_DETAILS, L"Details");
        TrackPopupMenu(menu, TPM_LEFTALIGN | TPM_TOPALIGN, corner.x, corner.y, 0, Handle(), nullptr);
        DestroyMenu(menu);
        return;
    }
    bool forward = button == ID_FORWARD;
    const auto& entries = forward ? history_.ForwardEntries() : history_.BackEntries();
    if (!Model() || entries.empty()) {
        DestroyMenu(menu);
        return;
    }
    UINT id = 1;
    for (auto at = entries.rbegin(); at != entries.rend(); ++at)
        AppendMenuW(menu, MF_STRING, id++, FolderPath(*at).c_str());
    int choice = TrackPopupMenu(menu, TPM_LEFTALIGN | TPM_TOPALIGN | TPM_RETURNCMD, corner.x, corner.y, 0, Handle(),
                                nullptr);
    DestroyMenu(menu);
    if (choice > 0)
        ChooseHistory(forward, static_cast<size_t>(choice));
}

void FolderSizeFrame::OnAddressEnter() {
    wchar_t text[1024] = L"";
    COMBOBOXINFO info{sizeof info};
    GetComboBoxInfo(combo_, &info);
    GetWindowTextW(combo_, text, 1024);
    tstring path = TrimBackslashes(text);
    const MftScanner* model = Model();
    int32_t record = model ? model->FindFolderByPath(path, driveText_) : -1;
    if (record < 0) {
        lastBalloon_ = kWrongFolder;
        EDITBALLOONTIP tip{sizeof tip, L"Error", kWrongFolder, TTI_ERROR};
        SendMessageW(info.hwndItem ? info.hwndItem : combo_, EM_SHOWBALLOONTIP, 0, reinterpret_cast<LPARAM>(&tip));
        return;
    }
    lastBalloon_.clear();
    if (static_cast<uint32_t>(record) != current_) {
        history_.Enter(current_);
        RefillAddressList();
        ShowFolder(record);
    }
}


void FolderSizeFrame::OnContextMenu(LPARAM position) {
    POINT point{GET_X_LPARAM(position), GET_Y_LPARAM(position)};
    int selected = list_.Selected();
    if (point.x == -1 && point.y == -1) {
        if (GetFocus() != list_.Handle())
            return;
        RECT rect{};
        if (selected >= 0)
            ListView_GetItemRect(list_.Handle(), selected, &rect, LVIR_BOUNDS);
        point = POINT{rect.left, rect.bottom};
        ClientToScreen(list_, &point);
    } else {
        RECT rect = list_.WindowRect();
        if (!PtInRect(&rect, point))
            return;
    }
    HMENU menu = LoadMenuW(ResourceModule(), MAKEINTRESOURCEW(IDR_CONTEXT));
    HMENU popup = GetSubMenu(menu, 0);
    EnableMenuItem(popup, ID_EXPLORE, selected >= 0 ? MF_ENABLED : MF_GRAYED);
    EnableMenuItem(popup, ID_PROPERTIES, selected >= 0 ? MF_ENABLED : MF_GRAYED);
    TrackPopupMenu(popup, TPM_LEFTALIGN | TPM_TOPALIGN, point.x, point.y, 0, Handle(), nullptr);
    DestroyMenu(menu);
}

