#include "compact/Handlers.h"
#include <objbase.h>
#include <shlobj.h>
#include "common/errors/CheckObjects.h"
#include "common/settings/AppFolders.h"
#include "common/system/FileSystem.h"
#include "compact/EventSink.h"
#include "compact/MainDlg.h"
#include "hives/CompactFlags.h"
#include "hives/RCompact.h"
#include "hives/SystemRestart.h"
#include "jobs/JobStateCheck.h"

namespace compact {

namespace {

// At shutdown Winlogon's thread sits on the secure desktop; the dialog must
// appear where the user can see it. The station and desktop stay open for
// the rest of the process, which uses them.
void UseInputDesktop() {
    HWINSTA station = OpenWindowStationW(L"WinSta0", FALSE, MAXIMUM_ALLOWED);
    if (!station)
        throw BoolError();
    BoolCheck ck(L"SetProcessWindowStation");
    ck = SetProcessWindowStation(station);
    HDESK desktop = OpenInputDesktop(0, FALSE, MAXIMUM_ALLOWED);
    if (!desktop)
        throw BoolError();
    BoolCheck dk(L"SetThreadDesktop");
    dk = SetThreadDesktop(desktop);
}

// Shows the dialog while its worker compacts; true when every hive was.
bool CompactWithDialog() {
    CMainDlg dialog([](CMainDlg& log) {
        RCompact compactor;
        compactor.SetLog(&log, 0);
        compactor.Run();
        return compactor.Failures() == 0;
    });
    return dialog.DoModal();
}

bool IsFile(const tstring& path) {
    DWORD attributes = GetFileAttributesW(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

// The logging-off user's data folder: the logon process runs as the system
// account, whose own folder the main program never reads.
tstring UserDataFolder(HANDLE token) {
    wchar_t folder[MAX_PATH] = {};
    HRCheck ck(L"SHGetFolderPath");
    ck = SHGetFolderPathW(nullptr, CSIDL_LOCAL_APPDATA | CSIDL_FLAG_CREATE, token, SHGFP_TYPE_CURRENT, folder);
    tstring path = tstring(folder) + L"\\QUARN\\" + GetProductName();
    CreateFolderTree(path);
    return path;
}

// CoUninitialize belongs only to a CoInitialize that succeeded.
class ComApartment {
public:
    ComApartment() : initialized_(SUCCEEDED(CoInitialize(nullptr))) {}
    ~ComApartment() {
        if (initialized_)
            CoUninitialize();
    }
    ComApartment(const ComApartment&) = delete;
    ComApartment& operator=(const ComApartment&) = delete;

private:
    bool initialized_;
};

}  // namespace

void OnLogon() {
    try {
        CompactFlags requests;
        requests.Open(true);
    } catch (...) {
        // Without the mapping there are no requests; nothing to report at logon.
    }
}

void OnLogoff(HANDLE userToken) {
    try {
        ComApartment com;
        JobStateCheck::Options options;
        // Jobs are only read here: the logon process is not the program.
        options.updateApplicationName = false;
        options.dataFolder = UserDataFolder(userToken);
        JobStateCheck check(userToken, options);
        check.WriteStateFiles();
    } catch (...) {
        WriteEvent(EventFailed);
    }
}

void OnShutdown() {
    try {
        UseInputDesktop();
        CompactFlags requests;
        requests.Open(false);
        int count = requests.Count();
        // A restore waits for this restart: compacting now would save the
        // live hives over the restored ones. The requests stay for later.
        tstring restoreFlag = GetRestoreFlagPath();
        if (IsFile(restoreFlag)) {
            if (count > 0)
                WriteEvent(EventCancelledByRestore);
            DeleteFileW(restoreFlag.c_str());
            requests.Close();
            return;
        }
        if (count > 0) {
            WriteEvent(EventStarted);
            bool compacted = CompactWithDialog();
            requests.Clear();
            WriteEvent(compacted ? EventCompleted : EventFailed);
        }
        requests.Close();
    } catch (...) {
        WriteEvent(EventFailed);
    }
}

void OnNextStart() {
    WriteEvent(EventStarted);
    bool compacted = false;
    try {
        compacted = CompactWithDialog();
    } catch (...) {
    }
    WriteEvent(compacted ? EventCompleted : EventFailed);
    // The new hives take effect only at a restart, which comes also after a
    // failure: the hives that were replaced must not wait for the user.
    try {
        GetSystemRestart().ExitWindowsEx(EWX_REBOOT | EWX_FORCE, SHTDN_REASON_FLAG_PLANNED);
    } catch (...) {
    }
}

void ChangeRequests(int change) {
    try {
        CompactFlags requests;
        requests.Open(false);
        switch (change) {
        case ClearRequests:
            requests.Clear();
            break;
        case RequestCurrentUser:
            requests.AddCurrent();
            break;
        case RequestAll:
            requests.SetAll();
            break;
        default:
            break;
        }
        requests.Close();
    } catch (...) {
        // Without the mapping (no logon seen) the request calls do nothing.
    }
}

}  // namespace compact
