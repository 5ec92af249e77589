#include "app/records/RegEditJump.h"
#include <windows.h>
#include <commctrl.h>
#include <shellapi.h>
#include "common/system/HandleHolder.h"

namespace {

const DWORD kBlockSize = 4096;
const SIZE_T kTreeTextOffset = 80;
const int kTreeTextChars = 1024;
const SIZE_T kFindTextOffset = 48;
// Bounds for an editor that never comes up or never takes the focus.
const DWORD kStartWaitMs = 10000;
const int kFocusTries = 100;

struct WindowSearch {
    const wchar_t* className;
    DWORD processId;
    HWND found;
};

BOOL CALLBACK MatchTopWindow(HWND window, LPARAM param) {
    WindowSearch* search = reinterpret_cast<WindowSearch*>(param);
    wchar_t name[64];
    if (!GetClassNameW(window, name, 64) || lstrcmpW(name, search->className) != 0) return TRUE;
    DWORD pid = 0;
    GetWindowThreadProcessId(window, &pid);
    if (search->processId && pid != search->processId) return TRUE;
    search->found = window;
    return FALSE;
}

BOOL CALLBACK MatchChildClass(HWND window, LPARAM param) {
    WindowSearch* search = reinterpret_cast<WindowSearch*>(param);
    wchar_t name[64];
    if (!GetClassNameW(window, name, 64) || lstrcmpW(name, search->className) != 0) return TRUE;
    search->found = window;
    return FALSE;
}

HWND FindEditor(DWORD processId) {
    WindowSearch search = {L"RegEdit_RegEdit", processId, nullptr};
    EnumWindows(MatchTopWindow, reinterpret_cast<LPARAM>(&search));
    return search.found;
}

// Some editors keep their tree and list inside a child pane, so the whole
// window tree is searched rather than the direct children only.
HWND FindDescendant(HWND parent, const wchar_t* className) {
    HWND direct = FindWindowExW(parent, nullptr, className, nullptr);
    if (direct) return direct;
    WindowSearch search = {className, 0, nullptr};
    EnumChildWindows(parent, MatchChildClass, reinterpret_cast<LPARAM>(&search));
    return search.found;
}

bool IsVersion40(HWND editor) {
    DWORD pid = 0;
    GetWindowThreadProcessId(editor, &pid);
    return GetProcessVersion(pid) == MAKELONG(0, 4);
}

void CloseEditor(HWND editor) {
    DWORD pid = 0;
    GetWindowThreadProcessId(editor, &pid);
    HandleHolder process(OpenProcess(SYNCHRONIZE, FALSE, pid));
    DWORD_PTR result = 0;
    SendMessageTimeoutW(editor, WM_CLOSE, 0, 0, SMTO_ABORTIFHUNG, kStartWaitMs, &result);
    if (process.IsValid()) WaitForSingleObject(process, kStartWaitMs);
}

HWND StartEditor() {
    SHELLEXECUTEINFOW info = {};
    info.cbSize = sizeof(info);
    info.fMask = SEE_MASK_NOCLOSEPROCESS;
    info.lpVerb = L"open";
    info.lpFile = L"Regedit.exe";
    info.nShow = SW_SHOWNORMAL;
    if (!ShellExecuteExW(&info) || !info.hProcess) return nullptr;
    HandleHolder process(info.hProcess);
    WaitForInputIdle(process, kStartWaitMs);
    DWORD pid = GetProcessId(process);
    // Input idle can come before the main window exists; poll for it.
    for (DWORD waited = 0;; waited += 50) {
        HWND editor = FindEditor(pid);
        if (editor && FindDescendant(editor, L"SysTreeView32")) return editor;
        if (waited >= kStartWaitMs || WaitForSingleObject(process, 50) == WAIT_OBJECT_0) return nullptr;
    }
}

class RemoteBlock {
public:
    RemoteBlock(HANDLE process) : process_(process) {
        address_ = static_cast<BYTE*>(
            VirtualAllocEx(process, nullptr, kBlockSize, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE));
    }
    ~RemoteBlock() {
        if (address_) VirtualFreeEx(process_, address_, 0, MEM_RELEASE);
    }
    bool IsValid() const { return address_ != nullptr; }
    BYTE* At(SIZE_T offset) const { return address_ + offset; }
    bool Write(SIZE_T offset, const void* data, SIZE_T size) {
        if (offset > kBlockSize || size > kBlockSize - offset) return false;
        SIZE_T written = 0;
        return WriteProcessMemory(process_, address_ + offset, data, size, &written) && written == size;
    }
    bool Read(SIZE_T offset, void* data, SIZE_T size) {
        if (offset > kBlockSize || size > kBlockSize - offset) return false;
        SIZE_T read = 0;
        return ReadProcessMemory(process_, address_ + offset, data, size, &read) && read == size;
    }

private:
    HANDLE process_;
    BYTE* address_ = nullptr;
};

tstring ItemText(HWND tree, RemoteBlock& block, HTREEITEM item) {
    TVITEMW tv = {};
    tv.mask = TVIF_TEXT;
    tv.hItem = item;
    tv.pszText = reinterpret_cast<LPWSTR>(block.At(kTreeTextOffset));
    tv.cchTextMax = kTreeTextChars;
    wchar_t empty = 0;
    if (!block.Write(kTreeTextOffset, &empty, sizeof(empty)) || !block.Write(0, &tv, sizeof(tv))) return tstring();
    DWORD_PTR ok = 0;
    if (!SendMessageTimeoutW(tree, TVM_GETITEMW, 0, reinterpret_cast<LPARAM>(block.At(0)), SMTO_ABORTIFHUNG,
                             kStartWaitMs, &ok) || !ok)
        return tstring();
    wchar_t text[kTreeTextChars + 1] = {};
    if (!block.Read(kTreeTextOffset, text, kTreeTextChars * sizeof(wchar_t))) return tstring();
    return tstring(text);
}

HTREEITEM FindChild(HWND tree, RemoteBlock& block, HTREEITEM parent, const tstring& name) {
    HTREEITEM item = reinterpret_cast<HTREEITEM>(
        SendMessageW(tree, TVM_GETNEXTITEM, TVGN_CHILD, reinterpret_cast<LPARAM>(parent)));
    while (item) {
        if (lstrcmpiW(ItemText(tree, block, item).c_str(), name.c_str()) == 0) return item;
        item = reinterpret_cast<HTREEITEM>(
            SendMessageW(tree, TVM_GETNEXTITEM, TVGN_NEXT, reinterpret_cast<LPARAM>(item)));
    }
    return nullptr;
}

tstring RootName(const tstring& root) {
    if (root == L"HKLM") return L"HKEY_LOCAL_MACHINE";
    if (root == L"HKCU") return L"HKEY_CURRENT_USER";
    if (root == L"HKCR") return L"HKEY_CLASSES_ROOT";
    if (root == L"HKU") return L"HKEY_USERS";
    return root;
}

void WalkTree(HWND tree, RemoteBlock& block, const tstring& keyPath) {
    HTREEITEM current = reinterpret_cast<HTREEITEM>(SendMessageW(tree, TVM_GETNEXTITEM, TVGN_ROOT, 0));
    size_t start = 0;
    bool first = true;
    while (current) {
        size_t end = keyPath.find(L'\\', start);
        tstring name = keyPath.substr(start, end == tstring::npos ? tstring::npos : end - start);
        if (first) name = RootName(name);
        first = false;
        HTREEITEM match = FindChild(tree, block, current, name);
        if (!match) break;
        current = match;
        SendMessageW(tree, TVM_EXPAND, TVE_EXPAND, reinterpret_cast<LPARAM>(current));
        if (end == tstring::npos) break;
        start = end + 1;
    }
    if (current) SendMessageW(tree, TVM_SELECTITEM, TVGN_CARET, reinterpret_cast<LPARAM>(current));
}

void SelectValue(HWND list, RemoteBlock& block, const tstring& valueName) {
    DWORD listThread = GetWindowThreadProcessId(list, nullptr);
    DWORD ownThread = GetCurrentThreadId();
    bool attached = listThread != ownThread && AttachThreadInput(ownThread, listThread, TRUE);
    Sleep(300);
    LVFINDINFOW find = {};
    find.flags = LVFI_STRING;
    find.psz = reinterpret_cast<LPCWSTR>(block.At(kFindTextOffset));
    int index = -1;
    if (block.Write(kFindTextOffset, valueName.c_str(), (valueName.size() + 1) * sizeof(wchar_t)) &&
        block.Write(0, &find, sizeof(find)))
        index = int(SendMessageW(list, LVM_FINDITEMW, WPARAM(-1), reinterpret_cast<LPARAM>(block.At(0))));
    for (int tries = 0; tries < kFocusTries && GetFocus() && GetFocus() != list; ++tries) {
        SetFocus(list);
        Sleep(10);
    }
    // LVM_SETITEMSTATE takes an LVITEM, which must lie in the editor's memory too.
    LVITEMW state = {};
    state.stateMask = LVIS_FOCUSED | LVIS_SELECTED;
    state.state = 0;
    if (block.Write(0, &state, sizeof(state)))
        SendMessageW(list, LVM_SETITEMSTATE, WPARAM(-1), reinterpret_cast<LPARAM>(block.At(0)));
    if (index != -1) {
        state.stateMask = LVIS_SELECTED;
        state.state = LVIS_SELECTED;
        if (block.Write(0, &state, sizeof(state)))
            SendMessageW(list, LVM_SETITEMSTATE, WPARAM(index), reinterpret_cast<LPARAM>(block.At(0)));
        SendMessageW(list, LVM_ENSUREVISIBLE, WPARAM(index), FALSE);
    }
    if (attached) AttachThreadInput(ownThread, listThread, FALSE);
}

}  // namespace

int RegEditJump(const tstring& keyPath, const tstring& valueName) {
    // The name and its terminator must fit the remote block behind the find record.
    if ((valueName.size() + 1) * sizeof(wchar_t) > kBlockSize - kFindTextOffset) return 0;
    HWND editor = FindEditor(0);
    if (editor && !IsVersion40(editor)) {
        CloseEditor(editor);
        editor = nullptr;
    }
    if (!editor) editor = StartEditor();
    if (!editor) return 0;

    HWND tree = FindDescendant(editor, L"SysTreeView32");
    HWND list = FindDescendant(editor, L"SysListView32");
    if (!tree || !list) return 0;
    DWORD pid = 0;
    GetWindowThreadProcessId(editor, &pid);
    HandleHolder process(OpenProcess(PROCESS_VM_OPERATION | PROCESS_VM_READ | PROCESS_VM_WRITE, FALSE, pid));
    if (!process.IsValid()) return 0;
    RemoteBlock block(process);
    if (!block.IsValid()) return 0;
    ShowWindow(editor, SW_SHOWMAXIMIZED);
    SetForegroundWindow(editor);

    WalkTree(tree, block, keyPath);
    if (!valueName.empty()) SelectValue(list, block, valueName);
    return 1;
}
