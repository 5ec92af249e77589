#pragma once
#include <windows.h>
#include "common/system/CriticalSection.h"
#include "common/system/HandleHolder.h"
#include "common/tstring/tstring.h"
#include "hives/BackupGate.h"
#include "hives/RLog.h"

class HtmlPage;

// Hands a backup's steps to a sink that may go away before the backup
// returns (the progress window of a backup that was given up); once cut,
// the steps go nowhere.
class ProgressRelay : public RLog {
public:
    void Connect(RLog* sink);
    int AddEntry(int level, const tstring& text, const tstring& name) override;
    void MarkDone(int row) override;

private:
    CriticalSection lock_;
    RLog* sink_ = nullptr;
};

// One automatic backup ("Queued automatic backup") made on a worker thread.
// Filled by the UI thread before the start. The job ends once: with the
// worker's result, or at its limit by the side that waits for it, while the
// worker may still hang in a write. Whoever comes second changes nothing.
struct BackupJob {
    BackupJob();

    tstring folder;
    bool retention = true;
    // The steps go here while the backup runs (Connect: where to).
    ProgressRelay progress;
    // When eventName is not empty, the end of the job is posted through this
    // page, with param as text.
    HtmlPage* notify = nullptr;
    tstring eventName;
    tstring param;
    BackupGate gate;

    // The worker: the file it writes, once it has picked the name.
    void SetFile(const tstring& file);
    tstring File();

    bool Done() const { return State() != Running; }
    // Signalled when the job has ended.
    HANDLE EndedEvent() const { return ended_; }
    // Once done: empty when the backup was made.
    const tstring& Error() const { return State() == EndedByWorker ? workerError_ : limitError_; }
    // Ended at its limit before it committed.
    bool GivenUp() const { return State() == EndedAtLimit && givenUp_; }
    // The worker's result; false when the job had ended already.
    bool EndWith(const tstring& error);
    // The waiting side once limit has passed: the backup is given up unless it
    // has committed already; either way it has failed (made but not listed
    // when committed). The job ends before the files of a backup given up are
    // deleted, on a thread nobody waits for. False when the job had ended
    // already.
    bool EndAtLimit(DWORD limit);

private:
    enum : LONG { Running, EndedByWorker, EndedAtLimit };
    LONG State() const { return InterlockedCompareExchange(const_cast<volatile LONG*>(&state_), 0, 0); }
    bool End(LONG how);

    volatile LONG state_ = Running;
    tstring workerError_;
    tstring limitError_;
    bool givenUp_ = false;
    CriticalSection fileLock_;
    tstring file_;
    HandleHolder ended_;
};

// "3 hours", "2 seconds", "150 ms".
tstring DurationText(DWORD milliseconds);
