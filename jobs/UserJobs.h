#pragma once
#include <windows.h>
#include <vector>
#include "common/tstring/tstring.h"
#include "jobs/JobStateCheck.h"

// The keys of the three jobs of the token's user (none: the process token),
// in the order compaction, backup, scan and fix.
std::vector<tstring> UserJobKeys(HANDLE token = nullptr);

// The uninstaller's tidy-up: deletes this user's jobs, found by key under
// whatever names they have, and nothing else; starts the Task Scheduler
// service when it is stopped. Failures are logged, never thrown. The number
// of jobs deleted.
int DeleteUserJobs();

// The start-up check for missed jobs (ordinary start: operation 0; a
// scheduled start: its own operation, which only moves its state file). A
// damaged state file or a failing Task Scheduler is logged and the program
// starts without asking. The operations the user chose to run now.
std::vector<int> CheckMissedJobs(int operation, const JobStateCheck::Question& ask);
