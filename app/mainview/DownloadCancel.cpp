#include "app/mainview/DownloadCancel.h"
#include <utility>

void DownloadCancel::Cancel() {
    ComPtr<IBinding> binding;
    {
        CriticalSectionLock hold(lock_);
        if (InterlockedExchange(&cancelled_, 1) == 0) binding = binding_;
    }
    // The abort comes from the cancelling thread while the binding's own
    // thread sits in URLDownloadToFileW with no callback to act in. That is
    // sound: our own reference keeps the binding alive when it ends meanwhile
    // (Abort then only reports that it is over); urlmon calls a download's
    // callbacks on the thread that started the binding alone, so OnStopBinding
    // still comes on the worker, through the messages the download pumps; and
    // the abort closes the protocol's WinInet request, which WinInet lets
    // another thread do to end a call that blocks. The lock is not held across
    // the call, so an abort that waits for the binding's thread never meets
    // OnStopBinding waiting for the lock. Should the abort not take, the
    // checker's wait for its worker is bounded all the same.
    if (binding) binding->Abort();
}

bool DownloadCancel::Hold(IBinding* binding) {
    CriticalSectionLock hold(lock_);
    if (cancelled_) return false;
    binding_ = binding;
    return true;
}

void DownloadCancel::Drop() {
    ComPtr<IBinding> last;
    {
        CriticalSectionLock hold(lock_);
        last = std::move(binding_);
    }
}
