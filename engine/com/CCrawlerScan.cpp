// The scan control members of CCrawler.
#include "engine/com/CCrawler.h"
#include "common/com/ComBoundary.h"

STDMETHODIMP CCrawler::Scan(LONG UnionsMask) {
    return ComCall(IID_ICrawler, [&] {
        // Before the scan threads test findings against it, never on them.
        ignores_.CatchUp();
        scan_->Controller().Scan(uint32_t(UnionsMask));
        return S_OK;
    });
}

STDMETHODIMP CCrawler::Pause(VARIANT_BOOL SetPause) {
    // Only VARIANT_TRUE pauses: a script's 1 is not "true" in this interface.
    ComCall(IID_ICrawler, [&] {
        scan_->Controller().Pause(SetPause == VARIANT_TRUE);
        return S_OK;
    });
    return S_OK;
}

STDMETHODIMP CCrawler::Stop() {
    ComCall(IID_ICrawler, [&] {
        scan_->Controller().Stop();
        return S_OK;
    });
    return S_OK;
}
