#include "common/system/FileSaveLock.h"
#include <cstdint>

tstring FileSaveLock::NameFor(const TCHAR* prefix, const tstring& path) {
    tstring upper = path;
    if (!upper.empty())
        CharUpperBuff(&upper[0], DWORD(upper.size()));
    uint32_t hash = 2166136261u;
    for (TCHAR c : upper) {
        hash ^= uint32_t(c);
        hash *= 16777619u;
    }
    return FormatText(_T("%s%08X"), prefix, unsigned(hash));
}

FileSaveLock::FileSaveLock(const TCHAR* prefix, const tstring& path, DWORD wait) {
    mutex_.Attach(CreateMutex(nullptr, FALSE, NameFor(prefix, path).c_str()));
    if (!mutex_.IsValid())
        return;
    DWORD result = WaitForSingleObject(mutex_, wait);
    owned_ = result == WAIT_OBJECT_0 || result == WAIT_ABANDONED;
}

FileSaveLock::~FileSaveLock() {
    if (owned_)
        ReleaseMutex(mutex_);
}
