// Runs a scheduled compaction through the main view with AutoReboot on and
// answers in its exit code: 1 when the process sees Windows 6, 2 when the
// restart seam got exactly one shutdown request, 4 when the lock stayed held,
// 8 when the compaction library's run (first, no request listed) replaced
// hives; the version it saw in bits 8-15 (minor) and 16-23 (major).
#include <windows.h>
#include "RecordingHiveOps.h"
#include "RecordingRestart.h"
#include "app/mainview/MainView.h"
#include "app/OperationLock.h"
#include "common/settings/Settings.h"
#include "common/system/OsVersion.h"
#include "hives/RCompact.h"

int main() {
    Settings& settings = GetSettings();
    settings.SetReportMailSwitch(false);
    settings.SetAutoFix(false);
    settings.SetAutoBackupSwitch(false);
    settings.SetAutoReboot(true);
    RecordingRestart restart;
    int answer = 0;
    try {
        RecordingHiveOps hives;
        RCompact().Run();
        if (!hives.replaced.empty()) answer |= 8;
        for (const auto& hive : hives.replaced) DeleteFileW(hive.newFile.c_str());
    } catch (...) {
    }
    {
        MainView view;
        if (!TryBeginOperation()) return 8;
        view.RunScheduledJob(2);
    }
    if (IsWindowsMajor6()) answer |= 1;
    if (restart.calls.size() == 1 && restart.calls[0].what == L"InitiateShutdown") answer |= 2;
    if (IsOperationRunning()) answer |= 4;
    const OSVERSIONINFOW& version = GetOsVersion();
    return answer | int(version.dwMinorVersion & 0xFF) << 8 | int(version.dwMajorVersion & 0xFF) << 16;
}
