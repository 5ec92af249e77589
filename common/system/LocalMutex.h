#pragma once
#include <windows.h>
#include "common/system/HandleHolder.h"

// A lock among this process's threads that a thread ended by force gives up:
// the next waiter takes the abandoned mutex over, where a critical section
// would stay held for ever. The owner may take it again while it holds it.
class LocalMutex {
public:
    LocalMutex();
    LocalMutex(const LocalMutex&) = delete;
    LocalMutex& operator=(const LocalMutex&) = delete;

    // True when taken within the time, also from an owner that ended holding it.
    bool Enter(DWORD milliseconds);
    void Leave();

private:
    HandleHolder mutex_;
};

// Holds a LocalMutex for a scope when it could be taken in time.
class LocalMutexLock {
public:
    LocalMutexLock(LocalMutex& mutex, DWORD milliseconds) : mutex_(mutex), owned_(mutex.Enter(milliseconds)) {}
    ~LocalMutexLock() {
        if (owned_)
            mutex_.Leave();
    }
    LocalMutexLock(const LocalMutexLock&) = delete;
    LocalMutexLock& operator=(const LocalMutexLock&) = delete;

    bool Owned() const { return owned_; }

private:
    LocalMutex& mutex_;
    bool owned_;
};
