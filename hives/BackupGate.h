#pragma once
#include <windows.h>
#include <functional>
#include <vector>
#include "common/system/CriticalSection.h"
#include "common/tstring/tstring.h"

// Decides once, between a backup's worker and the thread that waits for it,
// whether the new backup counts: the worker commits it before the new file
// takes its name, or the waiting side gives it up first (a write of it that
// never returns). A backup given up never takes its name and is never
// catalogued. The files it was writing are deleted on a thread of their own,
// since a disk that hangs the write may hang their deletion too; one that a
// stuck write still holds open goes when that handle closes, at the latest
// when the process ends.
class BackupGate {
public:
    // Deletes a file or a folder tree; 0 on success.
    using Remover = std::function<int(const tstring&)>;

    BackupGate();
    BackupGate(const BackupGate&) = delete;
    BackupGate& operator=(const BackupGate&) = delete;

    // The worker: a file or folder the backup writes before it commits.
    void Track(const tstring& path);
    // The worker: a tracked path it has removed itself (its name may be
    // another's by the time a give-up would delete it).
    void Forget(const tstring& path);
    // The worker: false when the backup was given up.
    bool Commit();
    // The worker, between its steps: throws once the backup was given up, so
    // that a worker coming back late writes nothing more.
    void ThrowIfGivenUp() const;
    // The worker, at its end: whether it still deletes this path itself. After
    // a give-up the path is the gate's to delete, and its name may be
    // another backup's by the time the worker comes back.
    bool Owns(const tstring& path) const;
    // The waiting side: the decision alone, at once; false when the backup
    // had committed already.
    bool GiveUp();
    bool GivenUp() const;
    // The waiting side, after a give-up: hands the tracked files to a thread
    // that nobody waits for. Without a give-up nothing is deleted.
    void DropFiles();
    // What deletes them (DeletePath unless set).
    void SetRemover(Remover remover);

private:
    enum State : LONG { Open, Committed, Abandoned };
    mutable CriticalSection lock_;
    std::vector<tstring> paths_;
    Remover remover_;
    volatile LONG state_ = Open;
};
