#include "diskexplorer/FolderSizeFrame.h"
#include <process.h>
#include <shlwapi.h>
#include <windowsx.h>
#include <ctime>
#include <new>
#include <stdexcept>
#include "common/errors/ErrorBase.h"
#include "common/errors/ErrorText.h"
#include "diskexplorer/DriveSource.h"
#include "diskexplorer/ExplorerResources.h"
#include "diskexplorer/ExplorerSettings.h"
#include "diskexplorer/FolderFigures.h"
#include "diskexplorer/ShellLauncher.h"

const UINT g_activateMessage = RegisterWindowMessageW(L"QUARN_Drossel_Activate_633E1E43-D110-4bf1-ADD5-33E8BB1B6B1D");

namespace {

const UINT kPanelId = 1200;
const UINT kListId = 1201;
const UINT kSplitterId = 1202;
const wchar_t kNoNtfsDrive[] = L"It seems no NTFS drive on your system!";
const wchar_t kWrongFolder[] =
    L"Incorrect folder name. Please specify an existing folder on the currently selected NTFS drive";
bool g_detailsWidthsSet = false;

struct WorkerBlock {
    FolderSizeFrame* frame;
    wchar_t devicePath[7];  // "\\.\C:" and its NUL
};

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

FolderSizeFrame::FolderSizeFrame() : readyText_(Resource(IDS_READY)) {}

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
    if (toolbarImages_)
        ImageList_Destroy(toolbarImages_);
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

// ---- creation --------------------------------------------------------------

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

void FolderSizeFrame::CreateBars() {
    rebar_ = CreateWindowExW(0, REBARCLASSNAMEW, L"",
                             WS_CHILD | WS_VISIBLE | WS_CLIPSIBLINGS | WS_CLIPCHILDREN | RBS_VARHEIGHT |
                                 RBS_BANDBORDERS | CCS_NODIVIDER,
                             0, 0, 0, 0, Handle(), nullptr, ResourceModule(), nullptr);
    CreateCommandBar();
    toolbar_ = CreateWindowExW(0, TOOLBARCLASSNAMEW, L"",
                               WS_CHILD | WS_VISIBLE | TBSTYLE_FLAT | TBSTYLE_LIST | TBSTYLE_TOOLTIPS |
                                   CCS_NODIVIDER | CCS_NORESIZE | CCS_NOPARENTALIGN,
                               0, 0, 0, 0, rebar_, nullptr, ResourceModule(), nullptr);
    SendMessageW(toolbar_, TB_BUTTONSTRUCTSIZE, sizeof(TBBUTTON), 0);
    SendMessageW(toolbar_, TB_SETEXTENDEDSTYLE, 0, TBSTYLE_EX_DRAWDDARROWS | TBSTYLE_EX_MIXEDBUTTONS);
    toolbarImages_ = ImageList_Create(24, 24, ILC_COLOR24 | ILC_MASK, 6, 0);
    for (int strip : {IDB_TOOLBAR}) {
        HBITMAP bitmap = static_cast<HBITMAP>(
            LoadImageW(ResourceModule(), MAKEINTRESOURCEW(strip), IMAGE_BITMAP, 0, 0, LR_CREATEDIBSECTION));
        ImageList_AddMasked(toolbarImages_, bitmap, RGB(255, 0, 255));
        DeleteObject(bitmap);
    }
    SendMessageW(toolbar_, TB_SETIMAGELIST, 0, reinterpret_cast<LPARAM>(toolbarImages_));
    TBBUTTON buttons[] = {
        {0, ID_BACK, 0, BTNS_DROPDOWN | BTNS_SHOWTEXT | BTNS_AUTOSIZE, {}, 0, reinterpret_cast<INT_PTR>(L"Back")},
        {1, ID_FORWARD, 0, BTNS_DROPDOWN, {}, 0, 0},
        {2, ID_UP, 0, BTNS_BUTTON, {}, 0, 0},
        {0, 0, 0, BTNS_SEP, {}, 0, 0},
        {3, ID_REFRESH, 0, BTNS_BUTTON, {}, 0, 0},
        {4, ID_VIEWS, TBSTATE_ENABLED, BTNS_DROPDOWN, {}, 0, 0},
    };
    SendMessageW(toolbar_, TB_ADDBUTTONSW, 6, reinterpret_cast<LPARAM>(buttons));
    CreateDriveBar();
    addressBar_.Create(rebar_, IDD_ADDRESS_BAR);
    combo_ = addressBar_.Item(IDC_ADDRESS);
    COMBOBOXINFO info{sizeof info};
    if (GetComboBoxInfo(combo_, &info) && info.hwndItem)
        SHAutoComplete(info.hwndItem, SHACF_FILESYS_DIRS | SHACF_AUTOSUGGEST_FORCE_ON | SHACF_AUTOAPPEND_FORCE_ON);

    SIZE size{};
    SendMessageW(commandBar_, TB_GETMAXSIZE, 0, reinterpret_cast<LPARAM>(&size));
    REBARBANDINFOW band{};
    band.cbSize = sizeof band;
    band.fMask = RBBIM_CHILD | RBBIM_CHILDSIZE | RBBIM_STYLE | RBBIM_SIZE;
    band.fStyle = RBBS_CHILDEDGE | RBBS_USECHEVRON | RBBS_NOGRIPPER;
    band.hwndChild = commandBar_;
    band.cxMinChild = size.cx;
    band.cyMinChild = size.cy > 0 ? size.cy : 22;
    band.cx = size.cx;
    SendMessageW(rebar_, RB_INSERTBANDW, -1, reinterpret_cast<LPARAM>(&band));
    SendMessageW(toolbar_, TB_GETMAXSIZE, 0, reinterpret_cast<LPARAM>(&size));
    band.fStyle = RBBS_CHILDEDGE | RBBS_USECHEVRON | RBBS_NOGRIPPER | RBBS_BREAK;
    band.hwndChild = toolbar_;
    band.cxMinChild = size.cx;
    band.cyMinChild = size.cy > 0 ? size.cy : 30;
    band.cx = size.cx + 20;
    SendMessageW(rebar_, RB_INSERTBANDW, -1, reinterpret_cast<LPARAM>(&band));
    SendMessageW(driveBar_, TB_GETMAXSIZE, 0, reinterpret_cast<LPARAM>(&size));
    band.fStyle = RBBS_CHILDEDGE | RBBS_USECHEVRON | RBBS_NOGRIPPER;
    band.hwndChild = driveBar_;
    band.cxMinChild = 110;
    band.cyMinChild = size.cy > 0 ? size.cy : 40;
    band.cx = size.cx;
    SendMessageW(rebar_, RB_INSERTBANDW, -1, reinterpret_cast<LPARAM>(&band));
    RECT address = addressBar_.WindowRect();
    band.fMask |= RBBIM_TEXT;
    band.fStyle = RBBS_CHILDEDGE | RBBS_NOGRIPPER | RBBS_BREAK;
    band.lpText = const_cast<wchar_t*>(L"Directory");
    band.hwndChild = addressBar_;
    band.cxMinChild = 100;
    band.cyMinChild = address.bottom - address.top;
    SendMessageW(rebar_, RB_INSERTBANDW, -1, reinterpret_cast<LPARAM>(&band));
}

// The menu as a toolbar of drop-down buttons in the rebar's first band.
void FolderSizeFrame::CreateCommandBar() {
    commandBar_ = CreateWindowExW(0, TOOLBARCLASSNAMEW, L"",
                                  WS_CHILD | WS_VISIBLE | TBSTYLE_FLAT | TBSTYLE_LIST | CCS_NODIVIDER | CCS_NORESIZE |
                                      CCS_NOPARENTALIGN,
                                  0, 0, 0, 0, rebar_, nullptr, ResourceModule(), nullptr);
    SendMessageW(commandBar_, TB_BUTTONSTRUCTSIZE, sizeof(TBBUTTON), 0);
    SendMessageW(commandBar_, TB_SETEXTENDEDSTYLE, 0, TBSTYLE_EX_MIXEDBUTTONS);
    SendMessageW(commandBar_, TB_SETIMAGELIST, 0, 0);
    static wchar_t titles[8][32];
    for (int i = 0; i < GetMenuItemCount(menu_) && i < 8; ++i) {
        GetMenuStringW(menu_, i, titles[i], 32, MF_BYPOSITION);
        TBBUTTON button{I_IMAGENONE, 1000 + i, TBSTATE_ENABLED,
                        BTNS_DROPDOWN | BTNS_WHOLEDROPDOWN | BTNS_AUTOSIZE | BTNS_SHOWTEXT, {}, 0,
                        reinterpret_cast<INT_PTR>(titles[i])};
        SendMessageW(commandBar_, TB_ADDBUTTONSW, 1, reinterpret_cast<LPARAM>(&button));
    }
}

void FolderSizeFrame::ShowCommandMenu(int button) {
    RECT rect{};
    SendMessageW(commandBar_, TB_GETRECT, button, reinterpret_cast<LPARAM>(&rect));
    POINT corner{rect.left, rect.bottom};
    ClientToScreen(commandBar_, &corner);
    SendMessageW(commandBar_, TB_PRESSBUTTON, button, TRUE);
    TrackPopupMenu(GetSubMenu(menu_, button - 1000), TPM_LEFTALIGN | TPM_TOPALIGN, corner.x, corner.y, 0, Handle(),
                   nullptr);
    SendMessageW(commandBar_, TB_PRESSBUTTON, button, FALSE);
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

// ---- scanning ----------------------------------------------------------------

void FolderSizeFrame::StartScan(const tstring& devicePath) {
    driveText_ = devicePath.Mid(4, 2) + L"\\";
    list_.Clear();
    history_.Clear();
    tstring text = FormatText(Resource(IDS_SCANNING).c_str(), driveText_.Left(2).c_str());
    SetWindowTextW(combo_, text.c_str());
    SetStatus(text);
    panel_.Folder().SetLinkText(text);
    panel_.Drive().SetLinkText(text);
    panel_.SetDriveImage(list_.LargeImages(), -1);
    EnableWindow(combo_, FALSE);
    RECT part{};
    SendMessageW(status_, SB_GETRECT, 1, reinterpret_cast<LPARAM>(&part));
    HWND progress = CreateWindowExW(0, PROGRESS_CLASSW, L"", WS_CHILD | WS_VISIBLE | PBS_SMOOTH, part.left, part.top,
                                    part.right - part.left, part.bottom - part.top, status_, nullptr,
                                    ResourceModule(), nullptr);
    SendMessageW(progress, PBM_SETRANGE32, 0, 100);
    HWND old = progress_.exchange(progress);
    if (old)
        DestroyWindow(old);
    StopScan();
    EnableCommand(ID_REFRESH, false);
    EnableCommand(ID_GOTO, false);
    finished_ = false;
    auto block = new WorkerBlock{this, {}};
    lstrcpynW(block->devicePath, devicePath.c_str(), 7);
    uintptr_t thread = _beginthreadex(nullptr, 0, &FolderSizeFrame::ScanThreadProc, block, 0, nullptr);
    if (!thread) {
        delete block;
        return;
    }
    worker_.Attach(reinterpret_cast<HANDLE>(thread));
}

void FolderSizeFrame::StopScan() {
    if (!worker_.IsValid())
        return;
    if (WaitForSingleObject(worker_, 0) == WAIT_TIMEOUT) {
        // The worker may be sending to the progress bar: handle sent messages
        // (and nothing else) until it has ended.
        cancel_ = true;
        HANDLE worker = worker_;
        while (MsgWaitForMultipleObjects(1, &worker, FALSE, INFINITE, QS_SENDMESSAGE) != WAIT_OBJECT_0) {
            MSG message;
            PeekMessageW(&message, nullptr, 0, 0, PM_NOREMOVE | PM_QS_SENDMESSAGE);
        }
        cancel_ = false;
    }
    worker_.CloseNoThrow();
}

unsigned __stdcall FolderSizeFrame::ScanThreadProc(void* argument) {
    std::unique_ptr<WorkerBlock> block(static_cast<WorkerBlock*>(argument));
    block->frame->RunScan(block->devicePath);
    return 0;
}

void FolderSizeFrame::RunScan(const wchar_t* devicePath) {
    int32_t code = 0;
    try {
        if (model_) {
            model_->RemoveListener(cookie_);
            DeleteModel(model_);
        }
        model_ = new MftScanner(devicePath);
        cookie_ = model_->AddListener(this);
        bool finished = model_->Scan();
        if (finished && !cancel_) {
            finished_ = true;
            Post(WM_SCAN_DONE, MftScanner::kRootRecord, 0);
        }
        return;
    } catch (const ErrorBase& e) {
        code = e.Code() ? e.Code() : E_FAIL;
    } catch (const std::bad_alloc&) {
        code = FoldWin32(ERROR_NOT_ENOUGH_MEMORY);
    } catch (const std::length_error&) {
        code = FoldWin32(ERROR_NOT_ENOUGH_MEMORY);
    } catch (...) {
        code = E_UNEXPECTED;
    }
    if (cancel_)
        return;
    tstring text = ModuleErrorText(code);
    MessageBoxW(Handle(), text.c_str(), L"Unexpected Error", MB_OK);
    Post(WM_CLOSE);
}

bool FolderSizeFrame::OnScanProgress(int32_t percent) {
    if (cancel_)
        return false;
    if (percent == -1)
        MessageBoxW(Handle(), L"MFT Scan was stoped!", L"", MB_OK);
    SendMessageW(progress_.load(), PBM_SETPOS, static_cast<WPARAM>(percent), 0);
    return true;
}

void FolderSizeFrame::OnScanDone(WPARAM record, LPARAM open) {
    if (open) {
        if (IsShownFolder(static_cast<int64_t>(record)))
            OpenInShell(static_cast<int64_t>(record));
        list_.SetFocus();
        return;
    }
    if (record != MftScanner::kRootRecord) {
        ShowFolder(static_cast<int64_t>(record));
        return;
    }
    if (!finished_ || !worker_.IsValid())
        return;  // the end of a scan that has since been replaced
    // The worker posted this as its last act.
    WaitForSingleObject(worker_, INFINITE);
    if (!model_)
        return;
    wchar_t label[MAX_PATH + 1] = L"";
    GetVolumeInformationW(driveText_.c_str(), label, MAX_PATH + 1, nullptr, nullptr, nullptr, nullptr, 0);
    tstring title = label[0] ? tstring(label) + L" (" + driveText_.Left(1) + L":)" : TrimBackslashes(driveText_);
    ULARGE_INTEGER available{}, total{}, free{};
    GetDiskFreeSpaceExW(driveText_.c_str(), &available, &total, &free);
    uint64_t used = total.QuadPart - free.QuadPart;
    const FolderRecord* root = model_->Record(MftScanner::kRootRecord);
    tstring info = FormatText(Resource(IDS_DRIVE_INFO).c_str(), title.c_str(),
                              FormatGrouped(static_cast<int64_t>(used)).c_str(),
                              FormatGrouped(static_cast<int64_t>(free.QuadPart)).c_str(),
                              FormatGrouped(root ? root->totalFileCount : 0).c_str());
    panel_.Drive().SetLinkText(info);
    panel_.SetDriveImage(list_.LargeImages(), ShareImage(total.QuadPart ? uint32_t(used * 100 / total.QuadPart) : 0));
    EnableWindow(combo_, TRUE);
    EnableCommand(ID_REFRESH, true);
    EnableCommand(ID_GOTO, true);
    HWND progress = progress_.exchange(nullptr);
    if (progress)
        DestroyWindow(progress);
    SetStatus(readyText_);
    int64_t folder = MftScanner::kRootRecord;
    if (!pendingPath_.empty()) {
        int32_t found = model_->FindFolderByPath(pendingPath_, driveText_);
        folder = found >= 0 ? found : MftScanner::kRootRecord;
    }
    ShowFolder(folder);
}

// ---- the folder list -----------------------------------------------------------

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
        FileTimeToSystemTime(&local, &time)) {
        tm parts{};
        parts.tm_year = time.wYear - 1900;
        parts.tm_mon = time.wMonth - 1;
        parts.tm_mday = time.wDay;
        parts.tm_hour = time.wHour;
        parts.tm_min = time.wMinute;
        parts.tm_sec = time.wSecond;
        parts.tm_isdst = -1;
        wchar_t text[128] = L"";
        wcsftime(text, 128, L"%c", &parts);
        when = text;
    }
    panel_.Folder().SetLinkText(FormatText(L"<A ID=\"%d\">%s</A>\r\n\r\nDate Modified:\r\n%s", int(record),
                                           TrimBackslashes(path).c_str(), when.c_str()));
}

// ---- navigation ------------------------------------------------------------------

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

void FolderSizeFrame::OnDriveCommand(int index) {
    if (index < 0 || index >= static_cast<int>(drives_.Drives().size()))
        return;
    wchar_t letter = drives_.Drives()[index].letter;
    tstring name;
    name += letter;
    name += L':';
    tstring target;
    if (!DriveSource::Current().DosDeviceTarget(name, target))
        return;
    bool current = !driveText_.empty() && towupper(driveText_[0]) == towupper(letter);
    if (target.Left(3) != L"\\??") {
        if (!current)
            StartScan(L"\\\\.\\" + name);
        else if (!IsScanning())
            ShowFolder(MftScanner::kRootRecord);
        return;
    }
    tstring folder = target.Mid(4);
    tstring drive = folder.Left(2);
    tstring question = FormatText(Resource(IDS_VIRTUAL_DRIVE).c_str(), name.c_str(), folder.c_str(), drive.c_str(),
                                  folder.c_str());
    if (MessageBoxW(Handle(), question.c_str(), Resource(IDR_MAINFRAME).c_str(), MB_YESNO | MB_ICONQUESTION) != IDYES)
        return;
    folder = TrimBackslashes(folder);
    if (folder.empty())
        return;
    if (!driveText_.empty() && towupper(folder[0]) == towupper(driveText_[0])) {
        if (const MftScanner* model = Model()) {
            int32_t found = model->FindFolderByPath(folder, driveText_);
            ShowFolder(found >= 0 ? found : MftScanner::kRootRecord);
        }
    } else {
        pendingPath_ = folder;
        StartScan(L"\\\\.\\" + drive);
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

// ---- commands and messages ---------------------------------------------------------

void FolderSizeFrame::SetStatus(const tstring& text) {
    SendMessageW(status_, SB_SETTEXTW, 0, reinterpret_cast<LPARAM>(text.c_str()));
}

void FolderSizeFrame::EnableCommand(UINT id, bool enable) {
    EnableMenuItem(menu_, id, MF_BYCOMMAND | (enable ? MF_ENABLED : MF_GRAYED));
    SendMessageW(toolbar_, TB_ENABLEBUTTON, id, enable);
}

void FolderSizeFrame::CheckCommand(UINT id, bool check) {
    CheckMenuItem(menu_, id, MF_BYCOMMAND | (check ? MF_CHECKED : MF_UNCHECKED));
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
    if (header->hwndFrom == commandBar_ && header->code == TBN_DROPDOWN) {
        ShowCommandMenu(reinterpret_cast<NMTOOLBARW*>(header)->iItem);
        return TBDDRET_DEFAULT;
    }
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
    return accelerators_ && TranslateAcceleratorW(Handle(), accelerators_, &message);
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
        StopScan();
        Destroy();
        return 0;
    case WM_DESTROY:
        PostQuitMessage(0);
        return 0;
    case WM_SCAN_DONE:
        OnScanDone(wParam, lParam);
        return 0;
    case WM_CONTEXTMENU:
        OnContextMenu(lParam);
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
