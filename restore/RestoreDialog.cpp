#include "restore/RestoreDialog.h"
#include <commdlg.h>
#include <shlobj.h>
#include <shlwapi.h>
#include <exception>
#include <vector>
#include "restore/RegistryRestore.h"
#include "restore/resource.h"

namespace {

const char kCaption[] = "Quarn Orvane Restore";
const char kSuccess[] = "Registry was successfully restored!\nPlease remove the CD from the computer and reboot the system.";
const char kPassedOver[] =
    "\n\nThis Windows has no hive file for these entries of the backup; they were left out:";
const int kControls[] = {IDC_BACKUP_FILE, IDC_BROWSE_BACKUP, IDC_WINDOWS_FOLDER, IDC_BROWSE_WINDOWS, IDOK, IDCANCEL};

tstring ItemText(HWND dialog, int id) {
    HWND item = GetDlgItem(dialog, id);
    int n = GetWindowTextLengthA(item);
    std::vector<char> text(size_t(n) + 1, 0);
    GetWindowTextA(item, text.data(), n + 1);
    return tstring(text.data());
}

// The first drive root from C: upward that is there: on a rescue system A:
// and B: are floppies, and drive letters without media fail the test.
tstring FirstDriveRoot() {
    DWORD drives = GetLogicalDrives();
    for (char letter = 'C'; letter <= 'Z'; ++letter) {
        if (!(drives & (1u << (letter - 'A'))))
            continue;
        char root[] = {letter, ':', '\\', 0};
        if (PathFileExistsA(root))
            return root;
    }
    return tstring();
}

// Only an existing folder may be chosen; its path shows as the status text.
int CALLBACK BrowseCallback(HWND window, UINT message, LPARAM lParam, LPARAM) {
    if (message != BFFM_SELCHANGED)
        return 0;
    char path[MAX_PATH] = {};
    BOOL folder = SHGetPathFromIDListA(reinterpret_cast<PCIDLIST_ABSOLUTE>(lParam), path) && PathIsDirectoryA(path);
    SendMessageA(window, BFFM_ENABLEOK, 0, folder);
    SendMessageA(window, BFFM_SETSTATUSTEXTA, 0, reinterpret_cast<LPARAM>(folder ? path : ""));
    return 0;
}

}  // namespace

RestoreDialog::~RestoreDialog() {
    if (bigIcon_)
        DestroyIcon(bigIcon_);
    if (smallIcon_)
        DestroyIcon(smallIcon_);
}

void RestoreDialog::Run() {
    DialogBoxParamA(instance_, MAKEINTRESOURCEA(IDD_RESTORE), nullptr, DialogProc, reinterpret_cast<LPARAM>(this));
}

INT_PTR CALLBACK RestoreDialog::DialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_INITDIALOG) {
        SetWindowLongPtrA(window, DWLP_USER, lParam);
        reinterpret_cast<RestoreDialog*>(lParam)->window_ = window;
    }
    auto* self = reinterpret_cast<RestoreDialog*>(GetWindowLongPtrA(window, DWLP_USER));
    if (!self)
        return FALSE;
    try {
        return self->OnMessage(message, wParam, lParam);
    } catch (const std::exception&) {
        // Nothing may leave a window procedure; only memory can run out here,
        // and the dialog stays as it was.
        return FALSE;
    }
}

INT_PTR RestoreDialog::OnMessage(UINT message, WPARAM wParam, LPARAM) {
    switch (message) {
    case WM_INITDIALOG:
        OnInitDialog();
        return TRUE;
    case WM_COMMAND:
        switch (LOWORD(wParam)) {
        case IDOK:
            OnRestore();
            return TRUE;
        case IDCANCEL:
            EndDialog(window_, IDCANCEL);
            return TRUE;
        case IDC_BROWSE_BACKUP:
            OnBrowseBackup();
            return TRUE;
        case IDC_BROWSE_WINDOWS:
            OnBrowseWindows();
            return TRUE;
        }
        break;
    }
    return FALSE;
}

void RestoreDialog::OnInitDialog() {
    bigIcon_ = static_cast<HICON>(LoadImageA(instance_, MAKEINTRESOURCEA(IDR_MAINFRAME), IMAGE_ICON,
                                             GetSystemMetrics(SM_CXICON), GetSystemMetrics(SM_CYICON), 0));
    smallIcon_ = static_cast<HICON>(LoadImageA(instance_, MAKEINTRESOURCEA(IDR_MAINFRAME), IMAGE_ICON,
                                               GetSystemMetrics(SM_CXSMICON), GetSystemMetrics(SM_CYSMICON), 0));
    SendMessageA(window_, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(bigIcon_));
    SendMessageA(window_, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(smallIcon_));
}

void RestoreDialog::OnBrowseBackup() {
    char path[MAX_PATH * 4] = {};
    tstring initialFolder = FirstDriveRoot();
    OPENFILENAMEA dialog = {};
    dialog.lStructSize = sizeof(dialog);
    dialog.hwndOwner = window_;
    dialog.lpstrFilter = "Backup Files (*.bkp)\0*.bkp\0All Files (*.*)\0*.*\0";
    dialog.lpstrFile = path;
    dialog.nMaxFile = DWORD(sizeof(path));
    dialog.lpstrInitialDir = initialFolder.empty() ? nullptr : initialFolder.c_str();
    dialog.lpstrDefExt = "bkp";
    dialog.Flags = OFN_PATHMUSTEXIST | OFN_HIDEREADONLY | OFN_OVERWRITEPROMPT | OFN_EXPLORER;
    if (!GetOpenFileNameA(&dialog))
        return;
    ReadControls();
    backupFile_ = path;
    WriteControls();
}

void RestoreDialog::OnBrowseWindows() {
    PIDLIST_ABSOLUTE root = nullptr;
    SHGetSpecialFolderLocation(window_, CSIDL_DRIVES, &root);
    char name[MAX_PATH] = {};
    BROWSEINFOA info = {};
    info.hwndOwner = window_;
    info.pidlRoot = root;
    info.pszDisplayName = name;
    // The status line carries the chosen path, which it shows only when asked for.
    info.ulFlags = BIF_RETURNONLYFSDIRS | BIF_RETURNFSANCESTORS | BIF_STATUSTEXT;
    info.lpfn = BrowseCallback;
    PIDLIST_ABSOLUTE chosen = SHBrowseForFolderA(&info);
    CoTaskMemFree(root);
    if (!chosen)
        return;
    char path[MAX_PATH] = {};
    BOOL got = SHGetPathFromIDListA(chosen, path);
    CoTaskMemFree(chosen);
    if (!got)
        return;
    ReadControls();
    windowsFolder_ = path;
    WriteControls();
}

void RestoreDialog::OnRestore() {
    ReadControls();
    if (windowsFolder_.empty() || backupFile_.empty()) {
        ShowError(_T("Select correct paths"));
        return;
    }
    EnableControls(false);
    progress_.Create(instance_, window_);
    passedOver_.clear();
    if (!RestoreRegistry(windowsFolder_, backupFile_, *this)) {
        EnableControls(true);
        return;
    }
    progress_.Destroy();
    tstring text = kSuccess;
    if (!passedOver_.empty())
        text += kPassedOver;
    for (const tstring& entry : passedOver_)
        text += "\n" + entry;
    ShowBox(text, MB_OK);
    EndDialog(window_, IDOK);
}

void RestoreDialog::EnableControls(bool enable) {
    ReadControls();
    for (int id : kControls)
        EnableWindow(GetDlgItem(window_, id), enable);
    WriteControls();
}

void RestoreDialog::ReadControls() {
    backupFile_ = ItemText(window_, IDC_BACKUP_FILE);
    windowsFolder_ = ItemText(window_, IDC_WINDOWS_FOLDER);
}

void RestoreDialog::WriteControls() {
    SetDlgItemTextA(window_, IDC_BACKUP_FILE, backupFile_.c_str());
    SetDlgItemTextA(window_, IDC_WINDOWS_FOLDER, windowsFolder_.c_str());
}

void RestoreDialog::ShowError(const tstring& text) {
    progress_.Destroy();
    ShowBox(text, MB_OK | MB_ICONERROR);
}

void RestoreDialog::ShowBox(const tstring& text, UINT type) {
    MessageBoxA(window_, text.c_str(), kCaption, type);
}
