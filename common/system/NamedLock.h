#pragma once
#include <windows.h>
#include "common/tstring/tstring.h"

// A named Windows mutex held by one object. The mutex is recursive for the
// thread that owns it, which lets a holder take the same lock again.
class NamedLock {
public:
    // What Acquire does after creating or opening the mutex.
    enum Kind : int {
        OpenOnly = 0,     // only opens, never owns
        CreateOwned = 1,  // owns on creation; waits when the mutex already existed
        WaitOwned = 2,    // waits without a time-out
    };

    NamedLock() = default;
    ~NamedLock();
    NamedLock(const NamedLock&) = delete;
    NamedLock& operator=(const NamedLock&) = delete;

    // Closes a mutex still held, then creates or opens the named one; returns
    // whether this object owns it now. A mutex that cannot be created leaves
    // the object without a handle (result false).
    bool Acquire(const TCHAR* name, int kind);
    // The lock of a shared buffer's block: "MEMLCK-<pid>-<address>".
    bool Open(const void* block, int kind);
    // False without a handle; abandoned counts as owned.
    bool Wait(DWORD milliseconds);
    void Release();
    void Close();

    bool Owned() const { return owned_; }
    HANDLE Handle() const { return handle_; }
    // Whether the last Acquire found the mutex already in existence.
    bool Existed() const { return existed_; }

    static tstring BlockLockName(const void* block);

private:
    bool owned_ = false;
    HANDLE handle_ = nullptr;
    bool existed_ = false;
};
