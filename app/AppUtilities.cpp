#include "app/AppUtilities.h"
#include <htmlhelp.h>
#include "app/frame/UiServices.h"
#include "common/system/FileSystem.h"
#include "common/ui/MessageLoop.h"

const wchar_t kProductSite[] = L"https://www.quarn.com";
const wchar_t kDiskExplorerPage[] = L"https://www.quarn.com/drossel/";

namespace {

HWND mainWindow = nullptr;
REGSAM view64 = 0;
REGSAM view32 = 0;

const wchar_t kDiskExplorerKey[] = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\QUARN Drossel_is1";

// A string-table id or the text itself, as MessageBoxW's callers pass them.
tstring TextOrResource(const wchar_t* textOrId) {
    return tstring(textOrId);
}

}  // namespace

HWND GetMainWindow() { return mainWindow; }
void SetMainWindow(HWND window) { mainWindow = window; }

REGSAM RegistryView64() { return view64; }
REGSAM RegistryView32() { return view32; }
void SetRegistryViewFlags(REGSAM flags64, REGSAM flags32) {
    view64 = flags64;
    view32 = flags32;
}

int ShowMessageBox(HWND owner, const wchar_t* text, const wchar_t* caption, UINT type) {
    tstring body = TextOrResource(text);
    tstring title = caption ? TextOrResource(caption) : tstring(MAKEINTRESOURCEW(208));
    return GetUiServices().ShowMessage(owner, body.c_str(), title.c_str(), type);
}

tstring HelpFilePath() {
    tstring path = GetModulePath();
    size_t slash = path.find_last_of(L'\\');
    path.erase(slash == tstring::npos ? 0 : slash + 1);
    return path + L"Orvane.chm";
}

bool ShowHelp(UINT command, DWORD_PTR data) {
    return GetUiServices().ShowHtmlHelp(GetMainWindow(), HelpFilePath().c_str(), command, data) != nullptr;
}

void PumpMessages() { MessageLoop::PumpThread(); }

DWORD WaitPumping(DWORD milliseconds) {
    DWORD start = ::GetTickCount();
    if (milliseconds < 100) {
        PumpMessages();
    } else {
        do {
            PumpMessages();
            ::Sleep(50);
        } while (::GetTickCount() - start < milliseconds);
    }
    return ::GetTickCount() - start;
}

tstring DiskExplorerPath() {
    HKEY key = nullptr;
    if (::RegOpenKeyExW(HKEY_LOCAL_MACHINE, kDiskExplorerKey, 0, KEY_READ | RegistryView32(), &key) != ERROR_SUCCESS)
        return tstring();
    wchar_t folder[MAX_PATH + 1] = {};
    DWORD size = sizeof(folder) - sizeof(wchar_t);
    DWORD type = 0;
    LONG status = ::RegQueryValueExW(key, L"InstallLocation", nullptr, &type, reinterpret_cast<BYTE*>(folder), &size);
    ::RegCloseKey(key);
    if (status != ERROR_SUCCESS || (type != REG_SZ && type != REG_EXPAND_SZ) || !folder[0]) return tstring();
    tstring path = folder;
    if (path.back() != L'\\') path += L'\\';
    return path + L"Drossel.exe";
}

void StartDiskExplorer() {
    tstring target = DiskExplorerPath();
    if (target.empty()) target = kDiskExplorerPage;
    GetUiServices().ShellExecuteFile(nullptr, L"open", target.c_str(), nullptr, nullptr, SW_SHOWNORMAL);
}
