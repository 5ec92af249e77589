#include "app/mainview/DownloadCancel.h"
#include <utility>

void DownloadCancel::Cancel() {
    ComPtr<IBinding> binding;
    {
        CriticalSectionLock hold(lock_);
        if (InterlockedExchange(&cancelled_, 1) == 0) binding = binding_;
    }
    // What urlmon's documentation says: a client may keep (AddRef) the
    // IBinding that OnStartBinding hands it and control the bind through it;
    // Abort ends the bind, must not be called inside OnStartBinding, answers
    // S_FALSE when the bind was aborted already, and after it no callback
    // but OnStopBinding comes; an apartment-threaded client's callbacks come
    // only on the thread that started the bind. WinInet's (older) reference
    // lets another thread close a handle to end a call that blocks on it.
    //
    // What it does not say, and this call relies on: that the IBinding may
    // be called from another thread without marshaling (it was handed to the
    // worker's single-threaded apartment, and nothing documents urlmon's
    // binding object as callable from elsewhere); that an abort reaches a
    // download that sits inside URLDownloadToFileW with no callback coming,
    // or what it does to the protocol's connection (that it closes the
    // WinInet request is an assumption about urlmon's insides). It is done
    // so because the worker, blocked in the download, has no moment to act
    // in, and a marshaled call would only run when its apartment is served.
    // It is checked under Wine only. Our own reference keeps the binding
    // alive should it end meanwhile; the lock is not held across the call,
    // so an abort that waits for the binding's thread never meets
    // OnStopBinding waiting for the lock. Should the abort not take, the
    // checker's waits for the worker are bounded all the same.
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
