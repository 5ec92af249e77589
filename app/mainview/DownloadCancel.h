#pragma once
#include <windows.h>
#include <urlmon.h>
#include "common/com/ComPtr.h"
#include "common/system/CriticalSection.h"

// Ends one download from any thread: a flag its callbacks read, and the
// binding urlmon hands the download's callback, which Cancel aborts. A
// download that waits on a server that never answers calls back no more:
// only the abort (which closes its connection) ends it.
class DownloadCancel {
public:
    DownloadCancel() = default;
    DownloadCancel(const DownloadCancel&) = delete;
    DownloadCancel& operator=(const DownloadCancel&) = delete;

    bool Cancelled() const { return cancelled_ != 0; }
    // Sets the flag; the first call also aborts the binding held then.
    void Cancel();
    // From OnStartBinding: keeps the binding for Cancel. False when the
    // download is cancelled already, so that it ends before it starts.
    bool Hold(IBinding* binding);
    // From OnStopBinding: the binding is over.
    void Drop();

private:
    CriticalSection lock_;
    volatile LONG cancelled_ = 0;
    ComPtr<IBinding> binding_;
};
