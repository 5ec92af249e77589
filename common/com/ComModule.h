#pragma once
#include <windows.h>
#include "common/tstring/tstring.h"

// The module that serves COM classes: its instance handle and the lock count
// that DllCanUnloadNow consults. Every live object and every LockServer(TRUE)
// holds one lock.
class ComModule {
public:
    static void SetInstance(HMODULE instance);
    // The instance set by DllMain; the executable when none was set.
    static HMODULE Instance();
    static tstring Path();

    static LONG Lock();
    static LONG Unlock();
    static LONG LockCount();
};

// Holds one module lock for its own life; a member of every COM object.
class ModuleLock {
public:
    ModuleLock() { ComModule::Lock(); }
    ~ModuleLock() { ComModule::Unlock(); }
    ModuleLock(const ModuleLock&) = delete;
    ModuleLock& operator=(const ModuleLock&) = delete;
};

// The reference count of a COM object.
class RefCount {
public:
    ULONG AddRef() { return ULONG(InterlockedIncrement(&count_)); }
    ULONG Release() { return ULONG(InterlockedDecrement(&count_)); }

private:
    LONG count_ = 0;
};
