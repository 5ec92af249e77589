#pragma once
#include <windows.h>
#include "common/tstring/tstring.h"

// Small process-wide operations of the main program.

// The main frame's window (NULL before it exists): the owner of the program's
// message boxes, dialogs and help.
HWND GetMainWindow();
void SetMainWindow(HWND window);

// Registry view bits that opens needing a particular view OR into their
// access mask: KEY_WOW64_64KEY and KEY_WOW64_32KEY from Windows XP on, 0 before.
REGSAM RegistryView64();
REGSAM RegistryView32();
void SetRegistryViewFlags(REGSAM view64, REGSAM view32);

// text and caption: a string-table id (up to 0xFFFE) or a text; caption 0 is
// the product title (string 208). Returns the button pressed.
int ShowMessageBox(HWND owner, const wchar_t* text, const wchar_t* caption, UINT type);
inline int ShowMessageBox(HWND owner, UINT textId, UINT captionId, UINT type) {
    return ShowMessageBox(owner, MAKEINTRESOURCEW(textId), MAKEINTRESOURCEW(captionId), type);
}

// The help file "Orvane.chm" beside the program, with the main window as
// owner; true when a help window opened.
bool ShowHelp(UINT command, DWORD_PTR data);
// Full path of "Orvane.chm" beside the program.
tstring HelpFilePath();

// Drains the thread's queue through its message loop's filters.
void PumpMessages();
// For less than 100 ms one pump; otherwise pumps and sleeps 50 ms until the
// time has passed. Returns the elapsed milliseconds.
DWORD WaitPumping(DWORD milliseconds);

// Starts the disk space explorer from its installation folder, or opens its
// product page when it is not installed. Reports nothing.
void StartDiskExplorer();
// The explorer's program path from its uninstall key; empty when missing.
tstring DiskExplorerPath();

// The maker's web site (no trailing slash) and the explorer's product page.
extern const wchar_t kProductSite[];
extern const wchar_t kDiskExplorerPage[];
