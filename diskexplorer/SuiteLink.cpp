#include "diskexplorer/SuiteLink.h"
#include <commctrl.h>
#include "common/errors/CheckObjects.h"
#include "common/system/RegKeyHolder.h"
#include "diskexplorer/ExplorerResources.h"
#include "diskexplorer/ShellLauncher.h"

const wchar_t kSuiteWebPage[] = L"https://www.quarn.com/orvane/";

namespace {

const wchar_t kUninstallKey[] = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\QUARN Orvane_is1";

tstring InstallLocation() {
    RegKeyHolder holder;
    Win32Check check{tstring(L"QUARN Orvane_is1")};
    check = RegOpenKeyExW(HKEY_LOCAL_MACHINE, kUninstallKey, 0, KEY_READ | KEY_WOW64_64KEY, holder.Receive());
    // The stored size first: a read may add a NUL the stored text lacks.
    DWORD type = 0, stored = 0;
    check = RegQueryValueExW(holder, L"InstallLocation", nullptr, &type, nullptr, &stored);
    wchar_t text[1024];
    DWORD size = sizeof text;
    check = RegQueryValueExW(holder, L"InstallLocation", nullptr, &type, reinterpret_cast<BYTE*>(text), &size);
    if ((type != REG_SZ && type != REG_EXPAND_SZ) || stored % 2 || stored < 2 || stored > size ||
        text[stored / 2 - 1] != L'\0')
        check = ERROR_INVALID_DATA;
    return tstring(text);
}

}  // namespace

void OpenSuiteProgram() {
    tstring folder, file;
    try {
        folder = InstallLocation();
        file = folder + L"\\Orvane.exe";
    } catch (const ErrorBase&) {
        folder.clear();
        file = kSuiteWebPage;
    }
    ShellLauncher::Current().Open(nullptr, file, folder, SW_SHOWNORMAL);
}

bool SuiteLinkPane::OnInitDialog() {
    Item(IDC_LINK).SetText(L"<A ID=\"idOrvane\">Orvane</A>");
    return true;
}

LRESULT SuiteLinkPane::OnNotify(int id, NMHDR* header, bool& handled) {
    handled = id == IDC_LINK && header->code == NM_CLICK;
    if (handled)
        OpenSuiteProgram();
    return 0;
}
