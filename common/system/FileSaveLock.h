#pragma once
#include <windows.h>
#include "common/system/HandleHolder.h"
#include "common/tstring/tstring.h"

// A named kernel mutex that serialises the read-merge-write of one file
// between the processes (and objects) that share it, so that no saver reads a
// file another is about to replace and writes over what that one added. The
// name is the kind's prefix and a hash of the upper-cased path: a mutex name
// may not hold the path's backslashes. A holder ended by force leaves the
// mutex abandoned, which the next waiter takes over.
class FileSaveLock {
public:
    // Waits up to wait ms; Owned() tells whether the lock was had in time.
    FileSaveLock(const TCHAR* prefix, const tstring& path, DWORD wait);
    ~FileSaveLock();
    FileSaveLock(const FileSaveLock&) = delete;
    FileSaveLock& operator=(const FileSaveLock&) = delete;

    bool Owned() const { return owned_; }

    // prefix followed by eight hex digits of the path's FNV-1a hash.
    static tstring NameFor(const TCHAR* prefix, const tstring& path);

private:
    HandleHolder mutex_;
    bool owned_ = false;
};
