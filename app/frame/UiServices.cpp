#include "app/frame/UiServices.h"
#include "app/frame/AboutBox.h"
#include <htmlhelp.h>
#include <shellapi.h>

int UiServices::ShowMessage(HWND owner, const wchar_t* text, const wchar_t* caption, UINT type) {
    return ::MessageBoxW(owner, text, caption, type);
}

HWND UiServices::ShowHtmlHelp(HWND owner, const wchar_t* file, UINT command, DWORD_PTR data) {
    // hhctrl.ocx is loaded by name on first use: a missing help system only
    // means no help window.
    using HtmlHelpProc = HWND(WINAPI*)(HWND, LPCWSTR, UINT, DWORD_PTR);
    static HtmlHelpProc proc = [] {
        HMODULE module = ::LoadLibraryW(L"hhctrl.ocx");
        return module ? reinterpret_cast<HtmlHelpProc>(::GetProcAddress(module, "HtmlHelpW")) : nullptr;
    }();
    return proc ? proc(owner, file, command, data) : nullptr;
}

INT_PTR UiServices::ShellExecuteFile(HWND owner, const wchar_t* verb, const wchar_t* file, const wchar_t* parameters,
                                 const wchar_t* directory, int show) {
    return reinterpret_cast<INT_PTR>(::ShellExecuteW(owner, verb, file, parameters, directory, show));
}

BOOL UiServices::OpenFileDialog(OPENFILENAMEW* request) { return ::GetOpenFileNameW(request); }
BOOL UiServices::SaveFileDialog(OPENFILENAMEW* request) { return ::GetSaveFileNameW(request); }
PIDLIST_ABSOLUTE UiServices::BrowseForFolder(BROWSEINFOW* request) { return ::SHBrowseForFolderW(request); }
BOOL UiServices::PrintDialog(PRINTDLGW* request) { return ::PrintDlgW(request); }
INT_PTR UiServices::ShowAboutBox(HWND owner, const wchar_t* picturePath) {
    return AboutBox(picturePath ? picturePath : L"").Run(owner);
}

namespace {

UiServices systemServices;
UiServices* current = &systemServices;

}  // namespace

UiServices& GetUiServices() { return *current; }

void SetUiServices(UiServices* services) { current = services ? services : &systemServices; }
