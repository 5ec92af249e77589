#include "diskexplorer/ShellLauncher.h"
#include <shellapi.h>
#include <atomic>

namespace {
std::atomic<ShellLauncher*> g_installed{nullptr};
}

void SystemShellLauncher::Open(HWND owner, const tstring& file, const tstring& folder, int show) {
    ShellExecuteW(owner, L"open", file.c_str(), nullptr, folder.empty() ? nullptr : folder.c_str(), show);
}

void SystemShellLauncher::Properties(HWND owner, const tstring& path) {
    SHELLEXECUTEINFOW info{};
    info.cbSize = sizeof info;
    info.fMask = SEE_MASK_INVOKEIDLIST;
    info.hwnd = owner;
    info.lpVerb = L"properties";
    info.lpFile = path.c_str();
    info.nShow = SW_SHOW;
    ShellExecuteExW(&info);
}

ShellLauncher& ShellLauncher::Current() {
    static SystemShellLauncher system;
    ShellLauncher* installed = g_installed.load();
    return installed ? *installed : system;
}

void ShellLauncher::Install(ShellLauncher* launcher) { g_installed = launcher; }
