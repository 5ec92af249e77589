#include "app/OperationLock.h"
#include "common/system/NamedLock.h"

namespace {

volatile bool busy = false;

}  // namespace

bool TryBeginOperation() {
    NamedLock lock;
    lock.Open(const_cast<bool*>(&busy), NamedLock::OpenOnly);  // opens only; owning is the wait's job
    if (!lock.Handle() || !lock.Wait(50)) return false;
    bool taken = !busy;
    if (taken) busy = true;
    lock.Release();
    return taken;
}

void EndOperation() { busy = false; }

bool IsOperationRunning() { return busy; }
