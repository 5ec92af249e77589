#include "common/system/LocalMutex.h"

// Unnamed: no other process can reach it. A mutex that could not be created
// is never owned, so its users give up instead of running unguarded.
LocalMutex::LocalMutex() : mutex_(CreateMutex(nullptr, FALSE, nullptr)) {}

bool LocalMutex::Enter(DWORD milliseconds) {
    if (!mutex_.IsValid())
        return false;
    DWORD wait = WaitForSingleObject(mutex_, milliseconds);
    return wait == WAIT_OBJECT_0 || wait == WAIT_ABANDONED;
}

void LocalMutex::Leave() {
    ReleaseMutex(mutex_);
}
