#include "bootdisk/PeBuilder.h"
#include <process.h>
#include <cwchar>
#include <cstdlib>
#include "common/errors/ErrorBase.h"
#include "common/system/FileSystem.h"
#include "common/system/HandleHolder.h"

namespace {

[[noreturn]] void Fail(const wchar_t* text) { throw ErrorBase(E_FAIL, text); }

unsigned __stdcall DeleteFolder(void* path) {
    wchar_t* text = static_cast<wchar_t*>(path);
    DeletePath(text);
    free(text);
    return 0;
}

}  // namespace

tstring PeBuilder::InstalledFolder() {
    // The builder's installer is a 32-bit program: its entry is in the 32-bit
    // view of a 64-bit system. Reading is all this needs.
    const REGSAM views[] = {KEY_WOW64_32KEY, KEY_WOW64_64KEY};
    for (REGSAM view : views) {
        HKEY key = nullptr;
        if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\PE Builder_is1",
                          0, KEY_READ | view, &key) != ERROR_SUCCESS)
            continue;
        wchar_t folder[MAX_PATH + 1] = {};
        DWORD size = sizeof(folder) - sizeof(wchar_t);
        DWORD type = 0;
        LONG status =
            RegQueryValueExW(key, L"InstallLocation", nullptr, &type, reinterpret_cast<BYTE*>(folder), &size);
        RegCloseKey(key);
        if (status != ERROR_SUCCESS || (type != REG_SZ && type != REG_EXPAND_SZ)) continue;
        tstring text(folder);
        // The installer writes the folder with a trailing backslash.
        while (text.size() > 3 && text.back() == L'\\') text.pop_back();
        if (!text.empty()) return text;
    }
    return tstring();
}

void PeBuilder::InstallPlugin(const tstring& source) const {
    WIN32_FIND_DATAW found = {};
    FindHandleHolder search(FindFirstFileW((source + L"\\*").c_str(), &found));
    if (!search.IsValid()) Fail(L"Can't find QUARN Orvane plugin folder");
    try {
        CreateFolderTree(PluginFolder());
    } catch (const ErrorBase&) {
        Fail(L"Can't copy plugin files");
    }
    do {
        if (wcscmp(found.cFileName, L".") == 0 || wcscmp(found.cFileName, L"..") == 0) continue;
        tstring from = source + L"\\" + found.cFileName;
        tstring to = PluginFolder() + L"\\" + found.cFileName;
        if (!CopyFileW(from.c_str(), to.c_str(), FALSE)) Fail(L"Can't copy plugin files");
    } while (FindNextFileW(search, &found));
}

DWORD PeBuilder::Build() const {
    tstring command = L"\"" + folder_ + L"\\pebuilder.exe\" -auto -overwrite -exit";
    STARTUPINFOW startup = {};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION started = {};
    if (!CreateProcessW(nullptr, &command[0], nullptr, nullptr, FALSE, 0, nullptr, folder_.c_str(), &startup,
                        &started))
        Fail(L"Can't start PE Builder");
    HandleHolder process(started.hProcess), thread(started.hThread);
    WaitForSingleObject(process, INFINITE);
    DWORD code = 1;
    if (!GetExitCodeProcess(process, &code)) code = 1;
    return code;
}

void PeBuilder::DeleteOutputLater() const {
    wchar_t* path = _wcsdup(OutputFolder().c_str());
    if (!path) return;
    uintptr_t thread = _beginthreadex(nullptr, 0, DeleteFolder, path, 0, nullptr);
    if (thread)
        CloseHandle(reinterpret_cast<HANDLE>(thread));
    else
        DeleteFolder(path);
}
