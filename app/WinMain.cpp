#include <windows.h>
#include <commctrl.h>
#include "app/frame/Startup.h"
#include "app/frame/StartupSteps.h"
#include "app/html/UiCache.h"
#include "app/pages/MaintenancePages.h"
#include "app/resource.h"
#include "common/errors/ErrorBase.h"
#include "common/log/ThreadErrorLog.h"
#include "common/settings/AppFolders.h"
#include "common/ui/AxHostWindow.h"

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR commandLine, int showCommand) {
    ::OleInitialize(nullptr);
    INITCOMMONCONTROLSEX controls = {sizeof(controls), ICC_BAR_CLASSES | ICC_COOL_CLASSES};
    ::InitCommonControlsEx(&controls);
    AxHostWindow::RegisterClass();

    // Loaded up front: the handlers below must not depend on anything that
    // may have failed.
    tstring fatalCaption(MAKEINTRESOURCEW(IDS_FATAL_ERROR));
    tstring unhandledText(MAKEINTRESOURCEW(IDS_UNHANDLED_EXCEPTION));

    ProgramUninstallSteps uninstallSteps;
    SetUninstallSteps(&uninstallSteps);
    ProgramMissedJobCheck missedJobCheck;
    SetMissedJobCheck(&missedJobCheck);

    int exitCode = 1;
    try {
        ThreadErrorLog::Instance().SetFileName(GetLogFilePath());
        // Gone before OLE is: the pages hold the control while shown.
        MaintenancePages pages;
        SetPageNavigator(&pages);
        exitCode = Run(commandLine, showCommand);
        SetPageNavigator(nullptr);
    } catch (const ErrorBase& e) {
        ::MessageBoxW(nullptr, e.Message().c_str(), fatalCaption.c_str(), MB_ICONERROR);
        exitCode = 1;
    } catch (...) {
        ::MessageBoxW(nullptr, unhandledText.c_str(), fatalCaption.c_str(), MB_ICONERROR);
        exitCode = 1;
    }
    DeleteUiCacheFolder();
    ::OleUninitialize();
    return exitCode;
}
