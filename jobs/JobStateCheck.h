#pragma once
#include <windows.h>
#include <functional>
#include <vector>
#include "common/tstring/tstring.h"
#include "jobs/JobKind.h"

// What is known of one job: whether it exists and when it runs next (local
// time, as the Task Scheduler gives it).
struct JobState {
    bool present = false;
    FILETIME nextRun = {};
};

// The missed-job check: each of the user's three jobs keeps the next run time
// seen at the last start in a state file of the data folder ("backup",
// "compact", "scanfix": one FILETIME, 8 bytes). A job whose saved time has
// passed did not run; the user is asked whether to run it now.
class JobStateCheck {
public:
    struct Options {
        // Points this user's jobs at the running program when they name
        // another path (the main program; a reader elsewhere leaves the jobs
        // as they are).
        bool updateApplicationName = true;
        // Where the state files live; empty: the data folder.
        tstring dataFolder;
    };
    // Asked once per missed job with its kind and the question's string id;
    // true runs it now.
    using Question = std::function<bool(JobKind kind, UINT textId)>;

    // Reads the current records from the Task Scheduler (the keys of the
    // token's user; none: the process token) and the saved ones from the
    // state files. A state file that cannot be read, other than a missing
    // one, throws; so does a failing Task Scheduler call.
    JobStateCheck(HANDLE token, const Options& options);

    // Operation 0 (an ordinary start): asks about each missed job (scan and
    // fix, compaction, backup) and then rewrites all three state files; the
    // operations accepted, in order. Operations 1-3 (a scheduled start)
    // rewrite only their own file. Nothing on Windows 6.
    std::vector<int> AskFailedJobs(int operation, const Question& ask);

    // The state files from the current records: written when the job
    // exists, deleted when it does not. A file that cannot be written is
    // skipped.
    void WriteStateFiles();
    void WriteStateFile(JobKind kind);

    const JobState& Saved(JobKind kind) const { return saved_[kind - 1]; }
    const JobState& Current(JobKind kind) const { return current_[kind - 1]; }
    // Its time passed since the last start, and the job still exists.
    bool IsMissed(JobKind kind, const FILETIME& localNow) const;

private:
    void ReadCurrent(JobKind kind);
    void ReadSaved(JobKind kind);
    tstring StateFilePath(JobKind kind) const;

    Options options_;
    tstring sid_;
    JobState saved_[3];
    JobState current_[3];
};
