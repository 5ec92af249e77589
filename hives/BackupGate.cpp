#include "hives/BackupGate.h"
#include "common/system/FileSystem.h"

void BackupGate::Track(const tstring& path) {
    CriticalSectionLock hold(lock_);
    paths_.push_back(path);
}

bool BackupGate::Commit() {
    return InterlockedCompareExchange(&state_, Committed, Open) != Abandoned;
}

bool BackupGate::GiveUp() {
    if (InterlockedCompareExchange(&state_, Abandoned, Open) == Committed)
        return false;
    std::vector<tstring> paths;
    {
        CriticalSectionLock hold(lock_);
        paths.swap(paths_);
    }
    // Deleted outside the lock: the worker may come back and track more.
    for (const tstring& path : paths)
        DeletePath(path);
    return true;
}

bool BackupGate::GivenUp() const {
    return InterlockedCompareExchange(const_cast<volatile LONG*>(&state_), Open, Open) == Abandoned;
}
