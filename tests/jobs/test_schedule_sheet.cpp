#include <doctest/doctest.h>
#include <windows.h>
#include <commctrl.h>
#include <vector>
#include "jobs/ScheduleSheet.h"

namespace {

// What the test page saw: the combo box's notifications and its selection then.
struct Seen {
    std::vector<int> notifications;
    int selection = -1;
};

INT_PTR CALLBACK PageProc(HWND page, UINT message, WPARAM wParam, LPARAM lParam) {
    static Seen* seen = nullptr;
    switch (message) {
    case WM_INITDIALOG: {
        seen = reinterpret_cast<Seen*>(reinterpret_cast<PROPSHEETPAGEW*>(lParam)->lParam);
        HWND combo = GetDlgItem(page, kScheduleTypeCombo);
        for (const wchar_t* entry : {L"Daily", L"Weekly", L"Monthly", L"Once"})
            SendMessageW(combo, CB_ADDSTRING, 0, LPARAM(entry));
        SendMessageW(combo, CB_SETCURSEL, 1, 0);
        // Whatever happens, the sheet does not stay open.
        SetTimer(page, 1, 10000, nullptr);
        return TRUE;
    }
    case WM_COMMAND:
        if (LOWORD(wParam) == kScheduleTypeCombo && seen) {
            seen->notifications.push_back(HIWORD(wParam));
            seen->selection = int(SendMessageW(GetDlgItem(page, kScheduleTypeCombo), CB_GETCURSEL, 0, 0));
            if (HIWORD(wParam) == CBN_SELCHANGE)
                PostMessageW(GetParent(page), PSM_PRESSBUTTON, PSBTN_CANCEL, 0);
        }
        return TRUE;
    case WM_TIMER:
        PostMessageW(GetParent(page), PSM_PRESSBUTTON, PSBTN_CANCEL, 0);
        return TRUE;
    }
    return FALSE;
}

// A dialog template in memory: one page with the schedule-type combo box.
std::vector<WORD> PageTemplate() {
    std::vector<WORD> words(64, 0);
    auto* dialog = reinterpret_cast<DLGTEMPLATE*>(words.data());
    dialog->style = WS_CHILD | DS_CONTROL;
    dialog->cdit = 1;
    dialog->cx = 200;
    dialog->cy = 100;
    size_t at = sizeof(DLGTEMPLATE) / sizeof(WORD) + 3;  // no menu, default class, no title
    at = (at + 1) & ~size_t(1);                         // items start on a DWORD
    auto* item = reinterpret_cast<DLGITEMTEMPLATE*>(&words[at]);
    item->style = WS_CHILD | WS_VISIBLE | CBS_DROPDOWNLIST | WS_VSCROLL;
    item->x = 10;
    item->y = 10;
    item->cx = 100;
    item->cy = 60;
    item->id = WORD(kScheduleTypeCombo);
    at += sizeof(DLGITEMTEMPLATE) / sizeof(WORD);
    words[at++] = 0xFFFF;
    words[at++] = 0x0085;  // the combo box class
    words[at++] = 0;       // no text
    words[at++] = 0;       // no creation data
    return words;
}

}  // namespace

TEST_CASE("the schedule sheet first shows the schedule type asked for, as if the user picked it") {
    INITCOMMONCONTROLSEX controls = {sizeof controls, ICC_STANDARD_CLASSES};
    InitCommonControlsEx(&controls);
    std::vector<WORD> words = PageTemplate();
    Seen seen;
    PROPSHEETPAGEW page = {};
    page.dwSize = sizeof page;
    page.dwFlags = PSP_DLGINDIRECT;
    page.pResource = reinterpret_cast<DLGTEMPLATE*>(words.data());
    page.pfnDlgProc = PageProc;
    page.lParam = LPARAM(&seen);
    HPROPSHEETPAGE pages[1] = {CreatePropertySheetPageW(&page)};
    REQUIRE(pages[0]);

    ShowScheduleSheet(pages, 1, L" backup", nullptr, 2);
    CHECK(seen.notifications == std::vector<int>{CBN_SELENDOK, CBN_SELCHANGE});
    CHECK(seen.selection == 2);
}
