#pragma once
#include <windows.h>
#include <vector>
#include "common/tstring/tstring.h"

// What the command line asks for.
struct StartSwitches {
    int operation = 0;  // Operation (FrameClient.h)
    bool debug = false;
};

// Tokens split at blanks and double quotes; "-" or "/" then one of BACKUP,
// COMPACT, SCANFIX, UNINSTALL, INSTALL, DEBUG in any case (the user's
// locale). The last operation word wins; everything else is ignored.
StartSwitches ParseSwitches(const wchar_t* commandLine);

// The uninstaller's tidy-up steps that belong to the compaction requests and
// the scheduled jobs. Each is tried; a missing mapping or job is nothing to do.
class UninstallSteps {
public:
    virtual void ClearCompactionRequests() = 0;
    virtual void DeleteScheduledJobs() = 0;

protected:
    ~UninstallSteps() = default;
};
void SetUninstallSteps(UninstallSteps* steps);

// The check for scheduled jobs that did not run while the computer was off:
// the operations the user chose to run now. A scheduled start (operation 1
// to 3) only notes its own job as run.
class MissedJobCheck {
public:
    virtual std::vector<int> AcceptedOperations(int operation) = 0;

protected:
    ~MissedJobCheck() = default;
};
void SetMissedJobCheck(MissedJobCheck* check);

// "%systemroot%\system32\OrvaneCompact.dll" goes at the next reboot; then the
// steps above, each tried whatever the others did.
void RunUninstall();

// The program: returns the exit code (the message loop's, or 0 for the
// switches that end at once). Errors are thrown to WinMain.
int Run(const wchar_t* commandLine, int showCommand);

// The single-instance mutex's name and the request message's.
extern const wchar_t kInstanceMutex[];
extern const wchar_t kRequestMessage[];
