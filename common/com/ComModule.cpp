#include "common/com/ComModule.h"
#include "common/errors/CheckObjects.h"

namespace {
HMODULE g_instance = nullptr;
LONG g_locks = 0;
}

void ComModule::SetInstance(HMODULE instance) {
    g_instance = instance;
}

HMODULE ComModule::Instance() {
    return g_instance ? g_instance : GetModuleHandle(nullptr);
}

tstring ComModule::Path() {
    tstring path;
    DWORD size = MAX_PATH;
    for (;;) {
        DWORD length = GetModuleFileName(Instance(), path.GetBuffer(int(size)), size);
        if (length == 0) {
            path.ReleaseBuffer(0);
            throw BoolError();
        }
        if (length < size) {
            path.ReleaseBuffer(int(length));
            return path;
        }
        path.ReleaseBuffer(0);
        size *= 2;
    }
}

LONG ComModule::Lock() {
    return InterlockedIncrement(&g_locks);
}

LONG ComModule::Unlock() {
    return InterlockedDecrement(&g_locks);
}

LONG ComModule::LockCount() {
    return InterlockedCompareExchange(&g_locks, 0, 0);
}
