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

void CenterWindow(HWND window) {
    RECT area = {};
    HWND owner = GetWindow(window, GW_OWNER);
    if (!owner || !GetWindowRect(owner, &area))
        SystemParametersInfoW(SPI_GETWORKAREA, 0, &area, 0);
    RECT self = {};
    GetWindowRect(window, &self);
    int width = self.right - self.left, height = self.bottom - self.top;
    SetWindowPos(window, nullptr, area.left + (area.right - area.left - width) / 2,
                 area.top + (area.bottom - area.top - height) / 2, 0, 0,
                 SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

void SetCellText(HWND list, int row, int column, const tstring& text) {
    LVITEMW item = {};
    item.iSubItem = column;
    item.pszText = const_cast<wchar_t*>(text.c_str());
    SendMessageW(list, LVM_SETITEMTEXTW, WPARAM(row), LPARAM(&item));
}

}  // namespace

CMainDlg::CMainDlg(Job job) : job_(std::move(job)) {}

bool CMainDlg::DoModal() {
    INITCOMMONCONTROLSEX controls = {sizeof controls, ICC_LISTVIEW_CLASSES};
    InitCommonControlsEx(&controls);
    succeeded_ = false;
    INT_PTR result = DialogBoxParamW(ResourceModule(), MAKEINTRESOURCEW(IDD_COMPACT), nullptr, DialogProc,
                                     LPARAM(this));
    if (worker_) {
        WaitForSingleObject(worker_, INFINITE);
        CloseHandle(worker_);
        worker_ = nullptr;
    }
    window_ = list_ = nullptr;
    if (result == -1) {
        BoolCheck ck(L"DialogBoxParam");
        ck = FALSE;
    }
    return succeeded_;
}

INT_PTR CALLBACK CMainDlg::DialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_INITDIALOG) {
        SetWindowLongPtrW(window, DWLP_USER, lParam);
        reinterpret_cast<CMainDlg*>(lParam)->window_ = window;
    }
    auto* self = reinterpret_cast<CMainDlg*>(GetWindowLongPtrW(window, DWLP_USER));
    if (!self)
        return FALSE;
    try {
        return self->OnMessage(message, wParam, lParam);
    } catch (...) {
        // Nothing may leave a dialog procedure; the worker still ends the dialog.
        return FALSE;
    }
}

INT_PTR CMainDlg::OnMessage(UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_INITDIALOG:
        OnInitDialog();
        return TRUE;
    case WM_COMMAND:
        // Enter and Escape must not end a compaction.
        return LOWORD(wParam) == IDOK || LOWORD(wParam) == IDCANCEL;
    case WM_JOB_DONE:
        EndDialog(window_, 1);
        return TRUE;
    default:
        return FALSE;
    }
}

void CMainDlg::OnInitDialog() {
    SetForegroundWindow(window_);
    CenterWindow(window_);
    SetUpList();
    worker_ = reinterpret_cast<HANDLE>(_beginthreadex(nullptr, 0, WorkerMain, this, 0, nullptr));
    // Shutdown waits for this dialog: without a worker nothing would end it.
    if (!worker_)
        PostMessageW(window_, WM_JOB_DONE, 0, 0);
}

void CMainDlg::SetUpList() {
    list_ = GetDlgItem(window_, IDC_HIVE_LIST);
    struct Column {
        const wchar_t* title;
        int width;
    };
    const Column columns[] = {{L"", 30}, {L"Operation", 95}, {L"Registry Key Name", 270}};
    for (int i = 0; i < 3; ++i) {
        LVCOLUMNW column = {};
        column.mask = LVCF_TEXT | LVCF_WIDTH | LVCF_SUBITEM;
        column.pszText = const_cast<wchar_t*>(columns[i].title);
        column.cx = int(SendMessageW(list_, LVM_GETSTRINGWIDTHW, 0, LPARAM(columns[i].title))) + 15;
        column.iSubItem = i;
        SendMessageW(list_, LVM_INSERTCOLUMNW, WPARAM(i), LPARAM(&column));
        SendMessageW(list_, LVM_SETCOLUMNWIDTH, WPARAM(i), MAKELPARAM(columns[i].width, 0));
    }
    COLORREF face = GetSysColor(COLOR_BTNFACE);
    ListView_SetBkColor(list_, face);
    ListView_SetTextBkColor(list_, face);
    if (HIMAGELIST images = RowImages()) {
        ListView_SetImageList(list_, images, LVSIL_STATE);
        ListView_SetImageList(list_, images, LVSIL_NORMAL);
        ListView_SetImageList(list_, images, LVSIL_SMALL);
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
            MessageBoxW(window_, L"Your system needs to be rebooted now", L"QUARN Orvane", MB_ICONINFORMATION);
    } catch (...) {
        succeeded_ = false;
    }
    PostMessageW(window_, WM_JOB_DONE, 0, 0);
}

int CMainDlg::AddEntry(int level, const tstring& text, const tstring& name) {
    int count = int(SendMessageW(list_, LVM_GETITEMCOUNT, 0, 0));
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
    int row = int(SendMessageW(list_, LVM_INSERTITEMW, 0, LPARAM(&item)));
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
    if (SendMessageW(list_, LVM_SETITEMSTATE, WPARAM(row), LPARAM(&item)))
        SendMessageW(list_, LVM_ENSUREVISIBLE, WPARAM(row), FALSE);
}

}  // namespace compact
