#include "common/settings/AppFolders.h"
#include <shlwapi.h>
#include <vector>
#include "common/errors/ErrorBase.h"
#include "common/log/Log.h"
#include "common/system/SpecialFolder.h"

namespace {

const TCHAR kMaker[] = _T("QUARN");
const TCHAR kProduct[] = _T("Orvane");

bool PathExists(const tstring& path) {
    return PathFileExists(path.c_str()) != FALSE;
}

// Creates one folder level. Another process (the engine, the main program, a
// second instance) may create it at the same moment, which is no failure.
void EnsureFolder(const tstring& path) {
    if (PathExists(path))
        return;
    if (!CreateDirectory(path.c_str(), nullptr)) {
        DWORD error = GetLastError();
        if (error != ERROR_ALREADY_EXISTS)
            throw Win32Error(int32_t(error));
    }
}

tstring ModuleFileName(HMODULE module, DWORD initial) {
    std::vector<TCHAR> buffer(initial);
    for (;;) {
        DWORD n = GetModuleFileName(module, buffer.data(), DWORD(buffer.size()));
        if (n == 0)
            throw ErrorBase(FoldWin32(int32_t(GetLastError())), _T("Couldn't get module file name"));
        if (n < buffer.size())
            return tstring(buffer.data(), n);
        buffer.resize(buffer.size() * 2);
    }
}

// <shell folder>\QUARN\Orvane, each level created when missing.
tstring ProductFolderIn(int csidl) {
    tstring folder = SpecialFolderPath(csidl);
    // Without the shell's folder the rest would name a folder in the root of
    // the current drive.
    if (folder.empty())
        throw Win32Error(ERROR_PATH_NOT_FOUND);
    folder += _T("\\");
    folder += kMaker;
    EnsureFolder(folder);
    folder += _T("\\");
    folder += kProduct;
    EnsureFolder(folder);
    return folder;
}

tstring DataFolder() {
    return ProductFolderIn(CSIDL_LOCAL_APPDATA);
}

tstring ProgramFolder() {
    tstring path = ModuleFileName(nullptr, 256);
    if (path.find(_T("Orvane.exe")) == tstring::npos) {
        HMODULE module = GetModuleHandle(_T("OrvaneEngine.dll"));
        if (!module)
            module = GetModuleHandle(_T("qnControl.dll"));
        path = ModuleFileName(module, 128);
    }
    std::vector<TCHAR> buffer(path.begin(), path.end());
    buffer.push_back(0);
    PathRemoveFileSpec(buffer.data());
    return tstring(buffer.data());
}

tstring DataFile(const TCHAR* name) {
    return GetAppFolder(true) + _T("\\") + name;
}

tstring FolderFileOrEmpty(bool data, const TCHAR* name) {
    try {
        return GetAppFolder(data) + _T("\\") + name;
    } catch (const ErrorBase&) {
        return tstring();
    }
}

}  // namespace

tstring GetProductName() {
    return kProduct;
}

tstring GetAppFolder(bool data) {
    return data ? DataFolder() : ProgramFolder();
}

tstring GetSettingsFilePath() {
    return DataFile(_T("settings.dat"));
}

tstring GetBackupListPath() {
    return DataFile(_T("backups.lst"));
}

tstring GetRestoreFlagPath() {
    return ProductFolderIn(CSIDL_COMMON_APPDATA) + _T("\\restore.flag");
}

tstring GetLogFilePath() {
    tstring path = DataFile(_T("Orvane.log"));
    RotateLogFile(path);
    return path;
}

bool UseDataFolderLog() noexcept {
    try {
        Log::Instance().SetFileName(DataFile(_T("Orvane.log")));
        return true;
    } catch (...) {
        return false;
    }
}

void RotateLogFile(const tstring& path) {
    HANDLE file = CreateFile(path.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return;
    LARGE_INTEGER size = {};
    BOOL known = GetFileSizeEx(file, &size);
    CloseHandle(file);
    if (!known || size.QuadPart <= 0x100000)
        return;
    tstring old = path + _T(".old");
    DeleteFile(old.c_str());
    MoveFile(path.c_str(), old.c_str());
}

tstring GetIgnoreFilePath(bool fallback, bool system) {
    const TCHAR* name = system ? _T("SystemIgnores.dat") : _T("ignores.dat");
    if (system)
        return FolderFileOrEmpty(false, name);
    tstring data = FolderFileOrEmpty(true, name);
    if (!fallback || (!data.empty() && PathExists(data)))
        return data;
    tstring program = FolderFileOrEmpty(false, name);
    if (data.empty() || (!program.empty() && PathExists(program)))
        return program;
    return data;
}
