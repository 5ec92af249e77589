#include "compact/MainDlg.h"
#include <commctrl.h>
#include <process.h>
#include "common/errors/CheckObjects.h"
#include "common/system/OsVersion.h"
#include "compact/resource.h"

namespace compact {

namespace {

// Posted by the worker when the job is over: only the dialog's own thread
// may end it.
const UINT WM_JOB_DONE = WM_APP + 1;
const int kRowImage = 1;

HIMAGELIST RowImages() {
    static HIMAGELIST images = ImageList_LoadImageW(ResourceModule(), MAKEINTRESOURCEW(IDB_ROWS), 16, 0,
                                                    RGB(255, 0, 255), IMAGE_BITMAP, LR_CREATEDIBSECTION);
    return images;
}

void SetCellText(const Window& list, int row, int column, const tstring& text) {
    LVITEMW item = {};
    item.iSubItem = column;
    item.pszText = const_cast<wchar_t*>(text.c_str());
    list.Send(LVM_SETITEMTEXTW, WPARAM(row), LPARAM(&item));
}

}  // namespace

CMainDlg::CMainDlg(Job job) : job_(std::move(job)) {}

bool CMainDlg::DoModal() {
    INITCOMMONCONTROLSEX controls = {sizeof controls, ICC_LISTVIEW_CLASSES};
    InitCommonControlsEx(&controls);
    succeeded_ = false;
    INT_PTR result = Dialog::DoModal(nullptr, IDD_COMPACT);
    if (worker_) {
        WaitForSingleObject(worker_, INFINITE);
        CloseHandle(worker_);
        worker_ = nullptr;
    }
    list_.Detach();
    if (result == -1) {
        BoolCheck ck(L"DialogBoxParam");
        ck = FALSE;
    }
    return succeeded_;
}

bool CMainDlg::OnCommand(WORD id, WORD, HWND) {
    // Enter and Escape must not end a compaction.
    return id == IDOK || id == IDCANCEL;
}

bool CMainDlg::OnMessage(UINT message, WPARAM, LPARAM, INT_PTR& result) {
    if (message != WM_JOB_DONE)
        return false;
    End(1);
    result = TRUE;
    return true;
}

bool CMainDlg::OnInitDialog() {
    SetForegroundWindow(Handle());
    CenterOn(GetWindow(Handle(), GW_OWNER));
    SetUpList();
    worker_ = reinterpret_cast<HANDLE>(_beginthreadex(nullptr, 0, WorkerMain, this, 0, nullptr));
    // Shutdown waits for this dialog: without a worker nothing would end it.
    if (!worker_)
        Post(WM_JOB_DONE);
    return true;
}

void CMainDlg::SetUpList() {
    list_ = Item(IDC_HIVE_LIST);
    struct Column {
        const wchar_t* title;
        int width;
    };
    const Column columns[] = {{L"", 30}, {L"Operation", 95}, {L"Registry Key Name", 270}};
    for (int i = 0; i < 3; ++i) {
        LVCOLUMNW column = {};
        column.mask = LVCF_TEXT | LVCF_WIDTH | LVCF_SUBITEM;
        column.pszText = const_cast<wchar_t*>(columns[i].title);
        column.cx = int(list_.Send(LVM_GETSTRINGWIDTHW, 0, LPARAM(columns[i].title))) + 15;
        column.iSubItem = i;
        list_.Send(LVM_INSERTCOLUMNW, WPARAM(i), LPARAM(&column));
        list_.Send(LVM_SETCOLUMNWIDTH, WPARAM(i), MAKELPARAM(columns[i].width, 0));
    }
    COLORREF face = GetSysColor(COLOR_BTNFACE);
    list_.Send(LVM_SETBKCOLOR, 0, LPARAM(face));
    list_.Send(LVM_SETTEXTBKCOLOR, 0, LPARAM(face));
    if (HIMAGELIST images = RowImages()) {
        for (int kind : {LVSIL_STATE, LVSIL_NORMAL, LVSIL_SMALL})
            list_.Send(LVM_SETIMAGELIST, WPARAM(kind), LPARAM(images));
    }
}

unsigned __stdcall CMainDlg::WorkerMain(void* self) {
    static_cast<CMainDlg*>(self)->RunJob();
    return 0;
}

void CMainDlg::RunJob() {
    try {
        succeeded_ = job_(*this);
        // The replaced hives take effect only at a restart.
        if (IsWindowsMajor6())
            MessageBoxW(Handle(), L"Your system needs to be rebooted now", L"QUARN Orvane", MB_ICONINFORMATION);
    } catch (...) {
        succeeded_ = false;
    }
    Post(WM_JOB_DONE);
}

int CMainDlg::AddEntry(int level, const tstring& text, const tstring& name) {
    int count = int(list_.Send(LVM_GETITEMCOUNT));
    if (level != 3)
        return count;
    if (count > 0 && name == lastName_) {
        SetCellText(list_, count - 1, 1, text);
        return count - 1;
    }
    LVITEMW item = {};
    item.mask = LVIF_TEXT | LVIF_IMAGE;
    item.iItem = count;
    item.iImage = kRowImage;
    item.pszText = const_cast<wchar_t*>(L"");
    int row = int(list_.Send(LVM_INSERTITEMW, 0, LPARAM(&item)));
    if (row < 0)
        return count;
    SetCellText(list_, row, 1, text);
    SetCellText(list_, row, 2, name);
    ShowRow(row);
    lastName_ = name;
    return row;
}

void CMainDlg::MarkDone(int row) {
    SetCellText(list_, row, 1, L"Compacted");
    ShowRow(row);
}

void CMainDlg::ShowRow(int row) {
    const UINT state = LVIS_SELECTED | LVIS_FOCUSED;
    LVITEMW item = {};
    item.stateMask = state;
    item.state = state;
    if (list_.Send(LVM_SETITEMSTATE, WPARAM(row), LPARAM(&item)))
        list_.Send(LVM_ENSUREVISIBLE, WPARAM(row), FALSE);
}

}  // namespace compact
