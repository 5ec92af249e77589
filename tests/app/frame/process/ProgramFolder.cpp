#include "ProgramFolder.h"
#include <algorithm>
#include <cstdlib>
#include "StartProcess.h"
#include "common/settings/UiCacheFolder.h"

tstring BuildPath(const wchar_t* relative) {
    const char* root = getenv("ORVANE_BIN_DIR");
    tstring path = L"Z:" + tstring::FromNarrow(root ? root : ".") + L"/" + relative;
    path.Replace(L"/", L"\\");
    return path;
}

ProgramFolder::ProgramFolder(const wchar_t* label) : folder_(label) {
    CopyFileW(BuildPath(L"Orvane.exe").c_str(), (folder_ / L"Orvane.exe").c_str(), FALSE);
    CopyFileW(BuildPath(L"qnguires.qna").c_str(), Package().c_str(), FALSE);
    CopyFileW(BuildPath(L"htmlcontrol/qnControl.dll").c_str(), (folder_ / L"qnControl.dll").c_str(), FALSE);
    CopyFileW(BuildPath(L"engine/OrvaneEngine.dll").c_str(), (folder_ / L"OrvaneEngine.dll").c_str(), FALSE);
}

namespace {
// The program registers the control and the engine from its own folder on its
// first start; they must not outlive the folder, or later tests in the prefix
// see classes whose servers are gone.
void UnregisterServer(const tstring& path) {
    HMODULE module = LoadLibraryW(path.c_str());
    if (!module) return;
    auto unregister = reinterpret_cast<HRESULT(STDAPICALLTYPE*)()>(GetProcAddress(module, "DllUnregisterServer"));
    if (unregister) unregister();
    FreeLibrary(module);
}
}  // namespace

ProgramFolder::~ProgramFolder() {
    Kill();
    if (process_.hProcess) CloseHandle(process_.hProcess);
    if (process_.hThread) CloseHandle(process_.hThread);
    UnregisterServer(folder_ / L"qnControl.dll");
    UnregisterServer(folder_ / L"OrvaneEngine.dll");
}

std::string ProgramFolder::BuiltPackage() const { return ReadAll(BuildPath(L"qnguires.qna")); }

bool ProgramFolder::Start(const wchar_t* arguments) {
    if (process_.hProcess) {
        CloseHandle(process_.hProcess);
        CloseHandle(process_.hThread);
    }
    process_ = {};
    tstring line = L"\"" + (folder_ / L"Orvane.exe") + L"\" " + arguments;
    std::vector<wchar_t> buffer(line.begin(), line.end());
    buffer.push_back(0);
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    // Started from another folder, as scheduled tasks start it.
    return CreateProcessRetrying(nullptr, buffer.data(), nullptr, nullptr, FALSE, 0, nullptr, L"C:\\", &startup,
                                 &process_) != FALSE;
}

DWORD ProgramFolder::WaitExit(DWORD milliseconds) {
    if (!process_.hProcess) return STILL_ACTIVE;
    if (WaitForSingleObject(process_.hProcess, milliseconds) != WAIT_OBJECT_0) return STILL_ACTIVE;
    DWORD code = STILL_ACTIVE;
    GetExitCodeProcess(process_.hProcess, &code);
    return code;
}

void ProgramFolder::Kill() {
    if (process_.hProcess && WaitForSingleObject(process_.hProcess, 0) == WAIT_TIMEOUT) {
        TerminateProcess(process_.hProcess, 99);
        WaitForSingleObject(process_.hProcess, 5000);
    }
}

namespace {

struct Search {
    DWORD processId;
    const wchar_t* className;
    HWND found;
};

BOOL CALLBACK MatchWindow(HWND window, LPARAM context) {
    auto* search = reinterpret_cast<Search*>(context);
    DWORD owner = 0;
    GetWindowThreadProcessId(window, &owner);
    wchar_t name[128] = {};
    GetClassNameW(window, name, 127);
    if (owner == search->processId && wcscmp(name, search->className) == 0) {
        search->found = window;
        return FALSE;
    }
    return TRUE;
}

}  // namespace

HWND ProgramFolder::FindWindowOf(const wchar_t* className) const {
    Search search = {process_.dwProcessId, className, nullptr};
    EnumWindows(MatchWindow, reinterpret_cast<LPARAM>(&search));
    return search.found;
}

HWND ProgramFolder::WaitForWindow(const wchar_t* className, DWORD milliseconds, bool visible) const {
    DWORD start = GetTickCount();
    do {
        HWND window = FindWindowOf(className);
        if (window && (!visible || IsWindowVisible(window))) return window;
        Sleep(50);
    } while (GetTickCount() - start < milliseconds);
    return nullptr;
}

namespace {

std::vector<tstring> FoldersLike(const tstring& pattern) {
    std::vector<tstring> folders;
    WIN32_FIND_DATAW found;
    HANDLE search = FindFirstFileW(pattern.c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) return folders;
    do {
        folders.push_back(found.cFileName);
    } while (FindNextFileW(search, &found));
    FindClose(search);
    std::sort(folders.begin(), folders.end());
    return folders;
}

}  // namespace

std::vector<tstring> ProgramFolder::CacheFolders() const {
    return FoldersLike(GetUiCacheRoot() + L"\\" + FormatText(L"QNHTML%X-*", unsigned(process_.dwProcessId)));
}

std::vector<tstring> AllCacheFolders() { return FoldersLike(GetUiCacheRoot() + L"\\QNHTML*"); }

tstring MessageBoxText(HWND box) {
    wchar_t text[1024] = {};
    GetDlgItemTextW(box, 0xFFFF, text, 1023);
    return text;
}
