#include "jobs/ScheduleSheet.h"
#include <commctrl.h>

namespace {

const UINT_PTR kSubclassId = 1;
// The sheet callback has no data of its own; the sheet is modal, so the index
// of the sheet now being shown on this thread is enough.
thread_local int pendingTypeIndex = -1;

LRESULT CALLBACK SheetSubclass(HWND sheet, UINT message, WPARAM wParam, LPARAM lParam, UINT_PTR id, DWORD_PTR data) {
    if (message == WM_SHOWWINDOW && wParam) {
        RemoveWindowSubclass(sheet, SheetSubclass, id);
        HWND page = reinterpret_cast<HWND>(SendMessageW(sheet, PSM_GETCURRENTPAGEHWND, 0, 0));
        HWND combo = page ? GetDlgItem(page, kScheduleTypeCombo) : nullptr;
        if (combo) {
            SendMessageW(combo, CB_SETCURSEL, WPARAM(data), 0);
            SendMessageW(page, WM_COMMAND, MAKEWPARAM(kScheduleTypeCombo, CBN_SELENDOK), LPARAM(combo));
            SendMessageW(page, WM_COMMAND, MAKEWPARAM(kScheduleTypeCombo, CBN_SELCHANGE), LPARAM(combo));
        }
    }
    return DefSubclassProc(sheet, message, wParam, lParam);
}

int CALLBACK SheetCallback(HWND sheet, UINT message, LPARAM) {
    if (message == PSCB_INITIALIZED)
        SetWindowSubclass(sheet, SheetSubclass, kSubclassId, DWORD_PTR(pendingTypeIndex));
    return 0;
}

}  // namespace

INT_PTR ShowScheduleSheet(HPROPSHEETPAGE* pages, UINT count, const tstring& caption, HWND parent, int typeIndex) {
    PROPSHEETHEADERW header = {};
    header.dwSize = sizeof(header);
    header.dwFlags = PSH_USECALLBACK;
    header.hwndParent = parent;
    header.pszCaption = caption.c_str();
    header.nPages = count;
    header.phpage = pages;
    header.pfnCallback = SheetCallback;
    pendingTypeIndex = typeIndex;
    INT_PTR result = PropertySheetW(&header);
    pendingTypeIndex = -1;
    return result;
}
