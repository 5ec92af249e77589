#include "app/frame/Startup.h"
#include <cwctype>
#include "app/AppUtilities.h"
#include "app/frame/MainFrame.h"
#include "app/frame/Picture.h"
#include "app/frame/SplashWindow.h"
#include "app/html/UiCache.h"
#include "app/mainview/MainView.h"
#include "common/log/Log.h"
#include "common/settings/AppFolders.h"
#include "common/system/CommandLine.h"
#include "common/system/OsVersion.h"
#include "common/ui/CallbackError.h"
#include "common/ui/MessageLoop.h"

const wchar_t kInstanceMutex[] = L"QUARN_ORVANE";
const wchar_t kRequestMessage[] = L"ORVANE_DISP_MSG";

namespace {

UninstallSteps* uninstallSteps = nullptr;
MissedJobCheck* missedJobCheck = nullptr;

const DWORD kSplashTime = 3000;

struct MutexHolder {
    HANDLE handle = nullptr;
    bool owned = false;
    ~MutexHolder() {
        if (owned) ::ReleaseMutex(handle);
        if (handle) ::CloseHandle(handle);
    }
};

template <class Step>
void TryStep(const wchar_t* name, Step&& step) {
    try {
        step();
    } catch (...) {
        ReportCurrentException(name);
    }
}

bool IsWindowsXpOrLater() {
    const OSVERSIONINFOW& info = GetOsVersion();
    return info.dwMajorVersion > 5 || (info.dwMajorVersion == 5 && info.dwMinorVersion > 0);
}

}  // namespace

void SetUninstallSteps(UninstallSteps* steps) { uninstallSteps = steps; }
void SetMissedJobCheck(MissedJobCheck* check) { missedJobCheck = check; }

StartSwitches ParseSwitches(const wchar_t* commandLine) {
    StartSwitches switches;
    if (!commandLine) return switches;
    static const struct {
        const wchar_t* word;
        int operation;
    } words[] = {{L"BACKUP", OperationBackup},         {L"COMPACT", OperationCompact},
                 {L"SCANFIX", OperationScanFix},       {L"UNINSTALL", OperationUninstall},
                 {L"INSTALL", OperationInstall}};
    CommandLine tokens;
    tokens.Parse(commandLine, L" \"");
    for (int i = 0; i < tokens.Count(); ++i) {
        const wchar_t* token = tokens.Arg(i);
        if (token[0] != L'-' && token[0] != L'/') continue;
        tstring word = token + 1;
        ::CharUpperBuffW(&word[0], static_cast<DWORD>(word.size()));
        if (word == L"DEBUG") {
            switches.debug = true;
            continue;
        }
        for (const auto& known : words) {
            if (word == known.word) switches.operation = known.operation;
        }
    }
    return switches;
}

void RunUninstall() {
    TryStep(L"uninstall: compaction library", [] {
        tstring library;
        ExpandEnvironment(library, L"%systemroot%\\system32\\OrvaneCompact.dll");
        if (!::MoveFileExW(library.c_str(), nullptr, MOVEFILE_DELAY_UNTIL_REBOOT))
            Log::Instance().Print(LogError, L"[error] Cannot schedule the deletion of %s (%lu)", library.c_str(),
                                  ::GetLastError());
    });
    if (uninstallSteps) {
        TryStep(L"uninstall: compaction requests", [] { uninstallSteps->ClearCompactionRequests(); });
        TryStep(L"uninstall: scheduled jobs", [] { uninstallSteps->DeleteScheduledJobs(); });
    }
}

int Run(const wchar_t* commandLine, int showCommand) {
    Log::Instance().SetFileName(GetAppFolder(true) + L"\\Orvane.log");
    if (IsWindowsXpOrLater()) SetRegistryViewFlags(KEY_WOW64_64KEY, KEY_WOW64_32KEY);

    MessageLoop loop;
    MessageLoopScope loopScope(loop);
    MainView view;

    StartSwitches switches = ParseSwitches(commandLine);
    if (switches.debug) Log::Instance().SetLevel(LogAll);
    if (switches.operation == OperationUninstall) {
        RunUninstall();
        return 0;
    }
    if (switches.operation == OperationInstall) {
        tstring flag = GetRestoreFlagPath();
        ::MoveFileExW(flag.c_str(), nullptr, MOVEFILE_DELAY_UNTIL_REBOOT);
        return 0;
    }

    UINT requestMessage = ::RegisterWindowMessageW(kRequestMessage);
    int operation = switches.operation;
    if (operation != OperationNone) {
        // Lets the session settle before a scheduled job starts.
        ::Sleep(static_cast<DWORD>(operation) * 5000);
        showCommand = SW_HIDE;
    }

    MutexHolder mutex;
    mutex.handle = ::CreateMutexW(nullptr, FALSE, kInstanceMutex);
    if (mutex.handle) {
        DWORD wait = ::WaitForSingleObject(mutex.handle, 100);
        mutex.owned = wait != WAIT_FAILED && wait != WAIT_TIMEOUT;
    }
    if (!mutex.owned) {
        ::PostMessageW(HWND_BROADCAST, requestMessage, static_cast<WPARAM>(operation),
                       static_cast<LPARAM>(::GetCurrentProcessId()));
        return 0;
    }

    MainFrame frame(view, requestMessage, operation);
    std::unique_ptr<SplashWindow> splash;
    HBITMAP splashBitmap = nullptr;
    if (showCommand != SW_HIDE) {
        tstring picture = GetUiCacheFolder(false) + L"\\splash.jpg";
        splashBitmap = LoadBitmapFromFile(picture.c_str());
        if (splashBitmap) {
            splash = std::make_unique<SplashWindow>(splashBitmap, kSplashTime);
            if (!splash->Show(false)) splash.reset();
        }
    }

    DWORD started = ::GetTickCount();
    if (!frame.CreateFrame(::GetSystemMetrics(SM_CLEANBOOT))) {
        if (splashBitmap) ::DeleteObject(splashBitmap);
        return 0;
    }
    frame.Enable(false);
    if (splash) {
        DWORD elapsed = ::GetTickCount() - started;
        if (elapsed + 1 < kSplashTime) WaitPumping(kSplashTime - elapsed);
    }
    SetMainWindow(frame.Handle());
    frame.Show(showCommand);
    frame.Enable(true);

    if (!IsWindowsMajor6() && missedJobCheck) {
        // A check that fails (the Task Scheduler refusing, a state file that
        // cannot be read) must not keep the program from starting.
        TryStep(L"missed-job check", [&] {
            for (int kind : missedJobCheck->AcceptedOperations(operation))
                frame.Post(requestMessage, static_cast<WPARAM>(kind), static_cast<LPARAM>(-1));
        });
    }
    if (operation != OperationNone)
        frame.Post(requestMessage, static_cast<WPARAM>(operation), static_cast<LPARAM>(::GetCurrentProcessId()));

    frame.SetReady(true);
    int result = loop.Run();
    splash.reset();
    if (splashBitmap) ::DeleteObject(splashBitmap);
    SetMainWindow(nullptr);
    return result;
}
