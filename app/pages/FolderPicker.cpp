#include "app/pages/FolderPicker.h"
#include <shlobj.h>
#include <shlwapi.h>
#include "app/frame/UiServices.h"

namespace {

// data: the initial folder's text, or NULL.
int CALLBACK FolderPickerCallback(HWND dialog, UINT message, LPARAM item, LPARAM data) {
    if (message == BFFM_INITIALIZED && data) {
        SendMessageW(dialog, BFFM_SETSELECTIONW, TRUE, data);
    } else if (message == BFFM_SELCHANGED) {
        wchar_t path[MAX_PATH * 2] = {};
        bool folder = item && SHGetPathFromIDListW(reinterpret_cast<PCIDLIST_ABSOLUTE>(item), path) &&
                      PathIsDirectoryW(path);
        SendMessageW(dialog, BFFM_ENABLEOK, 0, folder ? TRUE : FALSE);
        SendMessageW(dialog, BFFM_SETSTATUSTEXTW, 0, reinterpret_cast<LPARAM>(folder ? path : L""));
    }
    return 0;
}

}  // namespace

tstring PickFolder(HWND owner, const tstring& initial) {
    BROWSEINFOW request = {};
    request.hwndOwner = owner;
    request.ulFlags = 0x49;
    request.lpfn = FolderPickerCallback;
    request.lParam = initial.empty() ? 0 : reinterpret_cast<LPARAM>(initial.c_str());
    PIDLIST_ABSOLUTE picked = GetUiServices().BrowseForFolder(&request);
    if (!picked) return tstring();
    wchar_t path[MAX_PATH * 2] = {};
    bool ok = SHGetPathFromIDListW(picked, path) != FALSE;
    CoTaskMemFree(picked);
    return ok ? tstring(path) : tstring();
}
