#pragma once
#include <windows.h>
#include <objidl.h>
#include "common/com/ComPtr.h"

// The aggregated free-threaded marshaler of an object: callers in any
// apartment of the process get the object's own pointer instead of a proxy.
class FreeThreadedMarshaler {
public:
    // Aggregates the marshaler into outer; returns the HRESULT of the creation.
    HRESULT Create(IUnknown* outer) noexcept;
    // Answers IMarshal (and only that) for the outer object's QueryInterface.
    bool Answers(REFIID iid, void** result) noexcept;
    void Release() noexcept { inner_.Release(); }

private:
    ComPtr<IUnknown> inner_;
};
