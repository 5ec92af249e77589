#pragma once
#include <windows.h>
#include <vector>
#include "common/system/CriticalSection.h"
#include "common/tstring/tstring.h"

// Decides once, between a backup's worker and the thread that waits for it,
// whether the new backup counts: the worker commits it just before the
// catalogue changes, or the waiting side gives it up first (a write of it
// that never returns). A backup given up is never catalogued, and the files
// it was writing go at once; one that a stuck write still holds open goes
// when that handle closes, at the latest when the process ends.
class BackupGate {
public:
    BackupGate() = default;
    BackupGate(const BackupGate&) = delete;
    BackupGate& operator=(const BackupGate&) = delete;

    // The worker: a file or folder the backup writes before it commits.
    void Track(const tstring& path);
    // The worker: false when the backup was given up.
    bool Commit();
    // The waiting side: false when the backup had committed already.
    bool GiveUp();
    bool GivenUp() const;

private:
    enum State : LONG { Open, Committed, Abandoned };
    CriticalSection lock_;
    std::vector<tstring> paths_;
    volatile LONG state_ = Open;
};
