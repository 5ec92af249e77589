#pragma once
#include "app/frame/Startup.h"

// The start-up's steps that belong to the scheduled jobs and the compaction
// requests: the uninstaller's tidy-up and the missed-job check.
class ProgramUninstallSteps : public UninstallSteps {
public:
    // Both kinds of request, the whole machine's and the current user's; no
    // request list (nothing made one) is nothing to clear.
    void ClearCompactionRequests() override;
    // The current user's three jobs, found by their keys; none is nothing to delete.
    void DeleteScheduledJobs() override;
};

class ProgramMissedJobCheck : public MissedJobCheck {
public:
    // Asks the user about each missed job ("Scheduled task", Yes/No).
    std::vector<int> AcceptedOperations(int operation) override;
};
