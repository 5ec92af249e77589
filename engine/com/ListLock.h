#pragma once
#include <windows.h>
#include "common/errors/ErrorBase.h"

// Holds one of the engine's list mutexes. A list is never touched without its
// mutex: a wait that runs out or fails is an error of the call, never a
// silent success. An abandoned mutex is owned all the same; its list is
// changed only by whole vector operations.
class ListLock {
public:
    static const DWORD kWaitMs = 10000;

    explicit ListLock(HANDLE mutex) : mutex_(mutex) {
        DWORD status = WaitForSingleObject(mutex_, kWaitMs);
        if (status == WAIT_TIMEOUT)
            throw Win32Error(ERROR_TIMEOUT);
        if (status == WAIT_FAILED)
            throw BoolError();
    }
    ~ListLock() { ReleaseMutex(mutex_); }
    ListLock(const ListLock&) = delete;
    ListLock& operator=(const ListLock&) = delete;

private:
    HANDLE mutex_;
};

// An unnamed mutex, created not owned, for one of the engine's lists.
inline HANDLE NewListMutex() {
    HANDLE mutex = CreateMutex(nullptr, FALSE, nullptr);
    if (!mutex)
        throw BoolError();
    return mutex;
}
