#pragma once
#include <windows.h>

// Operation codes of the command line and of the request message.
enum Operation : int {
    OperationNone = 0,
    OperationBackup = 1,
    OperationCompact = 2,
    OperationScanFix = 3,
    OperationUninstall = 4,  // only inside the command-line parser
    OperationInstall = 5,    // only inside the command-line parser
};

// What the main frame needs of its client, the main view: the steps that
// later parts of the program fill in (scheduled jobs, the pages' questions
// on closing, stopping a scan).
class FrameClient {
public:
    // Creates the client window in the frame; NULL on failure.
    virtual HWND CreateClient(HWND frame) = 0;
    virtual void SetSplitterPosition(int position) = 0;
    // Starts a scheduled job with the operation lock held. True when the job
    // keeps the lock and ends it itself.
    virtual bool RunScheduledJob(int operation) = 0;
    // After a failed job: the view leaves its quiet (scheduled) mode.
    virtual void ClearQuiet() = 0;
    // The settings, scheduler and compaction pages in turn ask whether to save
    // their changes; IDCANCEL keeps the window open.
    virtual int AskToSaveChanges() = 0;
    virtual void SetStopRequested() = 0;
    virtual bool IsScanRunning() = 0;
    // Stops the running scan because the program closes.
    virtual void StopScanForClose() = 0;

protected:
    ~FrameClient() = default;
};

// Runs a queued operation (1 backup, 2 compaction, 3 scan and fix) as the
// frame's timer does, with the operation lock taken: the lock is ended here
// unless the job keeps it; whatever escapes the job is reported and ends the
// lock and the client's quiet mode. Operation 0 only ends the lock.
void RunQueuedOperation(FrameClient& client, int operation);
