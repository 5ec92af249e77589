#include <doctest/doctest.h>
#include <windows.h>
#include <commctrl.h>
#include <stdexcept>
#include "CompactTestSupport.h"
#include "compact/MainDlg.h"

using compact::CMainDlg;

namespace {

tstring Cell(HWND list, int row, int column) {
    wchar_t text[260] = {};
    LVITEMW item = {};
    item.iSubItem = column;
    item.pszText = text;
    item.cchTextMax = 260;
    SendMessageW(list, LVM_GETITEMTEXTW, WPARAM(row), LPARAM(&item));
    return text;
}

int Rows(HWND list) {
    return int(SendMessageW(list, LVM_GETITEMCOUNT, 0, 0));
}

}  // namespace

TEST_CASE("the dialog shows hive lines, reuses the last hive's row and cannot be closed by the user") {
    MessageBoxDismisser reboot(L"QUARN Orvane");
    bool sawDialog = false;
    CMainDlg dialog([&](CMainDlg& log) {
        HWND window = log.Handle();
        HWND list = GetDlgItem(window, 1001);
        wchar_t title[64] = {};
        GetWindowTextW(window, title, 64);
        CHECK(tstring(title) == L"QUARN Registry Compact");
        CHECK((GetWindowLongW(window, GWL_STYLE) & WS_SYSMENU) == 0);

        // Walk progress is counted, not shown.
        CHECK(log.AddEntry(0, L"Directory: ", L"HKLM_") == 0);
        CHECK(Rows(list) == 0);

        int row = log.AddEntry(3, L"Compacting hive", L"HKLM_SOFTWARE");
        CHECK(row == 0);
        CHECK(Cell(list, 0, 1) == L"Compacting hive");
        CHECK(Cell(list, 0, 2) == L"HKLM_SOFTWARE");
        log.MarkDone(row);
        CHECK(Cell(list, 0, 1) == L"Compacted");

        CHECK(log.AddEntry(3, L"Compacting hive", L"HKLM_SAM") == 1);
        // An error line of the same hive rewrites its row.
        CHECK(log.AddEntry(3, L"Compact Error", L"HKLM_SAM") == 1);
        CHECK(Rows(list) == 2);
        CHECK(Cell(list, 1, 1) == L"Compact Error");
        CHECK(SendMessageW(list, LVM_GETITEMSTATE, 1, LVIS_SELECTED) == LVIS_SELECTED);

        // Enter, Escape and the close command leave the dialog open.
        SendMessageW(window, WM_COMMAND, IDOK, 0);
        SendMessageW(window, WM_COMMAND, IDCANCEL, 0);
        SendMessageW(window, WM_SYSCOMMAND, SC_CLOSE, 0);
        CHECK(IsWindow(window));
        sawDialog = true;
        return true;
    });
    CHECK(dialog.DoModal());
    CHECK(sawDialog);
    // The prefix reports Windows 6.1: the reboot box was shown.
    CHECK(reboot.dismissed > 0);
}

TEST_CASE("a failed or throwing job makes the dialog report failure") {
    MessageBoxDismisser reboot(L"QUARN Orvane");
    CMainDlg failing([](CMainDlg&) { return false; });
    CHECK_FALSE(failing.DoModal());
    CMainDlg throwing([](CMainDlg&) -> bool { throw std::runtime_error("walk failed"); });
    CHECK_FALSE(throwing.DoModal());
    // A second dialog in the same process still has its row images.
    CMainDlg again([](CMainDlg& log) {
        HWND list = GetDlgItem(log.Handle(), 1001);
        return ListView_GetImageList(list, LVSIL_SMALL) != nullptr;
    });
    CHECK(again.DoModal());
}
