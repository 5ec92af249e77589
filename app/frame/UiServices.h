#pragma once
#include <windows.h>
#include <commdlg.h>
#include <shlobj.h>

// The one seam between the program and the system's own windows: message
// boxes, help, the shell's open verb and the common dialogs. The product uses
// the system's; tests install a recording version (one for every page).
class UiServices {
public:
    virtual ~UiServices() = default;
    virtual int ShowMessage(HWND owner, const wchar_t* text, const wchar_t* caption, UINT type);
    virtual HWND ShowHtmlHelp(HWND owner, const wchar_t* file, UINT command, DWORD_PTR data);
    // ShellExecuteW's result: above 32 on success.
    virtual INT_PTR ShellExecuteFile(HWND owner, const wchar_t* verb, const wchar_t* file, const wchar_t* parameters,
                                 const wchar_t* directory, int show);
    virtual BOOL OpenFileDialog(OPENFILENAMEW* request);
    virtual BOOL SaveFileDialog(OPENFILENAMEW* request);
    virtual PIDLIST_ABSOLUTE BrowseForFolder(BROWSEINFOW* request);
    virtual BOOL PrintDialog(PRINTDLGW* request);
    // The modal About box with the picture file; what it ended with.
    virtual INT_PTR ShowAboutBox(HWND owner, const wchar_t* picturePath);
};

// The services in use (the system's until SetUiServices names others).
UiServices& GetUiServices();
// NULL gives the system's back. The object stays the caller's.
void SetUiServices(UiServices* services);
