#include "app/frame/StartupSteps.h"
#include "app/AppUtilities.h"
#include "common/errors/ErrorBase.h"
#include "hives/CompactFlags.h"
#include "jobs/UserJobs.h"

void ProgramUninstallSteps::ClearCompactionRequests() {
    CompactFlags flags;
    try {
        flags.Open(false);
    } catch (const ErrorBase& e) {
        if (e.Code() == FoldWin32(ERROR_FILE_NOT_FOUND)) return;
        throw;
    }
    flags.ClearAll();
    flags.ClearCurrent();
}

void ProgramUninstallSteps::DeleteScheduledJobs() { DeleteUserJobs(); }

std::vector<int> ProgramMissedJobCheck::AcceptedOperations(int operation) {
    return CheckMissedJobs(operation, [](JobKind, UINT textId) {
        return ShowMessageBox(GetMainWindow(), MAKEINTRESOURCEW(textId), L"Scheduled task",
                              MB_YESNO | MB_ICONQUESTION) == IDYES;
    });
}
