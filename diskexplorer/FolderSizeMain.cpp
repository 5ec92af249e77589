#include "diskexplorer/FolderSizeMain.h"
#include <commctrl.h>
#include <objbase.h>
#include <memory>
#include "common/system/HandleHolder.h"
#include "common/system/Security.h"
#include "common/ui/MessageLoop.h"
#include "diskexplorer/FolderSizeFrame.h"

namespace {
const wchar_t kMutexName[] = L"QUARN-Drossel-69144AF1-FA15-4b28-9D76-F6F3E3C06C92";
}

bool IsAdminOrPowerUser() { return IsAdministrator() || IsPowerUser(); }

int FolderSizeRun(int show) {
    MessageLoop loop;
    MessageLoopScope scope(loop);
    auto frame = std::make_unique<FolderSizeFrame>();
    if (!frame->CreateFrame(&loop))
        return 0;
    frame->Show(show);
    frame->Update();
    return loop.Run();
}

int FolderSizeMain(HINSTANCE instance, int show, bool (*allowed)()) {
    if (!allowed()) {
        MessageBoxW(nullptr, L"You must have administrator privileges to run QUARN Drossel", L"QUARN Drossel",
                    MB_ICONEXCLAMATION);
        return 0;
    }
    HandleHolder mutex(CreateMutexW(nullptr, FALSE, kMutexName));
    if (!mutex.IsValid())
        return -1;
    if (GetLastError() == ERROR_ALREADY_EXISTS) {
        SendMessageW(HWND_BROADCAST, g_activateMessage, 0, 0);
        return -2;
    }
    CoInitialize(nullptr);
    INITCOMMONCONTROLSEX controls{sizeof controls, ICC_LISTVIEW_CLASSES | ICC_BAR_CLASSES | ICC_COOL_CLASSES |
                                                       ICC_LINK_CLASS};
    InitCommonControlsEx(&controls);
    int result = FolderSizeRun(show);
    CoUninitialize();
    return result;
}
