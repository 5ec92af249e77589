#include <doctest/doctest.h>
#include <windows.h>
#include <commctrl.h>
#include <string>
#include "app/records/RegEditJump.h"
#include "common/system/HandleHolder.h"

namespace {

BOOL CALLBACK FindClass(HWND window, LPARAM param) {
    auto* search = reinterpret_cast<std::pair<const wchar_t*, HWND>*>(param);
    wchar_t name[64];
    if (GetClassNameW(window, name, 64) && lstrcmpW(name, search->first) == 0) {
        search->second = window;
        return FALSE;
    }
    return TRUE;
}

HWND Descendant(HWND parent, const wchar_t* cls) {
    std::pair<const wchar_t*, HWND> search(cls, nullptr);
    EnumChildWindows(parent, FindClass, reinterpret_cast<LPARAM>(&search));
    return search.second;
}

// Reads the editor's state back through memory in its own process.
struct Editor {
    HWND window = FindWindowW(L"RegEdit_RegEdit", nullptr);
    HWND tree = window ? Descendant(window, L"SysTreeView32") : nullptr;
    HWND list = window ? Descendant(window, L"SysListView32") : nullptr;
    DWORD pid = 0;
    HandleHolder process;
    BYTE* block = nullptr;

    Editor() {
        if (!window) return;
        GetWindowThreadProcessId(window, &pid);
        process.Attach(OpenProcess(PROCESS_ALL_ACCESS, FALSE, pid));
        block = static_cast<BYTE*>(VirtualAllocEx(process, nullptr, 4096, MEM_COMMIT, PAGE_READWRITE));
    }
    ~Editor() {
        if (block) VirtualFreeEx(process, block, 0, MEM_RELEASE);
    }
    std::wstring ReadText() {
        wchar_t text[512] = {};
        ReadProcessMemory(process, block + 1024, text, sizeof(text) - 2, nullptr);
        return text;
    }
    HTREEITEM Caret() { return reinterpret_cast<HTREEITEM>(SendMessageW(tree, TVM_GETNEXTITEM, TVGN_CARET, 0)); }
    std::wstring CaretText() { return Text(Caret()); }
    std::wstring Text(HTREEITEM at) {
        TVITEMW item = {};
        item.mask = TVIF_TEXT;
        item.hItem = at;
        item.pszText = reinterpret_cast<LPWSTR>(block + 1024);
        item.cchTextMax = 256;
        WriteProcessMemory(process, block, &item, sizeof(item), nullptr);
        SendMessageW(tree, TVM_GETITEMW, 0, reinterpret_cast<LPARAM>(block));
        return ReadText();
    }
    std::wstring CaretParentText() {
        return Text(reinterpret_cast<HTREEITEM>(
            SendMessageW(tree, TVM_GETNEXTITEM, TVGN_PARENT, reinterpret_cast<LPARAM>(Caret()))));
    }
    std::wstring SelectedValue() {
        int index = int(SendMessageW(list, LVM_GETNEXTITEM, WPARAM(-1), LVNI_SELECTED));
        if (index < 0) return L"<none>";
        LVITEMW item = {};
        item.pszText = reinterpret_cast<LPWSTR>(block + 1024);
        item.cchTextMax = 256;
        WriteProcessMemory(process, block, &item, sizeof(item), nullptr);
        SendMessageW(list, LVM_GETITEMTEXTW, index, reinterpret_cast<LPARAM>(block));
        return ReadText();
    }
    void End() {
        if (process.IsValid()) TerminateProcess(process, 0);
        WaitForSingleObject(process, 5000);
    }
};

void Plant() {
    HKEY key = nullptr;
    REQUIRE(RegCreateKeyExW(HKEY_CURRENT_USER, L"Software\\OrvaneTest\\jump\\A b\\C", 0, nullptr, 0, KEY_ALL_ACCESS,
                            nullptr, &key, nullptr) == ERROR_SUCCESS);
    const wchar_t data[] = L"x";
    for (const wchar_t* name : {L"it's", L"other"})
        RegSetValueExW(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(data), sizeof(data));
    RegCloseKey(key);
}

}  // namespace

TEST_CASE("the jump opens the editor at the key and its value") {
    Plant();
    REQUIRE(RegEditJump(L"HKCU\\Software\\OrvaneTest\\jump\\A b\\C", L"it's") == 1);
    {
        Editor editor;
        REQUIRE(editor.block);
        CHECK(editor.CaretText() == L"C");
        CHECK(editor.CaretParentText() == L"A b");
        CHECK(editor.SelectedValue() == L"it's");
    }

    // Wine's editor never reports version 4.0, so each jump starts a fresh one.
    REQUIRE(RegEditJump(L"HKCU\\Software\\OrvaneTest\\jump\\A b\\missing", L"") == 1);
    {
        Editor editor;
        CHECK(editor.CaretText() == L"A b");
        CHECK(editor.SelectedValue() == L"<none>");
    }

    REQUIRE(RegEditJump(L"HKCU\\Software\\OrvaneTest\\jump\\A b\\C", L"absent") == 1);
    Editor editor;
    CHECK(editor.CaretText() == L"C");
    CHECK(editor.SelectedValue() == L"<none>");

    CHECK(RegEditJump(L"HKCU\\Software\\OrvaneTest\\jump\\A b\\C", std::wstring(16000, L'n')) == 0);
    CHECK(IsWindow(editor.window));
    editor.End();
    RegDeleteTreeW(HKEY_CURRENT_USER, L"Software\\OrvaneTest\\jump");
}
